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
    : view_(view),
      ups_(ups),
      tone_(tone),
      journal_(journal),
      handOff_(handOff),
      battery_(view, ups, handOff, journal),
      service_(view, ups, handOff, journal, battery_) {
    using R = Request;
    const APCUPS& u = ups_;
    AddConstant(R::ConstCtrlDWalk, cmd::CtrlD, "constant ^D", &APCUPS::TuneConstCtrlD,
                u.constCtrlDText);
    AddConstant(R::ConstHashWalk, '#', "constant #", &APCUPS::TuneConstHash, u.constHashText);
    AddConstant(R::ConstDollarWalk, '$', "constant $", &APCUPS::TuneConstDollar, u.constDollarText);
    AddConstant(R::ConstPercentWalk, '%', "constant %", &APCUPS::TuneConstPercent,
                u.constPercentText);
    AddConstant(R::ConstCaretWalk, '^', "constant ^", &APCUPS::TuneConstCaret, u.constCaretText);
    AddConstant(R::Const0Walk, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text);
    AddConstant(R::Const4Walk, '4', "constant 4", &APCUPS::TuneConst4, u.const4Text);
    AddConstant(R::Const5Walk, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text);
    AddConstant(R::Const6Walk, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text);
    AddConstant(R::Const02ndWalk, '0', "constant 0", &APCUPS::TuneConst0, u.const0Text);
    AddConstant(R::Const52ndWalk, '5', "constant 5", &APCUPS::TuneConst5, u.const5Text);
    AddConstant(R::Const62ndWalk, '6', "constant 6", &APCUPS::TuneConst6, u.const6Text);

    AddStepRows();
    AddSettingRows();
    AddMeterRows();
    AddModelCodeRows();
    AddTextRows();
    AddCommandRows();
    AddEepromRows();
    AddRestoreRows();

    // Made by the connection step on the window thread before the poll thread starts: the
    // window still owns the link, so it may copy the values its entries restore.
    view_.unitSettled();
}

template <std::size_t N>
void RequestHandler::AddConstant(Request request, char select, const char* name,
                                 bool (APCUPS::*tune)(const char*), const FixedText<N>& field) {
    // Posted by Enter in the constant's entry (and by the connection step for the battery
    // constant): the entry is both the target and the display.
    add(request, [this, select, name, tune, &field](char) {
        const auto shown = [this, &field] { show(*entry_, field.c_str()); };
        const auto walk = RunTuning({
            .select = [this, select,
                       name] { return ups_.Select(select, 2, ValueForm::HexByte, name); },
            .tune = [this, tune](const char* t) { return (ups_.*tune)(t); },
            .value = [&field] { return field.c_str(); },
            .showIntermediate = shown,
            .showFinal = shown,
            .bound = kConstantWalkBound,
            .progress = [&field] { return ValueChanges([&field] { return field.str(); }); },
            // "NA" or garbage is no value to step on from.
            .noAnswer = [&field] { return !IsModelCode(field.c_str()); },
        });
        if (walk && Confirmed(*walk))
            Flash(*entry_);
    });
}

void RequestHandler::Handle(Request request, char argument, std::optional<std::string> target,
                            std::vector<RestoreTarget> restore) {
    const auto row = table_.find(request);
    if (row == table_.end())
        return;
    onWindow([](View& view) { view.clearRequestNote(); });
    const RequestInfo& info = *InfoOf(request);
    // Only copies of what the unit last read back: the journal adds nothing to the wire.
    const QString before = journal_.On() ? JournalFeed::ValueOf(info.journal, ups_) : QString();
    end_ = {};
    ups_.ClearSelection();
    entry_ = info.entry;
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
    journal_.RequestEnded(ups_, info.journal, before, end_);
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
    using R = Request;
    add(R::ModelStep, [this](char sign) {
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

    // Smart-UPS meters.
    add(R::LoadStep, [this](char sign) { ShowLoad(kSmartLoad, ups_.StepLoad(sign)); });
    add(R::InputStep, [this](char sign) { ShowInput(kSmartInput, ups_.StepInputVoltage(sign)); });
    add(R::BatteryVoltageStep,
        [this](char sign) { show(Field::BatteryVoltageSmart, ups_.StepBatteryVoltage(sign)); });

    // Back-UPS Pro meters. Its calibration values are shown by the next display refresh.
    add(R::LoadBackProStep, [this](char sign) { ShowLoad(kBackProLoad, ups_.StepLoad(sign)); });
    add(R::InputBackProStep,
        [this](char sign) { ShowInput(kBackProInput, ups_.StepInputVoltage(sign)); });
    const std::pair<Request, const char* (APCUPS::*)(char)> backPro[] = {
        {R::RatioStep, &APCUPS::StepRatio},
        {R::BbdVoltageStep, &APCUPS::StepBbdVoltage},
        {R::EutVoltageStep, &APCUPS::StepEutVoltage},
        {R::BatteryBackProStep, &APCUPS::StepBatteryVoltage},
        {R::FloatStep, &APCUPS::StepFloatVoltage},
        {R::DcOffsetStep, &APCUPS::StepDcOffset},
        {R::CapacitorLoadStep, &APCUPS::StepCapacitorLoad},
    };
    for (const auto& [request, step] : backPro)
        add(request, [this, step = step](char sign) { (ups_.*step)(sign); });

    // Second-generation units step their meters in their own direction; the tone says the
    // step was made, since the reading may wrap around.
    add(R::Load2ndStep, [this](char) {
        ShowLoad(kSecondGenLoad, ups_.StepLoad2nd());
        Beep();
    });
    add(R::Input2ndStep, [this](char) {
        ShowInput(kSecondGenInput, ups_.StepInputVoltage2nd());
        Beep();
    });
    add(R::Battery2ndStep, [this](char sign) {
        show(Field::BatteryVoltage2nd, ups_.StepBatteryVoltage(sign));
        Flash(Field::BatteryVoltage2nd);
    });
}

// ---- The stored settings' buttons: a "Change" moves its setting to the next value the unit
// offers, the packs count up or down ----

void RequestHandler::AddSettingRows() {
    for (const StoredSetting& setting : StoredSettings())
        for (const SettingPlace& place : setting.places)
            if (place.button != nullptr)
                add(place.request, [this, &setting, field = place.field](char sign) {
                    show(field, setting.step(ups_, sign));
                });
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

    const auto load = [this, fresh](LoadPlace place) {
        return [this, fresh, place](char) {
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
            const auto walk = RunTuning({
                .select = fresh,
                .tune = [this](const char* t) { return ups_.TuneLoad(t); },
                .value = [this] { return ups_.loadPercentText.c_str(); },
                .showIntermediate = shown,
                .showFinal = shown,
                .bound = kMeterWalkBound,
                .progress =
                    [this] {
                        return MeterProgress([this] { return ups_.loadWatts; },
                                             kLoadWander * ups_.wattsPerPercent);
                    },
                .noAnswer = [this] { return !IsReading(ups_.loadPercentText.c_str()); },
            });
            if (!walk)
                return;  // the entry keeps what the technician changed it to
            if (Confirmed(*walk))
                Flash(place.watts);
            show(*entry_, "");
        };
    };
    add(Request::LoadWalk, load(kSmartLoad));
    add(Request::Load2ndWalk, load(kSecondGenLoad));

    const auto input = [this, fresh](InputPlace place) {
        return [this, fresh, place](char) {
            const auto step = [this, place] {
                const QString value = latin(ups_.inputVoltageText.c_str());
                const float position = ups_.inputVoltage;
                onWindow([&](View& view) {
                    view.putText(place.input, value);
                    view.putBar(place.inputBar, position);
                });
            };
            const auto walk = RunTuning({
                .select = fresh,
                .tune = [this](const char* t) { return ups_.TuneInputVoltage(t); },
                .value = [this] { return ups_.inputVoltageText.c_str(); },
                .showIntermediate = step,
                .showFinal = [this, place] { show(place.input, ups_.inputVoltageText.c_str()); },
                .bound = kMeterWalkBound,
                .progress =
                    [this] {
                        return MeterProgress([this] { return ups_.inputVoltage; }, kInputWander);
                    },
                .noAnswer = [this] { return !IsReading(ups_.inputVoltageText.c_str()); },
            });
            if (!walk)
                return;
            if (Confirmed(*walk))
                Flash(place.input);
            show(*entry_, "");
        };
    };
    add(Request::InputWalk, input(kSmartInput));
    add(Request::Input2ndWalk, input(kSecondGenInput));
    add(Request::InputBackProWalk, input(kBackProInput));

    // The second-generation battery meter answers each step with a step text, not the
    // reading: the reading is asked for after every step.
    add(Request::Battery2ndWalk, [this](char) {
        const auto walk = RunTuning({
            .tune = [this](const char* t) { return ups_.TuneBatteryVoltage2nd(t); },
            .value = [this] { return ups_.step2ndText.c_str(); },
            .showIntermediate =
                [this] { show(Field::BatteryVoltage2nd, ups_.ReadBatteryVoltage()); },
            .showFinal =
                [this] { show(Field::BatteryVoltage2nd, ups_.batteryVoltageText.c_str()); },
            .bound = kMeterWalkBound,
            .progress =
                [this] {
                    return MeterProgress([this] { return ups_.batteryVoltage; }, kBatteryWander);
                },
            .noAnswer =
                [this] {
                    return ups_.step2ndText.empty() || !IsReading(ups_.batteryVoltageText.c_str());
                },
        });
        if (!walk)
            return;
        if (Confirmed(*walk))
            Flash(Field::BatteryVoltage2nd);
        show(*entry_, "");
    });
}

// ---- Model code ----

void RequestHandler::AddModelCodeRows() {
    // A second-generation unit reports its model code anew on every "H": ask until it shows
    // the code the connection step put into the entry.
    add(Request::ModelCode2ndWalk, [this](char) {
        const auto shown = [this] { show(Field::ModelConst, ups_.modelCode2ndText.c_str()); };
        const auto walk = RunTuning({
            .tune = [this](const char* t) { return ups_.CheckModelCode2nd(t); },
            .value = [this] { return ups_.modelCode2ndText.c_str(); },
            .showIntermediate = shown,
            .showFinal = shown,
            .bound = kModelCodeWalkBound,
            .progress =
                [this] { return ValueChanges([this] { return ups_.modelCode2ndText.str(); }); },
            .noAnswer = [this] { return !IsModelCode(ups_.modelCode2ndText.c_str()); },
        });
        if (walk && Confirmed(*walk))
            Flash(Field::ModelConst);
    });

    // The model code typed by the technician. The model name, firmware, battery system and
    // the settings the unit offers all follow the code, so they are read again afterwards.
    add(Request::ModelCodeWalk, [this](char) {
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
        const auto ran = RunTuning({
            .select = select,
            .tune = [this](const char* t) { return ups_.TuneModelCode(t); },
            .value = [this] { return ups_.modelCodeText.c_str(); },
            .showIntermediate = [this] { show(Field::ModelConst, ups_.modelCodeText.c_str()); },
            .bound = kModelCodeWalkBound,
            .progress =
                [this] { return ValueChanges([this] { return ups_.modelCodeText.str(); }); },
            // A reply that is no code at all is treated as no reply.
            .noAnswer = [this] { return !IsModelCode(ups_.modelCodeText.c_str()); },
        });
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
    using R = Request;
    // The battery service brings its date with the request; the page's Enter writes the entry.
    const auto typed = [this] {
        return confirmed_ ? *confirmed_ : textOf(*entry_).toLatin1().toStdString();
    };
    const auto write = [this, typed](const char* (APCUPS::*write)(const std::string&),
                                     std::function<const char*()> readBack) {
        return [this, typed, write, readBack = std::move(readBack)](char) {
            (ups_.*write)(typed());
            ShowTextWrite(*entry_, readBack);
        };
    };
    add(R::ManufactureDateWrite,
        write(&APCUPS::WriteManufactureDate, [this] { return ups_.manufactureDate.c_str(); }));
    add(R::ReplaceDateWrite, [this, typed, row = write(&APCUPS::WriteBatteryReplaceDate, [this] {
                                               return ups_.batteryReplaceDate.c_str();
                                           })](char a) {
        const QString old = latin(ups_.batteryReplaceDate.c_str());
        const std::string text = typed();
        // The service brings its date: held to the date check here too. No date, the page's
        // or the service's, is written to a calibrating unit.
        QString problem = confirmed_ ? ServiceDateProblem(latin(text.c_str()), old) : QString();
        if (problem.isEmpty() && battery_.UnitCalibrating())
            problem = QStringLiteral(
                "The UPS is running a runtime calibration: the battery date was not written, "
                "nothing was sent.");
        if (!problem.isEmpty()) {
            Refuse(problem);
            return;
        }
        row(a);
        service_.DateWritten(old, latin(text.c_str()));
    });
    // A written id is read once more after the flash.
    add(R::UpsIdWrite, write(&APCUPS::WriteUpsId, [this] {
            return ups_.lastTextWrite == TextWrite::Accepted ? ups_.ReadUpsId()
                                                             : ups_.upsId.c_str();
        }));
    add(R::SerialNumberWrite,
        write(&APCUPS::WriteSerialNumber, [this] { return ups_.serialNumber.c_str(); }));
    add(R::FirmwareHeadWrite, [this, typed](char) {
        show(*entry_, ups_.WriteFirmwareHead(typed()));
        if (ups_.lastTextWrite == TextWrite::Accepted)
            ShortFlash(*entry_);
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

void RequestHandler::Refuse(const QString& why) {
    end_.outcome = journal::Outcome::NotReached;
    end_.reason = why;
    onWindow([this](View& view) { view.showRequestNote(end_.reason); });
    service_.Refused(why);
}

void RequestHandler::NoteTextRefused() {
    end_.outcome = journal::Outcome::Refused;
    end_.reason = QStringLiteral("The UPS did not accept the new text.");
    onWindow([this](View& view) { view.showRequestNote(end_.reason); });
}

// ---- Commands ----

void RequestHandler::AddCommandRows() {
    // The unit's factory values, as it reads them back after the reset.
    add(Request::ResetAll, [this](char) {
        ups_.ResetToDefaults();
        Beep();
        std::vector<std::pair<Field, QString>> shown;
        for (const StoredSetting& setting : StoredSettings())
            if (setting.reset)
                shown.emplace_back(setting.places[0].field, latin(setting.value(ups_)));
        onWindow([&shown](View& view) {
            for (const auto& [field, text] : shown)
                view.putText(field, text);
        });
    });
    add(Request::SelfTest, [this](char) {
        // A "W" to a calibrating unit is no self-test: nothing goes out.
        if (battery_.UnitCalibrating()) {
            Refuse(
                QStringLiteral("The UPS is running a runtime calibration: the self-test was not "
                               "started, nothing was sent."));
            return;
        }
        const std::string reply = ups_.StartSelfTest();
        battery_.SelfTestStarted();
        service_.SelfTestStarted(reply);
    });
    add(Request::CalibrationStart, [this](char) {
        battery_.StartCalibration();
        service_.CalibrationAsked();
    });
    add(Request::ServiceBefore, [this](char) { service_.Before(); });
    add(Request::ServiceSkip, [this](char) { service_.Skip(); });
    add(Request::ServiceAfter, [this](char) { service_.After(); });
    add(Request::CalibrationAbort, [this](char) { battery_.AbortCalibration(); });
    add(Request::PanelTest, [this](char) { ups_.FrontPanelTest(); });
    add(Request::Bypass, [this](char) { ups_.SendBypassToggle(); });
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
    const QString field = textOf(*entry_);
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

}  // namespace morlen
