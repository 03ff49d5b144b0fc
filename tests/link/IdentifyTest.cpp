// Identification: the decisions it takes from the replies and the exact bytes it sends.
#include <gtest/gtest.h>

#include <string>

#include "ScriptedUnit.h"

namespace morlen::test {
namespace {

const std::string kCtrlA(1, cmd::CtrlA);
const std::string kCtrlZ(1, cmd::CtrlZ);
const std::string kCtrlD(1, cmd::CtrlD);
const std::string kCR(1, cmd::CR);

// The full read that ends identification, per family.
const std::string kAllSettingsSmart = "OLPg4>Cclu056oEprqkesFjfbmxB";

// A first-generation Smart-UPS 1000 as a script; tests change what they need.
void scriptSmart(ScriptedUnit& unit) {
    unit.on('Y', "SM").on(cmd::CtrlA, "Smart-UPS 1000").on('1', "PROG").on('F', "50.00");
    unit.on('n', "WS9643050926");
    unit.on(cmd::CtrlZ, "#uD43127130133136uI43253257261265lI43208204200196E443336168ON OFF");
    unit.on('O', "230.0").on('L', "231.4").on('P', "023.5").on('g', "024").on('4', "35");
    unit.on('>', "000").on('C', "036.0").on('c', "UPS_IDEN").on('l', "196").on('u', "253");
    unit.on('0', "A0").on('5', "EF").on('6', "F9").on('o', "230").on('E', "336");
    unit.on('p', "020").on('r', "000").on('q', "02").on('k', "0").on('e', "00").on('s', "H");
    unit.on('j', "0042:").on('f', "100.0").on('b', "60.11.I").on('m', "11/29/96");
    unit.on('x', "11/29/96").on('B', "27.87");
}

TEST(Identify, FirstGenerationSmartUps) {
    ScriptedUnit unit;
    scriptSmart(unit);
    APCUPS& ups = unit.ups();
    ASSERT_TRUE(ups.Identify());
    EXPECT_EQ(unit.takeWritten(),
              "Y" + kCtrlA + "11Fn" + kCtrlZ + "n" + kCtrlA + kAllSettingsSmart);
    EXPECT_EQ(ups.family, FamilySmart);
    EXPECT_FALSE(ups.isThirdGen);
    EXPECT_FALSE(ups.monitorOnly);
    EXPECT_EQ(ups.modelName, "Smart-UPS 1000");
    EXPECT_EQ(ups.serialNumber, "WS9643050926");
    EXPECT_EQ(ups.ratingVA, 1000.0f);
    EXPECT_EQ(ups.ratingDigits, 4);
    EXPECT_FLOAT_EQ(ups.wattsPerPercent, 7.0f);
    EXPECT_EQ(ups.loadWattsText, "164");
    EXPECT_EQ(ups.const0Text, "A0");
    EXPECT_EQ(ups.alarmDelayText, " 5 Seconds");
    EXPECT_EQ(ups.runTimeText, "42");
    EXPECT_EQ(ups.firmwareText, "60.11.I");
}

TEST(Identify, ProgrammingModeRequestWaitsOneAndAHalfSeconds) {
    ScriptedUnit unit;
    scriptSmart(unit);
    std::vector<Micros> ones;
    unit.setHandler([&](char c) -> std::optional<std::string> {
        if (c == '1')
            ones.push_back(unit.clock().now());
        return std::nullopt;
    });
    unit.ups().Identify();
    ASSERT_EQ(ones.size(), 2u);
    EXPECT_EQ(ones[1] - ones[0], Millis(1500)) << "the first 1 is sent without a read";
}

TEST(Identify, FirstCheckOnlyLooksAtTheSum) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on('Y', "MS");
    EXPECT_TRUE(unit.ups().Identify());
    EXPECT_EQ(unit.ups().family, FamilySmart);
}

TEST(Identify, NoSmartAnswerStopsAtOnce) {
    ScriptedUnit unit;
    unit.on('Y', "NA");
    EXPECT_FALSE(unit.ups().Identify());
    EXPECT_EQ(unit.ups().family, FamilyUnknown);
    EXPECT_EQ(unit.takeWritten(), "Y");
}

TEST(Identify, SmartSlotCardAnsweringAprog) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on('1', "APROG");
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_TRUE(unit.ups().monitorOnly);
    EXPECT_EQ(unit.ups().family, FamilySmart);
    EXPECT_EQ(unit.takeWritten(),
              "Y" + kCtrlA + "11Fn" + kCtrlZ + "n" + kCtrlA + kAllSettingsSmart);
}

TEST(Identify, ModelNameSumOf204SkipsProgrammingMode) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on(cmd::CtrlA, "ff");
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_TRUE(unit.ups().monitorOnly);
    EXPECT_EQ(unit.takeWritten().substr(0, 4), "Y" + kCtrlA + "Fn");
}

TEST(Identify, CapabilityMarkers) {
    struct Row {
        const char* caps;
        bool thirdGen, s411, hl8;
    };
    for (const Row& row :
         {Row{"#uD43127", false, false, false}, Row{"#e472s431", true, false, false},
          Row{"#s431e472", true, false, false}, Row{"#E443s411", true, true, false},
          Row{"#Hx3LyyA8", false, false, false}, Row{"#H33L998s431", true, false, true},
          Row{"#s431H33L998", true, false, false}, Row{"#ab H", false, false, false},
          Row{"#abcdH", false, false, false}, Row{"#abcdeHxxL", false, false, false}}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.on(cmd::CtrlZ, row.caps);
        unit.on('%', "NA");
        ASSERT_TRUE(unit.ups().Identify());
        EXPECT_EQ(unit.ups().isThirdGen, row.thirdGen) << row.caps;
        EXPECT_EQ(unit.ups().s411FlagA, row.s411) << row.caps;
        EXPECT_EQ(unit.ups().s411FlagB, row.s411) << row.caps;
        EXPECT_EQ(unit.ups().hasHL8Marker, row.hl8) << row.caps;
    }
}

TEST(Identify, ThirdGenerationReadsItsExtraConstants) {
    struct Row {
        const char* percent;
        const char* ctrlD;
        bool ctrlB;
        std::string afterCaps;
    };
    for (const Row& row : {Row{"NA", "NA", true, "%"}, Row{"1E", "NA", true, "%" + kCtrlD},
                           Row{"1E", "05", false, "%" + kCtrlD}}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.on(cmd::CtrlZ, "#s431").on('%', row.percent).on(cmd::CtrlD, row.ctrlD);
        unit.on(cmd::CtrlA, "Smart-UPS 1500").on('b', "653.12.I").on('$', "09").on('^', "B9");
        ASSERT_TRUE(unit.ups().Identify());
        EXPECT_EQ(unit.ups().usesCtrlB, row.ctrlB) << row.percent << row.ctrlD;
        EXPECT_EQ(unit.takeWritten(), "Y" + kCtrlA + "11Fn" + kCtrlZ + row.afterCaps + "n" +
                                          kCtrlA + "$%^" + kAllSettingsSmart);
        EXPECT_EQ(unit.ups().firmwareHead, "653");
        EXPECT_EQ(unit.ups().firmwareText, ".12.I");
        EXPECT_EQ(unit.ups().constCaretText, "B9");
    }
}

TEST(Identify, OnlineUnitSkipsTheCaretConstant) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on(cmd::CtrlZ, "#s411").on('%', "NA");
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_EQ(unit.takeWritten(),
              "Y" + kCtrlA + "11Fn" + kCtrlZ + "%n" + kCtrlA + "$%" + kAllSettingsSmart);
}

TEST(Identify, ScLineReadsTheHashConstantFromOneThousandVa) {
    for (const char* name : {"Smart-UPS SC1000", "Smart-UPS SC620"}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.on(cmd::CtrlA, name).on('#', "94");
        ASSERT_TRUE(unit.ups().Identify());
        const std::string wire = unit.takeWritten();
        const bool big = std::string(name) == "Smart-UPS SC1000";
        EXPECT_EQ(unit.ups().usesConstHash, big) << name;
        EXPECT_TRUE(unit.ups().isThirdGen) << name;
        EXPECT_EQ(wire.find(kCtrlA + "$%^#") != std::string::npos, big) << wire;
        EXPECT_EQ(unit.ups().constHashText, big ? "94" : "") << name;
    }
}

TEST(Identify, UnitWithoutSerialNumber) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on('n', "NA");
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_EQ(unit.ups().family, FamilySmartNoSerial);
    EXPECT_EQ(unit.takeWritten(), "Y" + kCtrlA + "11Fn" + kCtrlA + "OLCclu056oEprqkesFjfbmxB");
}

TEST(Identify, BackUpsProAndCs) {
    struct Row {
        const char* load;
        UpsFamily family;
        std::string tail;
    };
    for (const Row& row :
         {Row{"010.0", FamilyBackPro, "OLPewv2cdbmxB"}, Row{"NA", FamilyBackCS, "bmxB"}}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.on(cmd::CtrlA, "Back-UPS Pro 650").on('F', "NA").on('P', row.load);
        ASSERT_TRUE(unit.ups().Identify());
        EXPECT_EQ(unit.ups().family, row.family);
        EXPECT_EQ(unit.takeWritten(), "Y" + kCtrlA + "11FPn" + kCtrlA + row.tail);
        EXPECT_EQ(unit.ups().ratingVA, 650.0f);
        EXPECT_FALSE(unit.ups().noTemperature) << "only Smart-UPS units lack the sensor";
    }
}

TEST(Identify, SecondGenerationVariants) {
    struct Row {
        const char* dip;  // nullptr: no answer
        const char* temperature;
        int variant;
        std::string wire;
    };
    for (const Row& row :
         {Row{"0F", "036", 0, "7n"}, Row{"00", "036", 1, "7Cn"}, Row{"00", "000", 2, "7Cn"},
          Row{nullptr, "000", 2, "7Cn"}, Row{nullptr, "031", 1, "7Cn"}}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.silent('1').on(cmd::CR, "NA").on('V', "7QD").on('C', row.temperature);
        unit.on('n', "WS964305");  // eight characters on these units
        if (row.dip != nullptr) {
            unit.on('7', row.dip);
        } else {
            unit.silent('7');
        }
        ASSERT_TRUE(unit.ups().Identify());
        EXPECT_EQ(unit.ups().family, FamilySmart2ndGen);
        EXPECT_EQ(unit.ups().secondGenVariant, row.variant) << (row.dip ? row.dip : "none");
        const std::string wire = unit.takeWritten();
        EXPECT_EQ(wire.substr(0, 5 + row.wire.size()), "Y" + kCtrlA + "11" + kCR + row.wire);
        EXPECT_EQ(unit.ups().modelName, "Smart-UPS 900D");
        EXPECT_EQ(unit.ups().ratingVA, 900.0f);
        EXPECT_EQ(unit.ups().portTimeouts.readTotalMultiplier, 30u);
    }
}

TEST(Identify, ProbeAnsweredWithLineFeedIsMonitorOnlyAndUnknown) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.silent('1').on(cmd::CR, "\nSM\r\n", true);
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_TRUE(unit.ups().monitorOnly);
    EXPECT_EQ(unit.ups().family, FamilyUnknown);
    EXPECT_EQ(unit.takeWritten(), "Y" + kCtrlA + "11" + kCR + "Y");
}

TEST(Identify, OtherProgrammingAnswerLeavesTheUnitUnknown) {
    ScriptedUnit unit;
    scriptSmart(unit);
    unit.on('1', "NA");
    ASSERT_TRUE(unit.ups().Identify());
    EXPECT_EQ(unit.ups().family, FamilyUnknown);
    EXPECT_EQ(unit.takeWritten(), "Y" + kCtrlA + "11");
}

TEST(ModelName, ScansAndRating) {
    struct Row {
        const char* name;
        float rating;
        int digits;
        bool xl, stack, hash;
    };
    for (const Row& row :
         {Row{"Smart-UPS SC1000", 1000, 4, false, false, true},
          Row{"SMART-UPS 1000XL", 1000, 4, true, false, false},
          Row{"Smart-UPS 700xl", 700, 3, true, false, false},
          Row{"Power Stack 450", 450, 3, false, true, false},
          Row{"UPS 12345", 1234, 4, false, false, false}, Row{"UPS 12", 0, 0, false, false, false},
          Row{"Back-UPS CS", 0, 0, false, false, false}, Row{"s", 0, 0, false, false, false},
          Row{"X", 0, 0, false, false, false}}) {
        ScriptedUnit unit;
        unit.on(cmd::CtrlA, row.name);
        unit.ups().ReadModelName();
        EXPECT_EQ(unit.ups().ratingVA, row.rating) << row.name;
        EXPECT_EQ(unit.ups().ratingDigits, row.digits) << row.name;
        EXPECT_EQ(unit.ups().isXL, row.xl) << row.name;
        EXPECT_EQ(unit.ups().isStack, row.stack) << row.name;
        EXPECT_EQ(unit.ups().usesConstHash, row.hash) << row.name;
    }
}

TEST(ModelName, SecondGenerationNamesFromTheFirmwareCode) {
    struct Row {
        const char* reply;
        const char* name;
    };
    for (const Row& row :
         {Row{"0QD", "Matrix 3000D"}, Row{"2QI", "Smart-UPS 250I"}, Row{"3WD", "Smart-UPS 400D"},
          Row{"4WD", "Smart-UPS 400D"}, Row{"5ZD", "Matrix 5000D"}, Row{"6QD", "Smart-UPS 600D"},
          Row{"8GD", "Smart-UPS 1250D"}, Row{"9GD", "Smart-UPS 2000D"}, Row{"7G", "Smart-UPS 900"},
          Row{"XQD", "previous"}}) {
        ScriptedUnit unit;
        unit.ups().family = FamilySmart2ndGen;
        unit.ups().modelName = "previous";
        unit.on('V', row.reply);
        EXPECT_STREQ(unit.ups().ReadModelName(), row.name) << row.reply;
        EXPECT_EQ(unit.takeWritten(), "V");
    }
}

TEST(Identify, NoTemperatureOnlyForSmallSmartUnits) {
    struct Row {
        const char* name;
        bool expected;
    };
    for (const Row& row : {Row{"Smart-UPS 620", true}, Row{"Smart-UPS 420", true},
                           Row{"Smart-UPS 650", true}, Row{"Smart-UPS 700", false}}) {
        ScriptedUnit unit;
        scriptSmart(unit);
        unit.on(cmd::CtrlA, row.name);
        ASSERT_TRUE(unit.ups().Identify());
        EXPECT_EQ(unit.ups().noTemperature, row.expected) << row.name;
        const std::string wire = unit.takeWritten();
        EXPECT_EQ(wire.find("OLPg4>Cc") != std::string::npos, !row.expected) << wire;
    }
}

}  // namespace
}  // namespace morlen::test
