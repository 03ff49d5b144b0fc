// Settings, identity texts and one-shot commands: the exact bytes on the wire.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedUnit.h"

namespace morlen::test {
namespace {

using namespace std::chrono_literals;

std::int64_t msSince(VirtualClock& clock, Micros start) {
    return std::chrono::duration_cast<Millis>(clock.now() - start).count();
}

// What silence costs for a reply of n characters.
constexpr std::int64_t silence(int n) {
    return 22 * (n + 2) + 60;
}

struct StepRow {
    const char* name;
    std::function<const char*(APCUPS&)> step;
    char command;
    int replyLength;
    int signReplyLength;
};

TEST(Settings, EachStepSelectsSendsMinusAndReadsBack) {
    const StepRow rows[] = {
        {"low transfer", [](APCUPS& u) { return u.StepLowTransfer(); }, 'l', 3, 2},
        {"high transfer", [](APCUPS& u) { return u.StepHighTransfer(); }, 'u', 3, 2},
        {"output", [](APCUPS& u) { return u.StepOutputSetting(); }, 'o', 3, 2},
        {"self test", [](APCUPS& u) { return u.StepSelfTestInterval(); }, 'E', 3, 2},
        {"shutdown", [](APCUPS& u) { return u.StepShutdownDelay(); }, 'p', 3, 2},
        {"turn on", [](APCUPS& u) { return u.StepTurnOnDelay(); }, 'r', 3, 2},
        {"low battery", [](APCUPS& u) { return u.StepLowBatteryWarning(); }, 'q', 2, 2},
        {"threshold", [](APCUPS& u) { return u.StepReturnThreshold(); }, 'e', 2, 2},
        {"alarm", [](APCUPS& u) { return u.StepAlarmDelay(); }, 'k', 1, 1},
        {"sensitivity", [](APCUPS& u) { return u.StepSensitivity(); }, 's', 1, 1},
    };
    for (const auto& row : rows) {
        // The unit answers the selection (a step after an unanswered one is not sent), then
        // stays silent: the timeouts show the reply length of the step and the read-back.
        ScriptedUnit unit;
        int asked = 0;
        unit.setHandler([&](char c) -> std::optional<std::string> {
            if (c == row.command && asked++ == 0)
                return std::string(c == 's' ? "H" : std::string(std::size_t(row.replyLength), '0'));
            return std::nullopt;
        });
        const Micros start = unit.clock().now();
        row.step(unit.ups());
        const std::string expected{row.command, '-', row.command};
        EXPECT_EQ(unit.takeWritten(), expected) << row.name;
        const Micros answered = 40ms + sim::kByteTime * (1 + row.replyLength + 2);
        EXPECT_EQ(unit.clock().now() - start,
                  answered + Millis(silence(row.replyLength) + silence(row.signReplyLength)))
            << row.name;
    }
}

TEST(Settings, SteppedValueIsTheReadBack) {
    ScriptedUnit unit;
    unit.sequence('E', {"336", "168"}).on('-', "OK");
    EXPECT_STREQ(unit.ups().StepSelfTestInterval(), "168");
    EXPECT_EQ(unit.ups().selfTestIntervalText, "168");
}

TEST(Settings, OneCharacterSettingsAreDecoded) {
    struct Row {
        char command;
        const char* reply;
        const char* text;
    };
    for (const Row& row :
         {Row{'k', "0", " 5 Seconds"}, Row{'k', "T", "30 Seconds"}, Row{'k', "L", "Low Battery"},
          Row{'k', "N", " Disabled"}, Row{'s', "H", " High "}, Row{'s', "L", " Low "},
          Row{'s', "M", " Medium"}, Row{'s', "A", " Auto "}}) {
        ScriptedUnit unit;
        unit.on(row.command, row.reply);
        const std::string got =
            row.command == 'k' ? unit.ups().ReadAlarmDelay() : unit.ups().ReadSensitivity();
        EXPECT_EQ(got, row.text) << row.command << row.reply;
    }
}

TEST(Settings, UnknownDecodeKeepsTheField) {
    ScriptedUnit unit;
    unit.on('k', "T");
    unit.ups().ReadAlarmDelay();
    unit.on('k', "X");
    EXPECT_STREQ(unit.ups().ReadAlarmDelay(), "30 Seconds");
    unit.silent('k');
    EXPECT_STREQ(unit.ups().ReadAlarmDelay(), "30 Seconds");
}

TEST(Settings, AlarmStepStoresTheDecodedNewValue) {
    ScriptedUnit unit;
    unit.sequence('k', {"0", "T"});
    EXPECT_STREQ(unit.ups().StepAlarmDelay(), "30 Seconds");
}

TEST(Settings, BatteryPacksStepBothWays) {
    ScriptedUnit unit;
    unit.sequence('>', {"000", "001"}).on('+', "001");
    EXPECT_STREQ(unit.ups().StepBatteryPacks('+'), "001");
    EXPECT_EQ(unit.ups().batteryPacks, 1);
    EXPECT_EQ(unit.takeWritten(), ">+>");
    unit.ups().StepBatteryPacks('-');
    EXPECT_EQ(unit.takeWritten(), ">->");
}

struct WriteRow {
    const char* name;
    std::int16_t family;
    std::function<const char*(APCUPS&, const std::string&)> write;
    std::string text;
    std::string expectedBytes;
    std::int64_t pauseMs;
};

TEST(IdentityTexts, WritesPadToTheFieldWidthAndReadBack) {
    const auto id = [](APCUPS& u, const std::string& t) { return u.WriteUpsId(t); };
    const auto serial = [](APCUPS& u, const std::string& t) { return u.WriteSerialNumber(t); };
    const auto made = [](APCUPS& u, const std::string& t) { return u.WriteManufactureDate(t); };
    const auto battery = [](APCUPS& u, const std::string& t) {
        return u.WriteBatteryReplaceDate(t);
    };
    const auto head = [](APCUPS& u, const std::string& t) { return u.WriteFirmwareHead(t); };
    const WriteRow rows[] = {
        {"short id", FamilySmart, id, "AB1", "c-AB1     c", 0},
        {"full id", FamilySmart, id, "UPS_IDEN", "c-UPS_IDENc", 0},
        {"empty id", FamilySmart, id, "", "c-        c", 0},
        {"serial", FamilySmart, serial, "WS96430509", "n-WS96430509    n", 1000},
        {"serial 2nd gen", FamilySmart2ndGen, serial, "WS964305", "n-WS964305n", 1000},
        {"manufactured", FamilySmart, made, "11/29/96", "m-11/29/96m", 1000},
        {"battery date", FamilySmart, battery, "12/06/26", "x-12/06/26x", 4000},
        {"firmware head", FamilySmart, head, "652", "b-652b", 1500},
        {"short firmware head", FamilySmart, head, "6", "b-6  b", 1500},
    };
    for (const auto& row : rows) {
        // The unit answers the selection with what it holds, then stays silent.
        ScriptedUnit unit;
        unit.setHandler([first = true](char c) mutable -> std::optional<std::string> {
            if (!std::exchange(first, false))
                return std::nullopt;
            return std::string(c == 'm' || c == 'x' ? "11/29/96" : "11.22.33");
        });
        unit.ups().family = row.family;
        const Micros start = unit.clock().now();
        row.write(unit.ups(), row.text);
        EXPECT_EQ(unit.takeWritten(), row.expectedBytes) << row.name;
        EXPECT_GE(msSince(unit.clock(), start), row.pauseMs) << row.name;
        EXPECT_LT(msSince(unit.clock(), start), row.pauseMs + 12000) << row.name;
    }
}

// A unit answering a text write: the reply to "-", and to the character at each position
// after it (none where the map has no entry).
struct AnswerRow {
    const char* name;
    std::function<const char*(APCUPS&, const std::string&)> write;
    std::string text;
    const char* dashReply;  // null: silent
    std::map<int, std::string> answers;
    std::string expectedBytes;
    TextWrite result;
    bool pauses;  // the pause before the read-back (serial number: one second)
    const char* selectionReply = "11.22.33";  // null: silent; of every text's form
};

TEST(IdentityTexts, ARefusedWriteSendsNoMoreOfItsText) {
    const auto id = [](APCUPS& u, const std::string& t) { return u.WriteUpsId(t); };
    const auto serial = [](APCUPS& u, const std::string& t) { return u.WriteSerialNumber(t); };
    const auto head = [](APCUPS& u, const std::string& t) { return u.WriteFirmwareHead(t); };
    constexpr auto kAccepted = TextWrite::Accepted;
    constexpr auto kRefused = TextWrite::Refused;
    constexpr auto kUnconfirmed = TextWrite::Unconfirmed;
    const AnswerRow rows[] = {
        {"accepted", id, "WRAP", nullptr, {{7, "OK"}}, "c-WRAP    c", kAccepted, false},
        {"serial accepted",
         serial,
         "KSZ@DU",
         nullptr,
         {{13, "OK"}},
         "n-KSZ@DU        n",
         kAccepted,
         true},
        // The unit did not start a text: every character would be a command.
        {"dash refused", id, "WRAP", "NA", {}, "c-c", kRefused, false},
        {"serial dash refused", serial, "KSZ@DU", "NA", {}, "n-n", kRefused, false},
        {"head dash answered a code", head, "652", "0B", {}, "b-b", kRefused, false},
        {"second character refused", id, "WRAP", nullptr, {{1, "NA"}}, "c-WRc", kRefused, false},
        // The next to last character is the last that may stop the rest.
        {"next to last refused",
         id,
         "WRAPWRAP",
         nullptr,
         {{6, "NA"}},
         "c-WRAPWRAc",
         kRefused,
         false},
        {"padding refused", id, "AB", nullptr, {{3, "NA"}}, "c-AB  c", kRefused, false},
        {"serial character refused",
         serial,
         "KSZ@DU",
         nullptr,
         {{2, "NA"}},
         "n-KSZn",
         kRefused,
         true},
        {"last refused", id, "WRAP", nullptr, {{7, "NA"}}, "c-WRAP    c", kUnconfirmed, false},
        {"no answer at all", id, "WRAP", nullptr, {}, "c-WRAP    c", kUnconfirmed, false},
        // The selection itself not taken: a "-" would step what the unit had selected before.
        {"selection refused", id, "WRAP", nullptr, {}, "cc", kRefused, false, "NA"},
        {"selection unanswered", id, "WRAP", nullptr, {}, "cc", kRefused, false, nullptr},
        {"selection garbage", serial, "KSZ@DU", nullptr, {}, "nn", kRefused, false, "\x7f\x01"},
        // Another command's reply left on the line is no id, date or serial number.
        {"stale reading", id, "WRAP", nullptr, {}, "cc", kRefused, false, "27.15"},
        {"stale reading, serial", serial, "KSZ@DU", nullptr, {}, "nn", kRefused, false, "231.8"},
        {"stale reading, head", head, "652", nullptr, {}, "bb", kRefused, false, "27.15"},
    };
    for (const auto& row : rows) {
        ScriptedUnit unit;
        int position = -2;  // the selection, then "-", then the characters from 0
        std::vector<Micros> heard;
        unit.setHandler([&](char) -> std::optional<std::string> {
            heard.push_back(unit.clock().now());
            const int at = position++;
            if (at == -2)
                return row.selectionReply ? std::optional<std::string>(row.selectionReply)
                                          : std::nullopt;
            if (at == -1)
                return row.dashReply ? std::optional<std::string>(row.dashReply) : std::nullopt;
            const auto answer = row.answers.find(at);
            if (at >= 0 && answer != row.answers.end())
                return answer->second;
            return std::nullopt;
        });
        row.write(unit.ups(), row.text);
        EXPECT_EQ(unit.takeWritten(), row.expectedBytes) << row.name;
        EXPECT_EQ(unit.ups().lastTextWrite, row.result) << row.name;
        ASSERT_GE(heard.size(), 2u);
        const Micros readBackAfter = heard.back() - heard[heard.size() - 2];
        EXPECT_EQ(readBackAfter >= Millis(1000), row.pauses) << row.name;
    }
}

TEST(IdentityTexts, PauseComesBeforeTheReadBack) {
    ScriptedUnit unit;
    Micros readBackAt{-1};
    int seen = 0;
    unit.setHandler([&](char c) -> std::optional<std::string> {
        if (c == 'm' && ++seen == 2)
            readBackAt = unit.clock().now();
        return c == 'm' && seen == 1 ? std::optional<std::string>("11/29/96") : std::nullopt;
    });
    unit.ups().WriteManufactureDate("01/02/03");
    // "m" answered; "-" and 8 silent characters cost their timeouts; then the pause.
    const Micros answered = 40ms + sim::kByteTime * (1 + 8 + 2);
    EXPECT_EQ(readBackAt, answered + Millis(silence(1) + 8 * silence(2) + 1000));
}

TEST(IdentityTexts, TextLongerThanTheFieldIsNotSentAsCommands) {
    ScriptedUnit unit;
    unit.on('c', "UPS_IDEN");
    unit.ups().WriteUpsId("ABCDEFGHIJKL");
    EXPECT_EQ(unit.takeWritten(), "c-ABCDEFGHc");
}

TEST(IdentityTexts, FirmwareHeadWriteReturnsTheNewHead) {
    ScriptedUnit unit;
    unit.ups().isThirdGen = true;
    unit.sequence('b', {"652.13.I", "653.13.I"});
    EXPECT_STREQ(unit.ups().WriteFirmwareHead("653"), "653");
    EXPECT_EQ(unit.ups().firmwareText, ".13.I");
}

TEST(IdentityTexts, SerialNumberReadIsShorterOnSecondGeneration) {
    ScriptedUnit unit;
    Micros start = unit.clock().now();
    unit.ups().ReadSerialNumber();
    EXPECT_EQ(msSince(unit.clock(), start), silence(14));
    unit.ups().family = FamilySmart2ndGen;
    start = unit.clock().now();
    unit.ups().ReadSerialNumber();
    EXPECT_EQ(msSince(unit.clock(), start), silence(8));
}

TEST(Commands, OneShotsSendTheirByteAndReturnTheReply) {
    ScriptedUnit unit;
    unit.on('W', "OK").on('A', "OK").on('^', "BYP").on('R', "BYE").on('#', "1A").on('+', "FF");
    // A step with no selection before it (here the bypass) is not sent.
    EXPECT_STREQ(unit.ups().EepromNext(), "");
    EXPECT_STREQ(unit.ups().StartSelfTest(), "OK");
    EXPECT_STREQ(unit.ups().FrontPanelTest(), "OK");
    EXPECT_STREQ(unit.ups().SendBypassToggle(), "BYP");
    EXPECT_STREQ(unit.ups().EepromNext(), "");
    EXPECT_STREQ(unit.ups().LeaveSmartMode(), "BYE");
    EXPECT_STREQ(unit.ups().EepromBegin(), "1A");
    EXPECT_STREQ(unit.ups().EepromNext(), "FF");
    EXPECT_EQ(unit.takeWritten(), "WA^R#+");
}

TEST(Commands, ZPairIsSentOneAndAHalfSecondsApart) {
    ScriptedUnit unit;
    std::vector<Micros> at;
    unit.setHandler([&](char c) -> std::optional<std::string> {
        if (c == 'Z')
            at.push_back(unit.clock().now());
        return std::nullopt;
    });
    unit.ups().SendZPair();
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(std::chrono::duration_cast<Millis>(at[1] - at[0]).count(), silence(1) + 1500);
    EXPECT_EQ(unit.takeWritten(), "ZZ");
}

TEST(Commands, ResetToDefaultsRereadsEverySetting) {
    ScriptedUnit unit;
    unit.on('z', "CLEAR").on('l', "208").on('u', "253").on('o', "230").on('E', "336");
    unit.on('p', "020").on('r', "000").on('k', "0").on('e', "00").on('s', "H").on('q', "02");
    unit.ups().ResetToDefaults();
    EXPECT_EQ(unit.takeWritten(), "zluoEprkesq");
    EXPECT_EQ(unit.ups().lowTransferText, "208");
    EXPECT_EQ(unit.ups().highTransferText, "253");
    EXPECT_EQ(unit.ups().outputSettingText, "230");
    EXPECT_EQ(unit.ups().selfTestIntervalText, "336");
    EXPECT_EQ(unit.ups().shutdownDelayText, "020");
    EXPECT_EQ(unit.ups().turnOnDelayText, "000");
    EXPECT_EQ(unit.ups().alarmDelayText, " 5 Seconds");
    EXPECT_EQ(unit.ups().returnThresholdText, "00");
    EXPECT_EQ(unit.ups().sensitivityText, " High ");
    EXPECT_EQ(unit.ups().lowBatteryWarningText, "02");
}

}  // namespace
}  // namespace morlen::test
