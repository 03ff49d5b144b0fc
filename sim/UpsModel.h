#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Clock.h"
#include "Profile.h"

namespace morlen::sim {

// How the unit took a byte it received: what a test checks against what the host meant.
enum class Taken : std::uint8_t {
    Ignored,    // switched off, out of smart mode, or (a front end's fault) never heard
    Command,    // a command, which may only read a value
    Changed,    // changed a stored value: a setting, constant, meter, model code or the packs
    TextBegun,  // the "-" that starts a text write
    Text,       // a character of a text write
    Refused,    // (a front end's fault) answered "NA" without reaching the unit
};

// An unsolicited alert character and the time the unit sends it.
struct Alert {
    Micros at;
    char byte;
};

// The state of one smart-protocol unit and its answer to each command byte. It has no clock
// of its own: every call carries the time, which must never go backwards. Front ends (the
// in-process SimUps, the pseudo-terminal program) pace the bytes on the line.
class UpsModel {
public:
    explicit UpsModel(const Profile& profile);

    // The unit has received `byte` completely at `at`. Returns the reply as it goes on the
    // line (CR LF included), or nothing when the unit stays silent.
    std::optional<std::string> receive(std::uint8_t byte, Micros at);

    // Alert characters due at or before `upTo`, in time order; each is returned once.
    std::vector<Alert> takeAlerts(Micros upTo);
    // When the next alert may be due (an alert already scheduled, or a change of the battery
    // state that may raise one): the front end's wake-up time.
    std::optional<Micros> nextAlertTime(Micros now);

    // The mains fail or come back at `at`. `cause` is what "G" names afterwards: R, H, L, T.
    // A failure interrupts a runtime calibration (no new run time is stored).
    void powerFail(Micros at, char cause = 'L');
    void powerRestore(Micros at);
    // The load (percent of rating) from `at` on: the discharge rate and the run time follow it;
    // above 100 the overload bit is set and a self-test fails "NG".
    void setLoad(double percent, Micros at);
    // The line voltage the unit reads from `at` on while the mains are there; outside the
    // transfer points "9" answers "00" (the unit stays on line: a cut is `powerFail`).
    void setLineVoltage(double volts, Micros at);
    // A weak battery: a self-test fails "BT".
    void setWeakBattery(bool weak) { weakBattery_ = weak; }
    // What the battery really holds, as a share of the run time the unit has stored (new
    // batteries: above 1). The discharge follows it; a calibration stores it.
    void setBatteryCapacity(double share, Micros at);
    // The battery charges and discharges this many times faster than real time (so that a
    // calibration can be watched in a minute). Replies, alerts and the self-test keep time.
    void setTimeScale(double scale) { timeScale_ = scale > 0 ? scale : 1.0; }
    // One alert character at `at`.
    void scheduleAlert(char byte, Micros at);
    // The battery wants replacing: status bit 7 and a "#" alert every 5 hours.
    void setReplaceBattery(bool replace, Micros at);
    // Live values drift a little with time unless switched off (for exact walks in tests).
    void setDrift(bool on) { drift_ = on; }
    // The unit restarts at `at` (a power glitch, its own watchdog): it comes back out of smart
    // mode and programming mode, and a text write under way is lost. Settings are kept.
    void restart(Micros at);

    // How the last byte received was taken, and for a change or a text write the command
    // whose value it changed ("u" for a step of the upper transfer voltage, "a" for an input
    // meter step of a second-generation unit).
    Taken lastTaken() const { return taken_; }
    char lastTarget() const { return target_; }
    // The last byte was a command the unit refused ("NA", or ignored as unknown).
    bool lastRefused() const { return refused_; }

    // ---- Inspection, mainly for tests ----
    const Profile& profile() const { return profile_; }
    bool smartMode() const { return smart_; }
    bool programmingMode() const { return programming_; }
    // A text write is under way: the next bytes are its characters.
    bool inText() const { return entry_.has_value(); }
    bool onBattery() const { return onBattery_; }
    bool calibrating() const { return calibrating_; }
    // The run time the unit has stored, in minutes at 25 % load on a full battery.
    double storedRunTime() const { return runTimeFull_; }
    bool switchedOff() const { return off_; }
    // Current value of a cycled setting ("" when the unit has none).
    std::string setting(char command) const;
    // Current value of a constant, if the unit has it.
    std::optional<std::uint8_t> constant(char command) const;
    std::uint8_t modelCode() const;
    std::string modelName() const;
    std::string firmware() const;
    // An identity text as stored ("c", "m", "x", "n").
    std::string text(char command) const;
    int batteryPacks() const { return packs_; }
    double batteryCharge(Micros at);
    std::uint8_t statusByte(Micros at);
    std::uint8_t eepromByte(std::uint8_t address) const;
    std::uint8_t eepromAddress() const { return eepromAddress_; }
    double inputVoltage(Micros at);
    double loadPercent(Micros at);
    double batteryVoltage(Micros at);

private:
    enum class Selection : std::uint8_t {
        None,
        Setting,
        Packs,
        Text,
        Constant,
        Meter,
        ModelCode,
        Eeprom,
        BackPro,
    };

    struct TextEntry {
        char command = 0;
        std::size_t width = 0;
        std::string typed;
        Micros last{0};
    };

    // A command byte in smart mode: its answer, with the selection it leaves (see receive).
    std::optional<std::string> select(std::uint8_t byte, Micros at);
    std::optional<std::string> command(std::uint8_t byte, Micros at);
    std::optional<std::string> step(int direction, Micros at);
    std::optional<std::string> typeText(std::uint8_t byte, Micros at);
    // "NA", or silence on units that ignore what they do not know; the command is refused.
    std::optional<std::string> unknown();
    std::string protocolInfo() const;
    bool isPublicCommand(std::uint8_t byte) const;
    Selection selectionOf(std::uint8_t byte) const;
    bool hasText(char command) const;
    // The byte being taken changed the value of `target`.
    void changed(char target);

    void advance(Micros to);
    std::optional<Micros> nextStateEvent() const;
    void addAlert(char byte, Micros at);
    double lowChargeLimit() const;
    // Minutes a full battery lasts at the present load: as the unit estimates it, and truly.
    double estimatedMinutes() const;
    double drainPerSecond() const;
    // The answer to one of "XGMN9D".
    std::optional<std::string> batteryService(std::uint8_t byte, Micros at);
    // A running calibration ends: at its floor (`completed`, a new run time is stored), or
    // aborted, or cut short by the mains.
    void endCalibration(bool completed, bool backOnLine);
    bool discharging() const { return (onBattery_ || calibrating_) && !off_; }
    // The line voltage as the unit measures it at `seconds`, and its extremes over a span.
    double lineVoltageAt(double seconds) const;
    void trackLineExtremes(Micros from, Micros to);
    void poweredOn(Micros at);
    double wave(double amplitude, double periodSeconds, double phase) const;

    std::string reading(char command);
    std::string constantText(char command) const;
    Constant* findConstant(char command);
    const Constant* findConstant(char command) const;
    Setting* findSetting(char command);
    const Setting* findSetting(char command) const;
    BackProValue* findBackPro(char command);
    const ModelRow& row() const;
    void moveModel(int direction);
    void factoryReset();

    Profile profile_;
    Micros now_{0};
    bool smart_ = false;
    bool programming_ = false;
    bool off_ = false;
    bool drift_ = true;
    std::uint8_t selected_ = 0;
    bool refused_ = false;  // the last command was refused
    Taken taken_ = Taken::Ignored;
    char target_ = 0;
    std::optional<TextEntry> entry_;
    std::optional<Micros> firstOne_;  // first "1" of a programming-mode pair
    std::optional<Micros> firstZ_;    // first "Z" of a restart pair

    std::vector<std::size_t> settingIndex_;
    // What a unit that stores its settings late holds in storage, and when the pending write
    // happens.
    std::vector<std::size_t> storedIndex_;
    std::optional<Micros> storeAt_;
    std::map<char, std::string> texts_;
    std::string firmwareHead_;  // written head, empty: the row's own
    int packs_ = 0;
    std::uint8_t code2nd_ = 0;
    std::uint8_t eepromAddress_ = 0;
    bool bypass_ = false;

    // Meter adjustments on top of the true readings.
    double inputOffset_ = 0, loadOffset_ = 0, batteryOffset_ = 0;

    // Power and battery.
    bool onBattery_ = false;
    bool lowBattery_ = false;
    bool replaceBattery_ = false;
    double charge_ = 100.0;
    double runTimeFull_ = 0;  // the stored run time (minutes at 25 % load)
    double capacity_ = 1.0;   // the battery's true share of it
    double timeScale_ = 1.0;
    bool weakBattery_ = false;

    // Runtime calibration: the charge it started at, and the discharge so far in seconds at
    // 25 % load.
    bool calibrating_ = false;
    double calibrationStart_ = 0;
    double calibrationWork_ = 0;

    // Last transfer cause ("G"), answered "NA" until shortly after power-on.
    char transferCause_ = 'O';
    Micros causeKnownAt_{0};
    // Self-test: when the last one ends and its result.
    std::optional<Micros> testEnd_;
    std::string testResult_;
    // Highest and lowest line voltage since "M" / "N" were last read.
    double lineHigh_ = 0, lineLow_ = 0;

    Micros nextOnBatteryAlert_{0};
    Micros nextReplaceAlert_{0};

    std::multimap<Micros, char> alerts_;
};

// The line form of a value: zero-padded to `width` with `decimals` decimals ("023.5").
std::string FormatNumber(double value, int width, int decimals);
// Two upper-case hex digits.
std::string Hex2(std::uint8_t value);

// Timing of the paired commands ("1" for programming mode, "Z" for a restart): the second
// byte must follow the first by about 1.5 to 4 s. The lower end has a small margin because
// the pseudo-terminal front end stamps bytes with the time it reads them.
constexpr Micros kPairMin{1'450'000};
constexpr Micros kPairMax{4'000'000};
// A text write is abandoned when its next character does not come within this time.
constexpr Micros kTextTimeout{5'000'000};
// The "|" alert follows a stored change after this delay.
constexpr Micros kChangeAlertDelay{3'000'000};
// On battery, "!" repeats this often.
constexpr Micros kOnBatteryRepeat{30'000'000};
// "G" has no answer yet for this long after power-on.
constexpr Micros kCauseUnknownFor{2'000'000};
// A self-test takes this long; its result ("X") is kept this long after.
constexpr Micros kSelfTestDuration{10'000'000};
constexpr Micros kTestResultKept{300'000'000};
// A battery that wants replacing says so this often.
constexpr Micros kReplaceRepeat{5LL * 3600 * 1'000'000};

}  // namespace morlen::sim
