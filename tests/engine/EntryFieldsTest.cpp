// The value entry fields, typed into with real key events: the keys each field takes, Esc,
// the conditions under which Enter posts, the load and voltage checks and the date.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "EngineBench.h"
#include "EntryFields.h"

// Texts in failure messages as text, not as code units.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace morlen::test {
namespace {

using Request = std::pair<char, char>;

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlack(0, 0, 0);

QColor fontOf(const QWidget* control) {
    return control->palette().color(QPalette::Active, QPalette::Text);
}

// A tone that counts, holds its caller in virtual time and lets a test look at the window
// while it sounds.
class WatchingTone final : public Tone {
public:
    explicit WatchingTone(Clock& clock) : clock_(clock) {}
    void Beep(int, int ms) override {
        ++beeps;
        if (whileSounding)
            whileSounding();
        clock_.sleepMs(ms);
    }
    int beeps = 0;
    std::function<void()> whileSounding;

private:
    Clock& clock_;
};

// The window before any unit is connected: no poll thread, so the fields read the unit's
// values straight from the UPS object, which the tests fill in.
class EntryFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto watching = std::make_unique<WatchingTone>(bench.clock());
        tone = watching.get();
        form().tone = std::move(watching);
        form().ups->ratingVA = 1000;
    }

    TForm1& form() { return bench.form(); }
    APCUPS& ups() { return *form().ups; }

    // The field by name, with whatever disabled it on the way enabled.
    QLineEdit* field(const char* name) {
        QLineEdit* entry = form().control<QLineEdit>(name);
        for (QWidget* w = entry; w != nullptr; w = w->parentWidget())
            w->setEnabled(true);
        return entry;
    }

    // Everything posted so far, oldest first; the queue is left empty.
    std::vector<Request> posted() {
        std::vector<Request> out;
        Queue& queue = *form().requestQueue;
        while (!queue.IsEmpty()) {
            out.emplace_back(queue.Front().code, queue.Front().argument);
            queue.Pop();
        }
        return out;
    }

    EngineBench bench{"su1000"};
    WatchingTone* tone = nullptr;
};

// ---- Accepted keys ----

bool anyKey(QChar) {
    return true;
}
bool alphanumeric(QChar c) {
    return c.isDigit() || (c.toLatin1() >= 'A' && c.toLatin1() <= 'Z') ||
           (c.toLatin1() >= 'a' && c.toLatin1() <= 'z');
}
bool hexadecimal(QChar c) {
    return QStringLiteral("0123456789ABCDEFabcdef").contains(c);
}
bool digit(QChar c) {
    return c.isDigit();
}
bool digitOrDot(QChar c) {
    return c.isDigit() || c == QLatin1Char('.');
}

TEST_F(EntryFieldTest, EachFieldTakesOnlyItsKeys) {
    struct Row {
        const char* name;
        bool (*accepts)(QChar);
        bool upperCase;
    };
    const Row rows[] = {
        {"ManufactureDate", anyKey, false},
        {"BatteriesReplaseDate", anyKey, false},
        {"ID", anyKey, false},
        {"SerialNumber", alphanumeric, false},
        {"Const0", hexadecimal, true},
        {"Const4", hexadecimal, true},
        {"Const5", hexadecimal, true},
        {"Const6", hexadecimal, true},
        {"Const02nd", hexadecimal, true},
        {"Const52nd", hexadecimal, true},
        {"Const62nd", hexadecimal, true},
        {"Const_3", hexadecimal, true},
        {"Const_4", hexadecimal, true},
        {"Const_5", hexadecimal, true},
        {"Const_6", hexadecimal, true},
        {"ConstCTRLD", hexadecimal, true},
        {"ModelConst", hexadecimal, true},
        {"SU36G", digit, false},
        {"BatSmart2nd", digitOrDot, false},
        {"LoadSmartConst", digit, false},
        {"LoadSmart2nd", digit, false},
        {"InputVoltageConstantSmart", digit, false},
        {"InputVoltageConstantSmart2nd", digit, false},
        {"InputVoltageConstantBP", digit, false},
    };
    const QString probes = QStringLiteral("079aFgZ. -/_*");
    for (const Row& row : rows) {
        QLineEdit* entry = field(row.name);
        for (const QChar probe : probes) {
            SCOPED_TRACE(std::string(row.name) + " '" + probe.toLatin1() + "'");
            entry->setText(QStringLiteral("1"));
            entry->end(false);
            QTest::keyClick(entry, probe.toLatin1());
            const QString typed = row.upperCase ? QString(probe).toUpper() : QString(probe);
            EXPECT_EQ(entry->text(),
                      row.accepts(probe) ? QStringLiteral("1") + typed : QStringLiteral("1"));
            EXPECT_FALSE(entry->isReadOnly()) << "editable again once the key is up";
        }
    }
    EXPECT_EQ(tone->beeps, 0);
    EXPECT_TRUE(posted().empty());
}

TEST_F(EntryFieldTest, RefusedKeysDoNotPasteButCopyStillWorks) {
    QLineEdit* constant = field("Const0");
    constant->setText(QStringLiteral("A0"));
    constant->selectAll();
    QTest::keyClick(constant, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("A0"));

    QApplication::clipboard()->setText(QStringLiteral("ZZ"));
    constant->clear();
    QTest::keyClick(constant, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(constant->text().isEmpty());
    EXPECT_FALSE(constant->isReadOnly());

    QLineEdit* date = field("ManufactureDate");
    date->clear();
    QTest::keyClick(date, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(date->text(), QStringLiteral("ZZ")) << "a field that takes any key takes a paste";
}

// ---- Text that arrives other than by a typed key ----

// The ways a text gets into a field without its key filter seeing the characters.
struct Way {
    const char* name;
    void (*put)(QLineEdit*, const QString&);
};

void putByPaste(QLineEdit* entry, const QString& text) {
    QApplication::clipboard()->setText(text);
    entry->paste();
}
void putByContextMenu(QLineEdit* entry, const QString& text) {
    QApplication::clipboard()->setText(text);
    const std::unique_ptr<QMenu> menu(entry->createStandardContextMenu());
    QAction* paste = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text().remove(QLatin1Char('&')).startsWith(QLatin1String("Paste")))
            paste = action;
    }
    ASSERT_NE(paste, nullptr);
    paste->trigger();
}
void putByShiftInsert(QLineEdit* entry, const QString& text) {
    QApplication::clipboard()->setText(text);
    QTest::keyClick(entry, Qt::Key_Insert, Qt::ShiftModifier);
}
void putByMiddleClick(QLineEdit* entry, const QString& text) {
    QApplication::clipboard()->setText(text, QClipboard::Selection);
    QTest::mouseClick(entry, Qt::MiddleButton, Qt::NoModifier, entry->rect().center());
}
void putByDrop(QLineEdit* entry, const QString& text) {
    QMimeData mime;
    mime.setText(text);
    const QPoint at = entry->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(entry, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(entry, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(entry, &drop);
}
void putByInputMethod(QLineEdit* entry, const QString& text) {  // dead keys, composing
    QInputMethodEvent compose(text, {});
    QApplication::sendEvent(entry, &compose);
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(entry, &commit);
}

std::vector<Way> waysIn() {
    std::vector<Way> ways = {{"paste", putByPaste},
                             {"context menu", putByContextMenu},
                             {"Shift+Insert", putByShiftInsert},
                             {"drop", putByDrop},
                             {"input method", putByInputMethod}};
    if (QApplication::clipboard()->supportsSelection())
        ways.push_back({"middle click", putByMiddleClick});
    return ways;
}

TEST_F(EntryFieldTest, EveryWayInTakesOnlyTheFieldsCharacters) {
    struct Row {
        const char* name;
        QString taken;  // arrives whole (upper case in the hexadecimal fields)
        std::vector<QString> refused;
    };
    const std::vector<QString> notAscii = {"\u00e9", "\u0416", "\u20ac", "1\t2"};
    const std::vector<QString> notHex = {" 9", "G0", "x0", "\u00e9"};
    const std::vector<QString> notDigits = {" 9", "1e", "-1", "\u0663"};  // the last: Arabic 3
    const Row rows[] = {
        {"ManufactureDate", "1 b-/*", notAscii},
        {"BatteriesReplaseDate", "12/06/26", notAscii},
        {"ID", "UPS_IDEN", notAscii},
        {"SerialNumber", "QA12cd", {"QA 12", "QA-1", "\u00c41", "1.2"}},
        {"Const0", "a0", notHex},
        {"Const4", "35", notHex},
        {"Const5", "EF", notHex},
        {"Const6", "f9", notHex},
        {"Const02nd", "9F", notHex},
        {"Const52nd", "EE", notHex},
        {"Const62nd", "FA", notHex},
        {"Const_3", "7d", notHex},
        {"Const_4", "5A", notHex},
        {"Const_5", "62", notHex},
        {"Const_6", "80", notHex},
        {"ConstCTRLD", "11", notHex},
        {"ModelConst", "0b", notHex},
        {"SU36G", "652", {"6.5", "6a", " 65"}},
        {"BatSmart2nd", "27.60", {"27,60", "27V", " 27"}},
        {"LoadSmartConst", "500", notDigits},
        {"LoadSmart2nd", "650", notDigits},
        {"InputVoltageConstantSmart", "220", notDigits},
        {"InputVoltageConstantSmart2nd", "230", notDigits},
        {"InputVoltageConstantBP", "235", notDigits},
    };
    for (const Way& way : waysIn()) {
        for (const Row& row : rows) {
            QLineEdit* entry = field(row.name);
            const bool upper =
                QByteArray(row.name).startsWith("Const") || QByteArray(row.name) == "ModelConst";
            for (const QString& text : row.refused) {
                SCOPED_TRACE(std::string(way.name) + " " + row.name + " \"" + text.toStdString() +
                             "\"");
                entry->setText(QStringLiteral("1"));
                entry->end(false);
                way.put(entry, text);
                EXPECT_EQ(entry->text(), QStringLiteral("1"));
            }
            SCOPED_TRACE(std::string(way.name) + " " + row.name + " takes \"" +
                         row.taken.toStdString() + "\"");
            entry->clear();
            way.put(entry, row.taken);
            EXPECT_EQ(entry->text(), upper ? row.taken.toUpper() : row.taken);
        }
    }
    EXPECT_EQ(tone->beeps, 0);
    EXPECT_TRUE(posted().empty());
}

// A text the unit gave may hold what the technician cannot type; it can be edited down, but
// nothing more from outside the field's set gets in.
TEST_F(EntryFieldTest, TheUnitsOwnTextStaysEditableButTakesNothingForeign) {
    struct Row {
        const char* name;
        QString fromUnit;
        QString afterBackspace;
        QString pasted;
    };
    const Row rows[] = {
        {"SerialNumber", "QA1234        ", "QA1234       ", "-"},
        {"Const0", "NA", "N", "N"},
        {"ID", "UPS\u00e9", "UPS", "\u00e9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QLineEdit* entry = field(row.name);
        entry->setText(row.fromUnit);
        EXPECT_EQ(entry->text(), row.fromUnit);
        entry->end(false);
        QTest::keyClick(entry, Qt::Key_Backspace);
        EXPECT_EQ(entry->text(), row.afterBackspace);
        putByPaste(entry, row.pasted);
        EXPECT_EQ(entry->text(), row.afterBackspace);
        // Undo brings the unit's text back, after which nothing foreign gets in either.
        entry->undo();
        EXPECT_EQ(entry->text(), row.fromUnit);
        entry->redo();
        EXPECT_EQ(entry->text(), row.afterBackspace);
        entry->undo();
        entry->setSelection(int(row.fromUnit.size()) - 1, 1);  // the paste replaces the last
        putByPaste(entry, row.pasted);
        EXPECT_EQ(entry->text(), row.fromUnit);
    }
}

TEST_F(EntryFieldTest, UndoBringsBackOnlyWhatTheFieldHeld) {
    struct Row {
        const char* name;
        QString fromUnit;
        int foreignAt;  // where the unit's text holds a character that cannot be typed
        QString afterTyping, afterDelete;
    };
    const Row rows[] = {
        {"SerialNumber", "QA 12", 2, "QA 123", "QA123"},
        {"ID", "UPS\u00e9", 3, "UPS\u00e91", "UPS1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QLineEdit* entry = field(row.name);
        entry->setText(row.fromUnit);
        entry->end(false);
        QTest::keyClick(entry, row.afterTyping.back().toLatin1());
        entry->setCursorPosition(row.foreignAt);
        QTest::keyClick(entry, Qt::Key_Delete);
        EXPECT_EQ(entry->text(), row.afterDelete);
        entry->undo();  // only the delete: the typed character stays
        EXPECT_EQ(entry->text(), row.afterTyping);
        entry->redo();
        EXPECT_EQ(entry->text(), row.afterDelete);
        entry->undo();
        entry->end(false);
        putByPaste(entry, row.fromUnit.mid(row.foreignAt, 1));
        EXPECT_EQ(entry->text(), row.afterTyping);
    }
}

TEST_F(EntryFieldTest, AnyKeyFieldsRefuseWhatTheUnitCannotStore) {
    // The unit keeps one byte per character: printable ASCII only, typed or composed.
    struct Key {
        Qt::Key code;
        QString text;
    };
    const Key keys[] = {{Qt::Key_Eacute, "\u00e9"},
                        {Qt::Key_unknown, "\u0416"},
                        {Qt::Key_unknown, "\u20ac"},
                        {Qt::Key_Adiaeresis, "\u00c4"}};
    for (const char* name : {"ManufactureDate", "BatteriesReplaseDate", "ID"}) {
        QLineEdit* entry = field(name);
        entry->setText(QStringLiteral("A"));
        entry->end(false);
        for (const Key& key : keys) {
            SCOPED_TRACE(std::string(name) + " " + key.text.toStdString());
            QTest::sendKeyEvent(QTest::Click, entry, key.code, key.text, Qt::NoModifier);
            EXPECT_EQ(entry->text(), QStringLiteral("A"));
            EXPECT_FALSE(entry->isReadOnly());
        }
        QTest::keyClicks(entry, "~ 1");
        EXPECT_EQ(entry->text(), QStringLiteral("A~ 1"));
    }
    EXPECT_TRUE(posted().empty());
}

// ---- Esc ----

TEST_F(EntryFieldTest, EscPutsBackTheUnitsValueWithTheFieldsSignal) {
    enum Signal { None, Beep, Green };
    struct Row {
        const char* name;
        std::function<void(APCUPS&)> unitHas;
        QString restored;
        Signal signal;
    };
    const Row rows[] = {
        {"ManufactureDate", [](APCUPS& u) { u.manufactureDate = "11/29/96"; }, "11/29/96", Beep},
        {"BatteriesReplaseDate", [](APCUPS& u) { u.batteryReplaceDate = "01/15/04"; }, "01/15/04",
         Beep},
        {"ID", [](APCUPS& u) { u.upsId = "UPS_IDEN"; }, "UPS_IDEN", Beep},
        {"SerialNumber", [](APCUPS& u) { u.serialNumber = "WS9643050926"; }, "WS9643050926", Beep},
        {"Const0", [](APCUPS& u) { u.const0Text = "A0"; }, "A0", None},
        {"Const4", [](APCUPS& u) { u.const4Text = "35"; }, "35", None},
        {"Const5", [](APCUPS& u) { u.const5Text = "EF"; }, "EF", None},
        {"Const6", [](APCUPS& u) { u.const6Text = "F9"; }, "F9", None},
        {"Const02nd", [](APCUPS& u) { u.const0Text = "9F"; }, "9F", None},
        {"Const52nd", [](APCUPS& u) { u.const5Text = "EE"; }, "EE", None},
        {"Const62nd", [](APCUPS& u) { u.const6Text = "FA"; }, "FA", None},
        {"Const_3", [](APCUPS& u) { u.constHashText = "7D"; }, "7D", None},
        {"Const_4", [](APCUPS& u) { u.constDollarText = "5A"; }, "5A", None},
        {"Const_5", [](APCUPS& u) { u.constPercentText = "62"; }, "62", None},
        {"Const_6", [](APCUPS& u) { u.constCaretText = "80"; }, "80", None},
        {"ConstCTRLD", [](APCUPS& u) { u.constCtrlDText = "11"; }, "11", None},
        {"ModelConst", [](APCUPS& u) { u.modelCodeText = "0B"; }, "0B", None},
        // Esc is not among the head's keys, but still puts the head back, green.
        {"SU36G", [](APCUPS& u) { u.firmwareHead = "652"; }, "652", Green},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.unitHas(ups());
        QLineEdit* entry = field(row.name);
        entry->setText(QStringLiteral("12"));
        QColor duringTone;
        tone->whileSounding = [&] { duringTone = fontOf(entry); };
        const int beeps = tone->beeps;
        QTest::keyClick(entry, Qt::Key_Escape);
        EXPECT_EQ(entry->text(), row.restored);
        EXPECT_EQ(tone->beeps - beeps, row.signal == None ? 0 : 1);
        if (row.signal == Green) {
            EXPECT_EQ(duringTone, kGreen);
        }
        EXPECT_EQ(fontOf(entry), kBlack);
        EXPECT_FALSE(entry->isReadOnly());
    }
    EXPECT_TRUE(posted().empty());
}

TEST_F(EntryFieldTest, EscInTheTargetFieldsChangesNothing) {
    for (const char* name :
         {"BatSmart2nd", "LoadSmartConst", "LoadSmart2nd", "InputVoltageConstantSmart",
          "InputVoltageConstantSmart2nd", "InputVoltageConstantBP"}) {
        SCOPED_TRACE(name);
        QLineEdit* entry = field(name);
        entry->setText(QStringLiteral("12"));
        QTest::keyClick(entry, Qt::Key_Escape);
        EXPECT_EQ(entry->text(), QStringLiteral("12"));
    }
    EXPECT_EQ(tone->beeps, 0);
}

TEST_F(EntryFieldTest, EscRestoresWhatTheUnitHoldsAfterAWrite) {
    // While the poll thread runs, the values come from a copy taken after each request: Esc
    // during a walk that follows a write in the same pass already gives the new text.
    bench.unit().model().setDrift(false);
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    QLineEdit* serial = field("SerialNumber");
    QString restored;
    const auto connection = QObject::connect(ui.InputVoltage, &QLineEdit::textChanged, [&] {
        if (!restored.isEmpty() || ui.PageControl1->currentWidget() != ui.TabSheet6)
            return;
        serial->setText(QStringLiteral("SOMETHING"));
        QTest::keyClick(serial, Qt::Key_Escape);
        restored = serial->text();
    });
    ASSERT_TRUE(bench.atRefresh([&] {
        ui.PageControl1->setCurrentWidget(ui.TabSheet6);  // nothing but the walk shows a voltage
        serial->setText(QStringLiteral("QA1234"));
        ui.InputVoltageConstantSmart->setText(QStringLiteral("225"));
        form().requestQueue->Push('k', '-');
        PostRequest(form(), 'J', '-');
    }));
    const bool walked = EngineBench::waitFor([&] { return !restored.isEmpty(); });
    QObject::disconnect(connection);
    ASSERT_TRUE(walked);
    EXPECT_EQ(restored, QStringLiteral("QA1234        "));
}

// ---- Enter ----

TEST_F(EntryFieldTest, EnterPostsTheFieldsCodeOnlyWhenItsConditionHolds) {
    struct Row {
        const char* name;
        QString text;
        char code;  // 0: nothing is posted
    };
    const Row rows[] = {
        // The identity texts and the firmware head post whatever they hold, even nothing.
        {"ManufactureDate", "", 'h'},
        {"BatteriesReplaseDate", "", 'i'},
        {"ID", "", 'j'},
        {"SerialNumber", "", 'k'},
        {"SU36G", "", 'O'},
        {"SU36G", "654", 'O'},
        // The constants and the model code with both digits only.
        {"Const0", "A", 0},
        {"Const0", "A0", 'l'},
        {"Const4", "35", 'm'},
        {"Const5", "EF", 'n'},
        {"Const6", "F9", 'o'},
        {"Const02nd", "9F", 'p'},
        {"Const52nd", "EE", 'q'},
        {"Const62nd", "FA", 'r'},
        {"Const_3", "7D", '@'},
        {"Const_4", "5A", 'U'},
        {"Const_5", "6", 0},
        {"Const_5", "62", 'Z'},
        {"Const_6", "80", 'V'},
        {"ConstCTRLD", "11", '!'},
        {"ModelConst", "1", 0},
        {"ModelConst", "1A", 'Q'},
        // Five characters exactly.
        {"BatSmart2nd", "27.6", 0},
        {"BatSmart2nd", "27.60", 's'},
        // A load with at least one digit.
        {"LoadSmartConst", "", 0},
        {"LoadSmartConst", "5", 'H'},
        {"LoadSmart2nd", "650", 'I'},
        // Three digits no higher than 235.
        {"InputVoltageConstantSmart", "99", 0},
        {"InputVoltageConstantSmart", "235", 'J'},
        {"InputVoltageConstantSmart2nd", "220", 'K'},
        {"InputVoltageConstantBP", "230", 'L'},
        {"InputVoltageConstantBP", "236", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " \"" + row.text.toStdString() + "\"");
        QLineEdit* entry = field(row.name);
        entry->setText(row.text);
        QTest::keyClick(entry, Qt::Key_Return);
        // A walk carries the text Enter confirmed; a text write reads its field when it runs.
        const bool write = std::string("hijkO").find(row.code) != std::string::npos;
        if (row.code != 0 && !form().requestQueue->IsEmpty()) {
            EXPECT_EQ(form().requestQueue->Front().target,
                      write ? std::nullopt
                            : std::optional<std::string>(row.text.toLatin1().toStdString()));
        }
        const std::vector<Request> expected =
            row.code == 0 ? std::vector<Request>{} : std::vector<Request>{{row.code, '-'}};
        EXPECT_EQ(posted(), expected);
    }
}

TEST_F(EntryFieldTest, EnterPostsNothingForATextThatCouldNotHaveBeenTyped) {
    // However the text got there (an earlier paste, the unit), a target that could not have
    // been typed is never walked toward, and nothing the unit cannot store is written.
    struct Row {
        const char* name;
        QString text;
    };
    const Row rows[] = {
        {"Const0", " 9"},
        {"Const0", "G0"},
        {"Const_5", "9 "},
        {"ModelConst", "0X"},
        {"BatSmart2nd", "27,60"},
        {"BatSmart2nd", "27 60"},
        // Dots anywhere can be typed, but only a number is a voltage to walk toward.
        {"BatSmart2nd", "....."},
        {"BatSmart2nd", "2.7.6"},
        {"LoadSmartConst", " 10"},
        {"LoadSmartConst", "6x"},
        {"LoadSmart2nd", "651"},  // above the limit: typing it clears it
        {"InputVoltageConstantSmart", "2 3"},
        {"InputVoltageConstantSmart2nd", " 99"},
        {"InputVoltageConstantBP", "1-1"},
        {"ManufactureDate", "12/06/\u00e9"},
        {"BatteriesReplaseDate", "\u20ac"},
        {"ID", "\u0416"},
        {"SerialNumber", "QA\u00e9"},
        {"SU36G", "6\u00e9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " \"" + row.text.toStdString() + "\"");
        QLineEdit* entry = field(row.name);
        entry->setText(row.text);
        ASSERT_EQ(entry->text(), row.text);
        QTest::keyClick(entry, Qt::Key_Return);
        EXPECT_TRUE(posted().empty());
    }
}

// ---- The load check ----

TEST_F(EntryFieldTest, LoadAboveTheLimitFlashesRedAndIsCleared) {
    ups().ratingVA = 1400;  // the limit is 910 W
    QLineEdit* load = field("LoadSmartConst");
    load->clear();
    QColor duringTone;
    tone->whileSounding = [&] { duringTone = fontOf(load); };

    QTest::keyClicks(load, "91");
    EXPECT_EQ(tone->beeps, 0);
    const Micros before = bench.clock().now();
    QTest::keyClick(load, '1');
    EXPECT_EQ(tone->beeps, 1);
    EXPECT_EQ(duringTone, kRed);
    EXPECT_GE(bench.clock().now() - before, Millis(1000)) << "the tone and the wait after it";
    EXPECT_TRUE(load->text().isEmpty());
    EXPECT_EQ(fontOf(load), kBlack);

    QTest::keyClicks(load, "910");
    EXPECT_EQ(load->text(), QStringLiteral("910"));
    QTest::keyClick(load, Qt::Key_Return);
    EXPECT_EQ(posted(), (std::vector<Request>{{'H', '-'}}));
    EXPECT_EQ(tone->beeps, 1);
}

TEST_F(EntryFieldTest, WithoutARatingEveryLoadIsCleared) {
    ups().ratingVA = 0;
    QLineEdit* load = field("LoadSmart2nd");
    load->clear();
    QTest::keyClick(load, '0');
    EXPECT_EQ(load->text(), QStringLiteral("0"));
    QTest::keyClick(load, '1');
    EXPECT_TRUE(load->text().isEmpty());
    EXPECT_EQ(tone->beeps, 1);
}

TEST_F(EntryFieldTest, LoadCannotBeTunedWithoutARating) {
    // Without a rating the unit's watts stay 0 whatever its meter does: no walk could end.
    ups().ratingVA = 0;
    for (const char* name : {"LoadSmartConst", "LoadSmart2nd"}) {
        SCOPED_TRACE(name);
        form().setStatusText(QString());
        QLineEdit* load = field(name);
        load->clear();
        QTest::keyClicks(load, "0");
        QTest::keyClick(load, Qt::Key_Return);
        EXPECT_TRUE(posted().empty());
        EXPECT_EQ(form().statusText(),
                  QStringLiteral("Load cannot be tuned: the model name gives no rating."));
    }
}

// ---- A held key ----

void sendKey(QLineEdit* entry, QEvent::Type type, Qt::Key key, const QString& text, bool repeat) {
    QKeyEvent event(type, key, Qt::NoModifier, text, repeat);
    QApplication::sendEvent(entry, &event);
}

TEST_F(EntryFieldTest, AHeldKeyIsCheckedOnceOnItsRealRelease) {
    struct Row {
        const char* name;
        QString held;  // the text while the key is still down
    };
    const Row rows[] = {
        {"InputVoltageConstantSmart", "999"},
        {"InputVoltageConstantBP", "999"},
        {"LoadSmartConst", "9999"},  // limit 650 W
        {"LoadSmart2nd", "9999"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QLineEdit* entry = field(row.name);
        entry->clear();
        const int beeps = tone->beeps;
        sendKey(entry, QEvent::KeyPress, Qt::Key_9, QStringLiteral("9"), false);
        for (int i = 0; i < 6; ++i) {
            sendKey(entry, QEvent::KeyRelease, Qt::Key_9, QStringLiteral("9"), true);
            sendKey(entry, QEvent::KeyPress, Qt::Key_9, QStringLiteral("9"), true);
        }
        EXPECT_EQ(entry->text(), row.held);
        EXPECT_EQ(tone->beeps - beeps, 0) << "no check while the key is held";
        sendKey(entry, QEvent::KeyRelease, Qt::Key_9, QStringLiteral("9"), false);
        EXPECT_TRUE(entry->text().isEmpty());
        EXPECT_EQ(tone->beeps - beeps, 1);
        EXPECT_FALSE(entry->isReadOnly());
    }
}

TEST_F(EntryFieldTest, AHeldRefusedKeyKeepsTheFieldLockedUntilItsRelease) {
    QLineEdit* constant = field("Const0");
    constant->setText(QStringLiteral("A"));
    sendKey(constant, QEvent::KeyPress, Qt::Key_G, QStringLiteral("g"), false);
    for (int i = 0; i < 3; ++i) {
        sendKey(constant, QEvent::KeyRelease, Qt::Key_G, QStringLiteral("g"), true);
        EXPECT_TRUE(constant->isReadOnly());
        sendKey(constant, QEvent::KeyPress, Qt::Key_G, QStringLiteral("g"), true);
    }
    sendKey(constant, QEvent::KeyRelease, Qt::Key_G, QStringLiteral("g"), false);
    EXPECT_FALSE(constant->isReadOnly());
    EXPECT_EQ(constant->text(), QStringLiteral("A"));
}

// ---- The voltage check ----

TEST_F(EntryFieldTest, VoltageAboveTwoThirtyFiveIsClearedOnTheLastKey) {
    QLineEdit* voltage = field("InputVoltageConstantSmart");
    voltage->clear();
    QColor duringTone;
    tone->whileSounding = [&] { duringTone = fontOf(voltage); };
    QTest::keyClicks(voltage, "23");
    EXPECT_EQ(tone->beeps, 0);
    QTest::keyClick(voltage, '6');
    EXPECT_EQ(tone->beeps, 1);
    EXPECT_EQ(duringTone, kRed);
    EXPECT_TRUE(voltage->text().isEmpty());
    EXPECT_TRUE(posted().empty());
}

TEST_F(EntryFieldTest, FullVoltageFieldTakesOnlyEnterOrBackspace) {
    QLineEdit* voltage = field("InputVoltageConstantBP");
    struct Row {
        const char* what;
        bool selected;  // the whole text selected first
        std::function<void()> press;
        QString after;
        int beeps;
        std::vector<Request> posted;
    };
    const Row rows[] = {
        {"digit", false, [&] { QTest::keyClick(voltage, '1'); }, "235", 1, {}},
        // A selection does not make room for a digit either.
        {"digit over a selection", true, [&] { QTest::keyClick(voltage, '1'); }, "235", 1, {}},
        {"letter", false, [&] { QTest::keyClick(voltage, 'x'); }, "235", 1, {}},
        {"Esc", false, [&] { QTest::keyClick(voltage, Qt::Key_Escape); }, "235", 1, {}},
        {"Backspace", false, [&] { QTest::keyClick(voltage, Qt::Key_Backspace); }, "23", 0, {}},
        {"Backspace over a selection",
         true,
         [&] { QTest::keyClick(voltage, Qt::Key_Backspace); },
         "",
         0,
         {}},
        {"Enter", false, [&] { QTest::keyClick(voltage, Qt::Key_Return); }, "235", 0, {{'L', '-'}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        voltage->setText(QStringLiteral("235"));
        if (row.selected)
            voltage->selectAll();
        const int beeps = tone->beeps;
        row.press();
        EXPECT_EQ(voltage->text(), row.after);
        EXPECT_EQ(tone->beeps - beeps, row.beeps);
        EXPECT_EQ(posted(), row.posted);
    }
    // Not full: Esc is refused quietly.
    voltage->setText(QStringLiteral("23"));
    QTest::keyClick(voltage, Qt::Key_Escape);
    EXPECT_EQ(voltage->text(), QStringLiteral("23"));
    EXPECT_EQ(tone->beeps, 4);
}

// ---- The battery replacement date ----

TEST(ShortDate, MonthDayYearWithSlashesWhateverTheLocale) {
    EXPECT_EQ(ShortDate(QDate(2026, 12, 6)), QStringLiteral("12/06/26"));
    EXPECT_EQ(ShortDate(QDate(2005, 1, 2)), QStringLiteral("01/02/05"));
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ShortDate(QDate(2026, 12, 6)), QStringLiteral("12/06/26"));
    QLocale::setDefault(saved);
}

TEST_F(EntryFieldTest, DoubleClickFillsInTodayWithoutPosting) {
    QLineEdit* date = field("BatteriesReplaseDate");
    date->setText(QStringLiteral("11/29/96"));
    const QString before = ShortDate(QDate::currentDate());
    QTest::mouseDClick(date, Qt::LeftButton);
    const QString after = ShortDate(QDate::currentDate());
    EXPECT_TRUE(date->text() == before || date->text() == after) << date->text().toStdString();
    EXPECT_FALSE(date->hasSelectedText()) << "the whole date stays as written";
    EXPECT_TRUE(posted().empty());
    QTest::keyClick(date, Qt::Key_Return);
    EXPECT_EQ(posted(), (std::vector<Request>{{'i', '-'}}));
}

TEST_F(EntryFieldTest, DoubleClickOnADisabledDateDoesNothing) {
    QLineEdit* date = field("BatteriesReplaseDate");
    date->setText(QStringLiteral("11/29/96"));
    date->setEnabled(false);
    QTest::mouseDClick(date, Qt::LeftButton);
    EXPECT_EQ(date->text(), QStringLiteral("11/29/96"));
    date->parentWidget()->setEnabled(false);  // disabled with its group
    date->setEnabled(true);
    QTest::mouseDClick(date, Qt::LeftButton);
    EXPECT_EQ(date->text(), QStringLiteral("11/29/96"));
    EXPECT_TRUE(posted().empty());
}

TEST(LeadingInteger, DigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(LeadingInteger(QString()), 0);
    EXPECT_EQ(LeadingInteger(QStringLiteral("x12")), 0);
    EXPECT_EQ(LeadingInteger(QStringLiteral("0910")), 910);
    EXPECT_EQ(LeadingInteger(QStringLiteral("27.60")), 27);
    EXPECT_EQ(LeadingInteger(QStringLiteral("99999999999999999999999")),
              std::numeric_limits<long long>::max());
}

}  // namespace
}  // namespace morlen::test
