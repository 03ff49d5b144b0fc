// The in-process front end: latency and pacing in virtual time, and the faults it injects,
// seen from the host side of the line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Apcups.h"
#include "SimUps.h"

namespace morlen::sim {
namespace {

using namespace std::chrono_literals;

// A unit and an APCUPS talking to it over a simulated line.
struct Bench {
    explicit Bench(const char* profile) : unit(clock, profile) {
        unit.model().setDrift(false);
        auto l = unit.makeLine();
        line = l.get();
        ups = std::make_unique<APCUPS>(std::move(l), clock);
        EXPECT_TRUE(ups->OpenPort("COM1"));
    }
    // Signs go straight onto the line, as a host that does not guard them would send them:
    // what the unit does with a sign after a lost or refused selection is under test here.
    std::string transact(char c, int n) {
        if (c != '+' && c != '-')
            return ups->Transact(c, n);
        line->writeByte(static_cast<std::uint8_t>(c));
        line->purgeReceive();
        std::uint8_t buf[64];
        const std::size_t got = line->read(buf, static_cast<std::size_t>(n) + 2);
        std::string reply(reinterpret_cast<char*>(buf), got);
        return reply.substr(0, reply.find('\r'));
    }
    std::string raw(char c, int n) { return ups->TransactRaw(c, n); }

    VirtualClock clock;
    SimUps unit;
    SimLine* line = nullptr;
    std::unique_ptr<APCUPS> ups;
};

// Reads what arrives on the line for one command, with the port's timeout rules.
std::string ReadReply(SimLine& line, std::size_t count = 100) {
    std::uint8_t buf[1100];
    const std::size_t n = line.read(buf, count);
    return std::string(reinterpret_cast<char*>(buf), n);
}

TEST(Pacing, ReplyAfterCommandByteLatencyAndOneByteTimeEach) {
    const struct { Micros latency; } cases[] = {{40ms}, {5ms}, {0ms}};
    for (const auto& c : cases) {
        VirtualClock clock(1s);
        SimUps unit(clock, "su1000");
        unit.setLatency(c.latency);
        auto line = unit.makeLine();
        ASSERT_TRUE(line->open("COM1"));
        const Micros t0 = clock.now();
        line->writeByte('Y');
        EXPECT_EQ(ReadReply(*line), "SM\r\n");
        // Command byte on the line, latency, then four reply bytes.
        EXPECT_EQ(clock.now() - t0, kByteTime + c.latency + 4 * kByteTime);
    }
}

TEST(Pacing, APollingPassCostsExactlyItsBytesAndLatencies) {
    Bench b("su1000");
    ASSERT_TRUE(b.ups->CheckSmartMode());
    const Micros t0 = b.clock.now();
    b.ups->ReadMeasurements();
    b.ups->ReadBatteryVoltage();
    b.ups->CheckSmartMode();
    // O L P C F j f B (5 characters each, "0044:" included), B again, Y (2 characters):
    // each costs its command byte, the latency and its reply with CR LF.
    const Micros perFive = kByteTime * (1 + 5 + 2) + 40ms;
    const Micros perTwo = kByteTime * (1 + 2 + 2) + 40ms;
    EXPECT_EQ(b.clock.now() - t0, 9 * perFive + perTwo);
}

TEST(Faults, UnpluggedUnitHearsNothingUntilPluggedAgain) {
    Bench b("su1000");
    EXPECT_EQ(b.transact('Y', 2), "SM");
    b.unit.unplug();
    const Micros t0 = b.clock.now();
    EXPECT_EQ(b.transact('F', 2), "");
    EXPECT_EQ(b.clock.now() - t0, 148ms);  // the whole read timeout
    EXPECT_FALSE(b.unit.log().back().plugged);
    b.unit.plug();
    EXPECT_EQ(b.transact('F', 2), "50.00");  // still in smart mode
}

TEST(Faults, SlowUnitGapsUpToTheIntervalTimeout) {
    const struct {
        Micros gap;
        std::string arrives;
    } cases[] = {
        {500ms, "SM\r\n"},  // slow but whole
        {700ms, "S"},       // the 600 ms gap rule ends the read after the first byte
    };
    for (const auto& c : cases) {
        Bench b("su1000");
        b.unit.setByteGap(c.gap);
        b.line->writeByte('Y');
        EXPECT_EQ(ReadReply(*b.line), c.arrives) << c.gap.count();
    }
}

TEST(Faults, DroppedAndGarbledBytesHitTheNextReplyOnly) {
    Bench b("su1000");
    b.unit.dropReplyByte(1);
    EXPECT_EQ(b.transact('Y', 2), "S");
    EXPECT_EQ(b.transact('Y', 2), "SM");
    b.unit.garbleReplyByte(0, 'X');
    EXPECT_EQ(b.transact('F', 2), "X0.00");
    b.unit.dropReplyByte(2);  // the CR: the host sees LF without CR
    EXPECT_EQ(b.raw('Y', 2), "SM\n");
}

// Each fault hits the byte it was aimed at and only that one; the log tells how the unit
// took every byte. After the commands, "u" shows whether the upper transfer voltage moved.
TEST(Faults, EachByteFaultHitsItsByteAndTheLogSaysHowTheUnitTookIt) {
    struct Row {
        const char* name;
        void (*arm)(SimUps&);
        std::string commands;  // after "Y"
        std::vector<std::string> replies;
        std::string taken;  // per command: I ignored, C command, * changed, R refused
        std::string upper;  // "u" afterwards
        // Per command, the fault that hit it: . none, L lost, R refused, G reply replaced,
        // S restart, U cable pulled.
        std::string hits;
    };
    const Row rows[] = {
        {"none", [](SimUps&) {}, "u-", {"253", "OK"}, "C*", "257", ".."},
        {"lost selection: the sign steps what was selected before",
         [](SimUps& u) { u.loseByte(1); },
         "Lu-",
         {"230.0", "", "NO"},
         "CIC",
         "253",
         ".L."},
        {"refused selection",
         [](SimUps& u) { u.refuseByte(1); },
         "Lu-",
         {"230.0", "NA", "NO"},
         "CRC",
         "253",
         ".R."},
        {"refused step",
         [](SimUps& u) { u.refuseNextStep(); },
         "u-u-",
         {"253", "NA", "253", "OK"},
         "CRC*",
         "257",
         ".R.."},
        {"garbage reply: the unit still acted",
         [](SimUps& u) { u.replaceReply("\x7fZ\r\n", 1); },
         "u-",
         {"253", "\x7fZ"},
         "C*",
         "257",
         ".G"},
        {"restart: out of smart mode until Y",
         [](SimUps& u) { u.restartBefore(0); },
         "u-Yu",
         {"", "", "SM", "253"},
         "IICC",
         "253",
         "S..."},
        {"pulled cable",
         [](SimUps& u) { u.unplugBefore(1); },
         "u-",
         {"253", ""},
         "CI",
         "253",
         ".U"},
        {"refused selection after a setting: the sign steps the setting",
         [](SimUps& u) { u.refuseCommand('c'); },
         "uc-",
         {"253", "NA", "OK"},
         "CR*",
         "257",
         ".R."},
        {"lost selection aimed at its command",
         [](SimUps& u) { u.loseCommand('c'); },
         "uc-",
         {"253", "", "OK"},
         "CI*",
         "257",
         ".L."},
        {"aimed at the second of a command",
         [](SimUps& u) { u.refuseCommand('u', 1); },
         "uu-u",
         {"253", "NA", "OK", "257"},
         "CR*C",
         "257",
         ".R.."},
        {"garbage aimed at a command: the unit still acted",
         [](SimUps& u) { u.replaceReplyTo('u', "Z9\r\n"); },
         "Fu-",
         {"50.00", "Z9", "OK"},
         "CC*",
         "257",
         ".G."},
        {"garbage aimed at a refused command: the refusal stands",
         [](SimUps& u) { u.replaceReplyTo('0', "99\r\n"); },
         "u0-",
         {"253", "NA", "OK"},
         "CC*",
         "257",
         "..."},
        {"restart aimed at a command",
         [](SimUps& u) { u.restartBeforeCommand('c'); },
         "uc-Yu",
         {"253", "", "", "SM", "253"},
         "CIICC",
         "253",
         ".S..."},
        {"an aimed fault passes over the characters of a text",
         [](SimUps& u) { u.refuseCommand('u'); },
         "m-uuuuuuuuu",
         {"11/29/96", "", "", "", "", "", "", "", "", "OK", "NA"},
         "C-ttttttttR",
         "253",
         "..........R"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench b("su1000");
        ASSERT_EQ(b.transact('Y', 2), "SM");
        row.arm(b.unit);
        const std::size_t from = b.unit.log().size();
        for (std::size_t i = 0; i < row.commands.size(); ++i)
            EXPECT_EQ(b.transact(row.commands[i], 3), row.replies[i]) << i;
        std::string taken;
        for (std::size_t i = from; i < b.unit.log().size(); ++i)
            taken += "IC*-tR"[static_cast<int>(b.unit.log()[i].taken)];
        EXPECT_EQ(taken, row.taken);
        std::string hits;
        for (std::size_t i = from; i < b.unit.log().size(); ++i) {
            const std::uint8_t h = b.unit.log()[i].hit;
            hits += h == 0              ? '.'
                    : h == HitLost      ? 'L'
                    : h == HitRefused   ? 'R'
                    : h == HitReplaced  ? 'G'
                    : h == HitRestart   ? 'S'
                    : h == HitUnplugged ? 'U'
                                        : '?';
        }
        EXPECT_EQ(hits, row.hits);
        b.unit.plug();
        EXPECT_EQ(b.transact('u', 3), row.upper);
    }
}

TEST(Faults, AlertInsideAReply) {
    Bench b("su1000");
    b.unit.insertAlertInReply(1, '!');
    EXPECT_EQ(b.raw('Y', 2), "S!M");
    b.unit.insertAlertInReply(1, '!');
    EXPECT_EQ(b.transact('Y', 2), "SM");
}

TEST(Faults, ScheduledAlertBetweenCommandsIsPurgedAndOneDuringTheWaitIsKept) {
    Bench b("su1000");
    b.transact('Y', 2);
    b.unit.scheduleAlert('?', b.clock.now() + 10ms);
    b.clock.advance(200ms);
    EXPECT_EQ(b.raw('Y', 2), "SM");  // arrived before the purge
    b.unit.scheduleAlert('$', b.clock.now() + 20ms);
    EXPECT_EQ(b.raw('Y', 2), "$SM");  // arrived while the unit was preparing its reply
}

TEST(Faults, AlertDuringAReplyWaitsForItsEnd) {
    Bench b("su1000");
    b.transact('Y', 2);
    // The reply of Ctrl-A occupies the line from 44 ms to about 110 ms.
    b.unit.scheduleAlert('%', b.clock.now() + 60ms);
    EXPECT_EQ(b.raw(1, 22), "SMART-UPS 1000");
    b.line->writeByte('Y');
    EXPECT_EQ(ReadReply(*b.line).substr(0, 1), "%");
}

TEST(Power, FailureShowsInTheStatusRegisterAndSendsTheAlert) {
    Bench b("su1000");
    b.transact('Y', 2);
    b.unit.powerFail();
    EXPECT_EQ(b.raw('Q', 2), "!10");
    EXPECT_EQ(b.ups->ReadStatusByte(), 0x10);
    EXPECT_STREQ(b.ups->ReadInputVoltage(), "000.0");
    b.unit.powerRestore();
    EXPECT_EQ(b.raw('Q', 2), "$08");
}

TEST(Power, CalibrationIsSignalledByAlertsOnlyWhichTheReplyFilterDrops) {
    Bench b("su1000");
    b.transact('Y', 2);
    b.unit.setLoad(40);
    EXPECT_EQ(b.raw('D', 2), "!");  // no reply of its own
    EXPECT_EQ(b.unit.log().back().taken, Taken::Changed);
    EXPECT_EQ(b.unit.log().back().target, 'D');
    EXPECT_EQ(b.transact('Q', 2), "11");
    b.clock.advance(30s);
    EXPECT_EQ(b.transact('Q', 2), "11");        // the repeated "!" is not part of the answer
    EXPECT_STREQ(b.ups->Transact('D', 2), "");  // the abort's "$" is all there is
    EXPECT_EQ(b.raw('Q', 2), "08");
    b.clock.advance(1min);
    EXPECT_EQ(b.transact('D', 2), "NO");  // no longer full
}

TEST(Log, RecordsEveryCommandWithItsTimeAndReply) {
    Bench b("su1000");
    b.transact('Y', 2);
    b.transact('T', 2);
    b.ups->Transact('1', 0);
    ASSERT_EQ(b.unit.log().size(), 3u);
    EXPECT_EQ(b.unit.log()[0].command, 'Y');
    EXPECT_EQ(b.unit.log()[0].reply, std::optional<std::string>("SM\r\n"));
    EXPECT_EQ(b.unit.log()[1].reply, std::optional<std::string>("NA\r\n"));
    EXPECT_EQ(b.unit.log()[2].reply, std::nullopt);
    EXPECT_LT(b.unit.log()[0].at, b.unit.log()[1].at);
    EXPECT_EQ(TraceLine(1500ms, 'Y', std::string("SM\r\n")), "  1.500000 Y -> \"SM\\r\\n\"");
    EXPECT_EQ(TraceLine(0ms, 1, std::nullopt), "  0.000000 \\x01 -> (silent)");
}

TEST(Lifetime, ALineThatOutlivesItsUnitGetsSilence) {
    VirtualClock clock;
    std::unique_ptr<SimLine> line;
    {
        SimUps unit(clock, "su1000");
        line = unit.makeLine();
    }
    ASSERT_TRUE(line->open("COM1"));
    line->writeByte('Y');
    EXPECT_EQ(ReadReply(*line, 4), "");
}

TEST(Lifetime, UnknownProfileNameIsRefused) {
    VirtualClock clock;
    EXPECT_THROW(SimUps(clock, "no-such-unit"), std::invalid_argument);
}

}  // namespace
}  // namespace morlen::sim
