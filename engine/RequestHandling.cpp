#include "RequestHandling.h"

#include <QColor>
#include <QLineEdit>
#include <cstring>

#include "Apcdynamicdata.h"
#include "Tone.h"
#include "Unit1.h"

namespace morlen {

RequestHandler::RequestHandler(TForm1& form, APCDynamicData& thread)
    : form_(form), thread_(thread), ups_(*form.ups) {
    Ui::TForm1& ui = *form.ui;

    // Constant tuning posted by Enter in a constant's entry (and by the connection step for
    // the battery constant): the entry is both the target and the display.
    const auto constant = [this](QLineEdit* entry, char select, bool (APCUPS::*tune)(const char*),
                                 const auto& field) {
        return [this, entry, select, tune, &field](char) {
            const auto show = [this, entry, &field] { setText(entry, field.c_str()); };
            RunTuning({entry, [this, select] { ups_.Transact(select, 2); },
                       [this, tune](const char* t) { return (ups_.*tune)(t); },
                       [&field] { return field.c_str(); }, show, show, kConstantWalkBound});
            Flash(entry);
        };
    };
    add('!', constant(ui.ConstCTRLD, cmd::CtrlD, &APCUPS::TuneConstCtrlD, ups_.constCtrlDText));
    add('@', constant(ui.Const_3, '#', &APCUPS::TuneConstHash, ups_.constHashText));
    add('U', constant(ui.Const_4, '$', &APCUPS::TuneConstDollar, ups_.constDollarText));
    add('Z', constant(ui.Const_5, '%', &APCUPS::TuneConstPercent, ups_.constPercentText));
    add('V', constant(ui.Const_6, '^', &APCUPS::TuneConstCaret, ups_.constCaretText));
    add('l', constant(ui.Const0, '0', &APCUPS::TuneConst0, ups_.const0Text));
    add('m', constant(ui.Const4, '4', &APCUPS::TuneConst4, ups_.const4Text));
    add('n', constant(ui.Const5, '5', &APCUPS::TuneConst5, ups_.const5Text));
    add('o', constant(ui.Const6, '6', &APCUPS::TuneConst6, ups_.const6Text));
    add('p', constant(ui.Const02nd, '0', &APCUPS::TuneConst0, ups_.const0Text));
    add('q', constant(ui.Const52nd, '5', &APCUPS::TuneConst5, ups_.const5Text));
    add('r', constant(ui.Const62nd, '6', &APCUPS::TuneConst6, ups_.const6Text));

    // A second-generation unit reports its model code anew on every "H": ask until it shows
    // the code the connection step put into the entry.
    add('t', [this, &ui](char) {
        const auto show = [this, &ui] { setText(ui.ModelConst, ups_.modelCode2ndText.c_str()); };
        RunTuning(
            {ui.ModelConst, nullptr, [this](const char* t) { return ups_.CheckModelCode2nd(t); },
             [this] { return ups_.modelCode2ndText.c_str(); }, show, show, kModelCodeWalkBound});
        Flash(ui.ModelConst);
    });

    AddEepromRows();
}

void RequestHandler::Handle(char code, char argument) {
    const auto row = table_.find(code);
    if (row != table_.end())
        row->second(argument);
}

QString RequestHandler::BoundReachedText(int steps) {
    return QStringLiteral("Target not reached after %1 steps.").arg(steps);
}

QString RequestHandler::textOf(QLineEdit* entry) {
    QString text;
    thread_.RunOnWindowThread([&] { text = entry->text(); });
    return text;
}

void RequestHandler::setText(QLineEdit* entry, const char* text) {
    const QString value = QString::fromLatin1(text);
    thread_.RunOnWindowThread([&] { entry->setText(value); });
}

void RequestHandler::Flash(QWidget* control) {
    thread_.RunOnWindowThread([&] {
        TForm1::setFontColor(control, QColor(0, 255, 0));
        control->repaint();
    });
    form_.tone->Beep(2000, 500);
    ups_.clock().sleepMs(500);
    thread_.RunOnWindowThread([&] {
        TForm1::setFontColor(control, QColor(0, 0, 0));
        control->repaint();
    });
}

WalkResult RequestHandler::RunTuning(const Walk& walk) {
    // The target travels in the code buffer, at most five characters.
    const QByteArray target = textOf(walk.entry).toLatin1().left(5);
    std::memset(form_.codeBuffer, 0, sizeof form_.codeBuffer);
    std::memcpy(form_.codeBuffer, target.constData(), std::size_t(target.size()));
    if (walk.select)
        walk.select();
    const WalkResult result = RunWalk(
        walk.bound, [&] { return walk.tune(form_.codeBuffer); },
        [&] { return walk.value()[0] == '\0'; }, walk.showIntermediate);
    walk.showFinal();
    if (result.end == WalkEnd::Bound) {
        const QString message = BoundReachedText(result.steps);
        thread_.RunOnWindowThread([&] { form_.setStatusText(message); });
    }
    return result;
}

}  // namespace morlen
