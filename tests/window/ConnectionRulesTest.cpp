// What the connection step decides from identification alone: the battery constant a unit
// should hold and the model code a second-generation unit is walked to.
#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace morlen
