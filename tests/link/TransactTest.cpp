// The link's transaction primitives: framing, alert filtering, continuation, timeouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ScriptedUnit.h"

namespace morlen::test {
namespace {

using sim::kByteTime;

std::int64_t elapsedMs(VirtualClock& clock, Micros since) {
    return std::chrono::duration_cast<Millis>(clock.now() - since).count();
}

TEST(Transact, PlainReplyIsReturnedWithoutItsLineEnd) {
    ScriptedUnit unit;
    unit.on('Y', "SM");
    EXPECT_STREQ(unit.ups().Transact('Y', 2), "SM");
    EXPECT_EQ(unit.takeWritten(), "Y");
}

TEST(Transact, AlertInsideReplyIsDropped) {
    ScriptedUnit unit;
    unit.on('Y', "S!M");
    EXPECT_STREQ(unit.ups().Transact('Y', 2), "SM");
}

TEST(Transact, EveryAlertCharacterIsDroppedButRawKeepsThem) {
    const std::string alerts = "!$?%+=*#|&";
    ScriptedUnit unit;
    unit.on('a', "A" + alerts + "B");
    EXPECT_STREQ(unit.ups().Transact('a', 12), "AB");
    EXPECT_EQ(std::string(unit.ups().TransactRaw('a', 12)), "A" + alerts + "B");
}

TEST(Transact, ReplyLengthZeroSendsOnlyAndKeepsPreviousReply) {
    ScriptedUnit unit;
    unit.on('Y', "SM").on('1', "PROG");
    unit.ups().Transact('Y', 2);
    const Micros before = unit.clock().now();
    EXPECT_STREQ(unit.ups().Transact('1', 0), "SM");
    EXPECT_EQ(unit.clock().now(), before) << "no read, no wait";
    // No purge either: the unanswered reply is still on its way.
    EXPECT_GT(unit.line().pending(), 0u);
    EXPECT_EQ(unit.takeWritten(), "Y1");
}

TEST(Transact, LongerReplyIsCompletedByOneContinuationRead) {
    ScriptedUnit unit;
    unit.on('F', "50.00");  // 5 characters when 2 were asked for
    EXPECT_STREQ(unit.ups().Transact('F', 2), "50.00");
}

TEST(Transact, ContinuationIsTriedOnlyOnce) {
    ScriptedUnit unit;
    unit.on('F', "1234567890");  // 12 bytes with CR LF; 4 + 3 are read
    EXPECT_STREQ(unit.ups().Transact('F', 2), "1234567");
}

TEST(Transact, ReplyWithoutCarriageReturnIsCopiedUpToTheBytesRead) {
    ScriptedUnit unit;
    unit.on('V', "ABCDE", /*raw=*/true);
    EXPECT_STREQ(unit.ups().Transact('V', 3), "ABCDE");
}

TEST(Transact, LineFeedBeforeCarriageReturnIsKept) {
    ScriptedUnit unit;
    unit.on('x', "A\nB\r\n", true);
    EXPECT_STREQ(unit.ups().Transact('x', 3), "A\nB");
}

TEST(Transact, NulBytesNeverReachTheReply) {
    ScriptedUnit unit;
    unit.on('n',
            std::string("WS96\0\0"
                        "430\0\r\n",
                        12),
            true);
    EXPECT_STREQ(unit.ups().Transact('n', 14), "WS96430");
    EXPECT_EQ(std::strlen(unit.ups().rawBuffer), 9u) << "the raw bytes hold no NUL either";
}

TEST(Transact, OnlyNulBytesCountAsNoAnswer) {
    ScriptedUnit unit;
    unit.on('Y', std::string("\0\0", 2), true);
    EXPECT_STREQ(unit.ups().Transact('Y', 2), "");
}

TEST(Transact, SilenceCostsExactlyTheTotalTimeout) {
    struct Row {
        int replyLength;
        std::uint32_t multiplier;
        std::int64_t expectedMs;
    };
    for (const Row& row :
         {Row{2, 22, 148}, Row{3, 22, 170}, Row{5, 22, 214}, Row{8, 22, 280}, Row{14, 22, 412},
          Row{22, 22, 588}, Row{1000, 22, 22104}, Row{2, 30, 180}, Row{8, 30, 360}}) {
        ScriptedUnit unit;
        unit.ups().SetReadTotalMultiplier(row.multiplier);
        const Micros start = unit.clock().now();
        EXPECT_STREQ(unit.ups().Transact('Y', row.replyLength), "");
        EXPECT_EQ(elapsedMs(unit.clock(), start), row.expectedMs)
            << "reply length " << row.replyLength << ", multiplier " << row.multiplier;
    }
}

TEST(Transact, ReplyEndsAtItsLineEndWithoutWaitingForTimeouts) {
    ScriptedUnit unit;
    unit.on('L', "231.8");
    const Micros start = unit.clock().now();
    // A run-time style reply one byte longer than asked must not cost a timeout either.
    unit.on('j', "0042:");
    EXPECT_STREQ(unit.ups().Transact('L', 5), "231.8");
    // Command byte, latency, 7 reply bytes.
    EXPECT_EQ((unit.clock().now() - start).count(), (kByteTime * 8 + Millis(40)).count());
    const Micros second = unit.clock().now();
    EXPECT_STREQ(unit.ups().Transact('j', 4), "0042:");
    EXPECT_EQ((unit.clock().now() - second).count(), (kByteTime * 8 + Millis(40)).count());
}

TEST(Transact, GapLongerThanTheIntervalEndsTheRead) {
    ScriptedUnit unit;
    unit.setGap(Millis(900));
    unit.on(cmd::CtrlZ, "#uD");
    const Micros start = unit.clock().now();
    // "#" arrives, then 600 ms of silence end the long first read; the continuation read
    // waits its own 22 * 3 + 60 ms and gets nothing.
    EXPECT_STREQ(unit.ups().TransactRaw(cmd::CtrlZ, 1000), "#");
    const auto firstByte = kByteTime * 2 + Millis(40);
    EXPECT_EQ((unit.clock().now() - start).count(), (firstByte + Millis(600 + 126)).count());
}

TEST(Transact, TotalTimeoutEndsAShortReadBeforeTheInterval) {
    ScriptedUnit unit;
    unit.setGap(Millis(500));  // below the 600 ms interval, but past the total timeout
    unit.on('Y', "SM");
    const Micros start = unit.clock().now();
    // First read: 148 ms pass after "S"; the continuation read's 126 ms pass with nothing.
    EXPECT_STREQ(unit.ups().Transact('Y', 2), "S");
    EXPECT_EQ(elapsedMs(unit.clock(), start), 148 + 126);
}

TEST(Transact, AlertsSentBeforeTheCommandArePurged) {
    ScriptedUnit unit;
    unit.on('B', "27.87");
    unit.line().send("!!#$", unit.clock().now());
    unit.clock().advance(Millis(100));
    EXPECT_STREQ(unit.ups().Transact('B', 5), "27.87");
}

TEST(Transact, RawReplyIsCutAt511Characters) {
    ScriptedUnit unit;
    unit.on(cmd::CtrlZ, std::string(900, 'u'));
    const std::string reply = unit.ups().TransactRaw(cmd::CtrlZ, 1000);
    EXPECT_EQ(reply.size(), 511u);
}

TEST(Transact, FailedDeviceEndsAtOnceWithNothing) {
    ScriptedUnit unit;
    unit.on('Y', "SM");
    unit.line().setFailed(true);
    const Micros start = unit.clock().now();
    EXPECT_STREQ(unit.ups().Transact('Y', 2), "");
    EXPECT_EQ(unit.clock().now(), start);
}

TEST(OpenPort, OpensReleasesAndOpensAgainThenSetsTimeouts) {
    VirtualClock clock;
    auto line = std::make_unique<sim::SimLine>(clock);
    sim::SimLine* l = line.get();
    APCUPS ups(std::move(line), clock);
    EXPECT_EQ(ups.portHandle, PortHandle::Null);
    ASSERT_TRUE(ups.OpenPort("COM2"));
    EXPECT_EQ(l->openCount(), 2);
    EXPECT_EQ(l->closeCount(), 1);
    EXPECT_EQ(l->lastOpenedName(), "COM2");
    EXPECT_EQ(ups.portHandle, PortHandle::Open);
    EXPECT_EQ(l->timeouts().readInterval, 600u);
    EXPECT_EQ(l->timeouts().readTotalMultiplier, 22u);
    EXPECT_EQ(l->timeouts().readTotalConstant, 60u);
    EXPECT_EQ(l->timeouts().writeTotalMultiplier, 0u);
    EXPECT_EQ(l->timeouts().writeTotalConstant, 0u);
    EXPECT_TRUE(ups.ClosePortHandle());
    EXPECT_EQ(ups.portHandle, PortHandle::Null);
    EXPECT_FALSE(ups.ClosePortHandle()) << "nothing left to close";
}

TEST(OpenPort, FailureLeavesTheInvalidHandle) {
    VirtualClock clock;
    auto line = std::make_unique<sim::SimLine>(clock);
    line->setOpenableNames({"COM1"});
    APCUPS ups(std::move(line), clock);
    EXPECT_FALSE(ups.OpenPort("COM3"));
    EXPECT_EQ(ups.portHandle, PortHandle::Invalid);
    EXPECT_FALSE(ups.PortHandleValid());
}

TEST(CheckSmartMode, FirstAnswerIsEnough) {
    ScriptedUnit unit;
    unit.on('Y', "SM");
    EXPECT_TRUE(unit.ups().CheckSmartMode());
    EXPECT_TRUE(unit.ups().smartModeOk);
    EXPECT_EQ(unit.takeWritten(), "Y");
}

TEST(CheckSmartMode, SecondAnswerRescuesTheCheck) {
    ScriptedUnit unit;
    unit.sequence('Y', {"NA", "SM"});
    EXPECT_TRUE(unit.ups().CheckSmartMode());
    EXPECT_EQ(unit.takeWritten(), "YY");
}

TEST(CheckSmartMode, SilentUnitFailsAfterTwoTriesAndClearsTheFlag) {
    ScriptedUnit unit;
    unit.on('Y', "SM");
    ASSERT_TRUE(unit.ups().CheckSmartMode());
    unit.silent('Y');
    unit.takeWritten();
    EXPECT_FALSE(unit.ups().CheckSmartMode());
    EXPECT_FALSE(unit.ups().smartModeOk);
    EXPECT_EQ(unit.takeWritten(), "YY");
}

TEST(HexByte, ConvertsTwoCharactersByTheLinkRules) {
    struct Row {
        const char* text;
        bool converted;
        int value;
    };
    for (const Row& row :
         {Row{"08", true, 8}, Row{"0F", true, 15}, Row{"ff", true, 255}, Row{"A5", true, 0xA5},
          Row{"NA", true, 250}, Row{":;", true, 239}, Row{"g0", false, 0}, Row{"0g", false, 0},
          Row{"", false, 0}, Row{"0", false, 0}, Row{" 1", false, 0}}) {
        std::uint8_t out = 77;
        EXPECT_EQ(HexByte(row.text, out), row.converted) << row.text;
        EXPECT_EQ(out, row.converted ? row.value : 77) << row.text;
    }
}

TEST(NewObject, StartsAtFamilyZeroWithEmptyTexts) {
    VirtualClock clock;
    APCUPS ups(std::make_unique<sim::SimLine>(clock), clock);
    EXPECT_EQ(ups.family, FamilySmart);
    EXPECT_TRUE(ups.modelName.empty());
    EXPECT_TRUE(ups.serialNumber.empty());
    EXPECT_FALSE(ups.smartModeOk);
    for (std::uint8_t b : ups.eepromImage)
        ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace morlen::test
