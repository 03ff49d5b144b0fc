// What each operation of the UPS object does on the line, as one whole log: every transaction
// with the reply length it asks for and whether its read is raw, and every pause between them.
// A wrong reply length, a pause of the wrong length or a filtered read where a raw one belongs
// changes the log, whatever the unit answers and however fast.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Apcups.h"
#include "SimLine.h"
#include "SimUps.h"
#include "WireLog.h"

namespace morlen::test {
namespace {

// A simulated unit of one profile, its line and an UPS object whose transactions and pauses
// are logged.
class Wire {
public:
    explicit Wire(const std::string& profile) : unit_(clock_, profile), log_(clock_) {
        auto line = unit_.makeLine();
        line_ = line.get();
        ups_ = std::make_unique<APCUPS>(std::move(line), log_.clock());
        log_.attach(*ups_);
        ups_->OpenPort("COM1");
    }
    // Identified as the connection step does it; the log starts afresh.
    Wire& identified() {
        EXPECT_TRUE(ups_->CheckSmartMode());
        EXPECT_TRUE(ups_->Identify());
        log_.take();
        return *this;
    }
    APCUPS& ups() { return *ups_; }
    WireLog& log() { return log_; }
    sim::SimLine& line() { return *line_; }

private:
    VirtualClock clock_;
    sim::SimUps unit_;
    WireLog log_;
    sim::SimLine* line_ = nullptr;
    std::unique_ptr<APCUPS> ups_;
};

// A unit that answers from a table at once (one byte time), for the branches no profile takes.
class Scripted {
public:
    explicit Scripted(std::map<char, std::string> replies)
        : replies_(std::move(replies)), log_(clock_) {
        auto line = std::make_unique<sim::SimLine>(
            clock_, [this](std::uint8_t byte, Micros at, sim::SimLine& l) {
                const auto it = replies_.find(static_cast<char>(byte));
                if (it != replies_.end())
                    l.send(it->second + "\r\n", at);
            });
        ups_ = std::make_unique<APCUPS>(std::move(line), log_.clock());
        log_.attach(*ups_);
        ups_->OpenPort("COM1");
    }
    APCUPS& ups() { return *ups_; }
    WireLog& log() { return log_; }

private:
    VirtualClock clock_;
    std::map<char, std::string> replies_;
    WireLog log_;
    std::unique_ptr<APCUPS> ups_;
};

using Operation = std::function<void(APCUPS&)>;

// The operation after the selection a walk sends once before its steps.
Operation Selected(char command, Operation step, int replyLength = 2) {
    return [=](APCUPS& u) {
        u.Select(command, replyLength, replyLength == 2 ? ValueForm::HexByte : ValueForm::Firmware,
                 "the value");
        step(u);
    };
}

struct Row {
    const char* profile;
    const char* name;
    Operation operation;
    std::string wire;
};

void CheckRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + ": " + row.name);
        Wire wire(row.profile);
        wire.identified();
        row.operation(wire.ups());
        EXPECT_EQ(wire.log().take(), row.wire);
    }
}

// ---- Readings and status ----

TEST(WireLog, EachReadingAsksForItsReplyLength) {
    CheckRows({
        {"su1000", "ReadInputVoltage", [](APCUPS& u) { u.ReadInputVoltage(); }, "L/5"},
        {"su1000", "ReadOutputVoltage", [](APCUPS& u) { u.ReadOutputVoltage(); }, "O/5"},
        {"su1000", "ReadLoad", [](APCUPS& u) { u.ReadLoad(); }, "P/5"},
        {"su1000", "ReadBatteryVoltage", [](APCUPS& u) { u.ReadBatteryVoltage(); }, "B/5"},
        {"su1000", "ReadBatteryCapacity", [](APCUPS& u) { u.ReadBatteryCapacity(); }, "f/5"},
        {"su1000", "ReadLineFrequency", [](APCUPS& u) { u.ReadLineFrequency(); }, "F/5"},
        {"su1000", "ReadTemperature", [](APCUPS& u) { u.ReadTemperature(); }, "C/5"},
        {"su1000", "ReadRunTime", [](APCUPS& u) { u.ReadRunTime(); }, "j/4"},
        {"su1000", "ReadBatteryNominal", [](APCUPS& u) { u.ReadBatteryNominal(); }, "g/3"},
        {"su1000", "ReadFirmware", [](APCUPS& u) { u.ReadFirmware(); }, "b/8"},
        {"su1000-3g", "ReadFirmware", [](APCUPS& u) { u.ReadFirmware(); }, "b/8"},
        {"gen2-v2", "ReadFirmware", [](APCUPS& u) { u.ReadFirmware(); }, "V/3"},
        {"su1000", "ReadRegister1", [](APCUPS& u) { u.ReadRegister1(); }, "~/2"},
        {"su1000", "ReadRegister2", [](APCUPS& u) { u.ReadRegister2(); }, "'/2"},
        {"su1000", "ReadRegister3", [](APCUPS& u) { u.ReadRegister3(); }, "8/2"},
        {"su1000", "ReadStatusByte", [](APCUPS& u) { u.ReadStatusByte(); }, "Q/2"},
        {"su1000", "ReadStatusRegisters", [](APCUPS& u) { u.ReadStatusRegisters(); },
         "~/2 '/2 8/2 Q/2"},
        {"su1000", "CheckSmartMode", [](APCUPS& u) { u.CheckSmartMode(); }, "Y/2"},
    });
}

TEST(WireLog, MeasurementPassPerFamily) {
    const Operation pass = [](APCUPS& u) { u.ReadMeasurements(); };
    CheckRows({
        {"su1000", "family 0", pass, "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5"},
        // The temperature is asked for even when the unit has no sensor.
        {"su620", "family 0 without temperature", pass, "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5"},
        {"backpro", "family 1", pass, "O/5 L/5 P/5 e/5 w/5 v/5 c/5 d/5 B/5"},
        {"gen2-v2", "family 2", pass, "O/5 L/5 P/5 C/5 F/5 j/4 f/5 B/5"},
        {"backcs", "family 3", pass, "B/5"},
        {"noserial", "family 4", pass, "O/5 L/5 F/5 B/5"},
    });
}

// ---- Battery service ----

TEST(WireLog, BatteryServiceLettersGoOnlyToFamiliesThatAnswerThem) {
    const Operation all = [](APCUPS& u) {
        u.ReadSelfTestResult();
        u.ReadTransferCause();
        u.ReadHighestLine();
        u.ReadLowestLine();
        u.ReadLineQuality();
        u.SendCalibration();
    };
    const std::string smart = "X/2 G/1 M/5 N/5 9/2 D/2";
    CheckRows({
        {"su1000", "first generation", all, smart},
        {"su1000-3g", "third generation", all, smart},
        {"gen2-v2", "second generation", all, smart},
        {"matrix5000", "Matrix", all, smart},
        {"noserial", "without serial number", all, smart},
        // Nobody says what a Back-UPS Pro answers: read, but never a calibration.
        {"backpro", "Back-UPS Pro", all, "X/2 G/1 M/5 N/5 9/2"},
        // Of them all a Back-UPS CS answers the line quality only.
        {"backcs", "Back-UPS CS", all, "9/2"},
    });
}

TEST(WireLog, BatteryServiceRepliesOutOfFormCountAsNotAnswered) {
    struct FormRow {
        char command;
        std::string reply;
        const char* (APCUPS::*read)();
        std::string kept;
        const char* words;  // null: no words for this read
    };
    const FormRow rows[] = {
        {'X', "OK", &APCUPS::ReadSelfTestResult, "OK", "Passed: battery good"},
        {'X', "BT", &APCUPS::ReadSelfTestResult, "BT", "Failed: not enough battery capacity"},
        {'X', "NG", &APCUPS::ReadSelfTestResult, "NG", "Failed: overload"},
        {'X', "NO", &APCUPS::ReadSelfTestResult, "NO", "No result"},
        {'X', "NA", &APCUPS::ReadSelfTestResult, "NA", "No answer from the UPS"},
        {'X', "230.0", &APCUPS::ReadSelfTestResult, "NA", "No answer from the UPS"},
        {'X', "", &APCUPS::ReadSelfTestResult, "", "Not answered"},
        {'G', "R", &APCUPS::ReadTransferCause, "R", "Unacceptable rate of voltage change"},
        {'G', "H", &APCUPS::ReadTransferCause, "H", "High line voltage"},
        {'G', "L", &APCUPS::ReadTransferCause, "L", "Low line voltage"},
        {'G', "T", &APCUPS::ReadTransferCause, "T", "Notch or spike"},
        {'G', "O", &APCUPS::ReadTransferCause, "O", "None since switched on"},
        {'G', "S", &APCUPS::ReadTransferCause, "S", "Self-test or simulated power failure"},
        {'G', "K", &APCUPS::ReadTransferCause, "K", "Forced by software"},
        {'G', "NA", &APCUPS::ReadTransferCause, "NA", "No answer from the UPS"},
        {'G', "X", &APCUPS::ReadTransferCause, "NA", "No answer from the UPS"},
        {'M', "241.3", &APCUPS::ReadHighestLine, "241.3", nullptr},
        {'M', "OK", &APCUPS::ReadHighestLine, "NA", nullptr},
        {'N', "198.0", &APCUPS::ReadLowestLine, "198.0", nullptr},
        {'N', "NA", &APCUPS::ReadLowestLine, "NA", nullptr},
        {'9', "FF", &APCUPS::ReadLineQuality, "FF", nullptr},
        {'9', "00", &APCUPS::ReadLineQuality, "00", nullptr},
        {'9', "0F", &APCUPS::ReadLineQuality, "NA", nullptr},
    };
    for (const FormRow& row : rows) {
        SCOPED_TRACE(std::string(1, row.command) + " answered \"" + row.reply + "\"");
        std::map<char, std::string> replies;
        if (!row.reply.empty())
            replies[row.command] = row.reply;
        Scripted unit(replies);
        const std::string kept = (unit.ups().*row.read)();
        EXPECT_EQ(kept, row.kept);
        if (row.words != nullptr) {
            EXPECT_STREQ(row.command == 'X' ? SelfTestResultWords(kept.c_str())
                                            : TransferCauseWords(kept.c_str()),
                         row.words);
        }
    }
}

// ---- Settings, identity texts and commands ----

TEST(WireLog, EachSettingIsReadAndSteppedWithItsLengths) {
    struct Setting {
        const char* name;
        const char* (APCUPS::*read)();
        const char* (APCUPS::*step)();
        std::string read_, step_;
    };
    const Setting settings[] = {
        {"LowTransfer", &APCUPS::ReadLowTransfer, &APCUPS::StepLowTransfer, "l/3", "l/3 -/2 l/3"},
        {"HighTransfer", &APCUPS::ReadHighTransfer, &APCUPS::StepHighTransfer, "u/3",
         "u/3 -/2 u/3"},
        {"OutputSetting", &APCUPS::ReadOutputSetting, &APCUPS::StepOutputSetting, "o/3",
         "o/3 -/2 o/3"},
        {"SelfTestInterval", &APCUPS::ReadSelfTestInterval, &APCUPS::StepSelfTestInterval, "E/3",
         "E/3 -/2 E/3"},
        {"ShutdownDelay", &APCUPS::ReadShutdownDelay, &APCUPS::StepShutdownDelay, "p/3",
         "p/3 -/2 p/3"},
        {"TurnOnDelay", &APCUPS::ReadTurnOnDelay, &APCUPS::StepTurnOnDelay, "r/3", "r/3 -/2 r/3"},
        {"LowBatteryWarning", &APCUPS::ReadLowBatteryWarning, &APCUPS::StepLowBatteryWarning, "q/2",
         "q/2 -/2 q/2"},
        {"ReturnThreshold", &APCUPS::ReadReturnThreshold, &APCUPS::StepReturnThreshold, "e/2",
         "e/2 -/2 e/2"},
        // The one-character settings take their "-" with a one-character reply too.
        {"AlarmDelay", &APCUPS::ReadAlarmDelay, &APCUPS::StepAlarmDelay, "k/1", "k/1 -/1 k/1"},
        {"Sensitivity", &APCUPS::ReadSensitivity, &APCUPS::StepSensitivity, "s/1", "s/1 -/1 s/1"},
        {"BatteryPacks", &APCUPS::ReadBatteryPacks, nullptr, ">/3", ""},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(s.name);
        Wire wire("su1000");
        wire.identified();
        (wire.ups().*s.read)();
        EXPECT_EQ(wire.log().take(), s.read_);
        if (s.step != nullptr) {
            (wire.ups().*s.step)();
            EXPECT_EQ(wire.log().take(), s.step_);
        }
    }
    CheckRows({
        {"su1000", "StepBatteryPacks +", [](APCUPS& u) { u.StepBatteryPacks('+'); }, ">/3 +/3 >/3"},
        {"su1000", "StepBatteryPacks -", [](APCUPS& u) { u.StepBatteryPacks('-'); }, ">/3 -/3 >/3"},
    });
}

TEST(WireLog, IdentityTextsAreWrittenOneCharacterAtATimeAndReadBackAfterTheirPause) {
    CheckRows({
        {"su1000", "ReadManufactureDate", [](APCUPS& u) { u.ReadManufactureDate(); }, "m/8"},
        {"su1000", "ReadBatteryReplaceDate", [](APCUPS& u) { u.ReadBatteryReplaceDate(); }, "x/8"},
        {"su1000", "ReadUpsId", [](APCUPS& u) { u.ReadUpsId(); }, "c/8"},
        {"su1000", "ReadSerialNumber", [](APCUPS& u) { u.ReadSerialNumber(); }, "n/14"},
        {"gen2-v2", "ReadSerialNumber", [](APCUPS& u) { u.ReadSerialNumber(); }, "n/8"},
        {"su1000", "WriteManufactureDate", [](APCUPS& u) { u.WriteManufactureDate("01.02.05"); },
         "m/8 -/1 0/2 1/2 ./2 0/2 2/2 ./2 0/2 5/2 ~1000 m/8"},
        {"su1000", "WriteBatteryReplaceDate",
         [](APCUPS& u) { u.WriteBatteryReplaceDate("03.04.06"); },
         // Read back once the unit has stored it (it says so with an alert a few seconds on).
         "x/8 -/1 0/2 3/2 ./2 0/2 4/2 ./2 0/2 6/2 ~4000 x/8"},
        {"su1000", "WriteUpsId short", [](APCUPS& u) { u.WriteUpsId("UPS"); },
         "c/8 -/1 U/2 P/2 S/2 " + Repeat("SP/2", 5) + " c/8"},
        {"su1000", "WriteSerialNumber", [](APCUPS& u) { u.WriteSerialNumber("QA12345678"); },
         "n/14 -/1 Q/2 A/2 1/2 2/2 3/2 4/2 5/2 6/2 7/2 8/2 " + Repeat("SP/2", 4) + " ~1000 n/14"},
        {"gen2-v2", "WriteSerialNumber", [](APCUPS& u) { u.WriteSerialNumber("QA12345678"); },
         "n/8 -/1 Q/2 A/2 1/2 2/2 3/2 4/2 5/2 6/2 ~1000 n/8"},
        {"su1000-3g", "WriteFirmwareHead", [](APCUPS& u) { u.WriteFirmwareHead("777"); },
         "b/8 -/1 7/2 7/2 7/2 ~1500 b/8"},
        {"su1000-3g", "WriteFirmwareHead short", [](APCUPS& u) { u.WriteFirmwareHead("7"); },
         "b/8 -/1 7/2 SP/2 SP/2 ~1500 b/8"},
    });
}

TEST(WireLog, OneShotCommands) {
    CheckRows({
        {"su1000", "StartSelfTest", [](APCUPS& u) { u.StartSelfTest(); }, "W/3"},
        {"su1000", "FrontPanelTest", [](APCUPS& u) { u.FrontPanelTest(); }, "A/2"},
        {"su1000", "SendBypassToggle", [](APCUPS& u) { u.SendBypassToggle(); }, "^/3"},
        {"su1000", "LeaveSmartMode", [](APCUPS& u) { u.LeaveSmartMode(); }, "R/3"},
        {"gen2-v2", "SendZPair", [](APCUPS& u) { u.SendZPair(); }, "Z/1 ~1500 Z/1"},
        {"su1000", "ResetToDefaults", [](APCUPS& u) { u.ResetToDefaults(); },
         "z/5 ~1500 l/3 u/3 o/3 E/3 p/3 r/3 k/1 e/2 s/1 q/2"},
        {"su1000", "EepromBegin", [](APCUPS& u) { u.EepromBegin(); }, "#/2"},
        // A step with no EEPROM selection before it is not sent.
        {"su1000", "EepromNext", [](APCUPS& u) { u.EepromNext(); }, ""},
        {"su1000", "EepromBegin, EepromNext",
         [](APCUPS& u) {
             u.EepromBegin();
             u.EepromNext();
         },
         "#/2 +/2"},
    });
}

// ---- Calibration and tuning ----

TEST(WireLog, ConstantsAreReadWithTwoCharactersAndSteppedTowardTheTarget) {
    CheckRows({
        {"su1000", "ReadConst0", [](APCUPS& u) { u.ReadConst0(); }, "0/2"},
        {"su1000", "ReadConst4", [](APCUPS& u) { u.ReadConst4(); }, "4/2"},
        {"su1000", "ReadConst5", [](APCUPS& u) { u.ReadConst5(); }, "5/2"},
        {"su1000", "ReadConst6", [](APCUPS& u) { u.ReadConst6(); }, "6/2"},
        {"sc1000", "ReadConstHash", [](APCUPS& u) { u.ReadConstHash(); }, "#/2"},
        {"su1000-3g", "ReadConstDollar", [](APCUPS& u) { u.ReadConstDollar(); }, "$/2"},
        {"su1000-3g", "ReadConstPercent", [](APCUPS& u) { u.ReadConstPercent(); }, "%/2"},
        {"su1000-3g", "ReadConstCaret", [](APCUPS& u) { u.ReadConstCaret(); }, "^/2"},
        {"su1000-3g", "ReadConstCtrlD", [](APCUPS& u) { u.ReadConstCtrlD(); }, "^D/2"},
        // Each step follows the walk's selection of its constant: up when the value is at most
        // the target, down when above it.
        {"su1000", "TuneConst0 up", Selected('0', [](APCUPS& u) { u.TuneConst0("FF"); }),
         "0/2 +/2"},
        {"su1000", "TuneConst4 down", Selected('4', [](APCUPS& u) { u.TuneConst4("00"); }),
         "4/2 -/2"},
        {"su1000", "TuneConst5 up", Selected('5', [](APCUPS& u) { u.TuneConst5("FF"); }),
         "5/2 +/2"},
        {"su1000", "TuneConst6 down", Selected('6', [](APCUPS& u) { u.TuneConst6("00"); }),
         "6/2 -/2"},
        {"sc1000", "TuneConstHash", Selected('#', [](APCUPS& u) { u.TuneConstHash("FF"); }),
         "#/2 +/2"},
        {"su1000-3g", "TuneConstDollar", Selected('$', [](APCUPS& u) { u.TuneConstDollar("00"); }),
         "$/2 -/2"},
        {"su1000-3g", "TuneConstPercent",
         Selected('%', [](APCUPS& u) { u.TuneConstPercent("FF"); }), "%/2 +/2"},
        {"su1000-3g", "TuneConstCaret", Selected('^', [](APCUPS& u) { u.TuneConstCaret("00"); }),
         "^/2 -/2"},
        // This unit answers "NA" to Ctrl-D: not selected, so no step follows.
        {"su1000-3g", "TuneConstCtrlD",
         Selected(cmd::CtrlD, [](APCUPS& u) { u.TuneConstCtrlD("FF"); }), "^D/2"},
        // A bare step with no selection before it is not sent.
        {"su1000", "TuneConst0 unselected", [](APCUPS& u) { u.TuneConst0("FF"); }, ""},
        // A second-generation unit steps three constants with bytes of its own.
        {"gen2-v2", "TuneConst0", Selected('0', [](APCUPS& u) { u.TuneConst0("00"); }), "0/2 4/2"},
        {"gen2-v2", "TuneConst5", Selected('5', [](APCUPS& u) { u.TuneConst5("00"); }), "5/2 2/2"},
        {"gen2-v2", "TuneConst6", Selected('6', [](APCUPS& u) { u.TuneConst6("00"); }), "6/2 3/2"},
        // "4" has no step byte of its own: the sign (an empty value is below every target).
        {"gen2-v2", "TuneConst4", Selected('4', [](APCUPS& u) { u.TuneConst4("00"); }), "4/2 +/2"},
    });
}

TEST(WireLog, BackUpsProValuesAreReadWithFiveCharactersAndSteppedWithTwo) {
    CheckRows({
        {"backpro", "ReadFloatVoltage", [](APCUPS& u) { u.ReadFloatVoltage(); }, "e/5"},
        {"backpro", "ReadRatio", [](APCUPS& u) { u.ReadRatio(); }, "w/5"},
        {"backpro", "ReadBbdVoltage", [](APCUPS& u) { u.ReadBbdVoltage(); }, "2/5"},
        {"backpro", "ReadEutVoltage", [](APCUPS& u) { u.ReadEutVoltage(); }, "v/5"},
        {"backpro", "ReadDcOffset", [](APCUPS& u) { u.ReadDcOffset(); }, "d/5"},
        {"backpro", "ReadCapacitorLoad", [](APCUPS& u) { u.ReadCapacitorLoad(); }, "c/5"},
        {"backpro", "StepFloatVoltage", [](APCUPS& u) { u.StepFloatVoltage('+'); }, "e/5 +/2 e/5"},
        {"backpro", "StepRatio", [](APCUPS& u) { u.StepRatio('-'); }, "w/5 -/2 w/5"},
        {"backpro", "StepBbdVoltage", [](APCUPS& u) { u.StepBbdVoltage('+'); }, "2/5 +/2 2/5"},
        {"backpro", "StepEutVoltage", [](APCUPS& u) { u.StepEutVoltage('-'); }, "v/5 -/2 v/5"},
        {"backpro", "StepDcOffset", [](APCUPS& u) { u.StepDcOffset('+'); }, "d/5 +/2 d/5"},
        {"backpro", "StepCapacitorLoad", [](APCUPS& u) { u.StepCapacitorLoad('-'); },
         "c/5 -/2 c/5"},
    });
}

TEST(WireLog, MeterStepsAndOneStepOfEachMeterWalk) {
    CheckRows({
        {"su1000", "StepInputVoltage", [](APCUPS& u) { u.StepInputVoltage('+'); }, "L/5 +/5 L/5"},
        {"su1000", "StepLoad", [](APCUPS& u) { u.StepLoad('-'); }, "P/5 -/5 P/5"},
        {"su1000", "StepBatteryVoltage", [](APCUPS& u) { u.StepBatteryVoltage('+'); },
         "B/5 +/2 B/5"},
        {"backpro", "StepBatteryVoltage", [](APCUPS& u) { u.StepBatteryVoltage('-'); },
         "B/5 -/2 B/5"},
        // The second-generation unit picks the direction itself.
        {"gen2-v2", "StepBatteryVoltage", [](APCUPS& u) { u.StepBatteryVoltage('+'); }, "d/2 B/5"},
        {"gen2-v2", "StepInputVoltage2nd", [](APCUPS& u) { u.StepInputVoltage2nd(); }, "a/2 L/5"},
        {"gen2-v2", "StepLoad2nd", [](APCUPS& u) { u.StepLoad2nd(); }, "b/2 P/5"},
        {"gen2-v2", "StepBatteryVoltage2nd", [](APCUPS& u) { u.StepBatteryVoltage2nd(); }, "d/2"},
        {"su1000", "TuneInputVoltage down", [](APCUPS& u) { u.TuneInputVoltage("220"); },
         "L/5 -/5 L/5"},
        {"su1000", "TuneLoad up", [](APCUPS& u) { u.TuneLoad("900"); }, "P/5 +/5 P/5"},
        {"gen2-v2", "TuneInputVoltage", [](APCUPS& u) { u.TuneInputVoltage("200"); }, "a/2 L/5"},
        {"gen2-v2", "TuneLoad", [](APCUPS& u) { u.TuneLoad("10"); }, "b/2 P/5"},
        {"gen2-v2", "TuneBatteryVoltage2nd", [](APCUPS& u) { u.TuneBatteryVoltage2nd("20"); },
         "d/2 B/5"},
    });
}

TEST(WireLog, ModelCodeOperationsPerKindOfUnit) {
    CheckRows({
        // Older units tell their code only as the answer to a step up and back down.
        {"su1000", "ReadModelCode", [](APCUPS& u) { u.ReadModelCode(); }, "b/8 +/2 -/2"},
        {"backpro", "ReadModelCode", [](APCUPS& u) { u.ReadModelCode(); }, "b/8 +/2 b/8 -/2"},
        {"su1000-3g", "ReadModelCode", [](APCUPS& u) { u.ReadModelCode(); }, "^B/2"},
        {"gen2-v2", "ReadModelCode", [](APCUPS& u) { u.ReadModelCode(); }, "H/2"},
        {"gen2-v2", "ReadModelCode2nd", [](APCUPS& u) { u.ReadModelCode2nd(); }, "H/2"},
        {"gen2-v2", "CheckModelCode2nd", [](APCUPS& u) { u.CheckModelCode2nd("99"); }, "H/2"},
        {"su1000", "StepModel", [](APCUPS& u) { u.StepModel('+'); }, "b/8 +/4 b/8 ^A/22"},
        {"su1000-3g", "StepModel", [](APCUPS& u) { u.StepModel('-'); },
         "^B/2 -/2 b/8 ^A/22 $/2 %/2 ^/2"},
        {"surt1000xl", "StepModel", [](APCUPS& u) { u.StepModel('+'); },
         "^B/2 +/2 b/8 ^A/22 $/2 %/2"},
        {"su1000", "TuneModelCode up",
         Selected(
             'b', [](APCUPS& u) { u.TuneModelCode("FF"); }, 8),
         "b/8 +/2"},
        {"su1000", "TuneModelCode down",
         Selected(
             'b',
             [](APCUPS& u) {
                 u.modelCodeText = "15";
                 u.TuneModelCode("00");
             },
             8),
         "b/8 -/2"},
        // A Back-UPS Pro takes its whole firmware reply, selecting the code afresh, before each
        // step.
        {"backpro", "TuneModelCode",
         Selected(
             'b', [](APCUPS& u) { u.TuneModelCode("FF"); }, 8),
         "b/8 b/8 +/2"},
        {"gen2-v2", "TuneModelCode", [](APCUPS& u) { u.TuneModelCode("99"); }, "H/2"},
    });
}

// ---- Identification ----

const std::string kProgramming = "Y/2 ^A/22 1/0 ~1500 1/4";
const std::string kTail = "m/8 x/8 B/5";
// The full read of a Smart-UPS, from the UPS id to the battery capacity.
const std::string kSettings = "c/8 l/3 u/3 0/2 5/2 6/2 o/3 E/3 p/3 r/3 q/2 k/1 e/2 s/1 F/5 j/4 f/5";
const std::string kAllSmart = "O/5 L/5 P/5 g/3 4/2 >/3 C/5 " + kSettings + " b/8 " + kTail;

TEST(WireLog, IdentifyPerFamilyAndKindOfUnit) {
    struct IdRow {
        const char* profile;
        std::string wire;
    };
    const IdRow rows[] = {
        {"su1000", kProgramming + " F/2 n/14 ^Z/1000r n/14 ^A/22 " + kAllSmart},
        {"su1000rm", kProgramming + " F/2 n/14 ^Z/1000r n/14 ^A/22 " + kAllSmart},
        {"stack450", kProgramming + " F/2 n/14 ^Z/1000r n/14 ^A/22 " + kAllSmart},
        {"smartslot", kProgramming + " F/2 n/14 ^Z/1000r n/14 ^A/22 " + kAllSmart},
        // No temperature on a small Smart-UPS.
        {"su620", kProgramming + " F/2 n/14 ^Z/1000r n/14 ^A/22 O/5 L/5 P/5 g/3 4/2 >/3 " +
                      kSettings + " b/8 " + kTail},
        // Third generation: "%" is a number, so Ctrl-D decides; the model name brings "$",
        // "%" and "^".
        {"su1000-3g",
         kProgramming + " F/2 n/14 ^Z/1000r %/2 ^D/2 n/14 ^A/22 $/2 %/2 ^/2 " + kAllSmart},
        // "%" answers "NA": no Ctrl-D; one thousand VA brings the "#" constant.
        {"sc1000", kProgramming + " F/2 n/14 ^Z/1000r %/2 n/14 ^A/22 $/2 %/2 ^/2 #/2 " + kAllSmart},
        // "s411" leaves out the "^" constant.
        {"surt1000xl", kProgramming + " F/2 n/14 ^Z/1000r %/2 n/14 ^A/22 $/2 %/2 " + kAllSmart},
        {"noserial", kProgramming + " F/2 n/14 ^A/22 O/5 L/5 C/5 " + kSettings + " b/8 " + kTail},
        {"backpro",
         kProgramming + " F/2 P/5 n/14 ^A/22 O/5 L/5 P/5 e/5 w/5 v/5 2/5 c/5 d/5 b/8 " + kTail},
        {"backcs", kProgramming + " F/2 P/5 n/14 ^A/22 b/8 " + kTail},
        // No programming mode: the carriage-return probe, the DIP switches, then the variant.
        {"gen2-v0",
         kProgramming + " ^M/10 7/2 n/8 V/3 O/5 L/5 P/5 C/5 " + kSettings + " V/3 " + kTail},
        {"gen2-v1",
         kProgramming + " ^M/10 7/2 C/3 n/8 V/3 O/5 L/5 P/5 C/5 " + kSettings + " V/3 " + kTail},
        {"gen2-v2",
         kProgramming + " ^M/10 7/2 C/3 n/8 V/3 O/5 L/5 P/5 C/5 " + kSettings + " V/3 " + kTail},
        {"matrix5000",
         kProgramming + " ^M/10 7/2 C/3 n/8 V/3 O/5 L/5 P/5 C/5 " + kSettings + " V/3 " + kTail},
    };
    for (const IdRow& row : rows) {
        SCOPED_TRACE(row.profile);
        Wire wire(row.profile);
        EXPECT_TRUE(wire.ups().Identify());
        EXPECT_EQ(wire.log().take(), row.wire);
        // Second-generation units are slower to answer: 30 ms a byte from the probe on.
        const bool secondGen = wire.ups().family == FamilySmart2ndGen;
        EXPECT_EQ(wire.line().timeouts().readTotalMultiplier, secondGen ? 30u : 22u);
    }
}

TEST(WireLog, IdentifyBranchesNoProfileTakes) {
    struct IdRow {
        const char* name;
        std::map<char, std::string> replies;
        bool identified;
        std::string wire;
    };
    const IdRow rows[] = {
        {"no smart answer", {}, false, "Y/2"},
        // A SmartSlot card's model name ("ff" sums to 204): no programming-mode request, no
        // pause.
        {"model name sum 204",
         {{'Y', "SM"}, {cmd::CtrlA, "ff"}, {'F', "NA"}, {'P', "NA"}, {'n', "X1"}},
         true,
         "Y/2 ^A/22 F/2 P/5 n/14 ^A/22 b/8 " + kTail},
        // Another answer to the programming-mode request: unknown, nothing more asked.
        {"other programming answer",
         {{'Y', "SM"}, {cmd::CtrlA, "UPS"}, {'1', "NO"}},
         true,
         kProgramming},
        // The probe answered with a line feed: one more "Y", and the unit stays unknown.
        {"probe answered with a line feed",
         {{'Y', "SM"}, {cmd::CR, "\n"}},
         true,
         kProgramming + " ^M/10 Y/2"},
    };
    for (const IdRow& row : rows) {
        SCOPED_TRACE(row.name);
        Scripted unit(row.replies);
        EXPECT_EQ(unit.ups().Identify(), row.identified);
        EXPECT_EQ(unit.log().take(), row.wire);
    }
}

// The log itself: what distinguishes two operations that send the same bytes.
TEST(WireLog, TellsLengthsRawReadsAndPausesApart) {
    EXPECT_EQ(WireLog::Transaction('Y', 2), "Y/2");
    EXPECT_EQ(WireLog::Transaction(cmd::CtrlZ, 1000, true), "^Z/1000r");
    EXPECT_EQ(WireLog::Transaction(' ', 2), "SP/2");
    Wire wire("su1000");
    wire.identified();
    wire.ups().TransactRaw('Y', 3);
    wire.ups().Transact('Y', 2);
    wire.log().clock().sleepMs(1000);
    wire.log().tone(2000, 500);
    wire.log().note("green");
    EXPECT_EQ(wire.log().take(), "Y/3r Y/2 ~1000 tone2000/500 green");
    EXPECT_EQ(wire.log().take(), "");
}

}  // namespace
}  // namespace morlen::test
