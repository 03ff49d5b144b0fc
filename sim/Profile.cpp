#include "Profile.h"

#include <algorithm>
#include <string_view>

namespace morlen::sim {

namespace {

// Model-code tables of the product lines, taken from the reference table of constants,
// model codes and firmware. A few firmware revisions that the table leaves open ("x") are
// filled in with a plausible digit.
std::vector<ModelRow> SmartUpsFirstGenLine() {
    return {
        {0x07, "SMART-UPS 700", "52.11.I"},   {0x0B, "SMART-UPS 1000", "60.11.I"},
        {0x16, "SMART-UPS 420", "21.7.I"},    {0x17, "SMART-UPS 3000", "90.14.I"},
        {0x1A, "SMART-UPS 620", "22.7.I"},    {0x1F, "SMART-UPS 5000", "110.14.I"},
        {0x27, "SMART-UPS 700XL", "51.9.I"},  {0x2B, "SMART-UPS 1000XL", "61.9.I"},
        {0x47, "SMART-UPS 700RM", "52.11.I"}, {0x77, "SMART-UPS 3000RMXL", "93.14.I"},
    };
}

std::vector<ModelRow> SmartUpsThirdGenLine() {
    return {
        {0x06, "Smart-UPS 750", "651.12.I"},   {0x0A, "Smart-UPS 1000", "652.12.I"},
        {0x0E, "Smart-UPS 1500", "653.12.I"},  {0x26, "Smart-UPS 2200", "654.12.I"},
        {0x46, "Smart-UPS 750XL", "630.3.I"},  {0x4A, "Smart-UPS 1000XL", "681.13.I"},
        {0x66, "Smart-UPS 2200XL", "690.3.I"}, {0x86, "Smart-UPS 750RM", "619.12.I"},
        {0x8E, "Smart-UPS 1500RM", "617.3.I"}, {0xA6, "Smart-UPS 2200RM", "665.4.I"},
        {0xAA, "Smart-UPS 3000RM", "666.4.I"},
    };
}

std::vector<ModelRow> SmartUpsScLine() {
    return {
        {0x16, "Smart-UPS SC420", "725.1.I"},   {0x1A, "Smart-UPS SC620", "726.3.I"},
        {0x1E, "Smart-UPS SC1500", "738.3.I"},  {0x32, "Smart-UPS SC250RM", "735.a.1"},
        {0x36, "Smart-UPS SC450RM", "736.a.1"}, {0x8A, "Smart-UPS SC1000", "737.3.I"},
    };
}

std::vector<ModelRow> PowerStackLine() {
    return {{0x32, "Power Stack 250", "26.5.I"}, {0x36, "Power Stack 450", "26.5.I"}};
}

std::vector<ModelRow> RackMount2ULine() {
    return {{0x8A, "SMART-UPS 700RM", "152.4.I"},
            {0x8E, "SMART-UPS 1000RM", "157.3.I"},
            {0x92, "SMART-UPS 1400RM", "162.3.I"}};
}

std::vector<ModelRow> OnlineLine() {
    return {{0x4E, "Smart-UPS RT 1000 XL", "411.4.I"},
            {0x52, "Smart-UPS 2000 XL", "416.5.I"},
            {0x56, "Smart-UPS RT 3000 XL", "450.2.I"},
            {0x5A, "Smart-UPS RT 5000 XL", "451.12.W"},
            {0x5C, "Smart-UPS RT 6000 XL", "452.12.W"}};
}

std::vector<ModelRow> BackProLine() {
    return {{0x06, "Back-UPS Pro 420", "11.2.I"},
            {0x0A, "Back-UPS Pro 650", "12.3.I"},
            {0x26, "Back-UPS Pro 500", "17.1.I"}};
}

// Second-generation units: the "V" reply's first character names the model.
std::vector<ModelRow> SecondGenLine() {
    return {{0xE1, "Smart-UPS 400", "", '4'},
            {0xE5, "Smart-UPS 600", "", '6'},
            {0xED, "Smart-UPS 900", "", '7'},
            {0xF5, "Smart-UPS 1250", "", '8'},
            {0xFD, "Smart-UPS 2000", "", '9'}};
}

std::size_t RowOf(const std::vector<ModelRow>& rows, std::uint8_t code) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].code == code)
            return i;
    return 0;
}

Setting* Find(std::vector<Setting>& settings, char command) {
    for (auto& s : settings)
        if (s.command == command)
            return &s;
    return nullptr;
}

// The four constants of the window's reference table, in its column order 4, 5, 6, 0.
std::vector<Constant> TableConstants(std::uint8_t c4, std::uint8_t c5, std::uint8_t c6,
                                     std::uint8_t c0) {
    return {{'4', c4}, {'5', c5}, {'6', c6}, {'0', c0}};
}

Profile FirstGen(std::string name, std::string description, std::vector<ModelRow> line,
                 std::uint8_t code) {
    Profile p;
    p.name = std::move(name);
    p.description = std::move(description);
    p.generation = Generation::First;
    p.models = std::move(line);
    p.modelIndex = RowOf(p.models, code);
    p.vReply = "GWI";
    p.dipSwitches = "00";
    p.settings = StandardSettings(p.locale, p.generation);
    p.capabilities = CapabilityString(p.settings, p.generation);
    return p;
}

Profile ThirdGen(std::string name, std::string description, std::vector<ModelRow> line,
                 std::uint8_t code) {
    Profile p;
    p.name = std::move(name);
    p.description = std::move(description);
    p.generation = Generation::Third;
    p.models = std::move(line);
    p.modelIndex = RowOf(p.models, code);
    p.settings = StandardSettings(p.locale, p.generation);
    p.capabilities = CapabilityString(p.settings, p.generation);
    p.forcedCauseK = true;
    return p;
}

Profile SecondGen(std::string name, std::string description, char vFirst) {
    Profile p;
    p.name = std::move(name);
    p.description = std::move(description);
    p.generation = Generation::Second;
    p.progReply.clear();
    p.silentUnknown = true;
    p.hasProtocolInfo = false;
    p.models = SecondGenLine();
    for (std::size_t i = 0; i < p.models.size(); ++i)
        if (p.models[i].vFirst == vFirst)
            p.modelIndex = i;
    p.vReply = std::string(1, vFirst) + "QI";
    p.serialWidth = 8;
    p.settings = StandardSettings(p.locale, p.generation);
    p.hasBatteryPacks = false;
    return p;
}

// A first-generation Smart-UPS 1000 like `su1000`, with its own serial number, for a profile
// that differs from it in one behaviour.
Profile Su1000Variant(std::string name, std::string description, std::string serial) {
    Profile p = FirstGen(std::move(name), std::move(description), SmartUpsFirstGenLine(), 0x0B);
    p.serial = std::move(serial);
    p.constants = TableConstants(0x35, 0xEF, 0xF9, 0xA0);
    return p;
}

// A unit of the SC line: "#" is one of its constants.
Profile ScLineUnit(std::string name, std::string description, std::uint8_t code, std::string serial,
                   std::uint8_t hashConstant, double load, std::string date) {
    Profile p = ThirdGen(std::move(name), std::move(description), SmartUpsScLine(), code);
    // SC units offer the four classic return thresholds; the s431 group marks them.
    Find(p.settings, 'e')->values = {"00", "15", "50", "90"};
    p.capabilities = CapabilityString(p.settings, p.generation);
    p.serial = std::move(serial);
    p.constants = TableConstants(0x08, 0x95, 0x10, 0x94);
    p.constants.push_back({'#', hashConstant});
    p.hash = HashMeaning::Constant;
    p.hasBatteryPacks = false;
    p.loadPercent = load;
    p.manufactureDate = date;
    p.batteryDate = std::move(date);
    return p;
}

std::vector<Profile> BuildProfiles() {
    std::vector<Profile> all;

    {
        Profile p =
            FirstGen("su1000", "first-generation Smart-UPS 1000", SmartUpsFirstGenLine(), 0x0B);
        p.serial = "WS9643050926";
        p.serialNuls = 2;
        p.constants = TableConstants(0x35, 0xEF, 0xF9, 0xA0);
        all.push_back(p);
    }
    {
        Profile p = ThirdGen("su1000-3g", "third-generation Smart-UPS 1000 (capability marker)",
                             SmartUpsThirdGenLine(), 0x0A);
        p.serial = "AS0319120145";
        p.constants = TableConstants(0x07, 0xB5, 0x13, 0xBC);
        p.constants.push_back({'$', 0x5A});
        p.constants.push_back({'%', 0x62});
        p.constants.push_back({'^', 0x80});
        p.manufactureDate = "07/15/03";
        p.batteryDate = "07/15/03";
        p.firstEepromAddress = 0x40;
        all.push_back(p);
    }
    all.push_back(ScLineUnit("sc1000", "Smart-UPS SC1000 (the \"#\" constant)", 0x8A,
                             "5S0523T12345", 0x7D, 18.5, "05/23/05"));
    {
        // A smaller unit of the same line: it shows no "#" constant, yet "#" is one.
        Profile p = ScLineUnit("sc620", "Smart-UPS SC620 (a \"#\" constant it does not show)", 0x1A,
                               "5S0611T54321", 0x6E, 22.0, "06/11/05");
        p.hasTemperature = false;
        all.push_back(p);
    }
    {
        Profile p =
            FirstGen("su620", "Smart-UPS 620, no temperature sensor", SmartUpsFirstGenLine(), 0x1A);
        p.serial = "NS9912004321";
        p.constants = TableConstants(0x29, 0x99, 0x0B, 0x8A);
        p.hasTemperature = false;
        p.batteryNominal = 12;
        p.loadPercent = 31.0;
        p.runTimeFull = 24;
        p.calibrationBit = false;  // a small unit: "Q" does not show a calibration
        all.push_back(p);
    }
    {
        Profile p = FirstGen("stack450", "Power Stack 450", PowerStackLine(), 0x36);
        p.serial = "PS9805002211";
        p.constants = TableConstants(0x0D, 0x96, 0x10, 0x99);
        p.hasTemperature = false;
        p.hasBatteryPacks = false;
        p.batteryNominal = 12;
        p.loadPercent = 27.0;
        p.runTimeFull = 20;
        all.push_back(p);
    }
    {
        Profile p =
            SecondGen("gen2-v0", "second-generation Smart-UPS 600, DIP switches (variant 0)", '6');
        p.dipSwitches = "08";
        p.serial = "QS604023";
        p.constants = {{'5', 0xEA}, {'6', 0xF4}, {'0', 0x9F}};
        p.temperature = 32.0;
        p.loadPercent = 21.0;
        all.push_back(p);
    }
    {
        Profile p = SecondGen("gen2-v1", "second-generation Smart-UPS 900 (variant 1)", '7');
        p.dipSwitches = "00";
        p.serial = "QS905117";
        p.constants = {{'5', 0xF3}, {'6', 0xFC}, {'0', 0x9F}};
        p.temperature = 35.5;
        all.push_back(p);
    }
    {
        Profile p = SecondGen("gen2-v2", "second-generation Smart-UPS 1250 (variant 2)", '8');
        p.dipSwitches = "00";
        p.hasTemperature = false;  // "C" answers NA: its number is 0
        p.serial = "QS125220";
        p.constants = {{'5', 0xEE}, {'6', 0xFA}, {'0', 0x9F}};
        p.hasCodeWalk = true;
        p.modelCodeFirst = 0xE0;
        p.modelCodeLast = 0xFF;
        all.push_back(p);
    }
    {
        // Its interval setting has no "OFF" among its values: a switch-off can never succeed.
        Profile p = SecondGen("gen2-test-on",
                              "second-generation Smart-UPS 900 whose self-test cannot be switched "
                              "off",
                              '7');
        p.dipSwitches = "00";
        p.serial = "QS905342";
        p.constants = {{'5', 0xF1}, {'6', 0xFB}, {'0', 0x9F}};
        Find(p.settings, 'E')->values = {"336", "168", "ON "};
        all.push_back(p);
    }
    {
        // No self-test interval at all: like every unknown command, "E" goes unanswered.
        Profile p =
            SecondGen("gen2-no-e",
                      "second-generation Smart-UPS 600 that ignores the self-test interval", '6');
        // Variant 2 (no DIP switches, no temperature), so that its model code is asked for.
        p.dipSwitches = "00";
        p.hasTemperature = false;
        p.hasCodeWalk = true;
        p.modelCodeFirst = 0xE0;
        p.modelCodeLast = 0xFF;
        p.serial = "QS604177";
        p.constants = {{'5', 0xEA}, {'6', 0xF4}, {'0', 0x9F}};
        p.settings.erase(std::remove_if(p.settings.begin(), p.settings.end(),
                                        [](const Setting& s) { return s.command == 'E'; }),
                         p.settings.end());
        all.push_back(p);
    }
    {
        // Takes its settings to storage a few seconds after a step: a restart right after the
        // self-test switch-off brings its interval back.
        Profile p = SecondGen("gen2-late",
                              "second-generation Smart-UPS 1250 that stores a setting 3 s after "
                              "the step",
                              '8');
        p.dipSwitches = "00";
        p.serial = "QS125398";
        p.constants = {{'5', 0xEC}, {'6', 0xF9}, {'0', 0x9F}};
        p.storesSettingsLate = true;
        all.push_back(p);
    }
    {
        Profile p = SecondGen("matrix5000", "Matrix 5000 (second generation, variant 1)", '5');
        p.models = {{0x00, "Matrix 5000", "", '5'}};
        p.modelIndex = 0;
        p.vReply = "5ZI";
        p.dipSwitches.clear();  // ignores "7"
        p.serial = "MX5G0112";
        p.constants = {{'5', 0xE9}, {'6', 0xF5}, {'0', 0xB0}};
        p.temperature = 41.0;
        p.batteryNominal = 48;
        p.loadPercent = 35.0;
        p.runTimeFull = 30;
        p.calibrationFloor = 35.0;  // a large unit stops its calibration earlier
        all.push_back(p);
    }
    {
        Profile p = FirstGen("backpro", "Back-UPS Pro 650", BackProLine(), 0x0A);
        p.vReply.clear();
        p.dipSwitches.clear();
        p.capabilities.clear();
        p.serial = "QB9921034512";
        p.hasFrequency = false;
        p.hasTemperature = false;
        p.hasSettings = false;
        p.hasBatteryPacks = false;
        p.settings.clear();
        p.backPro = {{'e', 13.65, 0.05, 2}, {'w', 1.015, 0.005, 3}, {'v', 10.50, 0.05, 2},
                     {'2', 11.40, 0.05, 2}, {'c', 45.0, 0.5, 1},    {'d', 2.5, 0.1, 1}};
        p.batteryNominal = 12;
        p.loadPercent = 31.0;
        p.runTimeFull = 16;
        // Nothing public says what this line answers: it answers none of the battery-service
        // commands, so no host can take a guess for an answer.
        p.batteryCommands.clear();
        all.push_back(p);
    }
    {
        Profile p =
            FirstGen("backcs", "Back-UPS CS 500", {{0x4C, "Back-UPS CS 500", "808.q9.I"}}, 0x4C);
        p.vReply.clear();
        p.dipSwitches.clear();
        p.capabilities.clear();
        p.serial = "BB0512345678";
        p.hasFrequency = false;
        p.hasLoad = false;
        p.hasLineReadings = false;
        p.hasTemperature = false;
        p.hasSettings = false;
        p.hasBatteryPacks = false;
        p.settings.clear();
        p.batteryNominal = 12;
        p.runTimeFull = 14;
        p.batteryCommands = "9";  // line quality only
        all.push_back(p);
    }
    {
        Profile p = FirstGen("noserial", "Smart-UPS 700 without serial number",
                             SmartUpsFirstGenLine(), 0x07);
        p.serial.clear();
        p.constants = TableConstants(0x28, 0xF2, 0xFA, 0x96);
        p.loadPercent = 40.0;
        p.runTimeFull = 30;
        all.push_back(p);
    }
    {
        Profile p = FirstGen("smartslot", "Smart-UPS 1000 whose SmartSlot card answers",
                             SmartUpsFirstGenLine(), 0x0B);
        p.progReply = "APROG";
        p.serial = "WS9702011874";
        p.constants = TableConstants(0x35, 0xEF, 0xF9, 0xA0);
        all.push_back(p);
    }
    {
        Profile p =
            ThirdGen("surt1000xl", "Smart-UPS RT 1000 XL, online (s411)", OnlineLine(), 0x4E);
        Find(p.settings, 'e')->values = {"00", "15", "50", "90"};
        Find(p.settings, 's')->values = {"A"};
        p.capabilities = CapabilityString(p.settings, p.generation);
        p.serial = "QS0345220177";
        p.constants = TableConstants(0x0A, 0xBB, 0x19, 0xA8);
        p.constants.push_back({'$', 0x3E});
        p.hasBypass = true;
        p.batteryPacks = 1;
        p.loadPercent = 28.0;
        all.push_back(p);
    }
    {
        // Its UPS id cannot be written: "-" after "c" is answered "NA".
        Profile p = FirstGen("su1000-id-ro", "Smart-UPS 1000 whose UPS id cannot be written",
                             SmartUpsFirstGenLine(), 0x0B);
        p.serial = "WS9711040233";
        p.constants = TableConstants(0x35, 0xEF, 0xF9, 0xA0);
        p.refusedTexts = "c";
        all.push_back(p);
    }
    {
        Profile p =
            FirstGen("su1000rm", "Smart-UPS 1000RM 2U (HL8 marker)", RackMount2ULine(), 0x8E);
        // The 2U rack units append a hardware tag that reads as the HL8 marker.
        p.capabilities = CapabilityString(p.settings, p.generation, "H02L018");
        p.serial = "GS0117003366";
        p.constants = TableConstants(0x08, 0xB5, 0x0D, 0xC7);
        p.batteryPacks = 0;
        all.push_back(p);
    }
    // Older firmware without the runtime calibration: "D" is answered "NA".
    all.push_back(
        Su1000Variant("su1000-nod", "Smart-UPS 1000 without runtime calibration", "WS9705020481"));
    all.back().batteryCommands = "XGMN9";
    // Its firmware never answers "X": a host waiting for the self-test result gets nothing.
    all.push_back(Su1000Variant("su1000-nox", "Smart-UPS 1000 that never answers the test result",
                                "WS9708031122"));
    all.back().silentCommands = "X";
    return all;
}

}  // namespace

std::vector<Setting> StandardSettings(char locale, Generation generation) {
    const bool domestic = locale == 'D';
    std::vector<Setting> s;
    if (domestic) {
        s.push_back({'u', {"127", "130", "133", "136"}, 0});
        s.push_back({'l', {"106", "103", "100", "097"}, 0});
        s.push_back({'o', {"115"}, 0});
    } else {
        s.push_back({'u', {"253", "257", "261", "265"}, 0});
        s.push_back({'l', {"208", "204", "200", "196"}, 0});
        s.push_back({'o', {"220", "225", "230", "240"}, 2});
    }
    if (generation == Generation::Third)
        s.push_back({'e', {"00", "15", "25", "35", "50", "60", "90"}, 0});
    else
        s.push_back({'e', {"00", "15", "50", "90"}, 0});
    s.push_back({'E', {"336", "168", "ON ", "OFF"}, 0});
    s.push_back({'p', {"020", "180", "300", "600"}, 0});
    s.push_back({'r', {"000", "060", "180", "300"}, 0});
    s.push_back({'q', {"02", "05", "07", "10"}, 0});
    s.push_back({'k', {"0", "T", "L", "N"}, 0});
    s.push_back({'s', {"H", "M", "L"}, 0});
    return s;
}

std::string CapabilityString(const std::vector<Setting>& settings, Generation generation,
                             std::string_view extra) {
    auto group = [](char command, char locale, const std::vector<std::string>& values) {
        std::string g;
        g += command;
        g += locale;
        g += static_cast<char>('0' + values.size());
        g += static_cast<char>('0' + (values.empty() ? 0 : values.front().size()));
        for (const auto& v : values)
            g += v;
        return g;
    };
    std::string out = "#";
    for (const auto& s : settings) {
        if (s.command == 'u' || s.command == 'l' || s.command == 'o') {
            // Transfer and output voltages depend on the locale: one group per locale.
            for (char locale : {'D', 'I'}) {
                for (const auto& ls : StandardSettings(locale, generation))
                    if (ls.command == s.command)
                        out += group(s.command, locale, ls.values);
            }
        } else if (s.command == 's' && generation != Generation::Third) {
            // Older units do not list their sensitivity.
        } else {
            out += group(s.command, '4', s.values);
        }
    }
    out += extra;
    return out;
}

const std::vector<Profile>& Profiles() {
    static const std::vector<Profile> all = BuildProfiles();
    return all;
}

const Profile* FindProfile(std::string_view name) {
    for (const auto& p : Profiles())
        if (p.name == name)
            return &p;
    return nullptr;
}

}  // namespace morlen::sim
