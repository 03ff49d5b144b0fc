// The confirmations as the technician sees and hears them: the colours the flashed control
// takes, the tones and the pauses, in order and in one sequence with the line traffic around
// them. Also how walks that end at their bound or without moving are (not) confirmed.
#include <gtest/gtest.h>

#include <QEvent>
#include <QLineEdit>
#include <QTest>
#include <string>

#include "RequestHandling.h"
#include "Walk.h"
#include "WireRig.h"

namespace morlen::test {
namespace {

std::string ColourName(const QColor& c) {
    if (c == QColor(0, 255, 0))
        return "green";
    if (c == QColor(0, 0, 0))
        return "black";
    if (c == QColor(255, 0, 0))
        return "red";
    return "rgb(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
           std::to_string(c.blue()) + ")";
}

// Notes every change of a control's font colour in the log and, when asked, every change of an
// entry's text ("text:..." ).
class ControlWatch final : public QObject {
public:
    ControlWatch(QWidget* control, WireLog& log, bool texts) : control_(control), log_(log) {
        control->installEventFilter(this);
        if (auto* entry = qobject_cast<QLineEdit*>(control); entry != nullptr && texts) {
            connection_ = QObject::connect(
                entry, &QLineEdit::textChanged,
                [this](const QString& t) { log_.note("text:" + t.toStdString()); });
        }
    }
    ~ControlWatch() override {
        control_->removeEventFilter(this);
        QObject::disconnect(connection_);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == control_ && event->type() == QEvent::PaletteChange) {
            const QPalette::ColorRole role =
                qobject_cast<QLineEdit*>(control_) ? QPalette::Text : QPalette::WindowText;
            log_.note(ColourName(control_->palette().color(QPalette::Active, role)));
        }
        return false;
    }

private:
    QWidget* control_;
    WireLog& log_;
    QMetaObject::Connection connection_;
};

// ---- Requests: flash, short flash, late flash, bare tone ----

TEST(Confirmations, EachRequestConfirmsInItsOwnOrder) {
    struct Row {
        const char* name;
        const char* profile;
        char code;
        const char* control;  // watched, and typed into when `typed` is set
        std::string typed;
        std::string sequence;
    };
    const Row rows[] = {
        // Flash: green, tone, pause, black.
        {"flash of a constant", "su1000", 'l', "Const0", "A1",
         "0/2 +/2 green " + kTone + " ~500 black"},
        {"flash of the second-generation battery", "gen2-v2", 'R', "BatteryVoltage2nd", "",
         "d/2 B/5 text:27.15 green " + kTone + " ~500 black"},
        // Short flash: no pause.
        {"short flash of the firmware head", "su1000-3g", 'O', "SU36G", "777",
         "b/8 -/1 7/2 7/2 7/2 ~1500 b/8 green " + kTone + " black"},
        // Late flash: green, pause, tone, black, then the text read back.
        {"late flash of a date", "su1000", 'h', "ManufactureDate", "12/31/99",
         "m/8 -/1 1/2 2/2 //2 3/2 1/2 //2 9/2 9/2 ~1000 m/8 green ~500 " + kTone + " black"},
        {"late flash of the UPS id, read once more", "su1000", 'j', "ID", "AB",
         "c/8 -/1 A/2 B/2 " + Repeat("SP/2", 6) + " c/8 green ~500 " + kTone +
             " c/8 black text:AB      "},
        // A bare tone, no colour.
        {"tone of a second-generation load step", "gen2-v2", '6', "LoadW2nd", "",
         "b/2 P/5 text:201 " + kTone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WireRig rig(row.profile);
        QLineEdit* control = rig.form().control<QLineEdit>(row.control);
        std::unique_ptr<ControlWatch> watch;
        const std::string got = rig.statusPass({{row.code, '-'}}, nullptr, [&] {
            if (!row.typed.empty())
                control->setText(QString::fromStdString(row.typed));
            watch = std::make_unique<ControlWatch>(control, rig.log(), true);
        });
        watch.reset();
        EXPECT_EQ(got, row.sequence);
    }
}

// A walk that did not reach its target is not confirmed: no green, no tone, and the status
// bar says why.
TEST(Confirmations, WalkEndingAtItsBoundIsNotConfirmed) {
    struct Row {
        const char* name;
        const char* profile;
        char code;
        const char* entry;
        std::string typed;
        std::string wire;
        int bound;
    };
    const Row rows[] = {
        // Constants wrap at FF: "ZZ" is never reached.
        {"constant", "su1000", 'l', "Const0", "ZZ", "0/2 " + Repeat("+/2", kConstantWalkBound),
         kConstantWalkBound},
        // A second-generation unit walks its codes round and round.
        {"model code, second generation", "gen2-v2", 'Q', "ModelConst", "ZZ",
         "H/2 " + Repeat("H/2", kModelCodeWalkBound) + " V/3 V/3 g/3 u/3 l/3 o/3",
         kModelCodeWalkBound},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WireRig rig(row.profile);
        QLineEdit* entry = rig.form().control<QLineEdit>(row.entry);
        std::unique_ptr<ControlWatch> watch;
        const std::string got = rig.statusPass(
            {{row.code, '-'}},
            [&] {
                EXPECT_EQ(rig.form().statusText(), RequestHandler::BoundReachedText(row.bound));
            },
            [&] {
                entry->setText(QString::fromStdString(row.typed));
                watch = std::make_unique<ControlWatch>(entry, rig.log(), false);
            });
        watch.reset();
        EXPECT_EQ(got, row.wire);
    }
}

// ---- Entry fields: red flash, green flash, the bare Beep ----

TEST(Confirmations, EntryFieldsFlashRedAndGreen) {
    struct Row {
        const char* name;
        const char* field;
        QList<Qt::Key> keys;
        std::string sequence;
    };
    const Row rows[] = {
        // More than 0.65 of 1000 VA: red, tone, pause, black, cleared.
        {"load above what the unit may carry",
         "LoadSmartConst",
         {Qt::Key_7, Qt::Key_0, Qt::Key_0},
         "text:7 text:70 text:700 red " + kTone + " ~500 black text:"},
        {"input voltage above 235",
         "InputVoltageConstantSmart",
         {Qt::Key_2, Qt::Key_3, Qt::Key_6},
         "text:2 text:23 text:236 red " + kTone + " ~500 black text:"},
        // Esc puts the unit's head back, green while the tone sounds.
        {"firmware head put back",
         "SU36G",
         {Qt::Key_9, Qt::Key_Escape},
         "text:9 text:652 green " + kTone + " black"},
        // Esc in a date puts it back with a bare tone.
        {"date put back",
         "ManufactureDate",
         {Qt::Key_1, Qt::Key_Escape},
         "text:1 text:11/29/96 " + kTone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineBench bench("su1000");
        WireLog log(bench.clock());
        TForm1& form = bench.form();
        form.ups = std::make_unique<APCUPS>(bench.unit().makeLine(), log.clock());
        form.tone = std::make_unique<LoggedTone>(log, bench.clock());
        form.ups->ratingVA = 1000;
        form.ups->firmwareHead = "652";
        form.ups->manufactureDate = "11/29/96";
        QLineEdit* field = form.control<QLineEdit>(row.field);
        for (QWidget* w = field; w != nullptr; w = w->parentWidget())
            w->setEnabled(true);
        field->clear();
        {
            ControlWatch watch(field, log, true);
            for (Qt::Key key : row.keys)
                QTest::keyClick(field, key);
        }
        EXPECT_EQ(log.take(), row.sequence);
    }
}

}  // namespace
}  // namespace morlen::test
