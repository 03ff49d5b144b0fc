// The simulated unit reacts to the UPS object's operations as hardware does: walks reach
// their targets, writes read back, the model code moves the model, the EEPROM reads whole.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Apcups.h"
#include "SimUps.h"

namespace morlen::sim {
namespace {

// An identified unit over the simulated line, drift off so that walks are exact.
struct Session {
    explicit Session(const char* profile) : unit(clock, profile) {
        unit.model().setDrift(false);
        ups = std::make_unique<APCUPS>(unit.makeLine(), clock);
        EXPECT_TRUE(ups->OpenPort("COM1"));
        EXPECT_TRUE(ups->Identify());
    }

    // The caller's tuning loop: step until the operation says stop or the value comes back
    // empty; returns the number of calls, or 0 when the bound was reached.
    int walk(const std::function<bool()>& step, const std::function<bool()>& empty,
             int bound = 400) {
        for (int i = 1; i <= bound; ++i) {
            if (step() || empty())
                return i;
        }
        return 0;
    }
    void clearDirections() {
        ups->steppedDown = false;
        ups->steppedUp = false;
    }

    VirtualClock clock;
    SimUps unit;
    std::unique_ptr<APCUPS> ups;
};

TEST(TuneConstant, WalksToTheTargetInHexSteps) {
    const struct {
        const char* profile;
        const char* target;
        int calls;
    } cases[] = {
        {"su1000", "A5", 5},   // A0 up by five
        {"su1000", "9C", 4},   // down by four
        {"su1000", "A0", 2},   // equal: one step up and back
        {"gen2-v2", "A2", 3},  // 9F, stepped by "4" in the unit's own direction
    };
    for (const auto& c : cases) {
        Session s(c.profile);
        s.ups->Select('0', 2, ValueForm::HexByte, "constant 0");
        const int calls = s.walk([&] { return s.ups->TuneConst0(c.target); },
                                 [&] { return s.ups->const0Text.empty(); });
        EXPECT_EQ(calls, c.calls) << c.profile << " " << c.target;
        EXPECT_EQ(s.ups->const0Text.str(), c.target);
        EXPECT_EQ(Hex2(*s.unit.model().constant('0')), c.target);
    }
}

TEST(TuneMeters, LoadAndInputVoltageEndAcrossTheirTargets) {
    Session s("su1000");
    s.clearDirections();
    ASSERT_NE(s.walk([&] { return s.ups->TuneLoad("200"); },
                     [&] { return s.ups->loadPercentText.empty(); }),
              0);
    EXPECT_NEAR(s.ups->loadWatts, 200.0f, 3.5f);  // 0.5 % of 1000 VA x 0.7
    EXPECT_NEAR(s.unit.model().loadPercent(s.clock.now()), s.ups->loadPercent, 0.05);

    s.clearDirections();
    ASSERT_NE(s.walk([&] { return s.ups->TuneInputVoltage("226"); },
                     [&] { return s.ups->inputVoltageText.empty(); }),
              0);
    EXPECT_NEAR(s.ups->inputVoltage, 226.0f, 1.0f);
}

TEST(TuneMeters, SecondGenerationWalksStopInsideTheirWindows) {
    Session s("gen2-v2");
    s.clearDirections();
    ASSERT_NE(s.walk([&] { return s.ups->TuneInputVoltage("225"); },
                     [&] { return s.ups->inputVoltageText.empty(); }),
              0);
    EXPECT_GT(s.ups->inputVoltage - 225.0f, 0.0f);
    EXPECT_LT(s.ups->inputVoltage - 225.0f, 3.0f);

    const float target = s.ups->batteryVoltage - 0.5f;
    const std::string t = std::to_string(target);
    ASSERT_NE(s.walk([&] { return s.ups->TuneBatteryVoltage2nd(t.c_str()); },
                     [&] { return s.ups->step2ndText.empty(); }),
              0);
    EXPECT_GT(s.ups->batteryVoltage - target, 0.0f);
    EXPECT_LT(s.ups->batteryVoltage - target, 0.3f);
}

TEST(TuneMeters, AUnitThatStopsAnsweringEndsTheWalk) {
    Session s("su1000");
    s.clearDirections();
    int calls = 0;
    const int ended = s.walk(
        [&] {
            if (++calls == 3)
                s.unit.unplug();
            return s.ups->TuneInputVoltage("240");
        },
        [&] { return s.ups->inputVoltageText.empty(); });
    EXPECT_EQ(ended, 3);
}

TEST(ModelCode, FirstGenerationWalkMovesTheModel) {
    Session s("su1000");
    EXPECT_STREQ(s.ups->ReadModelCode(), "0B");
    s.clearDirections();
    s.ups->Select('b', 8, ValueForm::Firmware, "the model code");
    ASSERT_NE(s.walk([&] { return s.ups->TuneModelCode("2B"); },
                     [&] { return s.ups->modelCodeText.empty(); }),
              0);
    EXPECT_EQ(s.ups->modelCodeText.str(), "2B");
    EXPECT_STREQ(s.ups->ReadModelName(), "SMART-UPS 1000XL");
    EXPECT_TRUE(s.ups->isXL);
    EXPECT_STREQ(s.ups->ReadFirmware(), "61.9.I");

    EXPECT_STREQ(s.ups->StepModel('+'), "SMART-UPS 700RM");
    EXPECT_EQ(s.ups->ratingVA, 700.0f);
}

TEST(ModelCode, ACodeNotInTheTableIsCrossedAndTheWalkStops) {
    Session s("su1000");
    s.clearDirections();
    s.ups->Select('b', 8, ValueForm::Firmware, "the model code");
    const int calls = s.walk([&] { return s.ups->TuneModelCode("50"); },
                             [&] { return s.ups->modelCodeText.empty(); });
    EXPECT_GT(calls, 0);
    EXPECT_LT(calls, 12);
    EXPECT_EQ(s.ups->modelCodeText.str(), "47");  // the row below the target

    // At the end of the table the unit does not move, which also ends a walk.
    s.clearDirections();
    s.ups->Select('b', 8, ValueForm::Firmware, "the model code");
    EXPECT_NE(s.walk([&] { return s.ups->TuneModelCode("FF"); },
                     [&] { return s.ups->modelCodeText.empty(); }),
              0);
    EXPECT_EQ(s.ups->modelCodeText.str(), "77");
}

TEST(ModelCode, BackUpsProWalkReachesItsTargetAndEveryReplyIsACode) {
    // Each step first asks for the firmware; its whole reply must be consumed, or its tail
    // lands in the next reply and the code read back is garbage.
    Session s("backpro");
    ASSERT_EQ(s.ups->family, FamilyBackPro);
    EXPECT_STREQ(s.ups->ReadModelCode(), "0A");
    s.clearDirections();
    s.ups->Select('b', 8, ValueForm::Firmware, "the model code");
    std::vector<std::string> codes;
    ASSERT_NE(s.walk(
                  [&] {
                      const bool over = s.ups->TuneModelCode("26");
                      codes.push_back(s.ups->modelCodeText.str());
                      return over;
                  },
                  [&] { return s.ups->modelCodeText.empty(); }),
              0);
    EXPECT_EQ(s.ups->modelCodeText.str(), "26");
    for (const std::string& code : codes)
        EXPECT_TRUE(code.size() == 2 && std::isxdigit(static_cast<unsigned char>(code[0])) &&
                    std::isxdigit(static_cast<unsigned char>(code[1])))
            << '"' << code << '"';
    EXPECT_STREQ(s.ups->ReadModelName(), "Back-UPS Pro 500");
}

TEST(ModelCode, ThirdGenerationWalkWithCtrlBMovesFirmwareToo) {
    Session s("su1000-3g");
    ASSERT_TRUE(s.ups->usesCtrlB);
    EXPECT_STREQ(s.ups->ReadModelCode(), "0A");
    s.clearDirections();
    s.ups->Select(cmd::CtrlB, 2, ValueForm::HexByte, "the model code");
    ASSERT_NE(s.walk([&] { return s.ups->TuneModelCode("26"); },
                     [&] { return s.ups->modelCodeText.empty(); }),
              0);
    s.ups->ReadFirmware();
    EXPECT_EQ(s.ups->firmwareHead.str(), "654");
    EXPECT_STREQ(s.ups->ReadModelName(), "Smart-UPS 2200");
}

TEST(ModelCode, SecondGenerationCheckFindsTheNextCode) {
    Session s("gen2-v2");
    EXPECT_STREQ(s.ups->ReadModelCode(), "F5");
    // The connection step asks for the code after the one read; "H" has moved there.
    EXPECT_EQ(s.walk([&] { return s.ups->CheckModelCode2nd("F6"); },
                     [&] { return s.ups->modelCode2ndText.empty(); }),
              1);
    // A code two rows on is reached by repeated queries.
    EXPECT_EQ(s.walk([&] { return s.ups->CheckModelCode2nd("FD"); },
                     [&] { return s.ups->modelCode2ndText.empty(); }),
              7);
    EXPECT_STREQ(s.ups->ReadModelName(), "Smart-UPS 2000I");
}

TEST(Texts, WritesReadBackPaddedToTheirWidth) {
    Session s("su1000");
    EXPECT_STREQ(s.ups->WriteUpsId("NEWID"), "NEWID   ");
    EXPECT_STREQ(s.ups->WriteManufactureDate("02/29/24"), "02/29/24");
    EXPECT_STREQ(s.ups->WriteSerialNumber("AB12345678"), "AB12345678    ");
    EXPECT_EQ(s.unit.model().text('n'), "AB12345678    ");

    Session g("gen2-v1");
    EXPECT_STREQ(g.ups->WriteSerialNumber("ZZ000001"), "ZZ000001");

    Session t("su1000-3g");
    EXPECT_STREQ(t.ups->WriteFirmwareHead("719"), "719");
    EXPECT_EQ(t.ups->firmwareText.str(), ".12.I");
}

TEST(Settings, StepAndResetToDefaults) {
    Session s("su1000");
    EXPECT_STREQ(s.ups->StepLowTransfer(), "204");
    EXPECT_STREQ(s.ups->StepAlarmDelay(), "30 Seconds");
    EXPECT_STREQ(s.ups->StepSensitivity(), " Medium");
    EXPECT_STREQ(s.ups->StepBatteryPacks('+'), "001");
    s.ups->ResetToDefaults();
    EXPECT_EQ(s.ups->lowTransferText.str(), "208");
    EXPECT_EQ(s.ups->alarmDelayText.str(), " 5 Seconds");
    EXPECT_EQ(s.ups->sensitivityText.str(), " High ");
}

TEST(Eeprom, ReadAsTheHostDoesGivesTheUnitsBytes) {
    Session s("su1000-3g");
    std::uint8_t start = 0;
    ASSERT_TRUE(HexByte(s.ups->EepromBegin(), start));
    EXPECT_EQ(start, 0x40);
    for (int i = 1; i < 256; ++i) {
        std::uint8_t b = 0;
        ASSERT_TRUE(HexByte(s.ups->EepromNext(), b));
        const auto address = static_cast<std::uint8_t>(start + i);
        EXPECT_EQ(b, s.unit.model().eepromByte(address)) << int(address);
    }
}

TEST(SelfTestSwitchOff, SecondGenerationUnitRestartsAfterTheZPairAndIsIdentifiedAgain) {
    Session s("gen2-v1");
    int steps = 0;
    while (!(s.ups->selfTestIntervalText == "OFF") && steps < 10) {
        s.ups->StepSelfTestInterval();
        ++steps;
    }
    EXPECT_EQ(steps, 3);  // 336, 168, ON, OFF
    s.ups->SendZPair();
    EXPECT_FALSE(s.unit.model().smartMode());
    ASSERT_TRUE(s.ups->Identify());
    EXPECT_EQ(s.ups->family, FamilySmart2ndGen);
    EXPECT_EQ(s.ups->selfTestIntervalText.str(), "OFF");  // a restart keeps the settings
}

// A step whose selection the unit did not take sends no sign: the unit would step whatever it
// had selected before (after a poll pass, the battery-voltage meter). Lost on the line,
// answered "NA" or with garbage; the value the step meant stays too. A text sends neither its
// "-" nor a character, an EEPROM read no "+", even from a caller that asks for every step.
TEST(Steps, ASelectionTheUnitDidNotTakeIsNotFollowedByItsSign) {
    const struct {
        const char* name;
        const char* profile;
        std::function<void(APCUPS&)> step;
        const char* forbidden = "+-";  // none of these may be heard
        int skip = 0;                  // bytes before the one the fault hits
        bool garble = true;            // a garbled reply is among the faults
    } rows[] = {
        {"setting", "su1000", [](APCUPS& u) { u.StepHighTransfer(); }},
        {"one-character setting", "su1000", [](APCUPS& u) { u.StepSensitivity(); }},
        {"battery packs", "su1000", [](APCUPS& u) { u.StepBatteryPacks('+'); }},
        {"load meter", "su1000", [](APCUPS& u) { u.StepLoad('+'); }},
        {"input meter", "su1000", [](APCUPS& u) { u.StepInputVoltage('-'); }},
        {"battery meter", "su1000", [](APCUPS& u) { u.StepBatteryVoltage('+'); }},
        {"model code", "su1000", [](APCUPS& u) { u.StepModel('+'); }},
        {"model code, Ctrl-B", "su1000-3g", [](APCUPS& u) { u.StepModel('-'); }},
        {"Back-UPS Pro value", "backpro", [](APCUPS& u) { u.StepRatio('+'); }},
        {"model code read by a step and back", "su1000", [](APCUPS& u) { u.ReadModelCode(); }},
        // The step up not taken: no step back down either (a garbled reply to it may have
        // moved the code; the code then shows no code, see the safety table).
        {"model code, its step up refused", "su1000", [](APCUPS& u) { u.ReadModelCode(); }, "-", 1,
         false},
        {"UPS id", "su1000", [](APCUPS& u) { u.WriteUpsId("WRAPZ"); }, "+-WRAPZ"},
        {"battery date", "su1000", [](APCUPS& u) { u.WriteBatteryReplaceDate("KSU@"); }, "+-KSU@"},
        {"serial number", "gen2-v2", [](APCUPS& u) { u.WriteSerialNumber("ZZ"); }, "+-Z"},
        {"EEPROM, every step asked for", "su1000",
         [](APCUPS& u) {
             u.EepromBegin();
             for (int i = 0; i < 255; ++i)
                 u.EepromNext();
         }},
    };
    // Garbled: not printable, a refusal cut short, a step's "OK" left on the line.
    enum Fault { Lost, Refused, Garbled, CutShort, Stale };
    for (const auto& row : rows) {
        for (const Fault fault : {Lost, Refused, Garbled, CutShort, Stale}) {
            if (fault >= Garbled && !row.garble)
                continue;
            SCOPED_TRACE(std::string(row.name) + " " + "LRGCS"[fault]);
            Session s(row.profile);
            s.ups->ReadBatteryVoltage();  // the last reading of every poll pass
            if (fault == Refused)
                s.unit.refuseByte(row.skip);
            else if (fault == Lost)
                s.unit.loseByte(row.skip);
            else if (fault == Garbled)
                s.unit.replaceReply("\x7f\x01\r\n", row.skip);
            else if (fault == CutShort)
                s.unit.replaceReply("N\r\n", row.skip);
            else
                s.unit.replaceReply("OK\r\n", row.skip);
            const std::size_t from = s.unit.log().size();
            row.step(*s.ups);
            std::string heard;
            for (std::size_t i = from; i < s.unit.log().size(); ++i) {
                const Exchange& e = s.unit.log()[i];
                heard += static_cast<char>(e.command);
                EXPECT_NE(e.taken, Taken::Changed) << "changed " << e.target;
            }
            EXPECT_EQ(heard.find_first_of(row.forbidden), std::string::npos) << heard;
            if (row.skip == 0) {
                EXPECT_NE(s.ups->RefusedSelection(), nullptr);
            }
        }
    }
}

}  // namespace
}  // namespace morlen::sim
