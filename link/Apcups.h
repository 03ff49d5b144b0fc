#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Clock.h"
#include "FixedText.h"
#include "SerialPort.h"

namespace morlen {

// Family code of the connected unit; selects the window page, what is polled and which
// command variant is sent.
enum UpsFamily : std::int16_t {
    FamilySmart = 0,
    FamilyBackPro = 1,
    FamilySmart2ndGen = 2,
    FamilyBackCS = 3,
    FamilySmartNoSerial = 4,
    FamilyUnknown = 5,
};

// State of the port handle: none before the first open, invalid after a failed open.
enum class PortHandle : std::int8_t { Null = 0, Invalid = -1, Open = 1 };

// Control characters the protocol uses as commands.
namespace cmd {
constexpr char CtrlA = 1;   // model name
constexpr char CtrlB = 2;   // model code on third-generation units
constexpr char CtrlD = 4;   // Ctrl-D constant
constexpr char CtrlZ = 26;  // capability string
constexpr char CR = 13;
}  // namespace cmd

// A meter reading that moves further than this in one tuning step has jumped (volts or watts;
// volts on the second-generation battery meter): the step ends its walk without arriving.
constexpr float kMeterJump = 30.0f;
constexpr float kBatteryJump = 5.0f;

// Converts the first two characters of a reply to one byte. Returns false (and leaves `out`
// alone) when either lies outside '0'..'f'; inside that range a non-hex character counts -1,
// so "NA" gives 250.
bool HexByte(const char* text, std::uint8_t& out);
// Exactly two hexadecimal digits (either case) and nothing after them: a byte as the unit
// reports one.
bool IsHexByte(const char* text);

// Leading decimal number of a text, as atof / atol read it (0 when there is none).
float NumberOf(const char* text);
long IntegerOf(const char* text);

// A float cut toward zero to an integer. A unit can answer "nan" or "1e99", which atof turns
// into values no integer holds: those give 0 or the nearest bound instead of undefined
// behaviour.
long Truncate(float value);

// What the reply to a selection must look like for the unit to have taken it. Anything else
// ("NA", nothing, garbage for that value) leaves the old selection in place on some units, so
// a sign sent then would step whatever that was.
enum class ValueForm : std::uint8_t {
    Digits,            // as many digits as the reply's length: a voltage, a delay, a percent
    SelfTestInterval,  // three digits, "ON " or "OFF"
    AlarmDelay,        // one of 0, T, L, N
    Sensitivity,       // one of H, M, L, A
    Field8,            // exactly eight printable characters: the UPS id
    Date,              // two digits, "/", two digits, "/", two digits
    Serial,            // eight to fourteen printable characters, no blank: the serial number
    Firmware,          // printable with two dots ("60.11.I"): the firmware, before a model step
    Number,            // a digit first (or a sign, then a digit): a reading, the packs
    HexByte,           // two hexadecimal digits: a constant, a model code, an EEPROM address
    // Replies of the battery service's reads, so that a reply out of form counts as "NA".
    SelfTestResult,  // OK, BT, NG or NO
    TransferCause,   // one of R, H, L, T, O, S, K
    LineQuality,     // FF or 00
};
// `width`: the reply length asked for (Digits only).
bool IsValueOf(ValueForm form, const char* reply, int width = 0);

// The self-test result ("X") and the cause of the last transfer ("G") in words; a reply out of
// form ("NA", garbage) says the unit gave none, an empty one that it did not answer.
const char* SelfTestResultWords(const char* reply);
const char* TransferCauseWords(const char* reply);

// How the last identity-text write went.
enum class TextWrite : std::uint8_t {
    Accepted,     // every character went out and the unit answered "OK" after the last
    Refused,      // the unit answered the "-" or a character before the last: no more was sent
    Unconfirmed,  // every character went out, but the last was not answered "OK"
};

// The model of the connected UPS: the serial link, one text field per value the unit
// reports, numeric copies of the measurements, the family code and the kind flags, and one
// operation per UPS command. No operation throws or reports an error: an unanswered read
// leaves an empty text and the caller decides.
class APCUPS {
public:
    // A real termios port on the system clock.
    APCUPS();
    // Any port (for example the simulated line) and clock (virtual time in tests).
    APCUPS(std::unique_ptr<SerialPort> port, Clock& clock);
    ~APCUPS();
    APCUPS(const APCUPS&) = delete;
    APCUPS& operator=(const APCUPS&) = delete;

    // ---- Serial link ----
    bool OpenPort(const std::string& name);
    // Closes the handle (the window's job on a port change and at close). False when the
    // release failed; the handle then stays as it was.
    bool ClosePortHandle();
    bool PortHandleValid() const { return portHandle == PortHandle::Open; }
    const char* Transact(char command, int replyLength);
    const char* TransactRaw(char command, int replyLength);
    // Sends the command that selects a value before a "+" or "-", a text or an EEPROM step.
    // False when the unit did not answer it with a value of `form`: then nothing that follows
    // a selection goes out until the next selection is taken (see Follow), and `what` is kept
    // for the status text (RefusedSelection).
    bool Select(char command, int replyLength, ValueForm form, const char* what);
    // Sends a byte that only means something after a selection: a sign, a text's "-" and its
    // characters, an EEPROM step. It goes out only while the last command sent was a
    // selection the unit took, or a byte that followed it; otherwise nothing is sent and the
    // reply is empty. "+" and "-" always take this way, whoever sends them.
    const char* Follow(char byte, int replyLength);
    // The value whose selection the unit last refused (no answer, "NA", garbage), with the
    // reply it gave; null when none since ClearSelection.
    const char* RefusedSelection() const { return refusedWhat_; }
    const char* RefusedSelectionReply() const { return refusedReply_.c_str(); }
    // A request begins: no selection of an earlier one counts, and none has been refused.
    void ClearSelection() {
        selected_ = false;
        refusedWhat_ = nullptr;
    }
    // Sets the per-byte read timeout and re-applies the whole timeout record.
    void SetReadTotalMultiplier(std::uint32_t ms);
    SerialPort& port() { return *port_; }
    Clock& clock() { return clock_; }
    // Told of every transaction as it starts: the command byte, the reply length asked for
    // and whether the read is raw. Lets tests see all an operation does on the line; none by
    // default.
    using TransactObserver = std::function<void(char command, int replyLength, bool raw)>;
    void SetTransactObserver(TransactObserver observer) { observer_ = std::move(observer); }

    // ---- UPS object ----
    bool CheckSmartMode();

    // ---- Readings and status ----
    const char* ReadInputVoltage();
    const char* ReadOutputVoltage();
    const char* ReadLoad();
    const char* ReadBatteryVoltage();
    const char* ReadBatteryCapacity();
    const char* ReadLineFrequency();
    const char* ReadTemperature();
    const char* ReadRunTime();
    const char* ReadBatteryNominal();
    const char* ReadFirmware();
    std::uint8_t ReadRegister1();
    std::uint8_t ReadRegister2();
    std::uint8_t ReadRegister3();
    std::uint8_t ReadStatusByte();
    std::uint8_t ReadStatusRegisters();
    void ReadMeasurements();

    // ---- Battery service ----
    // Which of the battery service's letters the family answers. The letters mean other things
    // on some units, or nothing: a family that does not answer one is never sent it.
    bool AnswersBatteryReads() const;  // "X", "G", "M", "N"
    bool AnswersLineQuality() const;   // "9"
    bool OffersCalibration() const;    // "D"
    // Each returns the reply as kept: empty when the family is not asked or did not answer,
    // "NA" for a refusal or a reply out of form.
    const char* ReadSelfTestResult();
    const char* ReadTransferCause();
    const char* ReadHighestLine();  // since the last "M": each read starts it afresh
    const char* ReadLowestLine();   // since the last "N"
    const char* ReadLineQuality();
    // Starts a runtime calibration, or aborts the one that runs. The unit answers with alerts
    // the reply filter drops, so the reply says nothing: only "Q", the charge and the run time
    // tell what happened. Nothing is sent to a family that offers none.
    const char* SendCalibration();

    // ---- Settings ----
    const char* ReadLowTransfer();
    const char* StepLowTransfer();
    const char* ReadHighTransfer();
    const char* StepHighTransfer();
    const char* ReadOutputSetting();
    const char* StepOutputSetting();
    const char* ReadSelfTestInterval();
    const char* StepSelfTestInterval();
    const char* ReadShutdownDelay();
    const char* StepShutdownDelay();
    const char* ReadTurnOnDelay();
    const char* StepTurnOnDelay();
    const char* ReadLowBatteryWarning();
    const char* StepLowBatteryWarning();
    const char* ReadReturnThreshold();
    const char* StepReturnThreshold();
    const char* ReadAlarmDelay();
    const char* StepAlarmDelay();
    const char* ReadSensitivity();
    const char* StepSensitivity();
    const char* ReadBatteryPacks();
    const char* StepBatteryPacks(char sign);

    // ---- Identity texts ----
    const char* ReadManufactureDate();
    const char* WriteManufactureDate(const std::string& text);
    const char* ReadBatteryReplaceDate();
    const char* WriteBatteryReplaceDate(const std::string& text);
    const char* ReadUpsId();
    const char* WriteUpsId(const std::string& text);
    const char* ReadSerialNumber();
    const char* WriteSerialNumber(const std::string& text);
    const char* WriteFirmwareHead(const std::string& text);

    // ---- One-shot commands ----
    const char* StartSelfTest();
    const char* FrontPanelTest();
    const char* SendBypassToggle();
    const char* LeaveSmartMode();
    void SendZPair();
    void ResetToDefaults();
    const char* EepromBegin();
    const char* EepromNext();

    // ---- Calibration constants ----
    const char* ReadConst0();
    const char* ReadConst4();
    const char* ReadConst5();
    const char* ReadConst6();
    const char* ReadConstHash();
    const char* ReadConstDollar();
    const char* ReadConstPercent();
    const char* ReadConstCaret();
    const char* ReadConstCtrlD();
    bool TuneConst0(const char* target);
    bool TuneConst4(const char* target);
    bool TuneConst5(const char* target);
    bool TuneConst6(const char* target);
    bool TuneConstHash(const char* target);
    bool TuneConstDollar(const char* target);
    bool TuneConstPercent(const char* target);
    bool TuneConstCaret(const char* target);
    bool TuneConstCtrlD(const char* target);

    // ---- Back-PRO calibration values ----
    const char* ReadFloatVoltage();
    const char* StepFloatVoltage(char sign);
    const char* ReadRatio();
    const char* StepRatio(char sign);
    const char* ReadBbdVoltage();
    const char* StepBbdVoltage(char sign);
    const char* ReadEutVoltage();
    const char* StepEutVoltage(char sign);
    const char* ReadDcOffset();
    const char* StepDcOffset(char sign);
    const char* ReadCapacitorLoad();
    const char* StepCapacitorLoad(char sign);

    // ---- Meters ----
    const char* StepInputVoltage(char sign);
    const char* StepLoad(char sign);
    const char* StepBatteryVoltage(char sign);
    const char* StepInputVoltage2nd();
    const char* StepLoad2nd();
    const char* StepBatteryVoltage2nd();
    bool TuneInputVoltage(const char* target);
    bool TuneLoad(const char* target);
    bool TuneBatteryVoltage2nd(const char* target);

    // ---- Model code ----
    const char* ReadModelCode();
    const char* StepModel(char sign);
    const char* ReadModelCode2nd();
    bool CheckModelCode2nd(const char* target);
    bool TuneModelCode(const char* target);

    // ---- Identification ----
    bool Identify();
    const char* ReadModelName();
    void ReadAllSettings();

    // ---- Fields, in declaration order ----
    PortHandle portHandle = PortHandle::Null;
    std::uint8_t eepromImage[1280] = {};
    bool noTemperature = false;
    bool isThirdGen = false;
    bool isXL = false;
    bool isStack = false;
    bool usesConstHash = false;
    bool s411FlagA = false;
    bool s411FlagB = false;
    bool usesCtrlB = false;
    bool hasHL8Marker = false;
    // The model name marks a line whose "#" is a calibration constant, whatever the rating:
    // an EEPROM read would step it round.
    bool hashConstantLine = false;
    bool steppedDown = false;
    bool steppedUp = false;
    bool monitorOnly = false;
    std::int16_t family = FamilySmart;
    PortTimeouts portTimeouts;
    std::uint8_t statusByte = 0;
    std::uint8_t register1 = 0;
    std::uint8_t register2 = 0;
    std::uint8_t register3 = 0;
    char rawBuffer[1024] = {};
    char replyBuffer[512] = {};
    FixedText<5> previousModelCode;
    // The steps the last ReadModelCode of an older unit sent: 0 (none), 1 (up only: not
    // taken, or the Back-UPS Pro left a code up) or 2 (up and back down).
    int modelCodeReadSteps = 0;
    FixedText<11> manufactureDate, batteryReplaceDate, upsId;
    FixedText<17> serialNumber;
    FixedText<8> outputVoltageText, outputSettingText, inputVoltageText, lowTransferText,
        highTransferText;
    FixedText<5> const0Text, const4Text, const5Text, const6Text, constHashText, constDollarText,
        constPercentText, constCaretText;
    FixedText<5> constCtrlDText, batteryNominalText;
    FixedText<5> step2ndText, modelCode2ndText, modelCodeText;
    FixedText<8> batteryVoltageText, floatVoltageText, ratioText, bbdVoltageText, eutVoltageText,
        dcOffsetText, capacitorLoadText;
    FixedText<11> sensitivityText;
    FixedText<8> selfTestIntervalText, temperatureText, shutdownDelayText, turnOnDelayText,
        batteryPacksText;
    FixedText<14> alarmDelayText;
    FixedText<6> lowBatteryWarningText;
    FixedText<4> returnThresholdText;
    FixedText<8> runTimeText;
    FixedText<4> selfTestResultText, transferCauseText, lineQualityText;
    FixedText<8> highestLineText, lowestLineText;
    FixedText<27> modelName;
    FixedText<18> firmwareText, firmwareHead;
    FixedText<8> lineFrequencyText, loadPercentText, loadWattsText, batteryCapacityText;
    float inputVoltage = 0, outputVoltage = 0, loadPercent = 0, loadWatts = 0;
    float ratingVA = 0;
    float wattsPerPercent = 0;
    float batteryVoltage = 0, batteryCapacity = 0;
    float tuneStartValue = 0;
    // Set by a meter tuning step that ended the walk because its reading jumped: more than
    // kMeterJump volts or watts in that one step, kBatteryJump volts on the battery meter.
    bool tuneJumped = false;
    std::uint16_t runTimeMinutes = 0;
    // The last "j" was minutes as the unit writes them (digits, a colon): a garbled one is no
    // run time, whatever number could be read out of it.
    bool runTimeAnswered = false;
    std::int16_t batteryPacks = 0;
    std::int16_t ratingDigits = 0;
    std::uint8_t secondGenVariant = 0;
    bool smartModeOk = false;
    TextWrite lastTextWrite = TextWrite::Accepted;
    // The capability string as the identification read it (Smart-UPS only; empty otherwise):
    // the values each setting offers, kept so nobody has to ask the unit again.
    std::string capabilities;

private:
    const char* TransactImpl(char command, int replyLength, bool filterAlerts,
                             bool follower = false);
    template <std::size_t N>
    const char* ReadInto(char command, int replyLength, FixedText<N>& field);
    const char* StepSetting(char command, int replyLength, int stepReplyLength, ValueForm form,
                            const char* what, const char* (APCUPS::*read)());
    const char* WriteText(char command, int replyLength, int width, std::int64_t pauseMs,
                          const std::string& text, ValueForm form, const char* what,
                          const char* (APCUPS::*read)());
    template <std::size_t N>
    bool TuneConstant(char stepByte2nd, const char* target, FixedText<N>& field);
    const char* StepBackPro(char command, char sign, const char* what,
                            const char* (APCUPS::*read)());
    bool TuneMeter(float& reading, const char* target, float stopWindow2nd,
                   const char* (APCUPS::*step)(char), const char* (APCUPS::*step2nd)());
    std::uint8_t ReadRegister(char command, std::uint8_t& reg);
    template <std::size_t N>
    const char* ReadChecked(bool asked, char command, int replyLength, ValueForm form,
                            FixedText<N>& field);

    std::unique_ptr<SerialPort> port_;
    Clock& clock_;
    // True from a selection the unit took until the next command that is no follower of it.
    bool selected_ = false;
    const char* refusedWhat_ = nullptr;
    FixedText<8> refusedReply_;
    TransactObserver observer_;
};

}  // namespace morlen
