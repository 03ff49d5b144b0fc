// Each profile stands for one kind of unit: identification over the simulated line must end
// with that kind's family and flags, and read the profile's own model, serial and firmware.
#include <gtest/gtest.h>

#include <string>

#include "Apcups.h"
#include "SimUps.h"

namespace morlen::sim {
namespace {

struct Expected {
    const char* profile;
    std::int16_t family;
    const char* modelName;
    float ratingVA;
    std::int16_t ratingDigits;
    const char* serialNumber;
    const char* firmwareText;
    // Flags, one letter each when set: T third generation, H usesConstHash, X isXL, S isStack,
    // A s411FlagA, B s411FlagB, C usesCtrlB, 8 hasHL8Marker, M monitorOnly, N noTemperature,
    // # hashConstantLine.
    const char* flags;
    std::uint8_t secondGenVariant;
};

std::string FlagsOf(const APCUPS& u) {
    std::string f;
    if (u.isThirdGen)
        f += 'T';
    if (u.usesConstHash)
        f += 'H';
    if (u.isXL)
        f += 'X';
    if (u.isStack)
        f += 'S';
    if (u.s411FlagA)
        f += 'A';
    if (u.s411FlagB)
        f += 'B';
    if (u.usesCtrlB)
        f += 'C';
    if (u.hasHL8Marker)
        f += '8';
    if (u.monitorOnly)
        f += 'M';
    if (u.noTemperature)
        f += 'N';
    if (u.hashConstantLine)
        f += '#';
    return f;
}

// What sim/README.md promises for each profile.
const Expected kExpected[] = {
    {"su1000", FamilySmart, "SMART-UPS 1000", 1000, 4, "WS9643050926", "60.11.I", "", 0},
    {"su1000-3g", FamilySmart, "Smart-UPS 1000", 1000, 4, "AS0319120145", ".12.I", "TC", 0},
    {"sc1000", FamilySmart, "Smart-UPS SC1000", 1000, 4, "5S0523T12345", ".3.I", "THC#", 0},
    {"sc620", FamilySmart, "Smart-UPS SC620", 620, 3, "5S0611T54321", ".3.I", "TCN#", 0},
    {"su620", FamilySmart, "SMART-UPS 620", 620, 3, "NS9912004321", "22.7.I", "N", 0},
    {"stack450", FamilySmart, "Power Stack 450", 450, 3, "PS9805002211", "26.5.I", "S", 0},
    {"gen2-v0", FamilySmart2ndGen, "Smart-UPS 600I", 600, 3, "QS604023", "6QI", "", 0},
    {"gen2-v1", FamilySmart2ndGen, "Smart-UPS 900I", 900, 3, "QS905117", "7QI", "", 1},
    {"gen2-v2", FamilySmart2ndGen, "Smart-UPS 1250I", 1250, 4, "QS125220", "8QI", "", 2},
    {"gen2-test-on", FamilySmart2ndGen, "Smart-UPS 900I", 900, 3, "QS905342", "7QI", "", 1},
    {"gen2-no-e", FamilySmart2ndGen, "Smart-UPS 600I", 600, 3, "QS604177", "6QI", "", 2},
    {"gen2-late", FamilySmart2ndGen, "Smart-UPS 1250I", 1250, 4, "QS125398", "8QI", "", 1},
    {"matrix5000", FamilySmart2ndGen, "Matrix 5000I", 5000, 4, "MX5G0112", "5ZI", "", 1},
    {"backpro", FamilyBackPro, "Back-UPS Pro 650", 650, 3, "QB9921034512", "12.3.I", "", 0},
    {"backcs", FamilyBackCS, "Back-UPS CS 500", 500, 3, "BB0512345678", "808.q9.I", "", 0},
    {"noserial", FamilySmartNoSerial, "SMART-UPS 700", 700, 3, "NA", "52.11.I", "", 0},
    {"smartslot", FamilySmart, "SMART-UPS 1000", 1000, 4, "WS9702011874", "60.11.I", "M", 0},
    {"surt1000xl", FamilySmart, "Smart-UPS RT 1000 XL", 1000, 4, "QS0345220177", ".4.I", "TXABC",
     0},
    {"su1000-id-ro", FamilySmart, "SMART-UPS 1000", 1000, 4, "WS9711040233", "60.11.I", "", 0},
    {"su1000rm", FamilySmart, "SMART-UPS 1000RM", 1000, 4, "GS0117003366", "157.3.I", "8", 0},
    {"su1000-nod", FamilySmart, "SMART-UPS 1000", 1000, 4, "WS9705020481", "60.11.I", "", 0},
    {"su1000-nox", FamilySmart, "SMART-UPS 1000", 1000, 4, "WS9708031122", "60.11.I", "", 0},
};

class IdentifyProfile : public ::testing::TestWithParam<Expected> {};

TEST_P(IdentifyProfile, EndsWithTheFamilyAndFlagsItStandsFor) {
    const Expected& e = GetParam();
    VirtualClock clock;
    SimUps unit(clock, e.profile);
    APCUPS ups(unit.makeLine(), clock);
    ASSERT_TRUE(ups.OpenPort("COM1"));
    ASSERT_TRUE(ups.CheckSmartMode());
    ASSERT_TRUE(ups.Identify());

    EXPECT_EQ(ups.family, e.family);
    EXPECT_EQ(FlagsOf(ups), e.flags);
    EXPECT_EQ(ups.modelName.str(), e.modelName);
    EXPECT_EQ(ups.ratingVA, e.ratingVA);
    EXPECT_EQ(ups.ratingDigits, e.ratingDigits);
    EXPECT_FLOAT_EQ(ups.wattsPerPercent, e.ratingVA * 0.007f);
    EXPECT_EQ(ups.serialNumber.str(), e.serialNumber);
    EXPECT_EQ(ups.firmwareText.str(), e.firmwareText);
    if (e.family == FamilySmart2ndGen) {
        EXPECT_EQ(ups.secondGenVariant, e.secondGenVariant);
    }
}

TEST_P(IdentifyProfile, FillsEverySettingItReads) {
    const Expected& e = GetParam();
    VirtualClock clock;
    SimUps unit(clock, e.profile);
    unit.model().setDrift(false);
    APCUPS ups(unit.makeLine(), clock);
    ASSERT_TRUE(ups.OpenPort("COM1"));
    ASSERT_TRUE(ups.Identify());

    // Every family reads these at the end of the identification.
    EXPECT_FALSE(ups.manufactureDate.empty());
    EXPECT_FALSE(ups.batteryReplaceDate.empty());
    EXPECT_FALSE(ups.batteryVoltageText.empty());
    EXPECT_GT(ups.batteryVoltage, 10.0f);
    if (e.family == FamilySmart || e.family == FamilySmart2ndGen ||
        e.family == FamilySmartNoSerial) {
        EXPECT_FALSE(ups.lowTransferText.empty());
        // One unit ignores the self-test interval on purpose.
        EXPECT_EQ(ups.selfTestIntervalText.empty(), std::string(e.profile) == "gen2-no-e");
        EXPECT_FALSE(ups.alarmDelayText.empty());
        EXPECT_FALSE(ups.sensitivityText.empty());
        EXPECT_FALSE(ups.upsId.empty());
        // The calibration constants the window shows are readable after identification.
        EXPECT_EQ(ups.const0Text.size(), 2u);
        EXPECT_NE(ups.const0Text.str(), "NA");
        EXPECT_GT(ups.inputVoltage, 200.0f);
    }
    if (e.family == FamilyBackPro) {
        EXPECT_FALSE(ups.floatVoltageText.empty());
        EXPECT_FALSE(ups.capacitorLoadText.empty());
        EXPECT_GT(ups.loadPercent, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, IdentifyProfile, ::testing::ValuesIn(kExpected),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             std::string name = info.param.profile;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

// The bytes identification sends are part of its behaviour: it configures the unit as it
// goes (programming mode, the probe, the raised timeout), so the order matters. "^A" stands
// for Ctrl-A and so on.
TEST(IdentifyWire, EachKindOfUnitGetsItsOwnSequence) {
    const std::string all0 = "OLPg4>Cclu056oEprqkesFjfbmxB";
    const std::string all2 = "OLPCclu056oEprqkesFjfVmxB";
    const struct {
        const char* profile;
        std::string wire;
    } rows[] = {
        {"su1000", "Y^A11Fn^Zn^A" + all0},
        {"su1000-3g", "Y^A11Fn^Z%^Dn^A$%^" + all0},
        {"sc1000", "Y^A11Fn^Z%n^A$%^#" + all0},
        {"su620", "Y^A11Fn^Zn^AOLPg4>clu056oEprqkesFjfbmxB"},
        {"gen2-v0", "Y^A11^M7nV" + all2},
        {"gen2-v1", "Y^A11^M7CnV" + all2},
        {"backpro", "Y^A11FPn^AOLPewv2cdbmxB"},
        {"backcs", "Y^A11FPn^AbmxB"},
        {"noserial", "Y^A11Fn^AOLCclu056oEprqkesFjfbmxB"},
        {"surt1000xl", "Y^A11Fn^Z%n^A$%" + all0},
    };
    for (const auto& row : rows) {
        VirtualClock clock;
        SimUps unit(clock, row.profile);
        APCUPS ups(unit.makeLine(), clock);
        ASSERT_TRUE(ups.OpenPort("COM1"));
        ASSERT_TRUE(ups.Identify());
        std::string wire;
        for (const Exchange& e : unit.log()) {
            if (e.command < 32) {
                wire += '^';
                wire += static_cast<char>(e.command + 64);
            } else {
                wire += static_cast<char>(e.command);
            }
        }
        EXPECT_EQ(wire, row.wire) << row.profile;
    }
}

TEST(ProfileList, EveryProfileHasAnExpectation) {
    for (const Profile& p : Profiles()) {
        bool found = false;
        for (const Expected& e : kExpected)
            found = found || p.name == e.profile;
        EXPECT_TRUE(found) << p.name;
    }
    EXPECT_EQ(Profiles().size(), std::size(kExpected));
}

}  // namespace
}  // namespace morlen::sim
