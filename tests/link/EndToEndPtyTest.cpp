// The UPS object against the simulated unit on a real pseudo-terminal, at line speed: a few
// whole sessions, as a technician runs them.
#include <gtest/gtest.h>

#include <string>

#include "Apcups.h"
#include "UpsSimProcess.h"
#include "Walk.h"

namespace morlen::test {
namespace {

struct Session {
    UpsSimProcess sim;
    APCUPS ups;
    explicit Session(const std::string& profile)
        : sim({"--profile", profile, "--latency", "10", "--no-drift"}) {}
    bool open() { return sim.started() && ups.OpenPort(sim.ptyPath()); }
};

TEST(EndToEnd, EachFamilyIsIdentifiedAndReadOverThePty) {
    struct Row {
        const char* profile;
        UpsFamily family;
    };
    for (const Row& row : {Row{"su1000", FamilySmart}, Row{"noserial", FamilySmartNoSerial},
                           Row{"backpro", FamilyBackPro}, Row{"backcs", FamilyBackCS},
                           Row{"gen2-v2", FamilySmart2ndGen}}) {
        Session s(row.profile);
        ASSERT_TRUE(s.open()) << s.sim.error();
        ASSERT_TRUE(s.ups.CheckSmartMode()) << row.profile;
        ASSERT_TRUE(s.ups.Identify()) << row.profile;
        EXPECT_EQ(s.ups.family, row.family) << row.profile;
        EXPECT_FALSE(s.ups.modelName.empty()) << row.profile;
        s.ups.ReadMeasurements();
        EXPECT_GT(s.ups.batteryVoltage, 10.0f) << row.profile;
        if (row.family != FamilyBackCS) {
            EXPECT_GT(s.ups.inputVoltage, 100.0f) << row.profile;
        }
        s.ups.ReadStatusRegisters();
        EXPECT_TRUE(s.ups.statusByte & 0x08) << row.profile << ": on line";
        EXPECT_TRUE(s.ups.CheckSmartMode());
        EXPECT_STREQ(s.ups.LeaveSmartMode(), "BYE");
        EXPECT_STREQ(s.ups.ReadInputVoltage(), "") << "silent after leaving smart mode";
        EXPECT_TRUE(s.ups.CheckSmartMode()) << "until asked back in";
    }
}

TEST(EndToEnd, CalibrationSession) {
    Session s("su1000");
    ASSERT_TRUE(s.open()) << s.sim.error();
    APCUPS& ups = s.ups;
    ASSERT_TRUE(ups.CheckSmartMode());
    ASSERT_TRUE(ups.Identify());
    ASSERT_EQ(ups.family, FamilySmart);

    // A setting moves to its next value and reads back as such.
    const std::string before = ups.lowTransferText.str();
    const std::string after = ups.StepLowTransfer();
    EXPECT_NE(after, before);
    EXPECT_EQ(std::string(ups.ReadLowTransfer()), after);

    // The UPS id is written character by character and reads back padded.
    EXPECT_STREQ(ups.WriteUpsId("BENCH7"), "BENCH7  ");

    // Constant "0" walked to a typed target, the way the poll thread's loop does it.
    ups.ReadConst0();
    const std::string start = ups.const0Text.str();
    const char* target = start == "A3" ? "A0" : "A3";
    ASSERT_TRUE(ups.Select('0', 2, ValueForm::HexByte, "constant 0"));
    WalkResult r = RunWalk(
        kConstantWalkBound, [&] { return ups.TuneConst0(target); },
        [&] { return ups.const0Text.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Reached);
    EXPECT_EQ(ups.const0Text.str(), target);
    EXPECT_EQ(std::string(ups.ReadConst0()), target) << "the unit keeps the new value";

    // The load meter walked to a wattage: the walk ends once it has crossed the target.
    ups.ReadLoad();
    const float watts = ups.loadWatts;
    const std::string wanted = std::to_string(static_cast<int>(watts) + 12);
    ups.steppedDown = ups.steppedUp = false;
    r = RunWalk(
        kMeterWalkBound, [&] { return ups.TuneLoad(wanted.c_str()); },
        [&] { return ups.loadPercentText.empty(); }, nullptr);
    EXPECT_EQ(r.end, WalkEnd::Reached);
    EXPECT_NEAR(ups.loadWatts, std::stof(wanted), ups.wattsPerPercent * 1.0f);
    EXPECT_GT(r.steps, 1);
}

TEST(EndToEnd, PulledCableEndsReadsWithEmptyTextsAndPlugBringsItBack) {
    Session s("su1000");
    ASSERT_TRUE(s.open()) << s.sim.error();
    ASSERT_TRUE(s.ups.CheckSmartMode());
    ASSERT_EQ(s.sim.command("unplug").rfind("ok", 0), 0u);
    EXPECT_FALSE(s.ups.CheckSmartMode());
    EXPECT_STREQ(s.ups.ReadInputVoltage(), "");
    ASSERT_EQ(s.sim.command("plug").rfind("ok", 0), 0u);
    EXPECT_TRUE(s.ups.CheckSmartMode());
}

}  // namespace
}  // namespace morlen::test
