// Every request code carried out by the poll thread on a simulated unit: its whole log on the
// line (transactions with their reply lengths, pauses, tones) and exactly what the window shows
// afterwards. A swapped selection byte, entry or operation in any row changes one or the other.
//
// Each request runs with the "Status" page shown, so the display refresh writes no entry: every
// entry that changed was written by the request.
#include <gtest/gtest.h>

#include <QDialog>
#include <QProgressBar>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "Apcdynamicdata.h"
#include "RequestHandling.h"
#include "Walk.h"
#include "WireRig.h"

namespace morlen::test {
namespace {

const QString kMark = QStringLiteral("#");
constexpr int kBarMark = 1;

// The two hex digits `delta` steps from `text`.
std::string HexPlus(const std::string& text, int delta) {
    char out[8];
    std::snprintf(out, sizeof out, "%02X", (std::stoi(text, nullptr, 16) + delta) & 0xFF);
    return out;
}

// The window's own entries (not those of a dialog it may hold).
std::vector<QLineEdit*> Entries(TForm1& form) {
    std::vector<QLineEdit*> out;
    for (QLineEdit* entry : form.findChildren<QLineEdit*>()) {
        bool inDialog = false;
        for (QWidget* w = entry; w != nullptr && w != &form; w = w->parentWidget())
            inDialog = inDialog || qobject_cast<QDialog*>(w) != nullptr;
        if (!inDialog)
            out.push_back(entry);
    }
    return out;
}

struct Row {
    const char* profile;
    char code, argument;
    // Typed into entries before the request is posted; a value may depend on the unit.
    std::function<std::map<std::string, std::string>(const APCUPS&)> typed;
    std::function<std::string(const APCUPS&)> wire;  // from the unit as it was before
    // Every entry the request writes, with its text afterwards, and the bars it moves.
    std::function<std::map<std::string, std::string>(const APCUPS&)> shown;
    std::map<std::string, int> bars;
};

using Fields = std::map<std::string, std::string>;

auto Fixed(Fields fields) {
    return [fields](const APCUPS&) { return fields; };
}
auto Wire(std::string wire) {
    return [wire](const APCUPS&) { return wire; };
}
const auto kNothing = Fixed({});

// A constant walk two steps up from where the unit stands: the selection, two steps, the flash.
Row ConstantUp(const char* profile, char code, const char* entry, const std::string& select,
               const std::string& step, FixedText<5> APCUPS::*field) {
    return {
        profile,
        code,
        '-',
        [entry, field](const APCUPS& u) {
            return Fields{{entry, HexPlus((u.*field).str(), 2)}};
        },
        [select, step](const APCUPS&) { return select + " " + step + " " + step + " " + kFlash; },
        [entry, field](const APCUPS& u) {
            return Fields{{entry, HexPlus((u.*field).str(), 2)}};
        },
        {}};
}

std::vector<Row> Rows() {
    const std::string kTransfer = "u/3 l/3 o/3";
    return {
        // ---- Steps ----
        {"su1000",
         '1',
         '+',
         kNothing,
         Wire("b/8 +/4 b/8 ^A/22 g/3 " + kTransfer),
         Fixed({{"Model", "SMART-UPS 420"},
                {"Firmware", "21.7.I"},
                {"ModelConst", "16"},
                {"BatSysVolt", "024"},
                {"UpTransferVoltage", "253"},
                {"LowTransferVoltage", "208"},
                {"OutputVoltageConstant", "230"}}),
         {}},
        {"su1000",
         '2',
         '+',
         kNothing,
         Wire("P/5 +/5 P/5"),
         Fixed({{"LoadPercent", "024.0"}, {"LoadW", "168"}}),
         {{"LoadBar", 24}}},
        {"su1000",
         '3',
         '-',
         kNothing,
         Wire("L/5 -/5 L/5 O/5"),
         Fixed({{"InputVoltage", "229.0"}, {"OutputVoltage", "230.0"}}),
         {{"InputVoltageBar", 229}, {"OutputVoltageBar", 230}}},
        {"su1000",
         '4',
         '+',
         kNothing,
         Wire("B/5 +/2 B/5"),
         Fixed({{"BatteryVoltageSmart", "27.45"}}),
         {}},
        {"su1000", '5', '+', kNothing, Wire(">/3 +/3 >/3"), Fixed({{"BatteryPacks", "001"}}), {}},
        {"backpro",
         'f',
         '+',
         kNothing,
         Wire("P/5 +/5 P/5"),
         // 31.5 % of 4.55 W a percent (650 VA).
         Fixed({{"LoadPercentBackPro", "031.5"}, {"LoadWBackPro", "143"}}),
         {{"LoadBackProBar", 31}}},
        {"backpro",
         'g',
         '-',
         kNothing,
         Wire("L/5 -/5 L/5 O/5"),
         Fixed({{"InputVoltageBackPro", "229.0"}, {"OutputVoltageBackPro", "230.0"}}),
         {{"InputVoltageBackProBar", 229}, {"OutputVoltageBackProBar", 230}}},
        {"backpro", 'A', '+', kNothing, Wire("w/5 +/2 w/5"), kNothing, {}},
        {"backpro", 'B', '-', kNothing, Wire("2/5 -/2 2/5"), kNothing, {}},
        {"backpro", 'C', '+', kNothing, Wire("v/5 +/2 v/5"), kNothing, {}},
        {"backpro", 'D', '-', kNothing, Wire("B/5 -/2 B/5"), kNothing, {}},
        {"backpro", 'E', '+', kNothing, Wire("e/5 +/2 e/5"), kNothing, {}},
        {"backpro", 'F', '-', kNothing, Wire("d/5 -/2 d/5"), kNothing, {}},
        {"backpro", 'G', '+', kNothing, Wire("c/5 +/2 c/5"), kNothing, {}},
        {"gen2-v2",
         '6',
         '-',
         kNothing,
         Wire("b/2 P/5 " + kTone),
         Fixed({{"LoadPercent2nd", "023.0"}, {"LoadW2nd", "201"}}),
         {{"Load2ndBar", 23}}},
        {"gen2-v2",
         '7',
         '-',
         kNothing,
         Wire("a/2 L/5 O/5 " + kTone),
         Fixed({{"InputVoltage2nd", "229.0"}, {"OutputVoltage2nd", "230.0"}}),
         {{"InputVoltage2ndBar", 229}, {"OutputVoltage2ndBar", 230}}},
        {"gen2-v2",
         'R',
         '+',
         kNothing,
         Wire("d/2 B/5 " + kFlash),
         Fixed({{"BatteryVoltage2nd", "27.15"}}),
         {}},

        // ---- "Change" buttons ----
        {"su1000",
         '8',
         '-',
         kNothing,
         Wire("u/3 -/2 u/3"),
         Fixed({{"UpTransferVoltage", "257"}}),
         {}},
        {"su1000",
         '9',
         '-',
         kNothing,
         Wire("l/3 -/2 l/3"),
         Fixed({{"LowTransferVoltage", "204"}}),
         {}},
        {"su1000",
         'a',
         '-',
         kNothing,
         Wire("o/3 -/2 o/3"),
         Fixed({{"OutputVoltageConstant", "240"}}),
         {}},
        {"gen2-v2", 'b', '-', kNothing, Wire("u/3 -/2 u/3"), Fixed({{"UpVoltage2nd", "257"}}), {}},
        {"gen2-v2", 'c', '-', kNothing, Wire("l/3 -/2 l/3"), Fixed({{"LowVoltage2nd", "204"}}), {}},
        {"gen2-v2",
         'd',
         '-',
         kNothing,
         Wire("o/3 -/2 o/3"),
         Fixed({{"OutputVoltageConstant2nd", "240"}}),
         {}},
        {"su1000", 'M', '-', kNothing, Wire("e/2 -/2 e/2"), Fixed({{"Threshold", "15"}}), {}},
        {"su1000", 'S', '-', kNothing, Wire("q/2 -/2 q/2"), Fixed({{"LowBatWarning", "05"}}), {}},
        {"su1000", 'u', '-', kNothing, Wire("p/3 -/2 p/3"), Fixed({{"ShutDownDelay", "180"}}), {}},
        {"su1000", 'v', '-', kNothing, Wire("r/3 -/2 r/3"), Fixed({{"WakeUpDelay", "060"}}), {}},
        {"su1000", 'w', '-', kNothing, Wire("E/3 -/2 E/3"), Fixed({{"SelfTest", "168"}}), {}},
        {"su1000",
         'x',
         '-',
         kNothing,
         Wire("s/1 -/1 s/1"),
         Fixed({{"Sensitivity", " Medium"}}),
         {}},
        {"su1000",
         'y',
         '-',
         kNothing,
         Wire("k/1 -/1 k/1"),
         Fixed({{"AlarmDelay", "30 Seconds"}}),
         {}},

        // ---- Constant walks: two steps up from where the unit stands ----
        ConstantUp("su1000-3g-ctrld", '!', "ConstCTRLD", "^D/2", "+/2", &APCUPS::constCtrlDText),
        ConstantUp("sc1000", '@', "Const_3", "#/2", "+/2", &APCUPS::constHashText),
        ConstantUp("su1000-3g", 'U', "Const_4", "$/2", "+/2", &APCUPS::constDollarText),
        ConstantUp("su1000-3g", 'Z', "Const_5", "%/2", "+/2", &APCUPS::constPercentText),
        ConstantUp("su1000-3g", 'V', "Const_6", "^/2", "+/2", &APCUPS::constCaretText),
        ConstantUp("su1000", 'l', "Const0", "0/2", "+/2", &APCUPS::const0Text),
        ConstantUp("su1000", 'm', "Const4", "4/2", "+/2", &APCUPS::const4Text),
        ConstantUp("su1000", 'n', "Const5", "5/2", "+/2", &APCUPS::const5Text),
        ConstantUp("su1000", 'o', "Const6", "6/2", "+/2", &APCUPS::const6Text),
        // A second-generation unit steps these with its own bytes, upwards.
        ConstantUp("gen2-v2", 'p', "Const02nd", "0/2", "4/2", &APCUPS::const0Text),
        ConstantUp("gen2-v2", 'q', "Const52nd", "5/2", "2/2", &APCUPS::const5Text),
        ConstantUp("gen2-v2", 'r', "Const62nd", "6/2", "3/2", &APCUPS::const6Text),

        // ---- Meter walks ----
        // 23.5 % of 700 W is 164.5 W: up to 175 W, one step past it and back.
        {"su1000",
         'H',
         '-',
         Fixed({{"LoadSmartConst", "175"}}),
         Wire(Repeat("P/5 +/5 P/5", 4) + " P/5 -/5 P/5 " + kFlash),
         Fixed({{"LoadSmartConst", ""}, {"LoadPercent", "025.0"}, {"LoadW", "175"}}),
         {{"LoadBar", 25}}},
        {"gen2-v2",
         'I',
         '-',
         Fixed({{"LoadSmart2nd", "190"}}),
         Wire("b/2 P/5 b/2 P/5 " + kFlash),
         Fixed({{"LoadSmart2nd", ""}, {"LoadPercent2nd", "022.5"}, {"LoadW2nd", "196"}}),
         {{"Load2ndBar", 22}}},
        // The bar keeps the last step shown during the walk; the final display is the text.
        {"su1000",
         'J',
         '-',
         Fixed({{"InputVoltageConstantSmart", "228"}}),
         Wire("L/5 -/5 L/5 L/5 -/5 L/5 L/5 +/5 L/5 " + kFlash),
         Fixed({{"InputVoltageConstantSmart", ""}, {"InputVoltage", "229.0"}}),
         {{"InputVoltageBar", 228}}},
        {"gen2-v2",
         'K',
         '-',
         Fixed({{"InputVoltageConstantSmart2nd", "226"}}),
         Wire("a/2 L/5 a/2 L/5 " + kFlash),
         Fixed({{"InputVoltageConstantSmart2nd", ""}, {"InputVoltage2nd", "228.0"}}),
         {{"InputVoltage2ndBar", 229}}},
        {"backpro",
         'L',
         '-',
         Fixed({{"InputVoltageConstantBP", "232"}}),
         Wire(Repeat("L/5 +/5 L/5", 3) + " L/5 -/5 L/5 " + kFlash),
         Fixed({{"InputVoltageConstantBP", ""}, {"InputVoltageBackPro", "232.0"}}),
         {{"InputVoltageBackProBar", 233}}},
        // The reading is asked for after every step that is not the last.
        {"gen2-v2",
         's',
         '-',
         Fixed({{"BatSmart2nd", "26.50"}}),
         Wire(Repeat("d/2 B/5 B/5", 3) + " d/2 B/5 " + kFlash),
         Fixed({{"BatSmart2nd", ""}, {"BatteryVoltage2nd", "26.70"}}),
         {}},

        // ---- Model code ----
        // Each "H" answers the unit's code and moves it on; this unit stands at F5.
        {"gen2-v2",
         't',
         '-',
         Fixed({{"ModelConst", "F7"}}),
         Wire(Repeat("H/2", 3) + " " + kFlash),
         Fixed({{"ModelConst", "F7"}}),
         {}},
        {"su1000",
         'Q',
         '-',
         Fixed({{"ModelConst", "16"}}),
         Wire("b/8 +/2 ^A/22 b/8 g/3 " + kFlash + " " + kTransfer),
         Fixed({{"ModelConst", "16"},
                {"Model", "SMART-UPS 420"},
                {"Firmware", "21.7.I"},
                {"BatSysVolt", "024"},
                {"UpTransferVoltage", "253"},
                {"LowTransferVoltage", "208"},
                {"OutputVoltageConstant", "230"}}),
         {}},

        // ---- Identity texts ----
        {"su1000",
         'h',
         '-',
         Fixed({{"ManufactureDate", "01/02/05"}}),
         Wire("m/8 -/1 0/2 1/2 //2 0/2 2/2 //2 0/2 5/2 ~1000 m/8 " + kLateFlash),
         Fixed({{"ManufactureDate", "01/02/05"}}),
         {}},
        {"su1000",
         'i',
         '-',
         Fixed({{"BatteriesReplaseDate", "03/04/06"}}),
         Wire("x/8 -/1 0/2 3/2 //2 0/2 4/2 //2 0/2 6/2 ~4000 x/8 " + kLateFlash),
         Fixed({{"BatteriesReplaseDate", "03/04/06"}}),
         {}},
        {"su1000",
         'j',
         '-',
         Fixed({{"ID", "BENCH"}}),
         Wire("c/8 -/1 B/2 E/2 N/2 C/2 H/2 SP/2 SP/2 SP/2 c/8 " + kLateFlash + " c/8"),
         Fixed({{"ID", "BENCH   "}}),
         {}},
        {"su1000",
         'k',
         '-',
         Fixed({{"SerialNumber", "QA1234"}}),
         Wire("n/14 -/1 Q/2 A/2 1/2 2/2 3/2 4/2 " + Repeat("SP/2", 8) + " ~1000 n/14 " +
              kLateFlash),
         Fixed({{"SerialNumber", "QA1234        "}}),
         {}},
        {"su1000-3g",
         'O',
         '-',
         Fixed({{"SU36G", "777"}}),
         Wire("b/8 -/1 7/2 7/2 7/2 ~1500 b/8 " + kTone),
         Fixed({{"SU36G", "777"}}),
         {}},

        // ---- Commands ----
        {"su1000",
         'N',
         'z',
         kNothing,
         Wire("z/5 ~1500 l/3 u/3 o/3 E/3 p/3 r/3 k/1 e/2 s/1 q/2 " + kTone),
         Fixed({{"UpTransferVoltage", "253"},
                {"LowTransferVoltage", "208"},
                {"OutputVoltageConstant", "230"},
                {"SelfTest", "336"},
                {"ShutDownDelay", "020"},
                {"WakeUpDelay", "000"},
                {"Sensitivity", " High "},
                {"AlarmDelay", " 5 Seconds"},
                {"Threshold", "00"},
                {"LowBatWarning", "02"}}),
         {}},
        {"surt1000xl", 'P', '-', kNothing, Wire("W/3"), kNothing, {}},
        {"surt1000xl", 'z', '-', kNothing, Wire("A/2"), kNothing, {}},
        {"surt1000xl", '~', '-', kNothing, Wire("^/3"), kNothing, {}},

        // ---- EEPROM page: one round from the unit's address, the dialog, the comparison ----
        {"su1000",
         'W',
         '-',
         kNothing,
         Wire("#/2 " + Repeat("+/2", 255)),
         kNothing,
         {{"ProgressBar1", 255}}},
        {"su1000", 'X', '-', kNothing, Wire(""), kNothing, {}},
        {"su1000", 'Y', '-', kNothing, Wire(""), kNothing, {}},
    };
}

// The third-generation unit with a Ctrl-D constant as well (it answers "NA" to it otherwise).
void WithCtrlD(sim::Profile& p) {
    p.constants.push_back({cmd::CtrlD, 0x41});
}

TEST(RequestRows, EveryCodeOnTheLineAndInTheWindow) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(std::string(row.profile) + " " + row.code + row.argument);
        const std::string profile = row.profile;
        const bool ctrlD = profile == "su1000-3g-ctrld";
        WireRig rig(ctrlD ? "su1000-3g" : profile, ctrlD ? WithCtrlD : nullptr);
        TForm1& form = rig.form();
        form.runSaveDialog = [] { return QString(); };
        Fields typed;
        std::string wire;
        Fields shown;
        const std::string got = rig.statusPass(
            {{row.code, row.argument}},
            [&] {
                std::set<std::string> changed;
                for (QLineEdit* entry : Entries(form)) {
                    const std::string name = entry->objectName().toStdString();
                    const auto t = typed.find(name);
                    if (entry->text() !=
                        (t == typed.end() ? kMark : QString::fromStdString(t->second)))
                        changed.insert(name);
                }
                std::set<std::string> expected;
                for (const auto& [name, text] : shown) {
                    EXPECT_EQ(form.control<QLineEdit>(name.c_str())->text().toStdString(), text)
                        << name;
                    const auto t = typed.find(name);
                    if (t == typed.end() || t->second != text)
                        expected.insert(name);
                }
                EXPECT_EQ(changed, expected);
                for (QProgressBar* bar : form.findChildren<QProgressBar*>()) {
                    const std::string name = bar->objectName().toStdString();
                    const auto b = row.bars.find(name);
                    EXPECT_EQ(bar->value(), b == row.bars.end() ? kBarMark : b->second) << name;
                }
            },
            [&] {
                // What the unit holds now decides the targets and what they lead to.
                typed = row.typed(*form.ups);
                wire = row.wire(*form.ups);
                shown = row.shown(*form.ups);
                for (QLineEdit* entry : Entries(form))
                    entry->setText(kMark);
                for (const auto& [name, text] : typed)
                    form.control<QLineEdit>(name.c_str())->setText(QString::fromStdString(text));
                for (QProgressBar* bar : form.findChildren<QProgressBar*>())
                    bar->setValue(kBarMark);
            });
        EXPECT_EQ(got, wire);
    }
}

// "Q" on the kinds of unit that select and step their model code differently.
TEST(RequestRows, ModelCodeWalkPerKindOfUnit) {
    struct WalkRow {
        const char* profile;
        std::string typed;
        std::string wire;
        std::string model;
    };
    const WalkRow rows[] = {
        // Selected with "H", which answers the code and moves it on (it stands at F5); the
        // name and firmware come from "V".
        {"gen2-v2", "F7", "H/2 H/2 H/2 V/3 V/3 g/3 " + kFlash + " u/3 l/3 o/3", "Smart-UPS 1250I"},
        // A Back-UPS Pro takes the whole firmware reply before each step, and has no transfer
        // voltages to read again.
        {"backpro", "26", "b/8 b/8 +/2 ^A/22 b/8 g/3 " + kFlash, "Back-UPS Pro 500"},
    };
    for (const WalkRow& row : rows) {
        SCOPED_TRACE(row.profile);
        WireRig rig(row.profile);
        Ui::TForm1& ui = rig.ui();
        EXPECT_EQ(rig.statusPass(
                      {{'Q', '-'}},
                      [&] {
                          EXPECT_EQ(ui.ModelConst->text().toStdString(), row.typed);
                          EXPECT_EQ(ui.Model->text().toStdString(), row.model);
                      },
                      [&] { ui.ModelConst->setText(QString::fromStdString(row.typed)); }),
                  row.wire);
    }
}

// The codes the dispatch table knows: exactly the 62 the window's controls post, each with a
// row above, and the restore of saved settings.
TEST(RequestRows, TheDispatchTableHoldsExactlyTheSixtyTwoCodesAndTheRestore) {
    std::set<char> expected = {'!', '@', '~'};
    for (char c = '1'; c <= '9'; ++c)
        expected.insert(c);
    for (char c = 'A'; c <= 'Z'; ++c)
        if (c != 'T')
            expected.insert(c);
    for (char c = 'a'; c <= 'z'; ++c)
        if (c != 'e')
            expected.insert(c);
    ASSERT_EQ(expected.size(), 62u);

    EngineBench bench("su1000");
    TForm1& form = bench.form();
    APCDynamicData thread(
        {form, form, *form.ups, *form.requestQueue, *form.tone, *form.journalFeed});  // not started
    RequestHandler& handler = thread.requests();
    std::set<char> known, named;
    for (int c = 0; c < 256; ++c) {
        if (handler.Knows(Request(static_cast<char>(c))))
            known.insert(static_cast<char>(c));
        if (InfoOf(Request(static_cast<char>(c))) != nullptr)
            named.insert(static_cast<char>(c));
    }
    EXPECT_EQ(named, known) << "every request the table names is carried out, and no other";
    std::set<char> withRestore = expected;
    withRestore.insert(static_cast<char>(Request::RestoreSettings));
    // The battery page's calibration start and abort.
    withRestore.insert('{');
    withRestore.insert('}');
    // The guided battery service's readings before and after, and a step left out.
    for (const char c : {'(', ')', '['})
        withRestore.insert(c);
    EXPECT_EQ(withRestore.size(), 68u);
    EXPECT_EQ(known, withRestore);

    std::set<char> rows;
    for (const Row& row : Rows())
        rows.insert(row.code);
    EXPECT_EQ(rows, expected);
}

}  // namespace
}  // namespace morlen::test
