#include "RequestHandling.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "Apcdynamicdata.h"
#include "DisplayRefresh.h"
#include "Journal.h"
#include "Tone.h"
#include "Unit1.h"

namespace morlen {

namespace {

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

void paint(QWidget* control, const QColor& colour) {
    TForm1::setFontColor(control, colour);
    control->repaint();
}

const QColor kGreen(0, 255, 0);
const QColor kBlack(0, 0, 0);

// A meter reading as the unit gives it ("229.0", "27.30"). "NA" or garbage would read as 0:
// no reading to walk on from.
bool IsReading(const char* text) {
    return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

}  // namespace

RequestHandler::RequestHandler(TForm1& form, APCDynamicData& thread)
    : form_(form), thread_(thread), ups_(*form.ups) {
    Ui::TForm1& ui = *form.ui;

    // Constant tuning posted by Enter in a constant's entry (and by the connection step for
    // the battery constant): the entry is both the target and the display.
    const auto constant = [this](QLineEdit* entry, char select, const char* name,
                                 bool (APCUPS::*tune)(const char*), const auto& field) {
        return [this, entry, select, name, tune, &field](char) {
            const auto show = [this, entry, &field] { setText(entry, field.c_str()); };
            const auto walk = RunTuning(
                {entry,
                 [this, select, name] { return ups_.Select(select, 2, ValueForm::HexByte, name); },
                 [this, tune](const char* t) { return (ups_.*tune)(t); },
                 [&field] { return field.c_str(); }, show, show, kConstantWalkBound,
                 [&field] { return ValueChanges([&field] { return field.str(); }); },
                 // "NA" or garbage is no value to step on from.
                 [&field] { return !IsModelCode(field.c_str()); }});
            if (walk && Confirmed(*walk))
                Flash(entry);
        };
    };
    const auto& u = ups_;
    add('!', constant(ui.ConstCTRLD, cmd::CtrlD, "constant ^D", &APCUPS::TuneConstCtrlD,
                      u.constCtrlDText));
    add('@', constant(ui.Const_3, '#', "constant #", &APCUPS::TuneConstHash, u.constHashText));
    add('U', constant(ui.Const_4, '$', "constant $", &APCUPS::TuneConstDollar, u.constDollarText));
    add('Z',
        constant(ui.Const_5, '%', "constant %", &APCUPS::TuneConstPercent, u.constPercentText));
    add('V', constant(ui.Const_6, '^', "constant ^", &APCUPS::TuneConstCaret, u.constCaretText));
    add('l', constant(ui.Const0, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text));
    add('m', constant(ui.Const4, '4', "constant 4", &APCUPS::TuneConst4, u.const4Text));
    add('n', constant(ui.Const5, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text));
    add('o', constant(ui.Const6, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text));
    add('p', constant(ui.Const02nd, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text));
    add('q', constant(ui.Const52nd, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text));
    add('r', constant(ui.Const62nd, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text));

    AddStepRows();
    AddChangeRows();
    AddMeterRows();
    AddModelCodeRows();
    AddTextRows();
    AddCommandRows();
    AddEepromRows();
    AddRestoreRows();
    AddJournalRows();

    // Made by the connection step on the window thread before the poll thread starts: the
    // window still owns the link, so it may copy the values its entries restore.
    form_.takeUnitValues();
}

void RequestHandler::Handle(char code, char argument, std::optional<std::string> target,
                            std::vector<RestoreTarget> restore) {
    const auto row = table_.find(code);
    if (row == table_.end())
        return;
    thread_.RunOnWindowThread([this] { form_.clearRequestNote(); });
    // Only copies of what the unit last read back: the journal adds nothing to the wire.
    const auto journalRow = form_.journal ? journalRows_.find(code) : journalRows_.end();
    const QString before =
        journalRow != journalRows_.end() ? JournalValue(journalRow->second) : QString();
    outcome_.reset();
    outcomeReason_.clear();
    ups_.ClearSelection();
    confirmed_ = std::move(target);
    restorePlan_ = std::move(restore);
    row->second(argument);
    confirmed_.reset();
    if (ups_.RefusedSelection() != nullptr)
        NoteSelectionRefused();
    // What the request changed in the unit is what Esc puts back from now on. The same hand-off
    // fetches the note the request left for the journal.
    QString note;
    thread_.RunOnWindowThread([this, &note] {
        form_.takeUnitValues();
        note = form_.requestNote();
    });
    if (journalRow != journalRows_.end())
        RecordInJournal(journalRow->second, before, note);
}

QString RequestHandler::BoundReachedText(int steps) {
    return QStringLiteral("Target not reached after %1 steps.").arg(steps);
}

QString RequestHandler::TargetChangedText() {
    return QStringLiteral("The target changed before the walk began: nothing was sent.");
}

QString RequestHandler::WalkEndText(const WalkResult& walk) {
    switch (walk.end) {
        case WalkEnd::Reached:
            break;
        case WalkEnd::Bound:
            return BoundReachedText(walk.steps);
        case WalkEnd::Still:
            return QStringLiteral(
                       "Target not reached: the value did not move toward it for %1 steps.")
                .arg(kStillWalkBound);
        case WalkEnd::NoAnswer:
            return QStringLiteral("Target not reached: the UPS did not answer with a value.");
        case WalkEnd::Jumped:
            return QStringLiteral(
                "Target not reached: the reading jumped in one step (an unanswered reading, "
                "a glitch or the mains).");
        case WalkEnd::Crossed:
            return QStringLiteral("Target not reached: the UPS passed over it without showing it.");
        case WalkEnd::Unmoved:
            return QStringLiteral("Target not reached: the UPS did not move the value.");
        case WalkEnd::Stopped:
            return QStringLiteral("Target not reached: the walk was stopped by the close.");
    }
    return QString();
}

journal::Outcome RequestHandler::WalkOutcome(const WalkResult& walk) {
    switch (walk.end) {
        case WalkEnd::Reached:
            return journal::Outcome::Confirmed;
        case WalkEnd::NoAnswer:
            return journal::Outcome::Unanswered;
        case WalkEnd::Bound:
        case WalkEnd::Still:
        case WalkEnd::Jumped:
        case WalkEnd::Crossed:
        case WalkEnd::Unmoved:
        case WalkEnd::Stopped:
            break;
    }
    return journal::Outcome::NotReached;
}

bool IsModelCode(const char* text) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    return hex(text[0]) && hex(text[1]) && text[2] == '\0';
}

// ---- Step requests ----

void RequestHandler::AddStepRows() {
    Ui::TForm1& ui = *form_.ui;

    add('1', [this, &ui](char sign) {
        setText(ui.Model, ups_.StepModel(sign));
        if (ups_.isThirdGen) {
            ShowFirmwareHead();
        } else {
            setText(ui.Firmware, ups_.firmwareText.c_str());
        }
        setText(ui.ModelConst, ups_.modelCodeText.c_str());
        setText(ui.BatSysVolt, ups_.ReadBatteryNominal());
        ShowTransferVoltages();
    });

    // Smart-UPS meters and battery packs.
    add('2', [this, &ui](char sign) {
        ShowLoad(ui.LoadPercent, ui.LoadW, ui.LoadBar, ups_.StepLoad(sign));
    });
    add('3', [this, &ui](char sign) {
        ShowInput(ui.InputVoltage, ui.InputVoltageBar, ui.OutputVoltage, ui.OutputVoltageBar,
                  ups_.StepInputVoltage(sign));
    });
    add('4',
        [this, &ui](char sign) { setText(ui.BatteryVoltageSmart, ups_.StepBatteryVoltage(sign)); });
    add('5', [this, &ui](char sign) { setText(ui.BatteryPacks, ups_.StepBatteryPacks(sign)); });

    // Back-UPS Pro meters. Its calibration values are shown by the next display refresh.
    add('f', [this, &ui](char sign) {
        ShowLoad(ui.LoadPercentBackPro, ui.LoadWBackPro, ui.LoadBackProBar, ups_.StepLoad(sign));
    });
    add('g', [this, &ui](char sign) {
        ShowInput(ui.InputVoltageBackPro, ui.InputVoltageBackProBar, ui.OutputVoltageBackPro,
                  ui.OutputVoltageBackProBar, ups_.StepInputVoltage(sign));
    });
    const std::pair<char, const char* (APCUPS::*)(char)> backPro[] = {
        {'A', &APCUPS::StepRatio},         {'B', &APCUPS::StepBbdVoltage},
        {'C', &APCUPS::StepEutVoltage},    {'D', &APCUPS::StepBatteryVoltage},
        {'E', &APCUPS::StepFloatVoltage},  {'F', &APCUPS::StepDcOffset},
        {'G', &APCUPS::StepCapacitorLoad},
    };
    for (const auto& [code, step] : backPro)
        add(code, [this, step = step](char sign) { (ups_.*step)(sign); });

    // Second-generation units step their meters in their own direction; the tone says the
    // step was made, since the reading may wrap around.
    add('6', [this, &ui](char) {
        ShowLoad(ui.LoadPercent2nd, ui.LoadW2nd, ui.Load2ndBar, ups_.StepLoad2nd());
        Beep();
    });
    add('7', [this, &ui](char) {
        ShowInput(ui.InputVoltage2nd, ui.InputVoltage2ndBar, ui.OutputVoltage2nd,
                  ui.OutputVoltage2ndBar, ups_.StepInputVoltage2nd());
        Beep();
    });
    add('R', [this, &ui](char sign) {
        setText(ui.BatteryVoltage2nd, ups_.StepBatteryVoltage(sign));
        Flash(ui.BatteryVoltage2nd);
    });
}

// ---- "Change" buttons: each moves a setting to the next value the unit offers ----

void RequestHandler::AddChangeRows() {
    Ui::TForm1& ui = *form_.ui;
    const std::tuple<char, const char* (APCUPS::*)(), QLineEdit*> rows[] = {
        {'8', &APCUPS::StepHighTransfer, ui.UpTransferVoltage},
        {'9', &APCUPS::StepLowTransfer, ui.LowTransferVoltage},
        {'a', &APCUPS::StepOutputSetting, ui.OutputVoltageConstant},
        {'b', &APCUPS::StepHighTransfer, ui.UpVoltage2nd},
        {'c', &APCUPS::StepLowTransfer, ui.LowVoltage2nd},
        {'d', &APCUPS::StepOutputSetting, ui.OutputVoltageConstant2nd},
        {'M', &APCUPS::StepReturnThreshold, ui.Threshold},
        {'S', &APCUPS::StepLowBatteryWarning, ui.LowBatWarning},
        {'u', &APCUPS::StepShutdownDelay, ui.ShutDownDelay},
        {'v', &APCUPS::StepTurnOnDelay, ui.WakeUpDelay},
        {'w', &APCUPS::StepSelfTestInterval, ui.SelfTest},
        {'x', &APCUPS::StepSensitivity, ui.Sensitivity},
        {'y', &APCUPS::StepAlarmDelay, ui.AlarmDelay},
    };
    for (const auto& [code, step, entry] : rows)
        add(code, [this, step = step, entry = entry](char) { setText(entry, (ups_.*step)()); });
}

// ---- Meter walks toward the true value the technician typed ----

void RequestHandler::AddMeterRows() {
    Ui::TForm1& ui = *form_.ui;
    // The walk ends when the reading crosses the target, so it must start without a
    // direction left over from the last one.
    const auto fresh = [this] {
        ups_.steppedDown = false;
        ups_.steppedUp = false;
        return true;
    };

    const auto load = [this, fresh](QLineEdit* target, QLineEdit* percent, QProgressBar* bar,
                                    QLineEdit* watts) {
        return [this, fresh, target, percent, bar, watts](char) {
            const auto show = [this, percent, bar, watts] {
                const QString loadText = latin(ups_.loadPercentText.c_str());
                const float position = ups_.loadPercent;
                const QString wattsText = QString::number(Truncate(ups_.loadWatts));
                thread_.RunOnWindowThread([&] {
                    percent->setText(loadText);
                    SetBarPosition(bar, position);
                    watts->setText(wattsText);
                });
            };
            const auto walk = RunTuning(
                {target, fresh, [this](const char* t) { return ups_.TuneLoad(t); },
                 [this] { return ups_.loadPercentText.c_str(); }, show, show, kMeterWalkBound,
                 [this] {
                     return MeterProgress([this] { return ups_.loadWatts; },
                                          kLoadWander * ups_.wattsPerPercent);
                 },
                 [this] { return !IsReading(ups_.loadPercentText.c_str()); }});
            if (!walk)
                return;  // the entry keeps what the technician changed it to
            if (Confirmed(*walk))
                Flash(watts);
            setText(target, "");
        };
    };
    add('H', load(ui.LoadSmartConst, ui.LoadPercent, ui.LoadBar, ui.LoadW));
    add('I', load(ui.LoadSmart2nd, ui.LoadPercent2nd, ui.Load2ndBar, ui.LoadW2nd));

    const auto input = [this, fresh](QLineEdit* target, QLineEdit* shown, QProgressBar* bar) {
        return [this, fresh, target, shown, bar](char) {
            const auto step = [this, shown, bar] {
                const QString value = latin(ups_.inputVoltageText.c_str());
                const float position = ups_.inputVoltage;
                thread_.RunOnWindowThread([&] {
                    shown->setText(value);
                    SetBarPosition(bar, position);
                });
            };
            const auto walk = RunTuning(
                {target, fresh, [this](const char* t) { return ups_.TuneInputVoltage(t); },
                 [this] { return ups_.inputVoltageText.c_str(); }, step,
                 [this, shown] { setText(shown, ups_.inputVoltageText.c_str()); }, kMeterWalkBound,
                 [this] {
                     return MeterProgress([this] { return ups_.inputVoltage; }, kInputWander);
                 },
                 [this] { return !IsReading(ups_.inputVoltageText.c_str()); }});
            if (!walk)
                return;
            if (Confirmed(*walk))
                Flash(shown);
            setText(target, "");
        };
    };
    add('J', input(ui.InputVoltageConstantSmart, ui.InputVoltage, ui.InputVoltageBar));
    add('K', input(ui.InputVoltageConstantSmart2nd, ui.InputVoltage2nd, ui.InputVoltage2ndBar));
    add('L', input(ui.InputVoltageConstantBP, ui.InputVoltageBackPro, ui.InputVoltageBackProBar));

    // The second-generation battery meter answers each step with a step text, not the
    // reading: the reading is asked for after every step.
    add('s', [this, &ui](char) {
        const auto walk = RunTuning(
            {ui.BatSmart2nd, nullptr,
             [this](const char* t) { return ups_.TuneBatteryVoltage2nd(t); },
             [this] { return ups_.step2ndText.c_str(); },
             [this, &ui] { setText(ui.BatteryVoltage2nd, ups_.ReadBatteryVoltage()); },
             [this, &ui] { setText(ui.BatteryVoltage2nd, ups_.batteryVoltageText.c_str()); },
             kMeterWalkBound,
             [this] {
                 return MeterProgress([this] { return ups_.batteryVoltage; }, kBatteryWander);
             },
             [this] {
                 return ups_.step2ndText.empty() || !IsReading(ups_.batteryVoltageText.c_str());
             }});
        if (!walk)
            return;
        if (Confirmed(*walk))
            Flash(ui.BatteryVoltage2nd);
        setText(ui.BatSmart2nd, "");
    });
}

// ---- Model code ----

void RequestHandler::AddModelCodeRows() {
    Ui::TForm1& ui = *form_.ui;

    // A second-generation unit reports its model code anew on every "H": ask until it shows
    // the code the connection step put into the entry.
    add('t', [this, &ui](char) {
        const auto show = [this, &ui] { setText(ui.ModelConst, ups_.modelCode2ndText.c_str()); };
        const auto walk = RunTuning(
            {ui.ModelConst, nullptr, [this](const char* t) { return ups_.CheckModelCode2nd(t); },
             [this] { return ups_.modelCode2ndText.c_str(); }, show, show, kModelCodeWalkBound,
             [this] { return ValueChanges([this] { return ups_.modelCode2ndText.str(); }); },
             [this] { return !IsModelCode(ups_.modelCode2ndText.c_str()); }});
        if (walk && Confirmed(*walk))
            Flash(ui.ModelConst);
    });

    // The model code typed by the technician. The model name, firmware, battery system and
    // the settings the unit offers all follow the code, so they are read again afterwards.
    add('Q', [this, &ui](char) {
        const auto select = [this] {
            ups_.steppedDown = false;
            ups_.steppedUp = false;
            constexpr const char* kWhat = "the model code";
            if (ups_.usesCtrlB)
                return ups_.Select(cmd::CtrlB, 2, ValueForm::HexByte, kWhat);
            if (ups_.family == FamilySmart2ndGen)
                return ups_.Select('H', 2, ValueForm::HexByte, kWhat);
            return ups_.Select('b', 8, ValueForm::Firmware, kWhat);
        };
        // The walk also stops where the unit does not move or the target is crossed (a code
        // the product line does not have): only the code itself confirms it.
        Walk tuning{ui.ModelConst, select, [this](const char* t) { return ups_.TuneModelCode(t); },
                    [this] { return ups_.modelCodeText.c_str(); },
                    [this, &ui] { setText(ui.ModelConst, ups_.modelCodeText.c_str()); }, nullptr,
                    kModelCodeWalkBound,
                    [this] { return ValueChanges([this] { return ups_.modelCodeText.str(); }); },
                    // A reply that is no code at all is treated as no reply.
                    [this] { return !IsModelCode(ups_.modelCodeText.c_str()); }};
        const auto ran = RunTuning(tuning);
        if (!ran)
            return;  // nothing was sent, so nothing needs reading again
        WalkResult walk = *ran;
        if (walk.end == WalkEnd::Reached && !(ups_.modelCodeText == form_.codeBuffer)) {
            walk.end = ups_.modelCodeText == ups_.previousModelCode.view() ? WalkEnd::Unmoved
                                                                           : WalkEnd::Crossed;
            ReportWalkEnd(walk);
        }
        if (ups_.isThirdGen)
            ShowFirmwareHead();
        setText(ui.Model, ups_.ReadModelName());
        setText(ui.Firmware, "");
        setText(ui.Firmware, ups_.ReadFirmware());
        setText(ui.ModelConst, ups_.modelCodeText.c_str());
        setText(ui.BatSysVolt, ups_.ReadBatteryNominal());
        if (walk.end == WalkEnd::Reached)
            Flash(ui.ModelConst);
        ShowTransferVoltages();
    });
}

// ---- Identity texts: the entry's text when the request is carried out is what is written ----

void RequestHandler::AddTextRows() {
    Ui::TForm1& ui = *form_.ui;
    const auto typed = [this](QLineEdit* entry) { return textOf(entry).toLatin1().toStdString(); };

    add('h', [this, &ui, typed](char) {
        ups_.WriteManufactureDate(typed(ui.ManufactureDate));
        ShowTextWrite(ui.ManufactureDate, [this] { return ups_.manufactureDate.c_str(); });
    });
    add('i', [this, &ui, typed](char) {
        ups_.WriteBatteryReplaceDate(typed(ui.BatteriesReplaseDate));
        ShowTextWrite(ui.BatteriesReplaseDate, [this] { return ups_.batteryReplaceDate.c_str(); });
    });
    add('j', [this, &ui, typed](char) {
        ups_.WriteUpsId(typed(ui.ID));
        // A written id is read once more after the flash.
        ShowTextWrite(ui.ID, [this] {
            return ups_.lastTextWrite == TextWrite::Accepted ? ups_.ReadUpsId()
                                                             : ups_.upsId.c_str();
        });
    });
    add('k', [this, &ui, typed](char) {
        ups_.WriteSerialNumber(typed(ui.SerialNumber));
        ShowTextWrite(ui.SerialNumber, [this] { return ups_.serialNumber.c_str(); });
    });
    add('O', [this, &ui, typed](char) {
        setText(ui.SU36G, ups_.WriteFirmwareHead(typed(ui.SU36G)));
        if (ups_.lastTextWrite == TextWrite::Accepted)
            ShortFlash(ui.SU36G);
        else
            NoteTextRefused();
    });
}

void RequestHandler::ShowTextWrite(QLineEdit* entry, const std::function<const char*()>& readBack) {
    if (ups_.lastTextWrite == TextWrite::Accepted) {
        LateFlash(entry, readBack);
        return;
    }
    // Not confirmed: the entry shows what the unit holds, the status text why.
    setText(entry, readBack());
    NoteTextRefused();
}

QString RequestHandler::SelectionRefusedText(const char* what, const char* reply) {
    if (reply[0] == '\0')
        return QStringLiteral(
                   "The UPS did not answer the selection of %1: nothing was sent after it.")
            .arg(QLatin1String(what));
    return QStringLiteral(
               "The UPS did not take the selection of %1 (it answered \"%2\"): nothing was sent "
               "after it.")
        .arg(QLatin1String(what), latin(reply));
}

void RequestHandler::NoteSelectionRefused() {
    outcome_ = journal::Outcome::Refused;
    outcomeReason_ = SelectionRefusedText(ups_.RefusedSelection(), ups_.RefusedSelectionReply());
    thread_.RunOnWindowThread([this] { form_.showRequestNote(outcomeReason_); });
}

void RequestHandler::NoteTextRefused() {
    outcome_ = journal::Outcome::Refused;
    outcomeReason_ = QStringLiteral("The UPS did not accept the new text.");
    thread_.RunOnWindowThread([this] { form_.showRequestNote(outcomeReason_); });
}

// ---- Commands ----

void RequestHandler::AddCommandRows() {
    Ui::TForm1& ui = *form_.ui;

    // The unit's factory values, as it reads them back after the reset.
    add('N', [this, &ui](char) {
        ups_.ResetToDefaults();
        Beep();
        const std::pair<QLineEdit*, QString> shown[] = {
            {ui.UpTransferVoltage, latin(ups_.highTransferText.c_str())},
            {ui.LowTransferVoltage, latin(ups_.lowTransferText.c_str())},
            {ui.OutputVoltageConstant, latin(ups_.outputSettingText.c_str())},
            {ui.SelfTest, latin(ups_.selfTestIntervalText.c_str())},
            {ui.ShutDownDelay, latin(ups_.shutdownDelayText.c_str())},
            {ui.WakeUpDelay, latin(ups_.turnOnDelayText.c_str())},
            {ui.Sensitivity, latin(ups_.sensitivityText.c_str())},
            {ui.AlarmDelay, latin(ups_.alarmDelayText.c_str())},
            {ui.Threshold, latin(ups_.returnThresholdText.c_str())},
            {ui.LowBatWarning, latin(ups_.lowBatteryWarningText.c_str())},
        };
        thread_.RunOnWindowThread([&shown] {
            for (const auto& [entry, text] : shown)
                entry->setText(text);
        });
    });
    add('P', [this](char) { ups_.StartSelfTest(); });
    add('z', [this](char) { ups_.FrontPanelTest(); });
    add('~', [this](char) { ups_.SendBypassToggle(); });
}

// ---- Helpers ----

QString RequestHandler::textOf(QLineEdit* entry) {
    QString text;
    thread_.RunOnWindowThread([&] { text = entry->text(); });
    return text;
}

void RequestHandler::setText(QLineEdit* entry, const char* text) {
    const QString value = latin(text);
    thread_.RunOnWindowThread([&] { entry->setText(value); });
}

void RequestHandler::Beep() {
    form_.tone->Beep(2000, 500);
}

void RequestHandler::Flash(QWidget* control) {
    thread_.RunOnWindowThread([&] { paint(control, kGreen); });
    Beep();
    ups_.clock().sleepMs(500);
    thread_.RunOnWindowThread([&] { paint(control, kBlack); });
}

void RequestHandler::ShortFlash(QWidget* control) {
    thread_.RunOnWindowThread([&] { paint(control, kGreen); });
    Beep();
    thread_.RunOnWindowThread([&] { paint(control, kBlack); });
}

void RequestHandler::LateFlash(QLineEdit* entry, const std::function<const char*()>& readBack) {
    thread_.RunOnWindowThread([&] { paint(entry, kGreen); });
    ups_.clock().sleepMs(500);
    Beep();
    const QString value = latin(readBack());
    thread_.RunOnWindowThread([&] {
        TForm1::setFontColor(entry, kBlack);
        entry->setText(value);
        entry->repaint();
    });
}

void RequestHandler::ShowLoad(QLineEdit* percent, QLineEdit* watts, QProgressBar* bar,
                              const char* load) {
    const QString loadText = latin(load);
    const QString wattsText = latin(ups_.loadWattsText.c_str());
    const float loadPercent = ups_.loadPercent;
    thread_.RunOnWindowThread([&] {
        percent->setText(loadText);
        ColourLoad(form_, loadPercent, percent, watts);
        watts->setText(wattsText);
        SetBarPosition(bar, loadPercent);
        bar->repaint();
    });
}

void RequestHandler::ShowInput(QLineEdit* input, QProgressBar* inputBar, QLineEdit* output,
                               QProgressBar* outputBar, const char* inputText) {
    const QString inputValue = latin(inputText);
    const float inputPosition = ups_.inputVoltage;
    const QString outputValue = latin(ups_.ReadOutputVoltage());
    const float outputPosition = ups_.outputVoltage;
    thread_.RunOnWindowThread([&] {
        input->setText(inputValue);
        SetBarPosition(inputBar, inputPosition);
        output->setText(outputValue);
        SetBarPosition(outputBar, outputPosition);
    });
}

void RequestHandler::ShowFirmwareHead() {
    const QString caption = latin(ups_.ReadFirmware());
    const QString head = latin(ups_.firmwareHead.c_str());
    QLineEdit* entry = form_.ui->SU36G;
    thread_.RunOnWindowThread([&] {
        if (QLabel* label = form_.labelOf(entry))
            label->setText(caption);
        entry->setText(head);
    });
}

void RequestHandler::ShowTransferVoltages() {
    if (ups_.family == FamilyBackPro)
        return;  // it has none
    Ui::TForm1& ui = *form_.ui;
    setText(ui.UpTransferVoltage, ups_.ReadHighTransfer());
    setText(ui.LowTransferVoltage, ups_.ReadLowTransfer());
    setText(ui.OutputVoltageConstant, ups_.ReadOutputSetting());
}

std::optional<WalkResult> RequestHandler::RunTuning(const Walk& walk) {
    // The target is the text Enter confirmed. A field that no longer holds it (edited, erased)
    // does not say what the technician wants: nothing is sent.
    const QString field = textOf(walk.entry);
    if (!confirmed_ ||
        field != QString::fromLatin1(confirmed_->data(), qsizetype(confirmed_->size()))) {
        thread_.RunOnWindowThread([this] { form_.showRequestNote(TargetChangedText()); });
        return std::nullopt;
    }
    // The target travels in the code buffer, at most five characters.
    const std::string target = confirmed_->substr(0, 5);
    std::memset(form_.codeBuffer, 0, sizeof form_.codeBuffer);
    std::memcpy(form_.codeBuffer, target.data(), target.size());
    if (walk.select && !walk.select()) {
        // A step now would move whatever the unit had selected before.
        const WalkResult none{WalkEnd::NoAnswer, 0};
        if (walk.showFinal)
            walk.showFinal();
        ReportWalkEnd(none);
        return none;
    }
    std::function<bool()> noAnswer = walk.noAnswer;
    if (!noAnswer)
        noAnswer = [&] { return walk.value()[0] == '\0'; };
    // A step whose selection the unit refused sent nothing: the walk cannot go on.
    noAnswer = [this, inner = std::move(noAnswer)] {
        return ups_.RefusedSelection() != nullptr || inner();
    };
    ups_.tuneJumped = false;
    WalkResult result = RunWalk(
        walk.bound, [&] { return walk.tune(form_.codeBuffer); }, noAnswer, walk.showIntermediate,
        walk.progress ? walk.progress() : WalkProgress(),
        [this] { return thread_.StopRequested(); });
    if (result.end == WalkEnd::Reached && ups_.tuneJumped)
        result.end = WalkEnd::Jumped;
    if (walk.showFinal)
        walk.showFinal();
    ReportWalkEnd(result);
    return result;
}

WalkProgress RequestHandler::MeterProgress(std::function<double()> reading, double wander) {
    // A second-generation unit steps its meters its own way round, wrapping: any real move is
    // progress. Others step toward the target, and must come closer to it.
    if (ups_.family == FamilySmart2ndGen)
        return Moves(std::move(reading), wander);
    const double target = NumberOf(form_.codeBuffer);
    return ComesCloser(
        [reading = std::move(reading), target] { return std::fabs(reading() - target); }, wander);
}

void RequestHandler::ReportWalkEnd(const WalkResult& walk) {
    // The last word on a walk is the journal's outcome: the model code's check may overrule
    // the walk's own end.
    outcome_ = WalkOutcome(walk);
    outcomeReason_ = WalkEndText(walk);
    const QString message = WalkEndText(walk);
    if (message.isEmpty())
        return;
    thread_.RunOnWindowThread([&] { form_.showRequestNote(message); });
}

// ---- Service journal ----

void RequestHandler::AddJournalRows() {
    using S = JournalRow::Style;
    const auto value = [this](const char* what, auto field) {
        return JournalRow{what, S::Value, [this, field] { return (ups_.*field).c_str(); }};
    };
    const std::pair<char, JournalRow> rows[] = {
        // Calibration constants, named by their labels on the window.
        {'!', value("Constant ^d", &APCUPS::constCtrlDText)},
        {'@', value("Constant #", &APCUPS::constHashText)},
        {'U', value("Constant $", &APCUPS::constDollarText)},
        {'Z', value("Constant %", &APCUPS::constPercentText)},
        {'V', value("Constant ^", &APCUPS::constCaretText)},
        {'l', value("Constant 0", &APCUPS::const0Text)},
        {'m', value("Constant 4", &APCUPS::const4Text)},
        {'n', value("Constant 5", &APCUPS::const5Text)},
        {'o', value("Constant 6", &APCUPS::const6Text)},
        {'p', value("Constant 0", &APCUPS::const0Text)},
        {'q', value("Constant 5", &APCUPS::const5Text)},
        {'r', value("Constant 6", &APCUPS::const6Text)},
        // Model and meters.
        {'1', value("Model", &APCUPS::modelName)},
        {'2', value("Load %", &APCUPS::loadPercentText)},
        {'f', value("Load %", &APCUPS::loadPercentText)},
        {'6', value("Load %", &APCUPS::loadPercentText)},
        {'H', value("Load W", &APCUPS::loadWattsText)},
        {'I', value("Load W", &APCUPS::loadWattsText)},
        {'3', value("Input V", &APCUPS::inputVoltageText)},
        {'g', value("Input V", &APCUPS::inputVoltageText)},
        {'7', value("Input V", &APCUPS::inputVoltageText)},
        {'J', value("Input V", &APCUPS::inputVoltageText)},
        {'K', value("Input V", &APCUPS::inputVoltageText)},
        {'L', value("Input V", &APCUPS::inputVoltageText)},
        {'4', value("Bat.Voltage", &APCUPS::batteryVoltageText)},
        {'R', value("Bat. Voltage", &APCUPS::batteryVoltageText)},
        {'s', value("Bat. Voltage", &APCUPS::batteryVoltageText)},
        {'5', value("Bat. Packs", &APCUPS::batteryPacksText)},
        {'A', value("Ratio", &APCUPS::ratioText)},
        {'B', value("B.B.D.", &APCUPS::bbdVoltageText)},
        {'C', value("E.U.T.", &APCUPS::eutVoltageText)},
        {'D', value("Bat.", &APCUPS::batteryVoltageText)},
        {'E', value("Float", &APCUPS::floatVoltageText)},
        {'F', value("DC", &APCUPS::dcOffsetText)},
        {'G', value("CAP", &APCUPS::capacitorLoadText)},
        // Stored settings, each "Change" button.
        {'8', value("Up Voltage", &APCUPS::highTransferText)},
        {'b', value("Up Voltage", &APCUPS::highTransferText)},
        {'9', value("Low Voltage", &APCUPS::lowTransferText)},
        {'c', value("Low Voltage", &APCUPS::lowTransferText)},
        {'a', value("Out Voltage", &APCUPS::outputSettingText)},
        {'d', value("Out Voltage", &APCUPS::outputSettingText)},
        {'M', value("Return threshold", &APCUPS::returnThresholdText)},
        {'S', value("Low Battery Warning", &APCUPS::lowBatteryWarningText)},
        {'u', value("Shut down delay", &APCUPS::shutdownDelayText)},
        {'v', value("Wake up delay", &APCUPS::turnOnDelayText)},
        {'w', value("Self Test", &APCUPS::selfTestIntervalText)},
        {'x', value("Sensitivity", &APCUPS::sensitivityText)},
        {'y', value("Alarm delay", &APCUPS::alarmDelayText)},
        // Model codes and identity texts.
        {'t', value("Hex Code", &APCUPS::modelCode2ndText)},
        {'Q', value("Hex Code", &APCUPS::modelCodeText)},
        {'h', value("UPS Manufacture Date", &APCUPS::manufactureDate)},
        {'i', value("Batteries Replaced Date", &APCUPS::batteryReplaceDate)},
        {'j', value("UPS ID", &APCUPS::upsId)},
        {'k', value("Serial Number", &APCUPS::serialNumber)},
        {'O', value("SU36G", &APCUPS::firmwareHead)},
        // Commands, named as their buttons.
        {'N', {journal::kResetWhat, S::Settings, nullptr}},
        {'P', {"Self Test", S::Command, nullptr}},
        {'z', {"Leds and Alarm Test", S::Command, nullptr}},
        {'~', {"BYPASS", S::Command, nullptr}},
        {'W', {"Read EEPROM", S::Eeprom, nullptr}},
    };
    for (const auto& [code, row] : rows)
        journalRows_.emplace(code, row);
}

QString RequestHandler::JournalValue(const JournalRow& row) const {
    using S = JournalRow::Style;
    switch (row.style) {
        case S::Value:
            return latin(row.value());
        case S::Settings: {
            const char* const values[] = {
                ups_.highTransferText.c_str(),    ups_.lowTransferText.c_str(),
                ups_.outputSettingText.c_str(),   ups_.selfTestIntervalText.c_str(),
                ups_.shutdownDelayText.c_str(),   ups_.turnOnDelayText.c_str(),
                ups_.sensitivityText.c_str(),     ups_.alarmDelayText.c_str(),
                ups_.returnThresholdText.c_str(), ups_.lowBatteryWarningText.c_str(),
            };
            QList<journal::LabelledValue> settings;
            for (std::size_t i = 0; i < journal::kSettingLabels.size(); ++i)
                settings.append({latin(journal::kSettingLabels[i]), latin(values[i])});
            return journal::FormatValues(settings);
        }
        case S::Command:
            return latin(ups_.replyBuffer);
        case S::Eeprom:
            break;
    }
    return QString();
}

void RequestHandler::RecordInJournal(const JournalRow& row, const QString& before,
                                     const QString& note) {
    using S = JournalRow::Style;
    journal::Entry entry;
    entry.what = QString::fromLatin1(row.what);
    entry.after = JournalValue(row);
    if (row.style != S::Command)
        entry.before = before;

    // A walk's end, or a note the request left in the status text, says how it ended; else
    // the value read back does.
    if (outcome_) {
        entry.outcome = *outcome_;
        entry.reason = outcomeReason_;
    } else if (!note.isEmpty()) {
        entry.outcome = journal::Outcome::NotReached;
        entry.reason = note;
    } else if (row.style == S::Eeprom) {
        entry.outcome = journal::Outcome::Confirmed;
    } else if (row.style == S::Settings) {
        // Every setting read back empty: the unit did not answer the reset.
        bool answered = false;
        for (const journal::LabelledValue& v : journal::ParseValues(entry.after))
            answered = answered || !v.value.isEmpty();
        entry.outcome = answered ? journal::Outcome::Confirmed : journal::Outcome::Unanswered;
    } else if (entry.after.isEmpty()) {
        entry.outcome = journal::Outcome::Unanswered;
    } else if (entry.after == QLatin1String("NA")) {
        entry.outcome = journal::Outcome::Refused;
    } else {
        entry.outcome = journal::Outcome::Confirmed;
    }
    if (entry.outcome == journal::Outcome::Unanswered && entry.reason.isEmpty())
        entry.reason = QStringLiteral("The UPS did not answer.");
    form_.recordInJournal(std::move(entry));
}

}  // namespace morlen
