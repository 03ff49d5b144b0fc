#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morlen::sim {

// Which set of hidden commands and conventions a unit follows.
enum class Generation : std::uint8_t {
    First,   // "b" + "+"/"-" moves the model code, no capability markers
    Second,  // "V" firmware, step bytes a/b/d/4/2/3, "H" model code, no programming mode
    Third,   // capability markers, Ctrl-B model code, firmware head writable after "b"
};

// What "#" selects on this unit.
enum class HashMeaning : std::uint8_t { Eeprom, Constant };

// One row of a product line's model-code table: stepping the code moves the model name, the
// rating it carries and the firmware SKU together.
struct ModelRow {
    std::uint8_t code = 0;
    std::string name;      // Ctrl-A reply
    std::string firmware;  // "b" reply: SKU.revision.locale
    char vFirst = 0;       // second generation: first character of the "V" reply
};

// A cycled setting: its command, its values in the order "-" walks them, the factory value.
struct Setting {
    char command = 0;
    std::vector<std::string> values;
    std::size_t factory = 0;
};

// A calibration constant: two hex digits, stepped by one.
struct Constant {
    char command = 0;
    std::uint8_t value = 0;
};

// A Back-PRO calibration value: a five-character number stepped by a fixed amount.
struct BackProValue {
    char command = 0;
    double value = 0;
    double step = 0;
    int decimals = 0;
};

// Everything that makes one kind of unit answer as it does. The tables are plain data so
// that each profile can be read (and checked) in one place.
struct Profile {
    std::string name;  // short lower-case name used on the command line
    std::string description;
    Generation generation = Generation::First;
    char locale = 'I';  // firmware locale letter: D, I, A, J, M

    // Reply to the second "1" of a well-timed pair; empty when the unit has no programming
    // mode (it then ignores "1").
    std::string progReply = "PROG";
    // Old units ignore commands they do not know instead of answering "NA".
    bool silentUnknown = false;

    // Model-code table of the unit's product line and the row the unit starts on.
    std::vector<ModelRow> models;
    std::size_t modelIndex = 0;
    // Second generation: "H" walks the codes from modelCodeFirst to modelCodeLast (wrapping);
    // the model follows the row whose code is the nearest at or below. False: no "H".
    bool hasCodeWalk = false;
    std::uint8_t modelCodeFirst = 0, modelCodeLast = 0;

    std::string serial;  // "n" reply; empty: the unit answers "NA"
    int serialNuls = 0;  // NUL bytes after the serial number
    int serialWidth = 14;
    std::string vReply;           // "V" reply; empty: unknown command
    std::string dipSwitches;      // "7" reply; empty: unknown command
    std::string capabilities;     // Ctrl-Z reply; empty: unknown command
    bool hasProtocolInfo = true;  // "a" answers the protocol info (not on second generation)

    bool hasFrequency = true;     // "F"; false: "NA"
    bool hasLoad = true;          // "P"; false: "NA"
    bool hasTemperature = true;   // "C"; false: "NA"
    bool hasLineReadings = true;  // "L", "O"; false: "NA"
    bool hasSettings = true;      // the ten cycled settings, ">" and the "c" UPS id
    bool hasBatteryPacks = true;
    bool hasBypass = false;  // "^" toggles the bypass instead of being a constant
    HashMeaning hash = HashMeaning::Eeprom;

    std::vector<Setting> settings;
    std::vector<Constant> constants;  // absent constants answer "NA"
    std::vector<BackProValue> backPro;

    // Text commands ("c", "m", "x", "n", "b") whose write the unit refuses: it answers "NA" to
    // the "-" after them, so what follows are commands again, and keeps its text.
    std::string refusedTexts;
    // The unit writes a stepped setting to its storage only 3 s after the step: a restart
    // ("Z" pair) before then brings the stored value back.
    bool storesSettingsLate = false;

    std::string upsId = "UPS_IDEN";
    std::string manufactureDate = "11/29/96";
    std::string batteryDate = "11/29/96";
    int batteryPacks = 0;

    // Live values on line, before drift and meter offsets.
    double inputVoltage = 230.0;
    double outputVoltage = 230.0;
    double loadPercent = 23.5;
    double frequency = 50.0;
    double temperature = 36.0;
    int batteryNominal = 24;  // "g": 12, 24 or 48
    double runTimeFull = 42;  // minutes at 25 % load on a full battery
    // What the battery really holds, as a share of runTimeFull: a calibration measures it and
    // stores it as the unit's new run time.
    double batteryCapacity = 1.0;

    // Battery-service commands the unit answers, of "XGMN9D"; the rest are unknown to it.
    std::string batteryCommands = "XGMN9D";
    // Commands the unit never answers at all, not even "NA" (its firmware stays silent).
    std::string silentCommands;
    // A calibration sets bit 0 of "Q" while it runs (small units do not).
    bool calibrationBit = true;
    // A calibration ends at this charge (percent): 25, 35 on some large units.
    double calibrationFloor = 25.0;
    // "G" names a transfer forced by software (a calibration) "K" rather than "S".
    bool forcedCauseK = false;
    std::uint8_t firstEepromAddress = 0;
};

// Every profile, in the order --list-profiles shows them.
const std::vector<Profile>& Profiles();
// The profile of that name, or nullptr.
const Profile* FindProfile(std::string_view name);

// The settings of a unit of that locale and generation, with factory values.
std::vector<Setting> StandardSettings(char locale, Generation generation);
// The Ctrl-Z string for these settings: "#", then per setting and locale group its command,
// the locale ('4' for all), the number of choices, their width and the choices.
std::string CapabilityString(const std::vector<Setting>& settings, Generation generation,
                             std::string_view extra = {});

}  // namespace morlen::sim
