// The simulated unit's state machine: smart mode, settings, texts, programming mode,
// constants, meters, model code, EEPROM, power and alerts.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "UpsModel.h"

namespace morlen::sim {
namespace {

using namespace std::chrono_literals;

constexpr char kCtrlA = 1;
constexpr char kCtrlB = 2;
constexpr char kCtrlD = 4;

// Drives a model with commands spaced in time, as a host would.
class Unit {
public:
    explicit Unit(const char* profile) : model_(*FindProfile(profile)) { model_.setDrift(false); }

    // Sends one byte `gap` after the previous one; returns the reply without its CR LF, or
    // "(silent)". A reply without CR LF is returned as "(unterminated) ...".
    std::string send(char c, Micros gap = 200ms) {
        t_ += gap;
        const auto reply = model_.receive(static_cast<std::uint8_t>(c), t_);
        if (!reply)
            return "(silent)";
        if (reply->size() < 2 || reply->substr(reply->size() - 2) != "\r\n")
            return "(unterminated) " + *reply;
        return reply->substr(0, reply->size() - 2);
    }
    // Sends each byte of `bytes`; returns the reply to the last.
    std::string sendAll(std::string_view bytes) {
        std::string last;
        for (char c : bytes)
            last = send(c);
        return last;
    }
    // Smart mode, and programming mode with a well-timed "1" pair.
    void enterProgramming() {
        ASSERT_EQ(send('Y'), "SM");
        send('1');
        ASSERT_EQ(send('1', 1600ms), model_.profile().progReply);
    }
    void wait(Micros d) { t_ += d; }
    std::vector<Alert> alertsUpTo(Micros d) { return model_.takeAlerts(t_ + d); }
    std::vector<std::uint8_t> eepromWalk() {
        // One "#" and 256 "+": the whole EEPROM, starting after the current address.
        std::vector<std::uint8_t> bytes(256);
        const int start = std::stoi(send('#'), nullptr, 16);
        for (int i = 1; i <= 256; ++i)
            bytes[static_cast<std::size_t>((start + i) % 256)] =
                static_cast<std::uint8_t>(std::stoi(send('+', 10ms), nullptr, 16));
        return bytes;
    }

    UpsModel& model() { return model_; }
    Micros now() const { return t_; }

private:
    UpsModel model_;
    Micros t_{1'000'000};
};

std::string Chars(const std::vector<Alert>& alerts) {
    std::string s;
    for (const auto& a : alerts)
        s += a.byte;
    return s;
}

// ---- Smart mode and reply formats ----

TEST(SmartMode, SilentUntilYAndAgainAfterR) {
    Unit u("su1000");
    EXPECT_EQ(u.send('F'), "(silent)");
    EXPECT_EQ(u.send(kCtrlA), "(silent)");
    EXPECT_EQ(u.send('Y'), "SM");
    EXPECT_EQ(u.send('F'), "50.00");
    EXPECT_EQ(u.send('R'), "BYE");
    EXPECT_FALSE(u.model().smartMode());
    EXPECT_EQ(u.send('F'), "(silent)");
    EXPECT_EQ(u.send('Y'), "SM");
    EXPECT_EQ(u.send('F'), "50.00");
}

TEST(SmartMode, RepliesUseTheUnitsOwnFormats) {
    Unit u("su1000");
    u.send('Y');
    const struct {
        char command;
        std::string reply;
    } cases[] = {
        {'L', "230.0"},
        {'P', "023.5"},
        {'B', "27.30"},
        {'f', "100.0"},
        {'C', "036.0"},
        {'F', "50.00"},
        {'j', "0044:"},  // run time ends in a colon
        {'g', "024"},
        {'Q', "08"},
        {'~', "00"},
        {'n', std::string("WS9643050926\0\0", 14)},  // NUL-padded serial number
        {'b', "60.11.I"},
        {'E', "336"},
        {'k', "0"},
        {'>', "000"},
        {'c', "UPS_IDEN"},
        {'m', "11/29/96"},
        {kCtrlA, "SMART-UPS 1000"},
        {'W', "OK"},
        {'A', "OK"},
        {'T', "NA"},  // unknown
        {'X', "NO"},  // no self-test result yet
        {'9', "FF"},
        {'M', "230.0"},
        {'N', "230.0"},
        {'0', "NA"},  // calibration constants need programming mode
    };
    for (const auto& c : cases)
        EXPECT_EQ(u.send(c.command), c.reply) << "command " << c.command;
}

TEST(SmartMode, SelfTestIntervalOnHasATrailingSpace) {
    Unit u("su1000");
    u.send('Y');
    u.send('E');
    u.send('-');
    u.send('-');
    EXPECT_EQ(u.send('E'), "ON ");
}

TEST(SmartMode, OldUnitsIgnoreWhatTheyDoNotKnow) {
    Unit u("gen2-v1");
    EXPECT_EQ(u.send('Y'), "SM");
    EXPECT_EQ(u.send('T'), "(silent)");
    EXPECT_EQ(u.send(kCtrlA), "(silent)");
    EXPECT_EQ(u.send('\r'), "(silent)");
    EXPECT_EQ(u.send('1'), "(silent)");
    EXPECT_EQ(u.send('1', 1600ms), "(silent)");
    EXPECT_EQ(u.send('V'), "7QI");
    EXPECT_EQ(u.send('7'), "00");
}

TEST(SmartMode, ProtocolInfoListsThePublicCommandsOnly) {
    Unit u("su1000");
    u.send('Y');
    const std::string info = u.send('a');
    ASSERT_EQ(info.rfind("3.", 0), 0u) << info;
    const std::string commands = info.substr(info.rfind('.') + 1);
    for (char c : std::string("Y\x01\x1aQnbLPBfjElu"))
        EXPECT_NE(commands.find(c), std::string::npos) << "missing " << int(c);
    for (char c : std::string("1045#$%^\x02\x04"
                              "7H"))
        EXPECT_EQ(commands.find(c), std::string::npos) << "hidden command listed: " << c;

    Unit cs("backcs");
    cs.send('Y');
    const std::string csCommands = cs.send('a');
    for (char c : std::string("FPLOElu"))
        EXPECT_EQ(csCommands.substr(csCommands.rfind('.')).find(c), std::string::npos) << c;
}

// ---- Settings ----

TEST(Settings, MinusWalksTheValuesAndWraps) {
    const struct {
        const char* profile;
        char command;
        std::vector<std::string> afterEachMinus;
    } cases[] = {
        {"su1000", 'u', {"257", "261", "265", "253"}},
        {"su1000", 'l', {"204", "200", "196", "208"}},
        {"su1000", 'o', {"240", "220", "225", "230"}},
        {"su1000", 'E', {"168", "ON ", "OFF", "336"}},
        {"su1000", 'p', {"180", "300", "600", "020"}},
        {"su1000", 'r', {"060", "180", "300", "000"}},
        {"su1000", 'q', {"05", "07", "10", "02"}},
        {"su1000", 'e', {"15", "50", "90", "00"}},
        {"su1000", 'k', {"T", "L", "N", "0"}},
        {"su1000", 's', {"M", "L", "H"}},
        {"su1000-3g", 'e', {"15", "25", "35", "50", "60", "90", "00"}},
        {"surt1000xl", 's', {"A"}},
        {"gen2-v0", 'u', {"257", "261", "265", "253"}},
    };
    for (const auto& c : cases) {
        Unit u(c.profile);
        u.send('Y');
        for (const auto& expected : c.afterEachMinus) {
            u.send(c.command);
            EXPECT_EQ(u.send('-'), "OK") << c.profile << " " << c.command;
            EXPECT_EQ(u.send(c.command), expected) << c.profile << " " << c.command;
        }
    }
}

TEST(Settings, PlusStepsBackAndTheSelectionOutlastsSeveralSteps) {
    Unit u("su1000");
    u.send('Y');
    u.send('u');
    EXPECT_EQ(u.send('+'), "OK");
    EXPECT_EQ(u.send('u'), "265");
    u.send('-');
    u.send('-');
    EXPECT_EQ(u.send('-'), "OK");
    EXPECT_EQ(u.model().setting('u'), "261");
}

TEST(Settings, StepWithoutASettingAnswersNo) {
    Unit u("su1000");
    u.send('Y');
    EXPECT_EQ(u.send('-'), "NO");
    u.send('F');
    EXPECT_EQ(u.send('+'), "NO");
    u.send('L');  // a meter, but not in programming mode
    EXPECT_EQ(u.send('+'), "NO");

    Unit old("gen2-v1");
    old.send('Y');
    old.send('F');
    EXPECT_EQ(old.send('-'), "(silent)");
}

// A refused command leaves the earlier selection in place: a sign sent next steps that.
TEST(Settings, ARefusedCommandKeepsTheEarlierSelectionForTheNextSign) {
    Unit u("su1000");
    u.send('Y');
    u.send('u');
    EXPECT_EQ(u.send('0'), "NA");  // a constant, outside programming mode
    EXPECT_EQ(u.send('-'), "OK");
    EXPECT_EQ(u.model().setting('u'), "257");

    // "#" outside programming mode on a unit where it is a constant: an EEPROM read's "+".
    Unit sc("sc1000");
    sc.send('Y');
    sc.send('p');
    EXPECT_EQ(sc.send('#'), "NA");
    EXPECT_EQ(sc.send('+'), "OK");
    EXPECT_EQ(sc.model().setting('p'), "600");

    // A unit that ignores what it does not know keeps its selection too.
    Unit old("gen2-v1");
    old.send('Y');
    old.send('l');
    EXPECT_EQ(old.send(kCtrlA), "(silent)");
    EXPECT_EQ(old.send('-'), "OK");
    EXPECT_EQ(old.model().setting('l'), "204");

    // A command it answers is a new selection, whatever it is.
    Unit v("su1000");
    v.send('Y');
    v.send('u');
    v.send('F');
    EXPECT_EQ(v.send('-'), "NO");
    EXPECT_EQ(v.model().setting('u'), "253");
}

TEST(Settings, AStepIsFollowedByTheChangeAlertAFewSecondsLater) {
    Unit u("su1000");
    u.send('Y');
    u.send('p');
    u.send('-');
    EXPECT_EQ(Chars(u.alertsUpTo(2900ms)), "");
    EXPECT_EQ(Chars(u.alertsUpTo(3000ms)), "|");
    EXPECT_EQ(Chars(u.alertsUpTo(10s)), "");
}

TEST(Settings, FactoryResetRestoresSettingsButNotTexts) {
    Unit u("su1000");
    u.send('Y');
    u.sendAll("u-o-E-E-k-c-");
    u.sendAll("NEWID123");
    ASSERT_EQ(u.model().setting('E'), "ON ");
    EXPECT_EQ(u.send('z'), "CLEAR");
    EXPECT_EQ(u.send('u'), "253");
    EXPECT_EQ(u.send('o'), "230");
    EXPECT_EQ(u.send('E'), "336");
    EXPECT_EQ(u.send('k'), "0");
    EXPECT_EQ(u.send('c'), "NEWID123");
}

TEST(Settings, BatteryPacksStepBothWaysAndStopAtZero) {
    Unit u("su1000");
    u.send('Y');
    u.send('>');
    EXPECT_EQ(u.send('+'), "OK");
    u.send('+');
    EXPECT_EQ(u.send('>'), "002");
    u.sendAll(">---");
    EXPECT_EQ(u.send('>'), "000");
}

// ---- Identity texts ----

TEST(Texts, WrittenCharacterByCharacterWithOkAfterTheLast) {
    const struct {
        const char* profile;
        char command;
        std::string text;  // exactly the width the unit takes
    } cases[] = {
        {"su1000", 'c', "AB-+C   "},  // "+" and "-" are text here, not steps
        {"su1000", 'm', "01/02/24"},       {"su1000", 'x', "12/31/23"},
        {"su1000", 'n', "XY1234567890  "}, {"gen2-v2", 'n', "QS000001"},
        {"gen2-v2", 'c', "GEN2UNIT"},
    };
    for (const auto& c : cases) {
        Unit u(c.profile);
        u.send('Y');
        u.send(c.command);
        EXPECT_EQ(u.send('-'), "(silent)") << c.profile << " " << c.command;
        for (std::size_t i = 0; i + 1 < c.text.size(); ++i)
            EXPECT_EQ(u.send(c.text[i], 150ms), "(silent)") << c.profile << " " << c.command;
        EXPECT_EQ(u.send(c.text.back(), 150ms), "OK") << c.profile << " " << c.command;
        EXPECT_EQ(u.send(c.command), c.text) << c.profile << " " << c.command;
        // Stored: the "|" alert 3 s after the "OK" (the read above came 200 ms after it).
        EXPECT_EQ(Chars(u.alertsUpTo(2700ms)), "") << c.profile << " " << c.command;
        EXPECT_EQ(Chars(u.alertsUpTo(2800ms)), "|") << c.profile << " " << c.command;
    }
}

TEST(Texts, ThirdGenerationFirmwareHeadAfterB) {
    Unit u("su1000-3g");
    u.send('Y');
    EXPECT_EQ(u.send('b'), "652.12.I");
    u.send('-');
    u.send('7');
    u.send('1');
    EXPECT_EQ(u.send('9'), "OK");
    EXPECT_EQ(u.send('b'), "719.12.I");

    // On older units "-" after "b" is a model-code step, refused outside programming mode.
    Unit old("su1000");
    old.send('Y');
    old.send('b');
    EXPECT_EQ(old.send('-'), "NO");
}

TEST(Texts, AWriteThatStallsIsAbandoned) {
    Unit u("su1000");
    u.send('Y');
    u.send('c');
    u.send('-');
    u.send('Q');
    u.wait(6s);
    EXPECT_EQ(u.send('Y'), "SM");  // a command again, not the second character
    EXPECT_EQ(u.send('c'), "UPS_IDEN");
}

TEST(Texts, NoSerialNumberToWrite) {
    Unit u("noserial");
    u.send('Y');
    EXPECT_EQ(u.send('n'), "NA");
    EXPECT_EQ(u.send('-'), "NO");
}

// ---- Programming mode ----

TEST(ProgrammingMode, TheOnePairMustBeOneAndAHalfToFourSecondsApart) {
    const struct {
        Micros gap;
        bool answered;
    } cases[] = {
        {1000ms, false}, {1440ms, false}, {1500ms, true},  {2500ms, true},
        {3900ms, true},  {4100ms, false}, {6000ms, false},
    };
    for (const auto& c : cases) {
        Unit u("su1000");
        u.send('Y');
        EXPECT_EQ(u.send('1'), "(silent)");
        EXPECT_EQ(u.send('1', c.gap), c.answered ? "PROG" : "(silent)") << c.gap.count();
        EXPECT_EQ(u.model().programmingMode(), c.answered);
    }
}

TEST(ProgrammingMode, ATooEarlySecondOneStartsANewPair) {
    Unit u("su1000");
    u.send('Y');
    u.send('1');
    EXPECT_EQ(u.send('1', 500ms), "(silent)");
    EXPECT_EQ(u.send('1', 1500ms), "PROG");
}

TEST(ProgrammingMode, AnotherCommandBetweenBreaksThePair) {
    Unit u("su1000");
    u.send('Y');
    u.send('1');
    u.send('F', 700ms);
    EXPECT_EQ(u.send('1', 900ms), "(silent)");
}

TEST(ProgrammingMode, SmartSlotCardAnswersAprog) {
    Unit u("smartslot");
    u.enterProgramming();
    EXPECT_TRUE(u.model().programmingMode());
}

TEST(ProgrammingMode, ConstantsAnswerOnlyInsideAndRLeavesIt) {
    Unit u("su1000");
    u.send('Y');
    EXPECT_EQ(u.send('0'), "NA");
    u.send('1');
    ASSERT_EQ(u.send('1', 1600ms), "PROG");
    EXPECT_EQ(u.send('0'), "A0");
    EXPECT_EQ(u.send('4'), "35");
    EXPECT_EQ(u.send('Y'), "SM");  // the smart-mode check keeps programming mode
    EXPECT_EQ(u.send('5'), "EF");
    EXPECT_EQ(u.send('R'), "BYE");
    EXPECT_EQ(u.send('Y'), "SM");
    EXPECT_EQ(u.send('0'), "NA");
}

// ---- Constants and meters ----

TEST(Constants, StepByOneInHexAndWrap) {
    Unit u("su1000");
    u.enterProgramming();
    u.send('0');
    EXPECT_EQ(u.send('+'), "A1");
    EXPECT_EQ(u.send('-'), "A0");
    EXPECT_EQ(u.send('-'), "9F");
    u.send('6');  // F9
    std::string last;
    for (int i = 0; i < 7; ++i)
        last = u.send('+');
    EXPECT_EQ(last, "00");
    EXPECT_EQ(u.send('6'), "00");
}

TEST(Constants, WhichConstantsAUnitHas) {
    Unit u3("su1000-3g");
    u3.enterProgramming();
    EXPECT_EQ(u3.send('$'), "5A");
    EXPECT_EQ(u3.send('%'), "62");
    EXPECT_EQ(u3.send('^'), "80");
    EXPECT_EQ(u3.send(kCtrlD), "NA");
    // Refused, Ctrl-D left "^" selected: the sign steps that.
    EXPECT_EQ(u3.send('+'), "81");

    Unit u1("su1000");
    u1.enterProgramming();
    EXPECT_EQ(u1.send('$'), "NA");
}

TEST(Constants, HashIsAConstantOnScUnits) {
    Unit sc("sc1000");
    sc.send('Y');
    EXPECT_EQ(sc.send('#'), "NA");
    sc.send('1');
    ASSERT_EQ(sc.send('1', 1600ms), "PROG");
    EXPECT_EQ(sc.send('#'), "7D");
    EXPECT_EQ(sc.send('+'), "7E");
    EXPECT_EQ(sc.send('+'), "7F");
}

TEST(Meters, StepAnOffsetOnTheTrueReadingWithinLimits) {
    Unit u("su1000");
    u.enterProgramming();
    u.send('L');
    EXPECT_EQ(u.send('+'), "231.0");
    u.send('-');
    EXPECT_EQ(u.send('-'), "229.0");
    EXPECT_EQ(u.send('L'), "229.0");
    u.send('P');
    EXPECT_EQ(u.send('+'), "024.0");
    u.send('B');
    EXPECT_EQ(u.send('-'), "27.15");
    u.send('L');
    std::string last;
    for (int i = 0; i < 40; ++i)
        last = u.send('+');
    EXPECT_EQ(last, "255.0");  // +25 V at most
}

TEST(Meters, SecondGenerationStepsGoDownAndWrap) {
    Unit u("gen2-v2");
    u.send('Y');
    EXPECT_EQ(u.send('L'), "230.0");
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(u.send('a'), "OK");
    EXPECT_EQ(u.send('L'), "218.0");
    u.send('a');
    EXPECT_EQ(u.send('L'), "242.0");  // wrapped to the top of the range
    u.send('b');
    EXPECT_EQ(u.send('P'), "023.0");
    u.send('d');
    EXPECT_EQ(u.send('B'), "27.15");
}

TEST(Constants, SecondGenerationStepBytesMoveTheirConstantUp) {
    Unit u("gen2-v1");
    u.send('Y');
    EXPECT_EQ(u.send('0'), "9F");
    EXPECT_EQ(u.send('4'), "A0");
    EXPECT_EQ(u.send('0'), "A0");
    EXPECT_EQ(u.send('2'), "F4");  // constant 5
    u.send('3');                   // constant 6: FC -> FD
    u.send('3');
    u.send('3');
    EXPECT_EQ(u.send('3'), "00");
    EXPECT_EQ(u.send('6'), "00");
}

// ---- Model code ----

TEST(ModelCode, FirstGenerationMovesNameRatingAndFirmwareTogether) {
    Unit u("su1000");
    u.enterProgramming();
    u.send('b');
    EXPECT_EQ(u.send('+'), "16");
    EXPECT_EQ(u.send(kCtrlA), "SMART-UPS 420");
    EXPECT_EQ(u.send('b'), "21.7.I");
    EXPECT_EQ(u.send('-'), "0B");
    EXPECT_EQ(u.send(kCtrlA), "SMART-UPS 1000");
    // Reading the code as the host does ("b", "+", "-") leaves the unit as it was.
    u.send('b');
    u.send('+');
    EXPECT_EQ(u.send('-'), "0B");
    EXPECT_EQ(u.send('b'), "60.11.I");
}

TEST(ModelCode, TheEndsOfTheTableAreHardStops) {
    Unit u("su1000");
    u.enterProgramming();
    u.send('b');
    std::string last;
    for (int i = 0; i < 20; ++i)
        last = u.send('+');
    EXPECT_EQ(last, "77");
    EXPECT_EQ(u.send(kCtrlA), "SMART-UPS 3000RMXL");
    u.send('b');
    for (int i = 0; i < 20; ++i)
        last = u.send('-');
    EXPECT_EQ(last, "07");
}

TEST(ModelCode, ThirdGenerationUsesCtrlB) {
    Unit u("su1000-3g");
    u.send('Y');
    EXPECT_EQ(u.send(kCtrlB), "NA");
    u.send('1');
    ASSERT_EQ(u.send('1', 1600ms), "PROG");
    EXPECT_EQ(u.send(kCtrlB), "0A");
    EXPECT_EQ(u.send('+'), "0E");
    EXPECT_EQ(u.send(kCtrlA), "Smart-UPS 1500");
    EXPECT_EQ(u.send('b'), "653.12.I");
    EXPECT_EQ(u.send('+'), "NO");
}

TEST(ModelCode, SecondGenerationHAnswersThenMovesOnAndWraps) {
    Unit u("gen2-v2");
    u.send('Y');
    EXPECT_EQ(u.send('V'), "8QI");
    std::vector<std::string> codes;
    for (int i = 0; i < 12; ++i)
        codes.push_back(u.send('H'));
    const std::vector<std::string> expected = {"F5", "F6", "F7", "F8", "F9", "FA",
                                               "FB", "FC", "FD", "FE", "FF", "E0"};
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(u.model().modelCode(), 0xE1);
    EXPECT_EQ(u.send('V'), "4QI");  // E1: Smart-UPS 400

    Unit plain("gen2-v1");
    plain.send('Y');
    EXPECT_EQ(plain.send('H'), "(silent)");
}

// ---- EEPROM ----

TEST(Eeprom, HashAnswersTheAddressAndPlusWalksAllBytes) {
    Unit u("su1000-3g");
    u.send('Y');
    EXPECT_EQ(u.send('#'), "40");
    for (int i = 0; i < 255; ++i)
        u.send('+', 10ms);
    EXPECT_EQ(u.send('#'), "3F");  // where the host's 255-step read leaves it
    EXPECT_EQ(u.send('+'), Hex2(u.model().eepromByte(0x40)));
}

TEST(Eeprom, AStepOrATextWriteShowsUpAsChangedBytes) {
    Unit u("su1000");
    u.send('Y');
    const auto before = u.eepromWalk();
    u.sendAll("u-");
    u.sendAll("c-");
    u.sendAll("UPS_IDEX");
    const auto after = u.eepromWalk();
    std::set<int> changed;
    for (int a = 0; a < 256; ++a)
        if (before[static_cast<std::size_t>(a)] != after[static_cast<std::size_t>(a)])
            changed.insert(a);
    // The high-transfer index and the last character of the UPS id.
    EXPECT_EQ(changed, (std::set<int>{0x10, 0x27}));
    EXPECT_EQ(after[0x27], 'X');
}

TEST(Eeprom, DiffersBetweenProfiles) {
    Unit a("su1000");
    Unit b("smartslot");
    a.send('Y');
    b.send('Y');
    EXPECT_NE(a.eepromWalk(), b.eepromWalk());
}

// ---- One-shot commands ----

TEST(Commands, BypassToggleOnOnlineUnits) {
    Unit u("surt1000xl");
    u.send('Y');
    EXPECT_EQ(u.send('^'), "BYP");
    EXPECT_EQ(u.send('^'), "INV");
}

TEST(Commands, ZPairRestartsTheUnitOutOfSmartMode) {
    Unit u("gen2-v0");
    u.send('Y');
    EXPECT_EQ(u.send('Z'), "(silent)");
    EXPECT_EQ(u.send('Z', 1600ms), "(silent)");
    EXPECT_FALSE(u.model().smartMode());
    EXPECT_EQ(u.send('F'), "(silent)");
    EXPECT_EQ(u.send('Y'), "SM");

    Unit quick("su1000");
    quick.send('Y');
    quick.send('Z');
    quick.send('Z', 300ms);
    EXPECT_TRUE(quick.model().smartMode());
}

// ---- Power and alerts ----

TEST(Power, FailureSwitchesToBatteryWithAlerts) {
    Unit u("su1000");
    u.send('Y');
    u.model().powerFail(u.now());
    EXPECT_EQ(Chars(u.alertsUpTo(0ms)), "!");
    EXPECT_EQ(u.send('Q'), "10");
    EXPECT_EQ(u.send('L'), "000.0");
    EXPECT_EQ(Chars(u.alertsUpTo(29s)), "");
    EXPECT_EQ(Chars(u.alertsUpTo(31s)), "!");  // repeated every 30 s
    u.wait(60s);
    EXPECT_LT(std::stod(u.send('f')), 100.0);
    EXPECT_LT(std::stoi(u.send('j')), 44);
    EXPECT_EQ(Chars(u.alertsUpTo(0ms)), "!");  // the one at 60 s
    u.model().powerRestore(u.now());
    EXPECT_EQ(Chars(u.alertsUpTo(0ms)), "$");
    EXPECT_EQ(u.send('Q'), "08");
    EXPECT_EQ(u.send('L'), "230.0");
}

TEST(Power, LowBatteryThenExhaustionThenRestart) {
    Unit u("su620");
    u.send('Y');
    u.model().powerFail(u.now());
    // 24 min at 25 % load, so about 19 min at 31 %; low battery at 2 min left.
    const std::string early = Chars(u.alertsUpTo(16min));
    EXPECT_EQ(early.find('%'), std::string::npos);
    const std::string later = Chars(u.alertsUpTo(18min));
    EXPECT_NE(later.find('%'), std::string::npos);
    u.wait(18min);
    EXPECT_EQ(u.send('Q'), "50");
    const std::string end = Chars(u.alertsUpTo(3min));
    EXPECT_EQ(end.back(), '*');
    u.wait(3min);
    EXPECT_TRUE(u.model().switchedOff());
    EXPECT_EQ(u.send('Y'), "(silent)");
    u.model().powerRestore(u.now());
    EXPECT_EQ(u.send('F'), "(silent)");  // back from power-on: dumb until "Y"
    EXPECT_EQ(u.send('Y'), "SM");
    EXPECT_EQ(u.send('Q'), "48");  // on line, still low
    const std::string charging = Chars(u.alertsUpTo(30min));
    EXPECT_NE(charging.find('+'), std::string::npos);
    u.wait(30min);
    EXPECT_EQ(u.send('Q'), "08");
}

TEST(Power, NoAlertsOutsideSmartMode) {
    Unit u("su1000");
    u.model().powerFail(u.now());
    EXPECT_EQ(Chars(u.alertsUpTo(1min)), "");
    u.wait(1min);
    u.send('Y');
    EXPECT_EQ(Chars(u.alertsUpTo(31s)), "!");
}

TEST(Power, ReplaceBatteryFlagAndAlert) {
    Unit u("su1000");
    u.send('Y');
    u.model().setReplaceBattery(true, u.now());
    EXPECT_EQ(u.send('Q'), "88");
    EXPECT_EQ(Chars(u.alertsUpTo(1h)), "#");
    EXPECT_EQ(Chars(u.alertsUpTo(5h + 1s)), "#");
}

// ---- Battery service: self-test result, transfer cause, line extremes, calibration ----

TEST(BatteryService, EachFamilyAnswersItsOwnShareOfTheCommands) {
    const struct {
        const char* profile;
        const char* x;
        const char* g;
        const char* quality;
        const char* high;  // "M" and "N" (no drift: the line's own voltage)
        const char* d;     // "(silent)": the reply is the "!" alert alone
        bool calibrates;
    } rows[] = {
        {"su1000", "NO", "O", "FF", "230.0", "(silent)", true},
        {"su1000-3g", "NO", "O", "FF", "230.0", "(silent)", true},
        {"su620", "NO", "O", "FF", "230.0", "(silent)", true},
        {"gen2-v1", "NO", "O", "FF", "230.0", "(silent)", true},
        {"matrix5000", "NO", "O", "FF", "230.0", "(silent)", true},
        {"noserial", "NO", "O", "FF", "230.0", "(silent)", true},
        {"backcs", "NA", "NA", "FF", "NA", "NA", false},
        {"backpro", "NA", "NA", "NA", "NA", "NA", false},
        {"su1000-nod", "NO", "O", "FF", "230.0", "NA", false},
        {"su1000-nox", "(silent)", "O", "FF", "230.0", "(silent)", true},
    };
    for (const auto& r : rows) {
        Unit u(r.profile);
        u.send('Y');
        u.wait(3s);  // "G" has its answer by now
        EXPECT_EQ(u.send('X'), r.x) << r.profile;
        EXPECT_EQ(u.send('G'), r.g) << r.profile;
        EXPECT_EQ(u.send('9'), r.quality) << r.profile;
        EXPECT_EQ(u.send('M'), r.high) << r.profile;
        EXPECT_EQ(u.send('N'), r.high) << r.profile;
        EXPECT_EQ(u.send('D'), r.d) << r.profile;
        EXPECT_EQ(u.model().calibrating(), r.calibrates) << r.profile;
        if (u.model().profile().hasProtocolInfo) {
            // The protocol info lists exactly what is answered.
            u.send('D');  // abort first: a calibration does not stop "a"
            const std::string info = u.send('a');
            const std::string commands = info.substr(info.rfind('.') + 1);
            for (char c : std::string("XGMN9D")) {
                const bool answered = std::string(r.x) != "(silent)" || c != 'X';
                const bool listed = commands.find(c) != std::string::npos;
                const bool knows = u.model().profile().batteryCommands.find(c) != std::string::npos;
                EXPECT_EQ(listed, answered && knows) << r.profile << " " << c;
            }
        }
    }
}

TEST(BatteryService, TransferCauseNamesWhatMovedTheUnitToBattery) {
    const struct {
        const char* profile;
        std::function<void(Unit&)> act;
        const char* cause;
    } rows[] = {
        {"su1000", [](Unit&) {}, "O"},
        {"su1000", [](Unit& u) { u.model().powerFail(u.now()); }, "L"},
        {"su1000", [](Unit& u) { u.model().powerFail(u.now(), 'H'); }, "H"},
        {"su1000", [](Unit& u) { u.send('W'); }, "S"},
        {"su1000", [](Unit& u) { u.send('D'); }, "S"},
        {"su1000-3g", [](Unit& u) { u.send('D'); }, "K"},  // forced by software
        {"su1000",
         [](Unit& u) {
             u.model().powerFail(u.now(), 'T');
             u.model().powerRestore(u.now() + 1s);
         },
         "T"},  // kept after the return
    };
    for (const auto& r : rows) {
        Unit u(r.profile);
        u.send('Y');
        EXPECT_EQ(u.send('G'), "NA") << "no answer right after power-on";
        u.wait(3s);
        r.act(u);
        u.wait(2s);
        EXPECT_EQ(u.send('G'), r.cause) << r.profile << " " << r.cause;
    }
    // A restart forgets it.
    Unit u("su1000");
    u.send('Y');
    u.model().powerFail(u.now());
    u.model().powerRestore(u.now());
    u.model().restart(u.now());
    u.send('Y');
    EXPECT_EQ(u.send('G'), "NA");
    u.wait(3s);
    EXPECT_EQ(u.send('G'), "O");
}

TEST(BatteryService, SelfTestResultAfterTheTestAndForFiveMinutes) {
    const struct {
        const char* name;
        std::function<void(Unit&)> before;
        const char* result;
        const char* status;
    } rows[] = {
        {"good", [](Unit&) {}, "OK", "08"},
        {"weak battery", [](Unit& u) { u.model().setWeakBattery(true); }, "BT", "08"},
        {"overload", [](Unit& u) { u.model().setLoad(112, u.now()); }, "NG", "28"},
        {"on battery: no test", [](Unit& u) { u.model().powerFail(u.now()); }, "NO", "10"},
    };
    for (const auto& r : rows) {
        Unit u("su1000");
        u.send('Y');
        r.before(u);
        EXPECT_EQ(u.send('W'), "OK") << r.name;
        EXPECT_EQ(u.send('X'), "NO") << r.name << ": still testing";
        u.wait(10s);
        EXPECT_EQ(u.send('X'), r.result) << r.name << ": ended after 10 s";
        EXPECT_EQ(u.send('Q'), r.status) << r.name;
        u.wait(4min + 40s);
        EXPECT_EQ(u.send('X'), r.result) << r.name << ": kept";
        u.wait(30s);
        EXPECT_EQ(u.send('X'), "NO") << r.name << ": forgotten after five minutes";
    }
}

TEST(BatteryService, LineExtremesRestartWithEachRead) {
    Unit u("su1000");
    u.send('Y');
    u.model().setLineVoltage(241.5, u.now() + 1s);
    u.model().setLineVoltage(214.0, u.now() + 2s);
    u.model().setLineVoltage(230.0, u.now() + 3s);
    u.wait(4s);
    EXPECT_EQ(u.send('M'), "241.5");
    EXPECT_EQ(u.send('M'), "230.0");  // afresh from the present voltage
    EXPECT_EQ(u.send('N'), "214.0");  // "N" keeps its own span
    EXPECT_EQ(u.send('N'), "230.0");
    EXPECT_EQ(u.send('9'), "FF");
    u.model().setLineVoltage(190.0, u.now());
    EXPECT_EQ(u.send('9'), "00");  // under the low transfer point
    u.model().setLineVoltage(230.0, u.now());
    u.model().powerFail(u.now() + 1s);
    u.model().powerRestore(u.now() + 2s);
    u.wait(3s);
    EXPECT_EQ(u.send('N'), "000.0");  // the cut mains
    EXPECT_EQ(u.send('M'), "230.0");

    // With drift the extremes catch the peaks between reads, not only the read values.
    Unit d("su1000");
    d.model().setDrift(true);
    d.send('Y');
    d.wait(60s);
    EXPECT_NEAR(std::stod(d.send('M')), 230.8, 0.01);
    EXPECT_NEAR(std::stod(d.send('N')), 229.2, 0.01);
}

TEST(BatteryService, CalibrationRunsOnBatteryToTheFloorAndStoresTheRunTime) {
    const struct {
        const char* profile;
        double capacity;  // what the battery really holds, against the stored run time
        double load;
        const char* status;  // "Q" while it runs
        double floor;
    } rows[] = {
        {"su1000", 1.3, 40, "11", 25},     {"su1000", 0.8, 45, "11", 25},
        {"su620", 1.0, 40, "10", 25},       // no calibration bit
        {"matrix5000", 1.2, 40, "11", 35},  // a large unit stops earlier
        {"gen2-v1", 1.1, 30, "11", 25},
    };
    for (const auto& r : rows) {
        Unit u(r.profile);
        u.send('Y');
        u.model().setLoad(r.load, u.now());
        u.model().setBatteryCapacity(r.capacity, u.now());
        const double stored = u.model().storedRunTime();
        const double minutes = stored * 25 / r.load;  // the unit's estimate at this load
        EXPECT_EQ(u.send('j'), FormatNumber(std::floor(minutes), 4, 0) + ":") << r.profile;
        EXPECT_EQ(u.send('D'), "(silent)") << r.profile;
        EXPECT_EQ(Chars(u.alertsUpTo(0ms)), "!") << r.profile;
        EXPECT_EQ(u.send('Q'), r.status) << r.profile;
        EXPECT_EQ(u.send('L'), "230.0") << r.profile << ": the mains are there";
        EXPECT_EQ(u.send('9'), "FF") << r.profile;
        // The battery truly lasts capacity * minutes; the floor comes after that share.
        const auto duration = std::chrono::duration_cast<Micros>(
            std::chrono::duration<double>(r.capacity * minutes * 60 * (100 - r.floor) / 100));
        u.wait(duration - 5s);
        EXPECT_TRUE(u.model().calibrating()) << r.profile;
        EXPECT_EQ(u.send('Q'), r.status) << r.profile;
        EXPECT_LT(std::stoi(u.send('j')), minutes * (r.floor + 2) / 100) << r.profile;
        const std::string end = Chars(u.alertsUpTo(10s));
        EXPECT_EQ(end.back(), '$') << r.profile;
        u.wait(10s);
        EXPECT_FALSE(u.model().calibrating()) << r.profile;
        EXPECT_EQ(u.send('Q'), "08") << r.profile;
        EXPECT_NEAR(std::stod(u.send('f')), r.floor, 0.5) << r.profile;
        EXPECT_NEAR(u.model().storedRunTime(), stored * r.capacity, 0.01) << r.profile;
        // Charged again, the run time at the same load is the measured one.
        u.wait(2h);
        EXPECT_EQ(u.send('f'), "100.0") << r.profile;
        EXPECT_EQ(u.send('j'), FormatNumber(std::floor(minutes * r.capacity), 4, 0) + ":")
            << r.profile;
    }
}

TEST(BatteryService, CalibrationStartsOnlyAtFullChargeAndEndsWithoutStoringOtherwise) {
    const struct {
        const char* name;
        std::function<void(Unit&)> before;  // before the "D"
        const char* reply;
        std::function<void(Unit&)> during;  // while it runs
        const char* status;                 // "Q" afterwards
        const char* alerts;                 // alerts from the "D" on
    } rows[] = {
        {"charge under 100 %",
         [](Unit& u) {
             u.model().powerFail(u.now());
             u.model().powerRestore(u.now() + 1min);
             u.wait(1min + 1s);
         },
         "NO", [](Unit&) {}, "08", ""},
        {"on battery", [](Unit& u) { u.model().powerFail(u.now()); }, "NO", [](Unit&) {}, "10", ""},
        {"a second D aborts", [](Unit&) {}, "(silent)",
         [](Unit& u) {
             u.wait(5min);
             EXPECT_EQ(u.send('D'), "(silent)");
         },
         "08", "!!!!!!!!!!!$"},
        {"the mains fail", [](Unit&) {}, "(silent)",
         [](Unit& u) {
             u.wait(5min);
             u.model().powerFail(u.now());
             EXPECT_EQ(u.send('G'), "L");
         },
         "10", "!!!!!!!!!!!!"},
        {"a restart", [](Unit&) {}, "(silent)",
         [](Unit& u) {
             u.wait(5min);
             u.model().restart(u.now());
             u.send('Y');
         },
         "08", "!!!!!!!!!!!"},
    };
    for (const auto& r : rows) {
        Unit u("su1000");
        u.send('Y');
        u.model().setBatteryCapacity(1.5, u.now());
        r.before(u);
        u.alertsUpTo(0ms);
        const double stored = u.model().storedRunTime();
        EXPECT_EQ(u.send('D'), r.reply) << r.name;
        r.during(u);
        EXPECT_FALSE(u.model().calibrating()) << r.name;
        EXPECT_EQ(u.send('Q'), r.status) << r.name;
        EXPECT_EQ(Chars(u.model().takeAlerts(u.now())), r.alerts) << r.name;
        EXPECT_EQ(u.model().storedRunTime(), stored) << r.name;
    }
}

TEST(BatteryService, TimeScaleRunsTheBatteryFasterAndNothingElse) {
    Unit u("su1000");
    u.model().setTimeScale(60);
    u.send('Y');
    u.model().setLoad(40, u.now());
    EXPECT_EQ(u.send('D'), "(silent)");
    // 26.25 min at 40 %, 75 % of it is 19.7 min: 19.7 s at sixty times.
    u.wait(19s);
    EXPECT_EQ(u.send('Q'), "11");
    u.wait(1s);
    EXPECT_EQ(u.send('Q'), "08");
    EXPECT_NEAR(u.model().storedRunTime(), 42, 0.01);
    // Charging is as fast: 75 % in 45 s.
    u.wait(46s);
    EXPECT_EQ(u.send('f'), "100.0");
    // The self-test still takes its 10 s.
    u.send('W');
    u.wait(5s);
    EXPECT_EQ(u.send('X'), "NO");
    u.wait(5s);
    EXPECT_EQ(u.send('X'), "OK");
}

TEST(Drift, LiveValuesMoveALittleWithTime) {
    UpsModel m(*FindProfile("su1000"));
    std::set<std::string> voltages;
    Micros t{0};
    ASSERT_EQ(*m.receive('Y', t), "SM\r\n");
    for (int i = 0; i < 60; ++i) {
        t += 1s;
        const std::string v = *m.receive('L', t);
        voltages.insert(v);
        EXPECT_NEAR(std::stod(v), 230.0, 1.0);
    }
    EXPECT_GT(voltages.size(), 5u);
}

}  // namespace
}  // namespace morlen::sim
