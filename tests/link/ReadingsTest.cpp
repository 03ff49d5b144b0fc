// Readings and status registers: which byte goes out, how long a reply is awaited, and what
// each reply becomes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ScriptedUnit.h"

namespace morlen::test {
namespace {

// The reply length an operation asks for shows in what silence costs: 22 * (N + 2) + 60 ms.
int replyLengthOf(VirtualClock& clock, const std::function<void()>& op) {
    const Micros start = clock.now();
    op();
    const auto ms = std::chrono::duration_cast<Millis>(clock.now() - start).count();
    return static_cast<int>((ms - 60) / 22 - 2);
}

struct ReadRow {
    const char* name;
    std::function<void(APCUPS&)> op;
    std::string bytes;
    int replyLength;
};

TEST(Readings, EachReadSendsItsCommandAndWaitsForItsLength) {
    const ReadRow rows[] = {
        {"input", [](APCUPS& u) { u.ReadInputVoltage(); }, "L", 5},
        {"output", [](APCUPS& u) { u.ReadOutputVoltage(); }, "O", 5},
        {"load", [](APCUPS& u) { u.ReadLoad(); }, "P", 5},
        {"battery", [](APCUPS& u) { u.ReadBatteryVoltage(); }, "B", 5},
        {"capacity", [](APCUPS& u) { u.ReadBatteryCapacity(); }, "f", 5},
        {"frequency", [](APCUPS& u) { u.ReadLineFrequency(); }, "F", 5},
        {"temperature", [](APCUPS& u) { u.ReadTemperature(); }, "C", 5},
        {"run time", [](APCUPS& u) { u.ReadRunTime(); }, "j", 4},
        {"nominal", [](APCUPS& u) { u.ReadBatteryNominal(); }, "g", 3},
        {"firmware", [](APCUPS& u) { u.ReadFirmware(); }, "b", 8},
        {"register 1", [](APCUPS& u) { u.ReadRegister1(); }, "~", 2},
        {"register 2", [](APCUPS& u) { u.ReadRegister2(); }, "'", 2},
        {"register 3", [](APCUPS& u) { u.ReadRegister3(); }, "8", 2},
        {"status", [](APCUPS& u) { u.ReadStatusByte(); }, "Q", 2},
    };
    for (const auto& row : rows) {
        ScriptedUnit unit;
        const int length = replyLengthOf(unit.clock(), [&] { row.op(unit.ups()); });
        EXPECT_EQ(unit.takeWritten(), row.bytes) << row.name;
        EXPECT_EQ(length, row.replyLength) << row.name;
    }
}

TEST(Readings, SecondGenerationFirmwareIsAskedWithV) {
    ScriptedUnit unit;
    unit.ups().family = FamilySmart2ndGen;
    EXPECT_EQ(replyLengthOf(unit.clock(), [&] { unit.ups().ReadFirmware(); }), 3);
    EXPECT_EQ(unit.takeWritten(), "V");
    unit.on('V', "GWD");
    EXPECT_STREQ(unit.ups().ReadFirmware(), "GWD");
}

TEST(Readings, NumbersFollowTheirTexts) {
    ScriptedUnit unit;
    unit.on('L', "231.8").on('O', "229.0").on('B', "27.87").on('f', "099.0");
    EXPECT_STREQ(unit.ups().ReadInputVoltage(), "231.8");
    EXPECT_FLOAT_EQ(unit.ups().inputVoltage, 231.8f);
    unit.ups().ReadOutputVoltage();
    EXPECT_FLOAT_EQ(unit.ups().outputVoltage, 229.0f);
    unit.ups().ReadBatteryVoltage();
    EXPECT_FLOAT_EQ(unit.ups().batteryVoltage, 27.87f);
    unit.ups().ReadBatteryCapacity();
    EXPECT_FLOAT_EQ(unit.ups().batteryCapacity, 99.0f);
}

TEST(Readings, LoadGivesWattsFromTheRating) {
    struct Row {
        float rating;
        const char* reply;
        const char* watts;
    };
    for (const Row& row :
         {Row{1000, "050.0", "350"}, Row{1400, "065.0", "637"}, Row{0, "050.0", "0"},
          Row{620, "100.0", "434"}, Row{1000, "", "0"}, Row{1000, "nan", "0"}}) {
        ScriptedUnit unit;
        unit.ups().ratingVA = row.rating;
        unit.ups().wattsPerPercent = static_cast<float>(row.rating * 0.007);
        if (row.reply[0] != '\0')
            unit.on('P', row.reply);
        unit.ups().ReadLoad();
        EXPECT_EQ(unit.ups().loadPercentText, row.reply);
        EXPECT_EQ(unit.ups().loadWattsText, row.watts) << row.rating << " " << row.reply;
    }
}

TEST(Readings, RunTimeIsNormalised) {
    ScriptedUnit unit;
    unit.on('j', "0007:");
    EXPECT_STREQ(unit.ups().ReadRunTime(), "7");
    EXPECT_EQ(unit.ups().runTimeMinutes, 7);
    unit.on('j', "0120:");
    unit.ups().ReadRunTime();
    EXPECT_EQ(unit.ups().runTimeText, "120");
    unit.silent('j');
    unit.ups().ReadRunTime();
    EXPECT_EQ(unit.ups().runTimeMinutes, 0);
    EXPECT_EQ(unit.ups().runTimeText, "") << "an unanswered read leaves the text empty";
}

TEST(Readings, UnansweredReadEmptiesTextAndZeroesNumber) {
    ScriptedUnit unit;
    unit.on('L', "231.8");
    unit.ups().ReadInputVoltage();
    unit.silent('L');
    unit.ups().ReadInputVoltage();
    EXPECT_TRUE(unit.ups().inputVoltageText.empty());
    EXPECT_EQ(unit.ups().inputVoltage, 0.0f);
}

TEST(Readings, RegistersConvertHexAndKeepOldValueOnNoAnswer) {
    ScriptedUnit unit;
    unit.on('~', "81").on('\'', "NA").on('8', "0f").on('Q', "08");
    EXPECT_EQ(unit.ups().ReadStatusRegisters(), 0x08);
    EXPECT_EQ(unit.takeWritten(), "~'8Q");
    EXPECT_EQ(unit.ups().register1, 0x81);
    EXPECT_EQ(unit.ups().register2, 250);
    EXPECT_EQ(unit.ups().register3, 0x0F);
    unit.silent('~').silent('Q').on('\'', "zz");
    unit.ups().ReadStatusRegisters();
    EXPECT_EQ(unit.ups().register1, 0x81);
    EXPECT_EQ(unit.ups().register2, 250) << "characters outside 0..f keep the old value";
    EXPECT_EQ(unit.ups().statusByte, 0x08);
}

TEST(Readings, ThirdGenerationFirmwareSplitsOffItsHead) {
    struct Row {
        const char* reply;
        bool thirdGen;
        const char* text;
        const char* head;
    };
    for (const Row& row : {Row{"652.13.I", true, ".13.I", "652"}, Row{".13.I", true, ".13.I", ""},
                           Row{"65", true, "", "65"}, Row{"60.11.I", false, "60.11.I", "old"}}) {
        ScriptedUnit unit;
        unit.ups().isThirdGen = row.thirdGen;
        unit.ups().firmwareHead = "old";
        unit.on('b', row.reply);
        EXPECT_STREQ(unit.ups().ReadFirmware(), row.text) << row.reply;
        EXPECT_EQ(unit.ups().firmwareHead, row.head) << row.reply;
    }
}

TEST(Readings, LongRepliesAreCutToTheFieldCapacity) {
    ScriptedUnit unit;
    unit.on('F', "1234567890");
    unit.ups().ReadLineFrequency();
    EXPECT_EQ(unit.ups().lineFrequencyText, "1234567");  // 8 bytes with the terminator
    unit.clock().advance(Millis(100));                   // let the rest of that reply go by
    unit.on(cmd::CtrlA, "Smart-UPS 1000 with a very long name indeed");
    unit.ups().family = FamilySmart;
    unit.ups().ReadModelName();
    EXPECT_EQ(unit.ups().modelName.size(), 26u);
}

TEST(Readings, MeasurementPassPerFamily) {
    struct Row {
        UpsFamily family;
        const char* bytes;
    };
    for (const Row& row : {Row{FamilySmart, "OLPCFjfB"}, Row{FamilySmart2ndGen, "OLPCFjfB"},
                           Row{FamilySmartNoSerial, "OLFB"}, Row{FamilyBackPro, "OLPewvcdB"},
                           Row{FamilyBackCS, "B"}, Row{FamilyUnknown, "OLPCFjfB"}}) {
        ScriptedUnit unit;
        unit.ups().family = row.family;
        unit.ups().noTemperature = true;  // the temperature is asked all the same
        unit.ups().ReadMeasurements();
        EXPECT_EQ(unit.takeWritten(), row.bytes) << "family " << row.family;
    }
}

TEST(Readings, BackProPassFillsItsCalibrationValues) {
    ScriptedUnit unit;
    unit.ups().family = FamilyBackPro;
    unit.on('e', "13.65").on('w', "253").on('v', "12.00").on('c', "000.0").on('d', "000.1");
    unit.ups().ReadMeasurements();
    EXPECT_EQ(unit.ups().floatVoltageText, "13.65");
    EXPECT_EQ(unit.ups().ratioText, "253");
    EXPECT_EQ(unit.ups().eutVoltageText, "12.00");
    EXPECT_EQ(unit.ups().capacitorLoadText, "000.0");
    EXPECT_EQ(unit.ups().dcOffsetText, "000.1");
}

}  // namespace
}  // namespace morlen::test
