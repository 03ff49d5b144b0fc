#include "RequestHandling.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "Apcups.h"
#include "Tone.h"

namespace morlen {

namespace {

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

// A meter reading as the unit gives it ("229.0", "27.30"). "NA" or garbage would read as 0:
// no reading to walk on from.
bool IsReading(const char* text) {
    return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

}  // namespace

RequestHandler::RequestHandler(View& view, APCUPS& ups, Tone& tone, JournalFeed& journal,
                               HandOff& handOff)
    : view_(view), ups_(ups), tone_(tone), journal_(journal), handOff_(handOff) {
    // Constant tuning posted by Enter in a constant's entry (and by the connection step for
    // the battery constant): the entry is both the target and the display.
    const auto constant = [this](Field entry, char select, const char* name,
                                 bool (APCUPS::*tune)(const char*), const auto& field) {
        return [this, entry, select, name, tune, &field](char) {
            const auto shown = [this, entry, &field] { show(entry, field.c_str()); };
            const auto walk = RunTuning(
                {entry,
                 [this, select, name] { return ups_.Select(select, 2, ValueForm::HexByte, name); },
                 [this, tune](const char* t) { return (ups_.*tune)(t); },
                 [&field] { return field.c_str(); }, shown, shown, kConstantWalkBound,
                 [&field] { return ValueChanges([&field] { return field.str(); }); },
                 // "NA" or garbage is no value to step on from.
                 [&field] { return !IsModelCode(field.c_str()); }});
            if (walk && Confirmed(*walk))
                Flash(entry);
        };
    };
    const auto& u = ups_;
    add('!', constant(Field::ConstCTRLD, cmd::CtrlD, "constant ^D", &APCUPS::TuneConstCtrlD,
                      u.constCtrlDText));
    add('@', constant(Field::Const_3, '#', "constant #", &APCUPS::TuneConstHash, u.constHashText));
    add('U',
        constant(Field::Const_4, '$', "constant $", &APCUPS::TuneConstDollar, u.constDollarText));
    add('Z',
        constant(Field::Const_5, '%', "constant %", &APCUPS::TuneConstPercent, u.constPercentText));
    add('V',
        constant(Field::Const_6, '^', "constant ^", &APCUPS::TuneConstCaret, u.constCaretText));
    add('l', constant(Field::Const0, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text));
    add('m', constant(Field::Const4, '4', "constant 4", &APCUPS::TuneConst4, u.const4Text));
    add('n', constant(Field::Const5, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text));
    add('o', constant(Field::Const6, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text));
    add('p', constant(Field::Const02nd, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text));
    add('q', constant(Field::Const52nd, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text));
    add('r', constant(Field::Const62nd, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text));

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
    view_.unitSettled();
}

void RequestHandler::Handle(char code, char argument, std::optional<std::string> target,
                            std::vector<RestoreTarget> restore) {
    const auto row = table_.find(code);
    if (row == table_.end())
        return;
    onWindow([](View& view) { view.clearRequestNote(); });
    // Only copies of what the unit last read back: the journal adds nothing to the wire.
    const auto journalRow = journal_.On() ? journalRows_.find(code) : journalRows_.end();
    const JournalRecord record =
        journalRow != journalRows_.end() ? journalRow->second : JournalRecord{};
    const QString before = JournalFeed::ValueOf(record, ups_);
    end_ = {};
    ups_.ClearRefusedSelection();
    confirmed_ = std::move(target);
    restorePlan_ = std::move(restore);
    row->second(argument);
    confirmed_.reset();
    if (ups_.RefusedSelection() != nullptr)
        NoteSelectionRefused();
    // What the request changed in the unit is what Esc puts back from now on. The same hand-off
    // frees what the request held and fetches the note it left for the journal.
    onWindow([this](View& view) {
        view.unitSettled();
        view.requestEnded();
        end_.note = view.requestNote();
    });
    journal_.RequestEnded(ups_, record, before, end_);
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
    add('1', [this](char sign) {
        show(Field::Model, ups_.StepModel(sign));
        if (ups_.isThirdGen) {
            ShowFirmwareHead();
        } else {
            show(Field::Firmware, ups_.firmwareText.c_str());
        }
        show(Field::ModelConst, ups_.modelCodeText.c_str());
        show(Field::BatSysVolt, ups_.ReadBatteryNominal());
        ShowTransferVoltages();
    });

    // Smart-UPS meters and battery packs.
    add('2', [this](char sign) { ShowLoad(kSmartLoad, ups_.StepLoad(sign)); });
    add('3', [this](char sign) { ShowInput(kSmartInput, ups_.StepInputVoltage(sign)); });
    add('4',
        [this](char sign) { show(Field::BatteryVoltageSmart, ups_.StepBatteryVoltage(sign)); });
    add('5', [this](char sign) { show(Field::BatteryPacks, ups_.StepBatteryPacks(sign)); });

    // Back-UPS Pro meters. Its calibration values are shown by the next display refresh.
    add('f', [this](char sign) { ShowLoad(kBackProLoad, ups_.StepLoad(sign)); });
    add('g', [this](char sign) { ShowInput(kBackProInput, ups_.StepInputVoltage(sign)); });
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
    add('6', [this](char) {
        ShowLoad(kSecondGenLoad, ups_.StepLoad2nd());
        Beep();
    });
    add('7', [this](char) {
        ShowInput(kSecondGenInput, ups_.StepInputVoltage2nd());
        Beep();
    });
    add('R', [this](char sign) {
        show(Field::BatteryVoltage2nd, ups_.StepBatteryVoltage(sign));
        Flash(Field::BatteryVoltage2nd);
    });
}

// ---- "Change" buttons: each moves a setting to the next value the unit offers ----

void RequestHandler::AddChangeRows() {
    const std::tuple<char, const char* (APCUPS::*)(), Field> rows[] = {
        {'8', &APCUPS::StepHighTransfer, Field::UpTransferVoltage},
        {'9', &APCUPS::StepLowTransfer, Field::LowTransferVoltage},
        {'a', &APCUPS::StepOutputSetting, Field::OutputVoltageConstant},
        {'b', &APCUPS::StepHighTransfer, Field::UpVoltage2nd},
        {'c', &APCUPS::StepLowTransfer, Field::LowVoltage2nd},
        {'d', &APCUPS::StepOutputSetting, Field::OutputVoltageConstant2nd},
        {'M', &APCUPS::StepReturnThreshold, Field::Threshold},
        {'S', &APCUPS::StepLowBatteryWarning, Field::LowBatWarning},
        {'u', &APCUPS::StepShutdownDelay, Field::ShutDownDelay},
        {'v', &APCUPS::StepTurnOnDelay, Field::WakeUpDelay},
        {'w', &APCUPS::StepSelfTestInterval, Field::SelfTest},
        {'x', &APCUPS::StepSensitivity, Field::Sensitivity},
        {'y', &APCUPS::StepAlarmDelay, Field::AlarmDelay},
    };
    for (const auto& [code, step, field] : rows)
        add(code, [this, step = step, field = field](char) { show(field, (ups_.*step)()); });
}

// ---- Meter walks toward the true value the technician typed ----

void RequestHandler::AddMeterRows() {
    // The walk ends when the reading crosses the target, so it must start without a
    // direction left over from the last one.
    const auto fresh = [this] {
        ups_.steppedDown = false;
        ups_.steppedUp = false;
        return true;
    };

    const auto load = [this, fresh](Field target, LoadPlace place) {
        return [this, fresh, target, place](char) {
            const auto shown = [this, place] {
                const QString loadText = latin(ups_.loadPercentText.c_str());
                const float position = ups_.loadPercent;
                const QString wattsText = QString::number(Truncate(ups_.loadWatts));
                onWindow([&](View& view) {
                    view.putText(place.percent, loadText);
                    view.putBar(place.bar, position);
                    view.putText(place.watts, wattsText);
                });
            };
            const auto walk = RunTuning(
                {target, fresh, [this](const char* t) { return ups_.TuneLoad(t); },
                 [this] { return ups_.loadPercentText.c_str(); }, shown, shown, kMeterWalkBound,
                 [this] {
                     return MeterProgress([this] { return ups_.loadWatts; },
                                          kLoadWander * ups_.wattsPerPercent);
                 },
                 [this] { return !IsReading(ups_.loadPercentText.c_str()); }});
            if (!walk)
                return;  // the entry keeps what the technician changed it to
            if (Confirmed(*walk))
                Flash(place.watts);
            show(target, "");
        };
    };
    add('H', load(Field::LoadSmartConst, kSmartLoad));
    add('I', load(Field::LoadSmart2nd, kSecondGenLoad));

    const auto input = [this, fresh](Field target, InputPlace place) {
        return [this, fresh, target, place](char) {
            const auto step = [this, place] {
                const QString value = latin(ups_.inputVoltageText.c_str());
                const float position = ups_.inputVoltage;
                onWindow([&](View& view) {
                    view.putText(place.input, value);
                    view.putBar(place.inputBar, position);
                });
            };
            const auto walk = RunTuning(
                {target, fresh, [this](const char* t) { return ups_.TuneInputVoltage(t); },
                 [this] { return ups_.inputVoltageText.c_str(); }, step,
                 [this, place] { show(place.input, ups_.inputVoltageText.c_str()); },
                 kMeterWalkBound,
                 [this] {
                     return MeterProgress([this] { return ups_.inputVoltage; }, kInputWander);
                 },
                 [this] { return !IsReading(ups_.inputVoltageText.c_str()); }});
            if (!walk)
                return;
            if (Confirmed(*walk))
                Flash(place.input);
            show(target, "");
        };
    };
    add('J', input(Field::InputVoltageConstantSmart, kSmartInput));
    add('K', input(Field::InputVoltageConstantSmart2nd, kSecondGenInput));
    add('L', input(Field::InputVoltageConstantBP, kBackProInput));

    // The second-generation battery meter answers each step with a step text, not the
    // reading: the reading is asked for after every step.
    add('s', [this](char) {
        const auto walk = RunTuning(
            {Field::BatSmart2nd, nullptr,
             [this](const char* t) { return ups_.TuneBatteryVoltage2nd(t); },
             [this] { return ups_.step2ndText.c_str(); },
             [this] { show(Field::BatteryVoltage2nd, ups_.ReadBatteryVoltage()); },
             [this] { show(Field::BatteryVoltage2nd, ups_.batteryVoltageText.c_str()); },
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
            Flash(Field::BatteryVoltage2nd);
        show(Field::BatSmart2nd, "");
    });
}

// ---- Model code ----

void RequestHandler::AddModelCodeRows() {
    // A second-generation unit reports its model code anew on every "H": ask until it shows
    // the code the connection step put into the entry.
    add('t', [this](char) {
        const auto shown = [this] { show(Field::ModelConst, ups_.modelCode2ndText.c_str()); };
        const auto walk = RunTuning(
            {Field::ModelConst, nullptr,
             [this](const char* t) { return ups_.CheckModelCode2nd(t); },
             [this] { return ups_.modelCode2ndText.c_str(); }, shown, shown, kModelCodeWalkBound,
             [this] { return ValueChanges([this] { return ups_.modelCode2ndText.str(); }); },
             [this] { return !IsModelCode(ups_.modelCode2ndText.c_str()); }});
        if (walk && Confirmed(*walk))
            Flash(Field::ModelConst);
    });

    // The model code typed by the technician. The model name, firmware, battery system and
    // the settings the unit offers all follow the code, so they are read again afterwards.
    add('Q', [this](char) {
        const auto select = [this] {
            ups_.steppedDown = false;
            ups_.steppedUp = false;
            constexpr const char* kWhat = "the model code";
            if (ups_.usesCtrlB)
                return ups_.Select(cmd::CtrlB, 2, ValueForm::HexByte, kWhat);
            if (ups_.family == FamilySmart2ndGen)
                return ups_.Select('H', 2, ValueForm::HexByte, kWhat);
            return ups_.Select('b', 8, ValueForm::Text, kWhat);
        };
        // The walk also stops where the unit does not move or the target is crossed (a code
        // the product line does not have): only the code itself confirms it.
        Walk tuning{Field::ModelConst, select,
                    [this](const char* t) { return ups_.TuneModelCode(t); },
                    [this] { return ups_.modelCodeText.c_str(); },
                    [this] { show(Field::ModelConst, ups_.modelCodeText.c_str()); }, nullptr,
                    kModelCodeWalkBound,
                    [this] { return ValueChanges([this] { return ups_.modelCodeText.str(); }); },
                    // A reply that is no code at all is treated as no reply.
                    [this] { return !IsModelCode(ups_.modelCodeText.c_str()); }};
        const auto ran = RunTuning(tuning);
        if (!ran)
            return;  // nothing was sent, so nothing needs reading again
        WalkResult walk = *ran;
        if (walk.end == WalkEnd::Reached && !(ups_.modelCodeText == codeBuffer_)) {
            walk.end = ups_.modelCodeText == ups_.previousModelCode.view() ? WalkEnd::Unmoved
                                                                           : WalkEnd::Crossed;
            ReportWalkEnd(walk);
        }
        if (ups_.isThirdGen)
            ShowFirmwareHead();
        show(Field::Model, ups_.ReadModelName());
        show(Field::Firmware, "");
        show(Field::Firmware, ups_.ReadFirmware());
        show(Field::ModelConst, ups_.modelCodeText.c_str());
        show(Field::BatSysVolt, ups_.ReadBatteryNominal());
        if (walk.end == WalkEnd::Reached)
            Flash(Field::ModelConst);
        ShowTransferVoltages();
    });
}

// ---- Identity texts: the entry's text when the request is carried out is what is written ----

void RequestHandler::AddTextRows() {
    const auto typed = [this](Field entry) { return textOf(entry).toLatin1().toStdString(); };

    add('h', [this, typed](char) {
        ups_.WriteManufactureDate(typed(Field::ManufactureDate));
        ShowTextWrite(Field::ManufactureDate, [this] { return ups_.manufactureDate.c_str(); });
    });
    add('i', [this, typed](char) {
        ups_.WriteBatteryReplaceDate(typed(Field::BatteriesReplaseDate));
        ShowTextWrite(Field::BatteriesReplaseDate,
                      [this] { return ups_.batteryReplaceDate.c_str(); });
    });
    add('j', [this, typed](char) {
        ups_.WriteUpsId(typed(Field::ID));
        // A written id is read once more after the flash.
        ShowTextWrite(Field::ID, [this] {
            return ups_.lastTextWrite == TextWrite::Accepted ? ups_.ReadUpsId()
                                                             : ups_.upsId.c_str();
        });
    });
    add('k', [this, typed](char) {
        ups_.WriteSerialNumber(typed(Field::SerialNumber));
        ShowTextWrite(Field::SerialNumber, [this] { return ups_.serialNumber.c_str(); });
    });
    add('O', [this, typed](char) {
        show(Field::SU36G, ups_.WriteFirmwareHead(typed(Field::SU36G)));
        if (ups_.lastTextWrite == TextWrite::Accepted)
            ShortFlash(Field::SU36G);
        else
            NoteTextRefused();
    });
}

void RequestHandler::ShowTextWrite(Field field, const std::function<const char*()>& readBack) {
    if (ups_.lastTextWrite == TextWrite::Accepted) {
        LateFlash(field, readBack);
        return;
    }
    // Not confirmed: the entry shows what the unit holds, the status text why.
    show(field, readBack());
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
    end_.outcome = journal::Outcome::Refused;
    end_.reason = SelectionRefusedText(ups_.RefusedSelection(), ups_.RefusedSelectionReply());
    onWindow([this](View& view) { view.showRequestNote(end_.reason); });
}

void RequestHandler::NoteTextRefused() {
    end_.outcome = journal::Outcome::Refused;
    end_.reason = QStringLiteral("The UPS did not accept the new text.");
    onWindow([this](View& view) { view.showRequestNote(end_.reason); });
}

// ---- Commands ----

void RequestHandler::AddCommandRows() {
    // The unit's factory values, as it reads them back after the reset.
    add('N', [this](char) {
        ups_.ResetToDefaults();
        Beep();
        const std::pair<Field, QString> shown[] = {
            {Field::UpTransferVoltage, latin(ups_.highTransferText.c_str())},
            {Field::LowTransferVoltage, latin(ups_.lowTransferText.c_str())},
            {Field::OutputVoltageConstant, latin(ups_.outputSettingText.c_str())},
            {Field::SelfTest, latin(ups_.selfTestIntervalText.c_str())},
            {Field::ShutDownDelay, latin(ups_.shutdownDelayText.c_str())},
            {Field::WakeUpDelay, latin(ups_.turnOnDelayText.c_str())},
            {Field::Sensitivity, latin(ups_.sensitivityText.c_str())},
            {Field::AlarmDelay, latin(ups_.alarmDelayText.c_str())},
            {Field::Threshold, latin(ups_.returnThresholdText.c_str())},
            {Field::LowBatWarning, latin(ups_.lowBatteryWarningText.c_str())},
        };
        onWindow([&shown](View& view) {
            for (const auto& [field, text] : shown)
                view.putText(field, text);
        });
    });
    add('P', [this](char) { ups_.StartSelfTest(); });
    add('z', [this](char) { ups_.FrontPanelTest(); });
    add('~', [this](char) { ups_.SendBypassToggle(); });
}

// ---- Helpers ----

void RequestHandler::onWindow(const std::function<void(View&)>& call) {
    handOff_.RunOnWindowThread([this, &call] { call(view_); });
}

QString RequestHandler::textOf(Field field) {
    QString text;
    onWindow([&](View& view) { text = view.fieldText(field); });
    return text;
}

void RequestHandler::show(Field field, const QString& text) {
    onWindow([&](View& view) { view.putText(field, text); });
}

void RequestHandler::show(Field field, const char* text) {
    show(field, latin(text));
}

void RequestHandler::Beep() {
    tone_.Beep(2000, 500);
}

void RequestHandler::Flash(Field field) {
    onWindow([&](View& view) { view.flash(field, true); });
    Beep();
    ups_.clock().sleepMs(500);
    onWindow([&](View& view) { view.flash(field, false); });
}

void RequestHandler::ShortFlash(Field field) {
    onWindow([&](View& view) { view.flash(field, true); });
    Beep();
    onWindow([&](View& view) { view.flash(field, false); });
}

void RequestHandler::LateFlash(Field field, const std::function<const char*()>& readBack) {
    onWindow([&](View& view) { view.flash(field, true); });
    ups_.clock().sleepMs(500);
    Beep();
    const QString value = latin(readBack());
    onWindow([&](View& view) {
        view.flash(field, false);
        view.putText(field, value);
    });
}

void RequestHandler::ShowLoad(const LoadPlace& place, const char* load) {
    const QString loadText = latin(load);
    const QString wattsText = latin(ups_.loadWattsText.c_str());
    const float loadPercent = ups_.loadPercent;
    onWindow([&](View& view) { view.showLoad(place, loadText, wattsText, loadPercent); });
}

void RequestHandler::ShowInput(const InputPlace& place, const char* inputText) {
    const QString inputValue = latin(inputText);
    const float inputVolts = ups_.inputVoltage;
    const QString outputValue = latin(ups_.ReadOutputVoltage());
    const float outputVolts = ups_.outputVoltage;
    onWindow([&](View& view) {
        view.showInput(place, inputValue, inputVolts, outputValue, outputVolts);
    });
}

void RequestHandler::ShowFirmwareHead() {
    const QString caption = latin(ups_.ReadFirmware());
    const QString head = latin(ups_.firmwareHead.c_str());
    onWindow([&](View& view) {
        view.putCaption(Field::SU36G, caption);
        view.putText(Field::SU36G, head);
    });
}

void RequestHandler::ShowTransferVoltages() {
    if (ups_.family == FamilyBackPro)
        return;  // it has none
    show(Field::UpTransferVoltage, ups_.ReadHighTransfer());
    show(Field::LowTransferVoltage, ups_.ReadLowTransfer());
    show(Field::OutputVoltageConstant, ups_.ReadOutputSetting());
}

std::optional<WalkResult> RequestHandler::RunTuning(const Walk& walk) {
    // The target is the text Enter confirmed. A field that no longer holds it (edited, erased)
    // does not say what the technician wants: nothing is sent.
    const QString field = textOf(walk.entry);
    if (!confirmed_ ||
        field != QString::fromLatin1(confirmed_->data(), qsizetype(confirmed_->size()))) {
        onWindow([](View& view) { view.showRequestNote(TargetChangedText()); });
        return std::nullopt;
    }
    // The target travels in the code buffer, at most five characters.
    const std::string target = confirmed_->substr(0, 5);
    std::memset(codeBuffer_, 0, sizeof codeBuffer_);
    std::memcpy(codeBuffer_, target.data(), target.size());
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
        walk.bound, [&] { return walk.tune(codeBuffer_); }, noAnswer, walk.showIntermediate,
        walk.progress ? walk.progress() : WalkProgress(),
        [this] { return handOff_.StopRequested(); });
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
    const double target = NumberOf(codeBuffer_);
    return ComesCloser(
        [reading = std::move(reading), target] { return std::fabs(reading() - target); }, wander);
}

void RequestHandler::ReportWalkEnd(const WalkResult& walk) {
    // The last word on a walk is the journal's outcome: the model code's check may overrule
    // the walk's own end.
    end_.outcome = WalkOutcome(walk);
    end_.reason = WalkEndText(walk);
    const QString message = WalkEndText(walk);
    if (message.isEmpty())
        return;
    onWindow([&](View& view) { view.showRequestNote(message); });
}

// ---- Service journal ----

void RequestHandler::AddJournalRows() {
    using S = JournalRecord::Style;
    const auto value = [](const char* what, const char* (*field)(const APCUPS&)) {
        return JournalRecord{what, S::Value, field};
    };
    const std::pair<char, JournalRecord> rows[] = {
        // Calibration constants, named by their labels on the window.
        {'!', value("Constant ^d", UnitText<&APCUPS::constCtrlDText>)},
        {'@', value("Constant #", UnitText<&APCUPS::constHashText>)},
        {'U', value("Constant $", UnitText<&APCUPS::constDollarText>)},
        {'Z', value("Constant %", UnitText<&APCUPS::constPercentText>)},
        {'V', value("Constant ^", UnitText<&APCUPS::constCaretText>)},
        {'l', value("Constant 0", UnitText<&APCUPS::const0Text>)},
        {'m', value("Constant 4", UnitText<&APCUPS::const4Text>)},
        {'n', value("Constant 5", UnitText<&APCUPS::const5Text>)},
        {'o', value("Constant 6", UnitText<&APCUPS::const6Text>)},
        {'p', value("Constant 0", UnitText<&APCUPS::const0Text>)},
        {'q', value("Constant 5", UnitText<&APCUPS::const5Text>)},
        {'r', value("Constant 6", UnitText<&APCUPS::const6Text>)},
        // Model and meters.
        {'1', value("Model", UnitText<&APCUPS::modelName>)},
        {'2', value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {'f', value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {'6', value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {'H', value("Load W", UnitText<&APCUPS::loadWattsText>)},
        {'I', value("Load W", UnitText<&APCUPS::loadWattsText>)},
        {'3', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'g', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'7', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'J', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'K', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'L', value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {'4', value("Bat.Voltage", UnitText<&APCUPS::batteryVoltageText>)},
        {'R', value("Bat. Voltage", UnitText<&APCUPS::batteryVoltageText>)},
        {'s', value("Bat. Voltage", UnitText<&APCUPS::batteryVoltageText>)},
        {'5', value("Bat. Packs", UnitText<&APCUPS::batteryPacksText>)},
        {'A', value("Ratio", UnitText<&APCUPS::ratioText>)},
        {'B', value("B.B.D.", UnitText<&APCUPS::bbdVoltageText>)},
        {'C', value("E.U.T.", UnitText<&APCUPS::eutVoltageText>)},
        {'D', value("Bat.", UnitText<&APCUPS::batteryVoltageText>)},
        {'E', value("Float", UnitText<&APCUPS::floatVoltageText>)},
        {'F', value("DC", UnitText<&APCUPS::dcOffsetText>)},
        {'G', value("CAP", UnitText<&APCUPS::capacitorLoadText>)},
        // Stored settings, each "Change" button.
        {'8', value("Up Voltage", UnitText<&APCUPS::highTransferText>)},
        {'b', value("Up Voltage", UnitText<&APCUPS::highTransferText>)},
        {'9', value("Low Voltage", UnitText<&APCUPS::lowTransferText>)},
        {'c', value("Low Voltage", UnitText<&APCUPS::lowTransferText>)},
        {'a', value("Out Voltage", UnitText<&APCUPS::outputSettingText>)},
        {'d', value("Out Voltage", UnitText<&APCUPS::outputSettingText>)},
        {'M', value("Return threshold", UnitText<&APCUPS::returnThresholdText>)},
        {'S', value("Low Battery Warning", UnitText<&APCUPS::lowBatteryWarningText>)},
        {'u', value("Shut down delay", UnitText<&APCUPS::shutdownDelayText>)},
        {'v', value("Wake up delay", UnitText<&APCUPS::turnOnDelayText>)},
        {'w', value("Self Test", UnitText<&APCUPS::selfTestIntervalText>)},
        {'x', value("Sensitivity", UnitText<&APCUPS::sensitivityText>)},
        {'y', value("Alarm delay", UnitText<&APCUPS::alarmDelayText>)},
        // Model codes and identity texts.
        {'t', value("Hex Code", UnitText<&APCUPS::modelCode2ndText>)},
        {'Q', value("Hex Code", UnitText<&APCUPS::modelCodeText>)},
        {'h', value("UPS Manufacture Date", UnitText<&APCUPS::manufactureDate>)},
        {'i', value("Batteries Replaced Date", UnitText<&APCUPS::batteryReplaceDate>)},
        {'j', value("UPS ID", UnitText<&APCUPS::upsId>)},
        {'k', value("Serial Number", UnitText<&APCUPS::serialNumber>)},
        {'O', value("SU36G", UnitText<&APCUPS::firmwareHead>)},
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

}  // namespace morlen
