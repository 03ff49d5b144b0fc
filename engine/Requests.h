#pragma once

#include <optional>
#include <vector>

#include "Apcups.h"
#include "View.h"

namespace morlen {

// The requests the window posts to the poll thread, one byte each in the queue. The byte is a
// name, not a command to the unit: ConstPercentWalk ('Z') walks a calibration constant, while
// the byte "Z" on the line restarts a unit. The values stay as they are: the window posts them
// and the tests pin them.
enum class Request : char {
    // Unit information.
    ModelStep = '1',             // ModelMinus / ModelPlus
    ModelCodeWalk = 'Q',         // Enter in ModelConst
    ModelCode2ndWalk = 't',      // the connection step, on a second-generation unit
    FirmwareHeadWrite = 'O',     // Enter in SU36G
    ManufactureDateWrite = 'h',  // Enter in ManufactureDate
    ReplaceDateWrite = 'i',      // Enter in BatteriesReplaseDate
    UpsIdWrite = 'j',            // Enter in ID
    SerialNumberWrite = 'k',     // Enter in SerialNumber
    // Calibration constants: Enter in their entries (and the connection step for Const0).
    Const0Walk = 'l',
    Const4Walk = 'm',
    Const5Walk = 'n',
    Const6Walk = 'o',
    Const02ndWalk = 'p',
    Const52ndWalk = 'q',
    Const62ndWalk = 'r',
    ConstHashWalk = '@',     // Const_3
    ConstDollarWalk = 'U',   // Const_4
    ConstPercentWalk = 'Z',  // Const_5
    ConstCaretWalk = 'V',    // Const_6
    ConstCtrlDWalk = '!',    // ConstCTRLD
    // Smart-UPS page.
    LoadStep = '2',
    InputStep = '3',
    BatteryVoltageStep = '4',
    BatteryPacksStep = '5',
    UpVoltageChange = '8',
    LowVoltageChange = '9',
    OutVoltageChange = 'a',
    LoadWalk = 'H',   // Enter in LoadSmartConst
    InputWalk = 'J',  // Enter in InputVoltageConstantSmart
    // Back-UPS Pro page.
    LoadBackProStep = 'f',
    InputBackProStep = 'g',
    RatioStep = 'A',
    BbdVoltageStep = 'B',
    EutVoltageStep = 'C',
    BatteryBackProStep = 'D',
    FloatStep = 'E',
    DcOffsetStep = 'F',
    CapacitorLoadStep = 'G',
    InputBackProWalk = 'L',  // Enter in InputVoltageConstantBP
    // Second-generation page.
    Load2ndStep = '6',
    Input2ndStep = '7',
    Battery2ndStep = 'R',
    UpVoltage2ndChange = 'b',
    LowVoltage2ndChange = 'c',
    OutVoltage2ndChange = 'd',
    Load2ndWalk = 'I',     // Enter in LoadSmart2nd
    Input2ndWalk = 'K',    // Enter in InputVoltageConstantSmart2nd
    Battery2ndWalk = 's',  // Enter in BatSmart2nd
    // Settings page.
    SelfTestChange = 'w',
    ShutDownDelayChange = 'u',
    WakeUpDelayChange = 'v',
    SensitivityChange = 'x',
    AlarmDelayChange = 'y',
    ThresholdChange = 'M',
    LowBatWarningChange = 'S',
    ResetAll = 'N',
    // The left column's commands.
    PanelTest = 'z',  // Leds
    SelfTest = 'P',   // Test
    Bypass = '~',     // ByPass
    // EEPROM page.
    ReadEeprom = 'W',
    SaveEeprom = 'X',
    CompareEeprom = 'Y',
    // Options menu.
    RestoreSettings = 'T',
    // Battery page: the guarded runtime calibration, the only way a "D" reaches the unit.
    CalibrationStart = '{',
    CalibrationAbort = '}',
    // The guided battery service's own steps: the readings before and after, and a step left
    // out. Its date, self-test and calibration are the requests above.
    ServiceBefore = '(',
    ServiceSkip = '[',
    ServiceAfter = ')',
};

// What a request does.
enum class Does {
    Step,       // one "+" or "-" of a value, read back
    Change,     // a stored setting to the next value the unit offers
    Walk,       // steps toward the target Enter confirmed in its entry, each step read back
    TextWrite,  // writes its entry's text as it is when the request is carried out
    Command,    // a one-shot command: reset, self-test, panel test, bypass
    Eeprom,     // the EEPROM page: read, save, compare
    Restore,    // puts back saved settings, each with its own "Change" request
    Battery,    // the runtime calibration: it keeps its own journal entries
};

// A text of the unit object, as a plain function of it.
template <auto Member>
const char* UnitText(const APCUPS& ups) {
    return (ups.*Member).c_str();
}

// How the journal records a request: its name as the window labels it and what it changes,
// as the unit last read it back.
struct JournalRecord {
    enum class Style {
        None,      // not recorded
        Value,     // one value, before and after
        Settings,  // the settings a reset sets, before and after
        Command,   // a one-shot command: its reply
        Eeprom,    // a read of the EEPROM: no value, how complete it was
    };
    const char* what = nullptr;
    Style style = Style::None;
    const char* (*value)(const APCUPS&) = nullptr;  // Value only
};

// One request: what it does, the entry it takes its target or text from, and how the journal
// records it.
struct RequestInfo {
    Request request;
    Does does;
    std::optional<Field> entry = std::nullopt;
    JournalRecord journal = {};
};

// Every request, the stored settings' own among them (made from their table).
const std::vector<RequestInfo>& Requests();
// The request's row; null for a byte that names no request.
const RequestInfo* InfoOf(Request request);

}  // namespace morlen
