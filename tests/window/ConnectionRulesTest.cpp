// What the connection step decides from identification alone: the battery constant a unit
// should hold and the model code a second-generation unit is walked to.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Apcups.h"
#include "Connection.h"
#include "SimLine.h"

namespace morlen {
namespace {

struct Kind {
    float rating;
    bool stack = false, hl8 = false, xl = false, third = false, hash = false, a = false, b = false;
    const char* firmwareHead = "";
};

int constantFor(const Kind& k) {
    VirtualClock clock;
    APCUPS ups(std::make_unique<sim::SimLine>(clock), clock);
    ups.ratingVA = k.rating;
    ups.isStack = k.stack;
    ups.hasHL8Marker = k.hl8;
    ups.isXL = k.xl;
    ups.isThirdGen = k.third;
    ups.usesConstHash = k.hash;
    ups.s411FlagA = k.a;
    ups.s411FlagB = k.b;
    ups.firmwareHead = k.firmwareHead;
    return BatteryConstantValue(ups);
}

TEST(BatteryConstant, RatingAndKindPickTheValue) {
    struct Row {
        const char* name;
        Kind kind;
        int value;
    };
    const Row rows[] = {
        {"plain 1000", {1000}, 0xA0},
        {"1000 XL", {1000, false, false, true}, 0x9A},
        {"1000 XL third generation", {1000, false, false, true, true}, 0x7F},
        {"1000 third generation", {1000, false, false, false, true}, 0xBC},
        {"1000 SC line", {1000, false, false, false, true, true}, 0xBC},
        {"1000 online", {1000, false, false, false, true, false, true, true}, 0xA8},
        {"1250 keeps a0", {1250}, 0xA0},
        {"450", {450}, 150},
        {"700", {700}, 150},
        {"1400", {1400}, 154},
        {"750", {750}, 130},
        {"750 XL third generation", {750, false, false, true, true}, 134},
        {"1500", {1500}, 161},
        {"1500 SC line", {1500, false, false, false, true, true}, 143},
        {"2000 online XL", {2000, false, false, true, true, false, true, true}, 117},
        {"2000 online", {2000, false, false, false, true, false, false, true}, 160},
        {"3000 online XL", {3000, false, false, true, false, false, false, true}, 204},
        {"3000 online", {3000, false, false, false, false, false, false, true}, 175},
        {"3000 plain keeps a0", {3000}, 0xA0},
        {"5000", {5000}, 145},
        {"5000 online XL", {5000, false, false, true, false, false, false, true}, 134},
        {"5000 online keeps a0", {5000, false, false, false, false, false, false, true}, 0xA0},
        {"6000 online XL", {6000, false, false, true, false, false, false, true}, 126},
        {"7500 online XL", {7500, false, false, true, false, false, false, true}, 149},
        {"2200 firmware 665", {2200, false, false, false, true, false, false, false, "665"}, 129},
        {"2200 firmware 654", {2200, false, false, false, true, false, false, false, "654"}, 179},
        {"2200 other firmware",
         {2200, false, false, false, true, false, false, false, "690"},
         0xA0},
        {"2200 older", {2200}, 175},
        {"620", {620}, 138},
        {"620 SC line", {620, false, false, false, false, true}, 153},
        {"280", {280}, 140},
        {"420", {420}, 140},
        {"650", {650}, 145},
        {"stack 450", {450, true}, 153},
        {"stack 250", {250, true}, 178},
        {"stack 1000 keeps a0", {1000, true, false, true}, 0xA0},
        {"HL8 700", {700, false, true}, 146},
        {"HL8 1000", {1000, false, true, true}, 199},
        {"HL8 1400", {1400, false, true}, 163},
        {"HL8 450 keeps a0", {450, false, true}, 0xA0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(constantFor(row.kind), row.value) << row.name;
}

TEST(NextModelCode, TwoLowerCaseDigitsAlways) {
    struct Row {
        const char* code;
        bool ok;
        const char* next;
    };
    for (const Row& row :
         {Row{"A1", true, "a2"}, Row{"a1", true, "a2"}, Row{"0A", true, "0b"},
          Row{"FF", true, "00"}, Row{"00", true, "01"}, Row{"9F", true, "a0"}, Row{"NA", false, ""},
          Row{"G1", false, ""}, Row{"A", false, ""}, Row{"", false, ""}, Row{" 1", false, ""}}) {
        char out[3] = {};
        EXPECT_EQ(NextModelCode(row.code, out), row.ok) << row.code;
        EXPECT_STREQ(out, row.next) << row.code;
    }
}

// A unit whose interval runs through `cycle` (it starts on the first value), one value a
// "-"; after `answered` steps it answers nothing more.
struct SwitchOffRow {
    const char* name;
    std::vector<std::string> cycle;
    int answered;  // -1: always
    int steps;
    SelfTestSwitchOff::End end;
    std::string text;
};

// "336", then "001" up to `count` - 1 numbered values, then `last` values named as given.
std::vector<std::string> Cycle(int count, std::vector<std::string> last = {}) {
    std::vector<std::string> values = {"336"};
    for (int i = 1; i < count; ++i) {
        const std::string v = std::to_string(i);
        values.push_back(std::string(v.size() < 3 ? 3 - v.size() : 0, '0') + v);
    }
    values.insert(values.end(), last.begin(), last.end());
    return values;
}

TEST(SelfTestSwitchOff, StepsToOffOrBackToWhereItWasAndSaysHow) {
    using End = SelfTestSwitchOff::End;
    const std::string no = "Self test could not be switched off";
    const std::string unreported = no + ": the UPS does not report its self-test interval.";
    const std::string setBack = no + " within 8 steps. Its interval is 336 as before.";
    const SwitchOffRow rows[] = {
        {"already off", {"OFF", "336"}, -1, 0, End::AlreadyOff, ""},
        {"no interval", {""}, -1, 0, End::NoAnswer, unreported},
        {"no such setting", {"NA"}, -1, 0, End::NoAnswer, unreported},
        {"off at the first step", {"336", "OFF"}, -1, 1, End::SwitchedOff, ""},
        {"off at the eighth step", Cycle(8, {"OFF"}), -1, 8, End::SwitchedOff, ""},
        // Stepped on past it: the bound decides, not the luck of the ninth step.
        {"off at the ninth step", Cycle(9, {"OFF"}), -1, 10, End::SetBack, setBack},
        {"round of eight", Cycle(8), -1, 8, End::CameRound,
         no + ": the UPS offers no \"OFF\". Its interval is 336 as before."},
        {"back at the sixteenth step", Cycle(16), -1, 16, End::SetBack, setBack},
        {"not back at the sixteenth step", Cycle(17), -1, 16, End::LeftMoved,
         no + " within 8 steps, nor set back: its interval is 016, it was 336."},
        {"silent after the first step",
         {"336", "168", "OFF"},
         1,
         2,
         End::NoAnswer,
         no + ": the UPS stopped answering after 2 steps."},
    };
    for (const SwitchOffRow& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        std::size_t at = 0;
        int minus = 0;
        auto line = std::make_unique<sim::SimLine>(
            clock, [&](std::uint8_t byte, Micros received, sim::SimLine& l) {
                if (byte == '-')
                    ++minus;
                if (row.answered >= 0 && minus > row.answered)
                    return;  // silent from this step on
                if (byte == '-') {
                    at = (at + 1) % row.cycle.size();
                    l.send("OK\r\n", received + Millis(40));
                } else if (byte == 'E' && !row.cycle[at].empty()) {
                    l.send(row.cycle[at] + "\r\n", received + Millis(40));
                }
            });
        sim::SimLine& wire = *line;
        APCUPS ups(std::move(line), clock);
        ASSERT_TRUE(ups.OpenPort("COM1"));
        ups.selfTestIntervalText = row.cycle[0].c_str();
        const SelfTestSwitchOff off = SwitchSelfTestOff(ups);
        std::string expected;
        for (int i = 0; i < row.steps; ++i)
            expected += "E-E";
        EXPECT_EQ(wire.written(), expected);
        EXPECT_EQ(off.steps, row.steps);
        EXPECT_EQ(off.end, row.end);
        EXPECT_EQ(off.before, row.cycle[0]);
        EXPECT_EQ(SelfTestSwitchOffText(off, ups.selfTestIntervalText.str()), row.text);
    }
}

}  // namespace
}  // namespace morlen
