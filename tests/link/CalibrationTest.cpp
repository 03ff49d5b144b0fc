// Calibration constants, meters and the model code: single steps, tuning walks and their
// bounds, exact on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "ScriptedUnit.h"
#include "Walk.h"

namespace morlen::test {
namespace {

std::string hex2(int v) {
    char t[4];
    std::snprintf(t, sizeof t, "%02X", v & 0xFF);
    return t;
}

// A unit with one constant on "0" that "+" and "-" move by one, and, on second-generation
// units, the step byte "4" that moves it the unit's own way.
struct ConstantUnit {
    ScriptedUnit unit;
    int value;
    char previous = 0;
    explicit ConstantUnit(int start, int lowest = 0, int highest = 255) : value(start) {
        unit.setHandler([this, lowest, highest](char c) -> std::optional<std::string> {
            std::optional<std::string> reply;
            if (c == '0')
                reply = hex2(value);
            if ((c == '+' || c == '-') && previous != 0) {
                value += c == '+' ? 1 : -1;
                if (value > highest)
                    value = lowest;  // the unit wraps within its range
                if (value < lowest)
                    value = highest;
                reply = hex2(value);
            }
            if (c == '4')
                reply = hex2(--value);
            previous = (c == '0' || c == '+' || c == '-') ? '0' : 0;
            return reply;
        });
    }
};

TEST(Constants, EachReadSendsItsCommandWithTwoCharacters) {
    ScriptedUnit unit;
    unit.ups().ReadConst0();
    unit.ups().ReadConst4();
    unit.ups().ReadConst5();
    unit.ups().ReadConst6();
    unit.ups().ReadConstHash();
    unit.ups().ReadConstDollar();
    unit.ups().ReadConstPercent();
    unit.ups().ReadConstCaret();
    unit.ups().ReadConstCtrlD();
    EXPECT_EQ(unit.takeWritten(), std::string("0456#$%^") + cmd::CtrlD);
    EXPECT_EQ(unit.clock().now(), Millis(9 * 148));
}

// Read, then selected as a walk selects it before its steps.
void SelectConst0(APCUPS& ups) {
    ups.ReadConst0();
    ups.Select('0', 2, ValueForm::HexByte, "constant 0");
}

TEST(Constants, OneStepUpReachesTheNextValue) {
    ConstantUnit u(0x7F);
    SelectConst0(u.unit.ups());
    u.unit.takeWritten();
    EXPECT_TRUE(u.unit.ups().TuneConst0("80"));
    EXPECT_EQ(u.unit.takeWritten(), "+");
}

TEST(Constants, AnEqualConstantStepsUpOnceAndBack) {
    ConstantUnit u(0x80);
    SelectConst0(u.unit.ups());
    u.unit.takeWritten();
    EXPECT_FALSE(u.unit.ups().TuneConst0("80"));
    EXPECT_TRUE(u.unit.ups().TuneConst0("80"));
    EXPECT_EQ(u.unit.takeWritten(), "+-");
    EXPECT_EQ(u.value, 0x80);
}

TEST(Constants, WalkDownToATargetThroughTheCallersLoop) {
    ConstantUnit u(0xA5);
    APCUPS& ups = u.unit.ups();
    SelectConst0(ups);
    const WalkResult r = RunWalk(
        kConstantWalkBound, [&] { return ups.TuneConst0("A0"); },
        [&] { return ups.const0Text.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Reached);
    EXPECT_EQ(r.steps, 5);
    EXPECT_EQ(u.value, 0xA0);
}

TEST(Constants, UnreachableTargetStopsAtTheBound) {
    ConstantUnit u(0x90, 0x80, 0x9F);  // the unit only accepts 80..9F
    APCUPS& ups = u.unit.ups();
    SelectConst0(ups);
    const WalkResult r = RunWalk(
        kConstantWalkBound, [&] { return ups.TuneConst0("C0"); },
        [&] { return ups.const0Text.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Bound);
    EXPECT_EQ(r.steps, kConstantWalkBound);
}

TEST(Walks, AValueThatStopsMovingEndsTheWalk) {
    // A unit at an end stop, or one that ignores the step, answers the same value: sixteen
    // steps without progress end the walk instead of the full bound, also while a meter's
    // reading wanders about where it stands.
    struct Row {
        const char* what;
        std::function<void(ScriptedUnit&)> script;
        std::function<bool(APCUPS&)> step;
        std::function<WalkProgress(APCUPS&)> progress;
        WalkEnd end;
        int steps;
    };
    // Every read of "L" a little off 205 V, as the mains move it, while the steps do nothing.
    const auto wandering = [](ScriptedUnit& u) {
        u.setHandler([n = 0](char c) mutable -> std::optional<std::string> {
            static const char* const kReadings[] = {"205.0", "205.8", "204.3", "205.6", "204.2"};
            if (c == 'L' || c == '+' || c == '-')
                return std::string(kReadings[n++ % 5]);
            return std::nullopt;
        });
    };
    const auto input = [](APCUPS& ups, double target) {
        return ComesCloser([&ups, target] { return std::fabs(ups.inputVoltage - target); },
                           kInputWander);
    };
    int value = 0x90;
    const Row rows[] = {
        {"constant held at 9F",
         [&](ScriptedUnit& u) {
             u.setHandler([&](char c) -> std::optional<std::string> {
                 if (c == '+')
                     value = std::min(value + 1, 0x9F);
                 if (c == '+' || c == '-' || c == '0')
                     return hex2(value);
                 return std::nullopt;
             });
         },
         [](APCUPS& ups) { return ups.TuneConst0("C0"); },
         [](APCUPS& ups) { return ValueChanges([&ups] { return ups.const0Text.str(); }); },
         WalkEnd::Still, 15 + kStillWalkBound},
        {"load on a unit without rating",
         [](ScriptedUnit& u) { u.on('P', "050.0").on('+', "050.5"); },
         [](APCUPS& ups) { return ups.TuneLoad("300"); },
         [](APCUPS& ups) {
             return ComesCloser([&ups] { return std::fabs(ups.loadWatts - 300.0); },
                                kLoadWander * ups.wattsPerPercent);
         },
         WalkEnd::Still, kStillWalkBound},
        {"input voltage the unit ignores",
         [](ScriptedUnit& u) { u.on('L', "228.0").on('+', "228.0"); },
         [](APCUPS& ups) { return ups.TuneInputVoltage("235"); },
         [&](APCUPS& ups) { return input(ups, 235); }, WalkEnd::Still, kStillWalkBound},
        {"input at its end stop, its reading wandering", wandering,
         [](APCUPS& ups) { return ups.TuneInputVoltage("100"); },
         [&](APCUPS& ups) { return input(ups, 100); }, WalkEnd::Still, kStillWalkBound},
        {"a value that keeps moving runs to the bound",
         [](ScriptedUnit& u) {
             u.setHandler([n = 0](char c) mutable -> std::optional<std::string> {
                 if (c == '+' || c == '-' || c == '0')
                     return hex2(n++ % 0x40);
                 return std::nullopt;
             });
         },
         [](APCUPS& ups) { return ups.TuneConst0("C0"); },
         [](APCUPS& ups) { return ValueChanges([&ups] { return ups.const0Text.str(); }); },
         WalkEnd::Bound, kConstantWalkBound},
    };
    for (const Row& row : rows) {
        value = 0x90;
        ScriptedUnit unit;
        row.script(unit);
        APCUPS& ups = unit.ups();
        ups.ReadLoad();
        ups.ReadInputVoltage();
        SelectConst0(ups);  // the meters select theirs at every step
        const WalkResult r = RunWalk(
            kConstantWalkBound, [&] { return row.step(ups); }, [] { return false; }, nullptr,
            row.progress(ups));
        EXPECT_EQ(r.end, row.end) << row.what;
        EXPECT_EQ(r.steps, row.steps) << row.what;
    }
}

TEST(Walks, TheBoundsAndTheStillCountHoldAtTheirEdges) {
    // A walk that arrives on its last allowed step arrives; one more would be one too many.
    // Sixteen steps in a row without progress end a walk; after fifteen it goes on.
    struct Row {
        const char* what;
        int bound;
        int arrivesAt;  // the step that says the walk is over
        int stillFor;   // the first steps make no progress
        WalkEnd end;
        int steps;
        int stopAt = 0;  // the step during which the close asks the walk to stop
    };
    const Row rows[] = {
        {"constant arriving on step 258", kConstantWalkBound, 258, 0, WalkEnd::Reached, 258},
        {"constant one step short", kConstantWalkBound, 259, 0, WalkEnd::Bound, 258},
        {"model code arriving on step 258", kModelCodeWalkBound, 258, 0, WalkEnd::Reached, 258},
        {"model code one step short", kModelCodeWalkBound, 259, 0, WalkEnd::Bound, 258},
        {"meter arriving on step 512", kMeterWalkBound, 512, 0, WalkEnd::Reached, 512},
        {"meter one step short", kMeterWalkBound, 513, 0, WalkEnd::Bound, 512},
        {"still for 15 steps, then moving on", kMeterWalkBound, 30, 15, WalkEnd::Reached, 30},
        {"still for 16 steps", kMeterWalkBound, 30, 16, WalkEnd::Still, 16},
        // The window closing asks the walk to stop: no step after the one under way.
        {"close asked during step 1", kMeterWalkBound, 513, 0, WalkEnd::Stopped, 1, 1},
        {"close asked during step 5", kMeterWalkBound, 513, 0, WalkEnd::Stopped, 5, 5},
        {"close asked during the arriving step", kMeterWalkBound, 5, 0, WalkEnd::Reached, 5, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        int step = 0;
        const WalkResult r = RunWalk(
            row.bound, [&] { return ++step == row.arrivesAt; }, [] { return false; }, nullptr,
            [&] { return step > row.stillFor; },
            [&] { return row.stopAt != 0 && step >= row.stopAt; });
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(r.steps, row.steps);
    }
}

TEST(Constants, SilentUnitEndsTheWalkOnTheEmptyReply) {
    ScriptedUnit unit;
    unit.on('0', "7F");
    APCUPS& ups = unit.ups();
    ups.ReadConst0();
    const WalkResult r = RunWalk(
        kConstantWalkBound, [&] { return ups.TuneConst0("90"); },
        [&] { return ups.const0Text.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::NoAnswer);
    EXPECT_EQ(r.steps, 1);
}

TEST(Constants, SecondGenerationUsesItsStepBytes) {
    struct Row {
        bool (APCUPS::*tune)(const char*);
        char select, expected;
    };
    for (const Row& row :
         {Row{&APCUPS::TuneConst0, '0', '4'}, Row{&APCUPS::TuneConst5, '5', '2'},
          Row{&APCUPS::TuneConst6, '6', '3'}, Row{&APCUPS::TuneConst4, '4', '+'}}) {
        ScriptedUnit unit;
        unit.on(row.select, "80");
        unit.ups().family = FamilySmart2ndGen;
        unit.ups().Select(row.select, 2, ValueForm::HexByte, "a constant");
        (unit.ups().*row.tune)("FF");
        EXPECT_EQ(unit.takeWritten(), (std::string{row.select, row.expected}));
    }
}

// A unit whose input-voltage meter moves `step` volts per "+"/"-" after "L" (or per "a" on a
// second-generation unit, always downward).
struct MeterUnit {
    ScriptedUnit unit;
    double volts;
    double step;
    char previous = 0;
    MeterUnit(double start, double stepVolts) : volts(start), step(stepVolts) {
        unit.setHandler([this](char c) -> std::optional<std::string> {
            std::optional<std::string> reply;
            char t[16];
            if ((c == '+' || c == '-') && previous == 'L')
                volts += c == '+' ? step : -step;
            if (c == 'a')
                volts -= step;
            if (c == 'L' || ((c == '+' || c == '-') && previous == 'L') || c == 'a') {
                std::snprintf(t, sizeof t, "%05.1f", volts);
                reply = t;
            }
            previous = c;
            return reply;
        });
    }
};

TEST(Meters, InputWalkCrossesTheTargetThenStepsBackOnce) {
    MeterUnit m(228.0, 1.0);
    APCUPS& ups = m.unit.ups();
    ups.ReadInputVoltage();
    m.unit.takeWritten();
    int calls = 0;
    while (!ups.TuneInputVoltage("230") && ++calls < 20) {
    }
    EXPECT_EQ(m.unit.takeWritten(), "L+LL+LL+LL-L");
    EXPECT_DOUBLE_EQ(m.volts, 230.0);
    EXPECT_TRUE(ups.steppedUp);
}

TEST(Meters, DownwardWalkEndsWithOneStepBackUp) {
    MeterUnit m(233.0, 1.0);
    APCUPS& ups = m.unit.ups();
    ups.ReadInputVoltage();
    m.unit.takeWritten();
    int calls = 0;
    while (!ups.TuneInputVoltage("231") && ++calls < 20) {
    }
    // 233 -> 232 -> 231; at the target the walk turns, makes that step and ends.
    EXPECT_EQ(m.unit.takeWritten(), "L-LL-LL+L");
    EXPECT_DOUBLE_EQ(m.volts, 232.0);
}

TEST(Meters, AJumpOfMoreThanThirtyEndsTheWalkAsAJumpAndSendsNothingMore) {
    // A reading that moves more than 30 in one step is no arrival (an unanswered "L" reads as
    // 0 V; the mains dip). The step that saw it is the last: nothing more is sent on its
    // strength. 30 itself is still a step.
    struct Row {
        const char* what;
        double start, step;
        const char* target;
        std::int16_t family;
        bool jumped;
        std::string wire;
    };
    const Row rows[] = {
        {"up 30", 150.0, 30.0, "230", FamilySmart, false, "L+L"},
        {"up 31", 150.0, 31.0, "230", FamilySmart, true, "L+L"},
        {"up 31 past the target", 200.0, 31.0, "220", FamilySmart, true, "L+L"},
        {"down 30", 250.0, 30.0, "200", FamilySmart, false, "L-L"},
        {"down 31", 250.0, 31.0, "200", FamilySmart, true, "L-L"},
        // A second-generation meter wraps to the top of its range on its way down.
        {"second generation wrapping up past the target", 200.0, -31.0, "210", FamilySmart2ndGen,
         false, "aL"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MeterUnit m(row.start, row.step);
        APCUPS& ups = m.unit.ups();
        ups.family = row.family;
        ups.ReadInputVoltage();
        m.unit.takeWritten();
        EXPECT_EQ(ups.TuneInputVoltage(row.target), row.jumped);
        EXPECT_EQ(ups.tuneJumped, row.jumped);
        EXPECT_EQ(m.unit.takeWritten(), row.wire);
    }
}

TEST(Meters, SecondGenerationInputStepsUntilJustAboveTheTarget) {
    MeterUnit m(240.0, 1.0);
    APCUPS& ups = m.unit.ups();
    ups.family = FamilySmart2ndGen;
    ups.ReadInputVoltage();
    m.unit.takeWritten();
    int calls = 0;
    while (!ups.TuneInputVoltage("230") && ++calls < 50) {
    }
    EXPECT_DOUBLE_EQ(m.volts, 232.0) << "first reading above the target by less than 3 V";
    EXPECT_EQ(m.unit.takeWritten(), "aLaLaLaLaLaLaLaL");
}

TEST(Meters, LoadWalkOnAUnitWithoutRatingStopsAtTheBound) {
    ScriptedUnit unit;
    unit.on('P', "050.0").on('+', "050.5");
    APCUPS& ups = unit.ups();  // no rating: watts stay 0
    ups.ReadLoad();
    const WalkResult r = RunWalk(
        kMeterWalkBound, [&] { return ups.TuneLoad("300"); },
        [&] { return ups.loadPercentText.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Bound);
    EXPECT_EQ(r.steps, kMeterWalkBound);
}

TEST(Meters, StepsSendTheirBytes) {
    ScriptedUnit unit;
    unit.on('L', "230.0").on('P', "023.5").on('B', "27.00");
    APCUPS& ups = unit.ups();
    ups.StepInputVoltage('+');
    ups.StepLoad('-');
    ups.StepBatteryVoltage('+');
    EXPECT_EQ(unit.takeWritten(), "L+LP-PB+B");
    ups.family = FamilySmart2ndGen;
    ups.StepInputVoltage2nd();
    ups.StepLoad2nd();
    ups.StepBatteryVoltage('+');
    EXPECT_EQ(unit.takeWritten(), "aLbPdB") << "the second generation sends no sign";
}

TEST(Meters, SecondGenerationBatteryWalk) {
    ScriptedUnit unit;
    double volts = 28.50;
    unit.setHandler([&](char c) -> std::optional<std::string> {
        char t[16];
        if (c == 'd') {
            volts -= 0.15;
            return std::string("OK");
        }
        if (c == 'B') {
            std::snprintf(t, sizeof t, "%05.2f", volts);
            return std::string(t);
        }
        return std::nullopt;
    });
    APCUPS& ups = unit.ups();
    ups.family = FamilySmart2ndGen;
    ups.ReadBatteryVoltage();
    int calls = 0;
    while (!ups.TuneBatteryVoltage2nd("27.62") && ++calls < 50) {
    }
    EXPECT_NEAR(volts, 27.90, 0.001) << "first reading less than 0.3 V above the target";
}

TEST(BackPro, StepsSelectTheirValueFirst) {
    ScriptedUnit unit;
    for (const char value : std::string("ew2vdc"))
        unit.on(value, "01.00");
    APCUPS& ups = unit.ups();
    ups.family = FamilyBackPro;
    ups.StepFloatVoltage('-');
    ups.StepRatio('+');
    ups.StepBbdVoltage('+');
    ups.StepEutVoltage('-');
    ups.StepDcOffset('+');
    ups.StepCapacitorLoad('-');
    EXPECT_EQ(unit.takeWritten(), "e-ew+w2+2v-vd+dc-c");
}

TEST(ModelCode, ReadPerKindOfUnit) {
    struct Row {
        std::int16_t family;
        bool thirdGen;
        std::string bytes;
    };
    for (const Row& row :
         {Row{FamilySmart, false, "b+-"}, Row{FamilyBackPro, false, "b+b-"},
          Row{FamilySmart, true, std::string(1, cmd::CtrlB)}, Row{FamilySmart2ndGen, false, "H"}}) {
        ScriptedUnit unit;
        unit.ups().family = row.family;
        unit.ups().isThirdGen = row.thirdGen;
        unit.on('+', "0C").on('-', "0B").on(cmd::CtrlB, "8A").on('H', "A1").on('b', "60.11.I");
        unit.ups().ReadModelCode();
        EXPECT_EQ(unit.takeWritten(), row.bytes);
    }
    ScriptedUnit unit;
    unit.on('+', "0C").on('-', "0B").on('b', "60.11.I");
    EXPECT_STREQ(unit.ups().ReadModelCode(), "0B");
    EXPECT_EQ(unit.ups().modelCodeText, "0B");
}

TEST(ModelCode, StepRereadsFirmwareAndModel) {
    ScriptedUnit unit;
    unit.on('+', "0C").on('b', "61.9.I").on(cmd::CtrlA, "SMART-UPS 1000XL").on(cmd::CtrlB, "0C");
    EXPECT_STREQ(unit.ups().StepModel('+'), "SMART-UPS 1000XL");
    EXPECT_EQ(unit.takeWritten(), std::string("b+b") + cmd::CtrlA);
    EXPECT_EQ(unit.ups().modelCodeText, "0C");
    EXPECT_EQ(unit.ups().firmwareText, "61.9.I");
    EXPECT_TRUE(unit.ups().isXL);
    unit.ups().usesCtrlB = true;
    unit.ups().StepModel('-');
    EXPECT_EQ(unit.takeWritten(), std::string(1, cmd::CtrlB) + "-b" + cmd::CtrlA);
}

TEST(ModelCode, UnitThatDoesNotMoveEndsTheWalk) {
    ScriptedUnit unit;
    unit.on('+', "0B").on('b', "60.11.I");
    unit.ups().modelCodeText = "0B";
    unit.ups().Select('b', 8, ValueForm::Firmware, "the model code");
    EXPECT_TRUE(unit.ups().TuneModelCode("2B"));
    EXPECT_EQ(unit.takeWritten(), "b+");
}

TEST(ModelCode, WalkUpToTheTarget) {
    ScriptedUnit unit;
    int code = 0x0B;
    unit.setHandler([&](char c) -> std::optional<std::string> {
        if (c == '+')
            return hex2(++code);
        if (c == '-')
            return hex2(--code);
        return c == 'b' ? std::optional<std::string>("60.11.I") : std::nullopt;
    });
    APCUPS& ups = unit.ups();
    ups.modelCodeText = "0B";
    ups.Select('b', 8, ValueForm::Firmware, "the model code");
    const WalkResult r = RunWalk(
        kModelCodeWalkBound, [&] { return ups.TuneModelCode("0E"); },
        [&] { return ups.modelCodeText.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Reached);
    EXPECT_EQ(code, 0x0E);
    EXPECT_EQ(unit.takeWritten(), "b+++");
}

TEST(ModelCode, SecondGenerationChecksTheCodeItReports) {
    ScriptedUnit unit;
    unit.sequence('H', {"A1", "A2"});
    unit.ups().family = FamilySmart2ndGen;
    EXPECT_FALSE(unit.ups().CheckModelCode2nd("A2"));
    EXPECT_TRUE(unit.ups().CheckModelCode2nd("A2"));
    EXPECT_EQ(unit.takeWritten(), "HH");
}

}  // namespace
}  // namespace morlen::test
