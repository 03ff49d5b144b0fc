#include "Requests.h"

#include <algorithm>

#include "JournalEntry.h"
#include "UnitSettings.h"

namespace morlen {

namespace {

using S = JournalRecord::Style;

constexpr JournalRecord Value(const char* what, const char* (*value)(const APCUPS&)) {
    return {.what = what, .style = S::Value, .value = value};
}

std::vector<RequestInfo> MakeRequests() {
    using R = Request;
    using F = Field;
    std::vector<RequestInfo> rows = {
        // Unit information: the model step and walks, the identity texts.
        {.request = R::ModelStep,
         .does = Does::Step,
         .journal = Value("Model", UnitText<&APCUPS::modelName>)},
        {.request = R::ModelCodeWalk,
         .does = Does::Walk,
         .entry = F::ModelConst,
         .journal = Value("Hex Code", UnitText<&APCUPS::modelCodeText>)},
        {.request = R::ModelCode2ndWalk,
         .does = Does::Walk,
         .entry = F::ModelConst,
         .journal = Value("Hex Code", UnitText<&APCUPS::modelCode2ndText>)},
        {.request = R::FirmwareHeadWrite,
         .does = Does::TextWrite,
         .entry = F::SU36G,
         .journal = Value("SU36G", UnitText<&APCUPS::firmwareHead>)},
        {.request = R::ManufactureDateWrite,
         .does = Does::TextWrite,
         .entry = F::ManufactureDate,
         .journal = Value("UPS Manufacture Date", UnitText<&APCUPS::manufactureDate>)},
        {.request = R::ReplaceDateWrite,
         .does = Does::TextWrite,
         .entry = F::BatteriesReplaseDate,
         .journal = Value("Batteries Replaced Date", UnitText<&APCUPS::batteryReplaceDate>)},
        {.request = R::UpsIdWrite,
         .does = Does::TextWrite,
         .entry = F::ID,
         .journal = Value("UPS ID", UnitText<&APCUPS::upsId>)},
        {.request = R::SerialNumberWrite,
         .does = Does::TextWrite,
         .entry = F::SerialNumber,
         .journal = Value("Serial Number", UnitText<&APCUPS::serialNumber>)},

        // Calibration constants, named by their labels on the window.
        {.request = R::Const0Walk,
         .does = Does::Walk,
         .entry = F::Const0,
         .journal = Value("Constant 0", UnitText<&APCUPS::const0Text>)},
        {.request = R::Const4Walk,
         .does = Does::Walk,
         .entry = F::Const4,
         .journal = Value("Constant 4", UnitText<&APCUPS::const4Text>)},
        {.request = R::Const5Walk,
         .does = Does::Walk,
         .entry = F::Const5,
         .journal = Value("Constant 5", UnitText<&APCUPS::const5Text>)},
        {.request = R::Const6Walk,
         .does = Does::Walk,
         .entry = F::Const6,
         .journal = Value("Constant 6", UnitText<&APCUPS::const6Text>)},
        {.request = R::Const02ndWalk,
         .does = Does::Walk,
         .entry = F::Const02nd,
         .journal = Value("Constant 0", UnitText<&APCUPS::const0Text>)},
        {.request = R::Const52ndWalk,
         .does = Does::Walk,
         .entry = F::Const52nd,
         .journal = Value("Constant 5", UnitText<&APCUPS::const5Text>)},
        {.request = R::Const62ndWalk,
         .does = Does::Walk,
         .entry = F::Const62nd,
         .journal = Value("Constant 6", UnitText<&APCUPS::const6Text>)},
        {.request = R::ConstHashWalk,
         .does = Does::Walk,
         .entry = F::Const_3,
         .journal = Value("Constant #", UnitText<&APCUPS::constHashText>)},
        {.request = R::ConstDollarWalk,
         .does = Does::Walk,
         .entry = F::Const_4,
         .journal = Value("Constant $", UnitText<&APCUPS::constDollarText>)},
        {.request = R::ConstPercentWalk,
         .does = Does::Walk,
         .entry = F::Const_5,
         .journal = Value("Constant %", UnitText<&APCUPS::constPercentText>)},
        {.request = R::ConstCaretWalk,
         .does = Does::Walk,
         .entry = F::Const_6,
         .journal = Value("Constant ^", UnitText<&APCUPS::constCaretText>)},
        {.request = R::ConstCtrlDWalk,
         .does = Does::Walk,
         .entry = F::ConstCTRLD,
         .journal = Value("Constant ^d", UnitText<&APCUPS::constCtrlDText>)},

        // Meters: steps and walks.
        {.request = R::LoadStep,
         .does = Does::Step,
         .journal = Value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {.request = R::LoadBackProStep,
         .does = Does::Step,
         .journal = Value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {.request = R::Load2ndStep,
         .does = Does::Step,
         .journal = Value("Load %", UnitText<&APCUPS::loadPercentText>)},
        {.request = R::LoadWalk,
         .does = Does::Walk,
         .entry = F::LoadSmartConst,
         .journal = Value("Load W", UnitText<&APCUPS::loadWattsText>)},
        {.request = R::Load2ndWalk,
         .does = Does::Walk,
         .entry = F::LoadSmart2nd,
         .journal = Value("Load W", UnitText<&APCUPS::loadWattsText>)},
        {.request = R::InputStep,
         .does = Does::Step,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::InputBackProStep,
         .does = Does::Step,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::Input2ndStep,
         .does = Does::Step,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::InputWalk,
         .does = Does::Walk,
         .entry = F::InputVoltageConstantSmart,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::Input2ndWalk,
         .does = Does::Walk,
         .entry = F::InputVoltageConstantSmart2nd,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::InputBackProWalk,
         .does = Does::Walk,
         .entry = F::InputVoltageConstantBP,
         .journal = Value("Input V", UnitText<&APCUPS::inputVoltageText>)},
        {.request = R::BatteryVoltageStep,
         .does = Does::Step,
         .journal = Value("Bat.Voltage", UnitText<&APCUPS::batteryVoltageText>)},
        {.request = R::Battery2ndStep,
         .does = Does::Step,
         .journal = Value("Bat. Voltage", UnitText<&APCUPS::batteryVoltageText>)},
        {.request = R::Battery2ndWalk,
         .does = Does::Walk,
         .entry = F::BatSmart2nd,
         .journal = Value("Bat. Voltage", UnitText<&APCUPS::batteryVoltageText>)},

        // Back-UPS Pro calibration values.
        {.request = R::RatioStep,
         .does = Does::Step,
         .journal = Value("Ratio", UnitText<&APCUPS::ratioText>)},
        {.request = R::BbdVoltageStep,
         .does = Does::Step,
         .journal = Value("B.B.D.", UnitText<&APCUPS::bbdVoltageText>)},
        {.request = R::EutVoltageStep,
         .does = Does::Step,
         .journal = Value("E.U.T.", UnitText<&APCUPS::eutVoltageText>)},
        {.request = R::BatteryBackProStep,
         .does = Does::Step,
         .journal = Value("Bat.", UnitText<&APCUPS::batteryVoltageText>)},
        {.request = R::FloatStep,
         .does = Does::Step,
         .journal = Value("Float", UnitText<&APCUPS::floatVoltageText>)},
        {.request = R::DcOffsetStep,
         .does = Does::Step,
         .journal = Value("DC", UnitText<&APCUPS::dcOffsetText>)},
        {.request = R::CapacitorLoadStep,
         .does = Does::Step,
         .journal = Value("CAP", UnitText<&APCUPS::capacitorLoadText>)},

        // Commands, named as their buttons.
        {.request = R::ResetAll,
         .does = Does::Command,
         .journal = {.what = journal::kResetWhat, .style = S::Settings}},
        {.request = R::SelfTest,
         .does = Does::Command,
         .journal = {.what = "Self Test", .style = S::Command}},
        {.request = R::PanelTest,
         .does = Does::Command,
         .journal = {.what = "Leds and Alarm Test", .style = S::Command}},
        {.request = R::Bypass,
         .does = Does::Command,
         .journal = {.what = "BYPASS", .style = S::Command}},

        // The EEPROM page; only a read goes to the journal.
        {.request = R::ReadEeprom,
         .does = Does::Eeprom,
         .journal = {.what = "Read EEPROM", .style = S::Eeprom}},
        {.request = R::SaveEeprom, .does = Does::Eeprom},
        {.request = R::CompareEeprom, .does = Does::Eeprom},

        // Each step of a restore is journaled as its own request, the whole as a summary.
        {.request = R::RestoreSettings, .does = Does::Restore},

        // The calibration journals its start check, course and end itself.
        {.request = R::CalibrationStart, .does = Does::Battery},
        {.request = R::CalibrationAbort, .does = Does::Battery},
        {.request = R::ServiceBefore, .does = Does::Battery},
        {.request = R::ServiceSkip, .does = Does::Battery},
        {.request = R::ServiceAfter, .does = Does::Battery},
    };
    // The stored settings' buttons, each journaled under its setting's label.
    for (const StoredSetting& setting : StoredSettings())
        for (const SettingPlace& place : setting.places)
            if (place.button != nullptr)
                rows.push_back({.request = place.request,
                                .does = setting.twoWay ? Does::Step : Does::Change,
                                .journal = Value(setting.label, setting.value)});
    return rows;
}

}  // namespace

const std::vector<RequestInfo>& Requests() {
    static const std::vector<RequestInfo> all = MakeRequests();
    return all;
}

const RequestInfo* InfoOf(Request request) {
    const std::vector<RequestInfo>& all = Requests();
    const auto found = std::find_if(
        all.begin(), all.end(), [request](const RequestInfo& r) { return r.request == request; });
    return found != all.end() ? &*found : nullptr;
}

}  // namespace morlen
