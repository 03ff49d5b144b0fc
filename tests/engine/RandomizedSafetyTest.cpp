// A seeded random run of the real window against the simulated unit: buttons clicked, entry
// fields typed into, pasted into and edited after Enter (walks run toward the target Enter
// confirmed, or find it changed), settings restored, the EEPROM read, the settings reset,
// pages switched, and the unit's faults (a refused step or text write, a lost byte, a garbage
// reply, a restart, a pulled cable, and a selection refused, left unanswered, answered with
// garbage or hit by a restart). The unit keeps its earlier selection when it refuses a new
// one, so a sign sent after a refused selection changes a value the run sees.
// After every poll pass the unit must have been changed only where a request of that pass
// asked for it, and must never have heard a command that shuts it down, restarts it, tests it,
// calibrates its run time or takes it out of smart mode; closing the window sends "R" last. The
// battery page's Calibrate and Abort are clicked too (their questions answered Yes twice in three):
// a "D" may reach the unit only once the run has asked for a calibration, and a calibration may
// begin only in the pass that carries the start (an abort's "D" to a unit that had ended one
// would start another). The whole test must meet passes during a running calibration.
// Each run prints a line of what it carried out: walks (how many reached their target, how
// many found it changed), steps, text writes, restores, EEPROM reads, resets, selections the
// unit refused or left unanswered (and which faults hit them), connections and their
// self-test switch-offs. The test fails when a kind of action it covers ran zero times: in
// any one run (kEveryRun), or in the whole test (kWholeTest; not when replaying one seed).
//
//   MORLEN_SAFETY_SEEDS=n     runs seeds 1000 to 1000+n-1 (default 6: each kind of unit once)
//   MORLEN_SAFETY_SEED=n      replays the run of that seed (printed with every failure)
//   MORLEN_SAFETY_ACTIONS=n   actions per unit (default 500)
//   MORLEN_SAFETY_REFUSED_TEXT=0|1  refuses the "-" of text writes too (see kRefusedTextWrites)
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Connection.h"
#include "EngineBench.h"
#include "Journal.h"
#include "RequestHandling.h"
#include "UnitSettings.h"

namespace morlen::test {
namespace {

// A text write whose "-" the unit refuses must send none of its characters; the refused "-"
// is among the faults unless MORLEN_SAFETY_REFUSED_TEXT=0.
constexpr bool kRefusedTextWrites = true;

// What the run writes into the journal between two passes.
constexpr const char* kJournalMark = "(randomized run: end of a pass)";

// Of the passes, how many draw a fault aimed at a selection (percent); more of those with an
// EEPROM read or a text write, whose selection is followed by the longest exchanges.
constexpr int kAimedFaultPercent = 45, kAimedBeforeLongPercent = 80;

long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

// xorshift64*: the same sequence from a seed on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 2685821657736338717ull;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T>
    const T& pick(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(below(static_cast<int>(v.size())))];
    }
    char pick(std::string_view s) { return s[static_cast<std::size_t>(below(int(s.size())))]; }

private:
    std::uint64_t state_;
};

// What a request may change in the unit, by the command whose value changes (a sign after a
// selection, or one of a second-generation unit's own step bytes), and how often; "M" stands
// for the model code's command. A walk may take its bound and two more. `selects`: the
// commands it selects before a sign, a text or the EEPROM steps, where the run aims its
// selection faults. `journal`: the name the journal gives a walk, and a step of the same
// name, so that the run can tell from the journal how each walk ended.
struct Allowance {
    char code;
    const char* targets;
    int times;
    const char* selects;
    const char* journal = nullptr;
};
constexpr int kWalk = 260, kMeterWalk = 514;
// clang-format off
const Allowance kAllowances[] = {
    {'1', "M", 1, "M"}, {'Q', "M", kWalk, "M", "Hex Code"}, {'t', "M", kWalk, "", "Hex Code"},
    {'2', "P", 1, "P"}, {'f', "P", 1, "P"}, {'H', "P", kMeterWalk, "P", "Load W"},
    {'6', "b", 1, ""}, {'I', "b", kMeterWalk, "", "Load W"},
    {'3', "L", 1, "L", "Input V"}, {'g', "L", 1, "L", "Input V"}, {'7', "a", 1, "", "Input V"},
    {'J', "L", kMeterWalk, "L", "Input V"}, {'L', "L", kMeterWalk, "L", "Input V"},
    {'K', "a", kMeterWalk, "", "Input V"},
    {'4', "Bd", 1, "B"}, {'D', "Bd", 1, "B"}, {'R', "Bd", 1, "", "Bat. Voltage"},
    {'s', "d", kMeterWalk, "", "Bat. Voltage"}, {'5', ">", 1, ">"}, {'A', "w", 1, "w"},
    {'B', "2", 1, "2"}, {'C', "v", 1, "v"}, {'E', "e", 1, "e"}, {'F', "d", 1, "d"},
    {'G', "c", 1, "c"}, {'8', "u", 1, "u"}, {'b', "u", 1, "u"}, {'9', "l", 1, "l"},
    {'c', "l", 1, "l"}, {'a', "o", 1, "o"}, {'d', "o", 1, "o"}, {'M', "e", 1, "e"},
    {'S', "q", 1, "q"}, {'u', "p", 1, "p"}, {'v', "r", 1, "r"}, {'w', "E", 1, "E"},
    {'x', "s", 1, "s"}, {'y', "k", 1, "k"},
    {'!', "\x04", kWalk, "\x04", "Constant ^d"}, {'@', "#", kWalk, "#", "Constant #"},
    {'U', "$", kWalk, "$", "Constant $"}, {'Z', "%", kWalk, "%", "Constant %"},
    {'V', "^", kWalk, "^", "Constant ^"}, {'l', "04", kWalk, "0", "Constant 0"},
    {'p', "04", kWalk, "0", "Constant 0"}, {'m', "4", kWalk, "4", "Constant 4"},
    {'n', "52", kWalk, "5", "Constant 5"}, {'q', "52", kWalk, "5", "Constant 5"},
    {'o', "63", kWalk, "6", "Constant 6"}, {'r', "63", kWalk, "6", "Constant 6"},
    {'h', "m", 1, "m"}, {'i', "x", 1, "x"}, {'j', "c", 1, "c"}, {'k', "n", 1, "n"},
    {'O', "b", 1, "b"}, {'W', "", 0, "#"},
};
// clang-format on

const Allowance* AllowanceOf(char code) {
    for (const Allowance& a : kAllowances)
        if (a.code == code)
            return &a;
    return nullptr;
}

bool IsWalk(char code) {
    const Allowance* a = AllowanceOf(code);
    return a != nullptr && a->times > 1;
}

constexpr std::string_view kTextWrites = "hijkO";

// Every command that selects a value before a sign, a text or the EEPROM steps: settings,
// texts, constants, meters, the model code (b, Ctrl-B, H) and the EEPROM ("#").
constexpr std::string_view kSelectionLetters = "luoEprqeks>cmxnb0456#$%^\x04LPB\x02H";

// The one-shot commands a request sends on purpose: self-test, panel test, reset, bypass.
char CommandOf(char code) {
    const std::string_view codes = "PzN~", commands = "WAz^";
    const std::size_t i = codes.find(code);
    return i == std::string_view::npos ? 0 : commands[i];
}

// Shut down, restart, simulated power failure: no request asks for them. A runtime
// calibration's "D" only the battery page's Calibrate asks for.
bool NeverSent(std::uint8_t command) {
    return std::string_view("ZSK@U").find(static_cast<char>(command)) != std::string_view::npos;
}

std::string Printable(std::uint8_t c) {
    if (c >= 32 && c < 127)
        return std::string(1, static_cast<char>(c));
    return "^" + std::string(1, static_cast<char>(c + 64));
}

// The letters a poll pass reads before it carries out the requests, as the link reads them:
// an aimed fault passes over these to reach a request's own selection.
std::string PolledLetters(const APCUPS& ups, bool statusShown) {
    if (statusShown)
        return "~'8Q";
    switch (ups.family) {
        case FamilyBackCS:
            return "B";
        case FamilySmartNoSerial:
            return "OLFB";
        case FamilyBackPro:
            return "OLPewvcdB";
        default:
            return "OLPCFjfB";
    }
}

// clang-format off
const char* const kButtons[] = {
    "ModelMinus", "ModelPlus", "LoadPlus", "LoadMinus", "InputVoltagePlus", "InputVoltageMinus",
    "BatteryVoltagePlus", "BatteryVoltageMinus", "BatteryPacksPlus", "BatteryPacksMinus",
    "UpVoltageConstChange", "LowVoltageConstChange", "OutVoltageConstChange", "LoadBackProPlus",
    "LoadBackProMinus", "InputVoltageBackProPlus", "InputVoltageBackProMinus", "RatioPlus",
    "RatioMinus", "BBDVoltagePlus", "BBDVoltageMinus", "EUTVoltagePlus", "EUTVoltageMinus",
    "BatteryVoltageBackProPlus", "BatteryVoltageBackProMinus", "FloatBackProPlus",
    "FloatBackProMinus", "DCOffsetPlus", "DCOffsetMinus", "CapasitorLoadPlus",
    "CapasitorLoadMinus", "Load2ndMinus", "InputVoltage2ndMinus", "Bat2ndMinus",
    "UpVoltageChange2nd", "LowVoltageChange2nd", "OutVoltageChange2nd", "LowBatWarningChange",
    "ShutDownDelayChange", "WakeUpDelayChange", "SelfTestChange", "ThresholdChange",
    "SensitivityChange", "AlarmDelayChange", "ResetAll", "Leds", "Test", "ByPass", "ReadEE",
};

// The entry fields and what a technician types into each.
enum class Kind { Text, Hex, Digits3, Load, Voltage, Battery };
const std::pair<const char*, Kind> kFields[] = {
    {"ManufactureDate", Kind::Text}, {"BatteriesReplaseDate", Kind::Text}, {"ID", Kind::Text},
    {"SerialNumber", Kind::Text}, {"Const0", Kind::Hex}, {"Const4", Kind::Hex},
    {"Const5", Kind::Hex}, {"Const6", Kind::Hex}, {"Const02nd", Kind::Hex},
    {"Const52nd", Kind::Hex}, {"Const62nd", Kind::Hex}, {"Const_3", Kind::Hex},
    {"Const_4", Kind::Hex}, {"Const_5", Kind::Hex}, {"Const_6", Kind::Hex},
    {"ConstCTRLD", Kind::Hex}, {"ModelConst", Kind::Hex}, {"SU36G", Kind::Digits3},
    {"BatSmart2nd", Kind::Battery}, {"LoadSmartConst", Kind::Load}, {"LoadSmart2nd", Kind::Load},
    {"InputVoltageConstantSmart", Kind::Voltage}, {"InputVoltageConstantSmart2nd", Kind::Voltage},
    {"InputVoltageConstantBP", Kind::Voltage},
};
// clang-format on

// What a technician types: `shown` is the field's text before, which a calibration mostly
// moves by a few steps.
QString Typed(Random& r, Kind kind, const QString& shown = QString()) {
    QString s;
    const auto digits = [&](int n) {
        for (int i = 0; i < n; ++i)
            s += QChar('0' + r.below(10));
    };
    switch (kind) {
        case Kind::Text: {
            // Command letters on purpose: a text must never reach the unit as commands.
            static const char kChars[] = "WRAPZSKDU@ -+0123456789/abcXYz";
            for (int n = 1 + r.below(8); n > 0; --n)
                s += QChar(kChars[r.below(int(sizeof kChars) - 1)]);
            break;
        }
        case Kind::Hex: {
            bool ok = false;
            const int now = shown.toInt(&ok, 16);
            if (ok && shown.size() == 2 && r.chance(70)) {
                const int moved = (now + (r.chance(50) ? 1 : -1) * (1 + r.below(8))) & 0xFF;
                s = QStringLiteral("%1").arg(moved, 2, 16, QLatin1Char('0')).toUpper();
                break;
            }
            for (int n = r.chance(90) ? 2 : 1; n > 0; --n)
                s += QChar("0123456789ABCDEF"[r.below(16)]);
            break;
        }
        case Kind::Digits3:
            digits(3);
            break;
        case Kind::Load:
            digits(1 + r.below(3));
            break;
        case Kind::Voltage:
            s = QString::number(215 + r.below(21));
            break;
        case Kind::Battery:
            s = QStringLiteral("%1.%2").arg(26 + r.below(3)).arg(10 + r.below(90));
            break;
    }
    return s;
}

// What one run carried out, as the unit's log and the journal show it.
struct Tally {
    int actions = 0;
    int walks = 0;            // walk requests carried out
    int walksReached = 0;     // of them, confirmed at their target
    int targetChanged = 0;    // of them, not begun: the field no longer held the confirmed target
    int walksUnrecorded = 0;  // of them, none the journal recorded
    int steps = 0;
    int textWrites = 0;
    int restores = 0;  // restores the journal recorded as carried out
    int eepromReads = 0;
    int resets = 0;
    int refusedSelections = 0;  // a request's selection answered "NA" or not at all
    int connections = 0;
    int switchOffs = 0;  // connections that stepped the self-test interval
    int zPairs = 0;      // restarts of second-generation units for the switch-off
    // Faults that hit a request's selection: refused, unheard, garbled, a restart before it.
    int hitRefused = 0, hitUnheard = 0, hitGarbage = 0, hitRestart = 0;
    int calibrating = 0;  // passes that found the unit running a calibration

    Tally& operator+=(const Tally& o) {
        // clang-format off
        int Tally::*const all[] = {
            &Tally::actions, &Tally::walks, &Tally::walksReached, &Tally::targetChanged,
            &Tally::walksUnrecorded, &Tally::steps, &Tally::textWrites, &Tally::restores,
            &Tally::eepromReads, &Tally::resets, &Tally::refusedSelections, &Tally::connections,
            &Tally::switchOffs, &Tally::zPairs, &Tally::hitRefused, &Tally::hitUnheard,
            &Tally::hitGarbage, &Tally::hitRestart, &Tally::calibrating};
        // clang-format on
        for (int Tally::*m : all)
            this->*m += o.*m;
        return *this;
    }

    std::string line() const {
        std::ostringstream out;
        out << "actions " << actions << ", walks " << walks << " (reached " << walksReached
            << ", target changed " << targetChanged;
        if (walksUnrecorded > 0)
            out << ", not in the journal " << walksUnrecorded;
        out << "), steps " << steps << ", text writes " << textWrites << ", restores " << restores
            << ", EEPROM reads " << eepromReads << ", resets " << resets << ", refused selections "
            << refusedSelections << " (by a fault: NA " << hitRefused << ", unheard " << hitUnheard
            << "; garbage " << hitGarbage << ", restart " << hitRestart << "), connections "
            << connections << " (self-test switch-offs " << switchOffs << ", Z pairs " << zPairs
            << "), passes during a calibration " << calibrating;
        return out.str();
    }
};

// The kinds of action the run claims to cover: each must have run.
struct Covered {
    const char* name;
    int Tally::*count;
};
// clang-format off
const Covered kEveryRun[] = {
    {"walks", &Tally::walks}, {"walks reached", &Tally::walksReached},
    {"steps", &Tally::steps}, {"text writes", &Tally::textWrites},
    {"refused selections", &Tally::refusedSelections}, {"connections", &Tally::connections},
};
const Covered kWholeTest[] = {
    {"walks whose target changed", &Tally::targetChanged}, {"restores", &Tally::restores},
    {"EEPROM reads", &Tally::eepromReads}, {"resets", &Tally::resets},
    {"self-test switch-offs", &Tally::switchOffs}, {"Z pairs", &Tally::zPairs},
    {"selections refused by a fault", &Tally::hitRefused},
    {"unheard selections", &Tally::hitUnheard},
    {"selections answered with garbage", &Tally::hitGarbage},
    {"restarts before a selection", &Tally::hitRestart},
    {"passes during a calibration", &Tally::calibrating},
};
// clang-format on

class SafetyRun {
public:
    SafetyRun(const std::string& profile, std::uint64_t seed, bool refusedTextWrites)
        : profile_(profile),
          seed_(seed),
          refusedText_(refusedTextWrites),
          r_(seed),
          bench_(profile) {
        // A journal of its own: the run reads back how each walk and restore ended.
        bench_.form().journal = std::make_unique<journal::Journal>(
            journalDir_.path() + QStringLiteral("/journal.sqlite"));
        // Looked up once: the window has hundreds of controls.
        for (const char* name : kButtons)
            buttons_.push_back(bench_.form().findChild<QAbstractButton*>(QLatin1String(name)));
        // The calibration's questions, and the abort offered at a connection: Yes twice in three,
        // counted rather than drawn, so that a seed replays whatever the poll thread's timing.
        bench_.form().questionBox = [this](const QString&) { return ++questions_ % 3 != 0; };
        for (const auto& [name, kind] : kFields)
            fields_.emplace_back(bench_.form().findChild<QLineEdit*>(QLatin1String(name)), kind);
    }

    const Tally& tally() const { return tally_; }

    // Runs `actions` refreshes' worth of random work, then closes the window; false once a
    // check failed. The unit's log is read only while the poll thread waits or has ended.
    bool run(int actions) {
        TForm1& form = bench_.form();
        secondGen_ = bench_.unit().model().profile().generation == sim::Generation::Second;
        bench_.unit().model().setDrift(false);
        actions_ = actions;
        connect();
        const auto hook = QObject::connect(&form, &TForm1::displayRefreshed, [&] { onRefresh(); });
        while (ok_ && !closing_) {
            const int seen = refreshes_;
            // The close may delete the window while we wait: look at it only while it exists.
            if (!EngineBench::waitFor(
                    [&] { return bench_.formGone() || refreshes_ > seen || form.workerEnded == 1; },
                    30000)) {
                fail("the poll thread stopped refreshing");
                break;
            }
            if (bench_.formGone())
                break;
            if (form.workerEnded == 1 && ok_ && !closing_) {
                check("the pass that lost the link");
                connect();
            }
        }
        QObject::disconnect(hook);
        tally_.actions = done_;
        if (!ok_)
            return false;
        EngineBench::waitFor([&] { return bench_.formGone(); });
        // The close: the last link check, then "R" and nothing after it.
        const auto& log = bench_.unit().log();
        for (std::size_t i = mark_; i + 1 < log.size(); ++i) {
            if (log[i].command != 'Y')
                return fail("the close sent " + Printable(log[i].command) + " before R", i);
        }
        if (log.empty() || log.back().command != 'R')
            return fail("the close did not end with R");
        return true;
    }

private:
    void connect() {
        TForm1& form = bench_.form();
        for (int attempt = 0; attempt < 3; ++attempt) {
            bench_.unit().plug();
            bench_.unit().clearFaults();
            form.ui->SelfTestON1->setChecked(r_.chance(40));
            form.ui->HexCodeON->setChecked(r_.chance(50));
            connectionAllowance();
            faults_.clear();
            if (r_.chance(25))
                armFault(true);
            // The switch-off's own selection, now and then refused, lost, garbled or hit.
            if (form.ui->SelfTestON1->isChecked() && r_.chance(30))
                aimFault('E', r_.below(3));
            if (form.worker == nullptr && refreshes_ == 0)
                bench_.connectUnit();
            else
                form.ReconnectClick();
            if (form.worker != nullptr && form.workerEnded == 0)
                return;  // checked with the first pass, while the poll thread waits
            check("a connection that failed");
        }
        fail("no connection after three tries");
    }

    // What a connection may change: the self-test interval switched off (and a
    // second-generation unit restarted once for it), the model code read by a step and back,
    // and the walk to the next code a second-generation unit is given.
    void connectionAllowance() {
        allowed_.clear();
        commands_.clear();
        letters_.clear();
        requests_ = "(connection)";
        if (bench_.form().ui->SelfTestON1->isChecked()) {
            // At most the bound toward "OFF" and as many back.
            allowed_['E'] = 2 * kSelfTestStepBound;
            connectionZ_ = secondGen_ ? 2 : 0;
        }
        if (bench_.form().ui->HexCodeON->isChecked()) {
            allowed_['b'] = 2;
            allowed_['H'] = 262;
        }
    }

    void onRefresh() {
        ++refreshes_;
        if (!ok_ || closing_)
            return;
        check("a poll pass", true);
        connectionZ_ = 0;
        if (!ok_)
            return;
        markJournal();
        if (done_ >= actions_) {
            // Closed while connected: the thread stops after this pass, then "R".
            tallyFromJournal();
            closing_ = true;
            bench_.unit().clearFaults();
            bench_.form().close();
            return;
        }
        act();
    }

    // Every byte since the mark against what the requests of the pass allow. `counted`: the
    // pass ran its requests (not so for a link found lost before they began, or a connection
    // that failed).
    void check(const char* when, bool counted = false) {
        const auto& log = bench_.unit().log();
        std::map<char, int> used;
        int zs = 0;
        for (std::size_t i = mark_; i < log.size() && ok_; ++i) {
            const sim::Exchange& e = log[i];
            // Heard, whether the unit took it or a fault made it refuse.
            if (e.taken == sim::Taken::Command || e.taken == sim::Taken::Refused) {
                const char c = static_cast<char>(e.command);
                if (c == 'Z' && ++zs <= connectionZ_)
                    continue;
                if (NeverSent(e.command) || c == 'R' || (c == 'D' && !calibrationAsked_))
                    return (void)fail(std::string(when) + ": command " + Printable(e.command) +
                                          " reached the unit",
                                      i);
                if ((c == 'W' || c == 'A' || c == 'z' ||
                     (c == '^' && bench_.unit().model().profile().hasBypass)) &&
                    commands_.find(c) == std::string::npos)
                    return (void)fail(std::string(when) + ": command " + c +
                                          " reached the unit, nobody asked for it",
                                      i);
            }
            if (e.taken == sim::Taken::Changed || e.taken == sim::Taken::TextBegun) {
                if (++used[e.target] > allowed_[e.target])
                    return (void)fail(std::string(when) + ": the value of " +
                                          Printable(static_cast<std::uint8_t>(e.target)) +
                                          " changed, more often than the requests allow",
                                      i);
            }
        }
        // A "D" to a unit that is not calibrating starts a calibration: only the pass that
        // carries the technician's start may begin one.
        const bool calibrating = bench_.unit().model().calibrating();
        if (ok_ && calibrating && !wasCalibrating_ &&
            requests_.find(char(Request::CalibrationStart)) == std::string::npos)
            return (void)fail(std::string(when) + ": a calibration began that nobody started");
        wasCalibrating_ = calibrating;
        if (ok_ && counted)
            tallyPass(zs);
        mark_ = log.size();
    }

    // What the pass since the mark carried out, into the tally.
    void tallyPass(int zs) {
        const auto& log = bench_.unit().log();
        tally_.calibrating += bench_.unit().model().calibrating();
        if (requests_ == "(connection)") {
            ++tally_.connections;
            tally_.zPairs += std::min(zs, connectionZ_) / 2;
            for (std::size_t i = mark_; i + 1 < log.size(); ++i) {
                if (log[i].command == 'E' && log[i + 1].command == '-') {
                    ++tally_.switchOffs;
                    break;
                }
            }
            return;
        }
        for (const char code : requests_) {
            if (IsWalk(code)) {
                ++tally_.walks;
            } else if (kTextWrites.find(code) != std::string_view::npos) {
                ++tally_.textWrites;
            } else if (code == 'W') {
                // Where "#" is a constant the window reads nothing.
                if (!bench_.form().ups->usesConstHash)
                    ++tally_.eepromReads;
            } else if (code == 'N') {
                ++tally_.resets;
            } else if (AllowanceOf(code) != nullptr) {
                ++tally_.steps;
            }
        }
        // A request's selection answered "NA" or not at all, after the poll pass's own reads
        // (which end with "B", or "Q" on the status page).
        std::size_t i = mark_;
        while (i < log.size() && log[i].command != 'B' && log[i].command != 'Q')
            ++i;
        for (++i; i < log.size(); ++i) {
            const sim::Exchange& e = log[i];
            if (letters_.find(static_cast<char>(e.command)) == std::string::npos ||
                e.taken == sim::Taken::Text || e.taken == sim::Taken::TextBegun)
                continue;
            if (!e.reply || e.reply->empty() || *e.reply == "NA\r\n")
                ++tally_.refusedSelections;
            tally_.hitRefused += (e.hit & sim::HitRefused) != 0;
            tally_.hitUnheard += (e.hit & sim::HitLost) != 0;
            tally_.hitGarbage += (e.hit & sim::HitReplaced) != 0;
            tally_.hitRestart += (e.hit & sim::HitRestart) != 0;
        }
    }

    // Ends the pass's stretch of the journal: the next pass's entries follow this mark.
    void markJournal() {
        journal::Entry mark;
        mark.what = QLatin1String(kJournalMark);
        bench_.form().journal->Record(std::move(mark));
        marked_.push_back(requests_);
    }

    // How the walks and restores ended, read once from the journal, which records every
    // request in the order they were carried out: between two marks, what one pass did.
    void tallyFromJournal() {
        if (bench_.formGone() || marked_.empty())
            return;
        QList<journal::Entry> all = bench_.form().journal->Entries();
        std::reverse(all.begin(), all.end());  // oldest first
        std::size_t pass = 0;
        qsizetype from = 0;
        for (qsizetype j = 0; j < all.size() && pass < marked_.size(); ++j) {
            if (all[j].what != QLatin1String(kJournalMark))
                continue;
            tallyFromJournal(marked_[pass++], all.mid(from, j - from));
            from = j + 1;
        }
        marked_.clear();
    }

    void tallyFromJournal(const std::string& requests, const QList<journal::Entry>& entries) {
        if (requests == "(connection)")
            return;  // the connection's own walks: none of the run's
        qsizetype at = 0;
        const auto next = [&](const QString& what) {
            for (qsizetype j = at; j < entries.size(); ++j) {
                if (entries[j].what == what) {
                    at = j + 1;
                    return j;
                }
            }
            return qsizetype(-1);
        };
        for (const char code : requests) {
            if (code == char(Request::RestoreSettings)) {
                if (next(QLatin1String(kRestoreWhat)) >= 0)
                    ++tally_.restores;
                continue;
            }
            const Allowance* a = AllowanceOf(code);
            if (a == nullptr || a->journal == nullptr)
                continue;
            const qsizetype j = next(QLatin1String(a->journal));
            if (!IsWalk(code))
                continue;
            if (j < 0) {
                ++tally_.walksUnrecorded;
            } else if (entries[j].outcome == journal::Outcome::Confirmed) {
                ++tally_.walksReached;
            } else if (entries[j].reason == RequestHandler::TargetChangedText()) {
                ++tally_.targetChanged;
            }
        }
    }

    bool fail(const std::string& what, std::size_t at = std::size_t(-1)) {
        ok_ = false;
        tallyFromJournal();
        std::ostringstream out;
        out << what << "\n  unit " << profile_ << ", MORLEN_SAFETY_SEED=" << seed_
            << (refusedText_ ? " MORLEN_SAFETY_REFUSED_TEXT=1" : "") << ", action " << done_
            << "\n  requests of the pass: \"" << requests_ << "\"\n  faults armed: " << faults_
            << "\n  the unit heard:";
        const auto& log = bench_.unit().log();
        for (std::size_t i = mark_; i < log.size(); ++i) {
            // Unheard, a command, a change, a text begun, a text character, refused.
            static const char* const kTaken[] = {"?", "", "*", "-", "t", "NA"};
            out << (i == at ? " >>" : " ") << Printable(log[i].command)
                << kTaken[static_cast<int>(log[i].taken)];
            // A command the unit itself refused.
            if (log[i].taken == sim::Taken::Command && log[i].reply == "NA\r\n")
                out << "(NA)";
        }
        ADD_FAILURE() << out.str();
        return false;
    }

    // One refresh's worth of technician and unit: up to three actions, then the requests they
    // posted become the next pass's allowance.
    void act() {
        TForm1& form = bench_.form();
        faults_.clear();
        restorePlan_.clear();
        for (int n = 1 + r_.below(3); n > 0; --n, ++done_) {
            const int what = r_.below(100);
            if (what < 33)
                clickButton();
            else if (what < 72)
                typeIntoField();
            else if (what < 75)
                restoreSettings();
            else if (what < 77)
                clickOnItsPage("ReadEE");
            else if (what < 78)
                clickOnItsPage("ResetAll");
            else if (what < 80)
                reconnect();
            else if (what < 88)
                switchPage();
            else if (what < 90)
                clickOnItsPage(r_.chance(70) ? "Calibrate" : "AbortCalibration");
            else
                armFault();
        }
        // The poll thread waits: the queue holds exactly what the next pass carries out.
        const std::vector<APCommandToSend> posted = RequeueRequests(*form.requestQueue);
        requests_.clear();
        allowed_.clear();
        commands_.clear();
        letters_.clear();
        const char model = secondGen_ ? 'H' : form.ups->usesCtrlB ? cmd::CtrlB : 'b';
        const auto allow = [&](char code, int times) {
            const Allowance* a = AllowanceOf(code);
            if (a == nullptr)
                return;
            for (const char* t = a->targets; *t != '\0'; ++t)
                allowed_[*t == 'M' ? model : *t] += times * a->times;
            for (const char* s = a->selects; *s != '\0'; ++s)
                letters_ += *s == 'M' ? model : *s;
        };
        for (const APCommandToSend& q : posted) {
            requests_ += q.code;
            calibrationAsked_ = calibrationAsked_ || q.code == char(Request::CalibrationStart);
            allow(q.code, 1);
            if (q.code == char(Request::RestoreSettings)) {
                // Each setting of the plan: its button's step, at most once round its values.
                for (const RestoreTarget& t : restorePlan_)
                    allow(t.code, kSettingCycleBound);
            }
            if (const char c = CommandOf(q.code))
                commands_ += c;
        }
        // A calibration asked for may start, and be aborted by any later pass's watch.
        if (calibrationAsked_)
            allowed_['D'] = 2;
        if (requests_.find_first_of(kTextWrites) != std::string::npos) {
            // A "-" lost on the line cannot be told from one taken: the text's first character
            // would reach the unit as a command whatever Morlen does. A refused "-" can: see
            // kRefusedTextWrites.
            bench_.unit().clearFaults();
            faults_ = "(cleared for the text write) ";
            if (refusedText_ && r_.chance(50)) {
                bench_.unit().refuseNextStep();
                faults_ += "refused step; ";
            }
        }
        const bool longAhead = requests_.find('W') != std::string::npos ||
                               requests_.find_first_of(kTextWrites) != std::string::npos;
        if (r_.chance(longAhead ? kAimedBeforeLongPercent : kAimedFaultPercent)) {
            // Mostly at what this pass selects; now and then at any selection.
            const std::string pool =
                letters_.empty() || r_.chance(15) ? std::string(kSelectionLetters) : letters_;
            const char c = r_.pick(pool);
            const bool statusShown = form.activePage() == form.ui->TabSheet6;
            const std::string polled = PolledLetters(*form.ups, statusShown);
            aimFault(c, static_cast<int>(std::count(polled.begin(), polled.end(), c)) +
                            (r_.chance(70) ? 0 : r_.below(3)));
        }
        const sim::UpsModel& unit = bench_.unit().model();
        if (unit.smartMode() && !unit.programmingMode() && !unit.profile().progReply.empty() &&
            r_.chance(25)) {
            // A restart left the unit out of programming mode: the technician reconnects.
            bench_.unit().unplugBefore(0);
            faults_ += "cable pulled to reconnect; ";
        }
    }

    // A fault aimed at the selection `c`, after `skip` more of it: refused, unheard, answered
    // with garbage (the unit still selects), or a restart just before it.
    void aimFault(char c, int skip) {
        sim::SimUps& unit = bench_.unit();
        const std::string at = "\"" + Printable(static_cast<std::uint8_t>(c)) + "\" after " +
                               std::to_string(skip) + "; ";
        switch (r_.below(4)) {
            case 0:
                unit.refuseCommand(c, skip);
                faults_ += "refused " + at;
                break;
            case 1:
                unit.loseCommand(c, skip);
                faults_ += "unheard " + at;
                break;
            case 2: {
                static const std::vector<std::string> kGarbage = {
                    "NA\r\n", "", "\r\n", "#Z\x7f\r\n", "99999\r\n", "OK", "nan\r\n"};
                unit.replaceReplyTo(c, r_.pick(kGarbage), skip);
                faults_ += "garbage to " + at;
                break;
            }
            default:
                unit.restartBeforeCommand(c, skip);
                faults_ += "restart before " + at;
                break;
        }
    }

    template <typename T>
    std::vector<T*> usable(const std::vector<T*>& all) {
        std::vector<T*> out;
        for (T* w : all)
            if (w != nullptr && w->isVisibleTo(&bench_.form()) && w->isEnabled())
                out.push_back(w);
        return out;
    }

    void clickButton() {
        const auto shown = usable(buttons_);
        if (!shown.empty())
            r_.pick(shown)->click();
    }

    // Goes to the page that holds the button and clicks it there; nothing where that page is
    // not offered or the button is not usable on it.
    void clickOnItsPage(const char* name) {
        TForm1& form = bench_.form();
        auto* button = form.findChild<QAbstractButton*>(QLatin1String(name));
        QTabWidget* pages = form.ui->PageControl1;
        QWidget* page = button;
        while (page != nullptr && pages->indexOf(page) < 0)
            page = page->parentWidget();
        const int index = page != nullptr ? pages->indexOf(page) : -1;
        if (index < 0 || !pages->isTabEnabled(index) || !pages->isTabVisible(index))
            return;
        pages->setCurrentIndex(index);
        if (button->isVisibleTo(&form) && button->isEnabled())
            button->click();
    }

    // The cable out and back in: the link is found lost at the next check, and the run
    // connects again (the connection step runs anew, its self-test switch-off with it).
    void reconnect() {
        bench_.unit().unplugBefore(0);
        faults_ += "cable out and back; ";
    }

    void typeIntoField() {
        std::vector<QLineEdit*> all;
        std::vector<Kind> kinds;
        for (const auto& [e, kind] : fields_) {
            if (e != nullptr && e->isVisibleTo(&bench_.form()) && e->isEnabled()) {
                all.push_back(e);
                kinds.push_back(kind);
            }
        }
        if (all.empty())
            return;
        int i = r_.below(static_cast<int>(all.size()));
        // The identity texts less often than the calibration values: a technician writes a
        // date now and then, and walks the calibration for most of the day.
        if (kinds[static_cast<std::size_t>(i)] == Kind::Text && r_.chance(50))
            i = r_.below(static_cast<int>(all.size()));
        QLineEdit* entry = all[static_cast<std::size_t>(i)];
        const Kind kind = kinds[static_cast<std::size_t>(i)];
        const QString shown = entry->text();
        entry->setFocus();
        entry->selectAll();
        QTest::keyClick(entry, Qt::Key_Backspace);
        const QString text = Typed(r_, kind, shown);
        if (r_.chance(25)) {
            QApplication::clipboard()->setText(text);
            QTest::keyClick(entry, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(entry, text);
        }
        QTest::keyClick(entry, Qt::Key_Return);
        // Edited again before the poll thread takes the request.
        const int after = r_.below(100);
        if (after < 10) {
            entry->selectAll();
            QTest::keyClick(entry, Qt::Key_Backspace);
        } else if (after < 20) {
            QTest::keyClicks(entry, Typed(r_, kind).left(1));
        } else if (after < 25) {
            QApplication::clipboard()->setText(Typed(r_, kind));
            entry->selectAll();
            QTest::keyClick(entry, Qt::Key_V, Qt::ControlModifier);
        }
    }

    // Settings put back from a file: a few of those the window offers, each to a value the
    // unit offers, now and then to one it does not (the restore then comes round to where it
    // began). One restore a pass, as the dialog is modal.
    void restoreSettings() {
        TForm1& form = bench_.form();
        if (!restorePlan_.empty() || form.worker == nullptr || form.workerEnded != 0)
            return;
        // The unit's command for each stored setting, in their order.
        static constexpr std::string_view kLetters = "uloEprskeq>";
        const sim::UpsModel& unit = bench_.unit().model();
        std::vector<RestoreTarget> plan;
        for (int i = 0; i < kStoredSettingCount; ++i) {
            const auto request = form.restoreRequest(i);
            const char code = request ? char(*request) : 0;
            if (code == 0 || !r_.chance(35))
                continue;
            const char letter = kLetters[static_cast<std::size_t>(i)];
            std::string value = "999";
            // What the dialog passes on: the values the unit lists for the setting.
            std::vector<std::string> offered;
            for (const sim::Setting& s : unit.profile().settings)
                if (s.command == letter)
                    for (const std::string& v : s.values)
                        offered.push_back(Shown(letter, v));
            if (letter == '>') {
                value =
                    QStringLiteral("%1").arg(r_.below(4), 3, 10, QLatin1Char('0')).toStdString();
            } else if (!r_.chance(10)) {
                for (const sim::Setting& s : unit.profile().settings)
                    if (s.command == letter)
                        value = Shown(letter, r_.pick(s.values));
            }
            plan.push_back({i, code, value, offered});
        }
        if (plan.empty())
            return;
        restorePlan_ = plan;
        PostRestore(form, std::move(plan));
    }

    // A setting's value as the window shows it, and a settings file holds it.
    static std::string Shown(char letter, const std::string& raw) {
        static const std::map<std::string, std::string> kAlarm = {
            {"0", "5 Seconds"}, {"T", "30 Seconds"}, {"L", "Low Battery"}, {"N", "Disabled"}};
        static const std::map<std::string, std::string> kSensitivity = {
            {"H", "High"}, {"M", "Medium"}, {"L", "Low"}, {"A", "Auto"}};
        const auto& names = letter == 'k' ? kAlarm : kSensitivity;
        if (letter == 'k' || letter == 's') {
            const auto it = names.find(raw);
            return it == names.end() ? raw : it->second;
        }
        return raw;
    }

    void switchPage() {
        QTabWidget* pages = bench_.form().ui->PageControl1;
        std::vector<int> open;
        for (int i = 0; i < pages->count(); ++i)
            if (pages->isTabEnabled(i) && pages->isTabVisible(i))
                open.push_back(i);
        if (!open.empty())
            pages->setCurrentIndex(r_.pick(open));
    }

    // A fault for the unit; while connecting, no pulled cable (the link check finds that).
    void armFault(bool connecting = false) {
        sim::SimUps& unit = bench_.unit();
        const int skip = r_.below(40);
        switch (r_.below(6)) {
            case 0:
                unit.refuseNextStep();
                faults_ += "refused step; ";
                break;
            case 1:
                unit.refuseByte(skip);
                faults_ += "refused byte " + std::to_string(skip) + "; ";
                break;
            case 2:
                unit.loseByte(skip);
                faults_ += "lost byte " + std::to_string(skip) + "; ";
                break;
            case 3: {
                static const std::vector<std::string> kGarbage = {
                    "NA\r\n", "\r\n", "#Z\x7f\r\n", "99999\r\n", "OK", "nan\r\n", "FF\r\n"};
                const std::string& g = r_.pick(kGarbage);
                unit.replaceReply(g, skip);
                faults_ += "garbage after " + std::to_string(skip) + "; ";
                break;
            }
            case 4:
                unit.restartBefore(skip);
                faults_ += "restart before " + std::to_string(skip) + "; ";
                break;
            default:
                if (!connecting && r_.chance(30)) {
                    unit.unplugBefore(skip);
                    faults_ += "cable pulled before " + std::to_string(skip) + "; ";
                }
                break;
        }
    }

    std::string profile_;
    std::uint64_t seed_;
    bool refusedText_;
    Random r_;
    // In memory where the system offers it: the run waits for the journal's writes.
    QTemporaryDir journalDir_{QDir(QStringLiteral("/dev/shm")).exists()
                                  ? QStringLiteral("/dev/shm/morlen-safety-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/morlen-safety-XXXXXX")};
    EngineBench bench_;
    bool secondGen_ = false;
    bool ok_ = true;
    bool closing_ = false;
    bool calibrationAsked_ = false;
    int questions_ = 0;
    int done_ = 0;
    int actions_ = 0;
    int refreshes_ = 0;
    int connectionZ_ = 0;
    std::size_t mark_ = 0;
    std::string requests_, commands_, faults_;
    std::string letters_;  // what the pass's requests select
    std::vector<RestoreTarget> restorePlan_;
    std::map<char, int> allowed_;
    std::vector<QAbstractButton*> buttons_;
    std::vector<std::pair<QLineEdit*, Kind>> fields_;
    // The requests of each pass whose end is marked in the journal, in order.
    std::vector<std::string> marked_;
    Tally tally_;
    // The unit ran a calibration at the last check.
    bool wasCalibrating_ = false;
};

TEST(RandomizedSafety, TheUnitHearsOnlyWhatThePostedRequestsImply) {
    const bool refusedText = EnvNumber("MORLEN_SAFETY_REFUSED_TEXT", kRefusedTextWrites) != 0;
    const long actions = EnvNumber("MORLEN_SAFETY_ACTIONS", 500);
    const long replay = EnvNumber("MORLEN_SAFETY_SEED", -1);
    const char* const kUnits[] = {"su1000",  "su1000-3g",  "gen2-v2",
                                  "backpro", "surt1000xl", "sc1000"};
    const long seeds = replay >= 0 ? 1 : EnvNumber("MORLEN_SAFETY_SEEDS", std::size(kUnits));
    Tally whole;
    bool allPassed = true;
    for (long i = 0; i < seeds; ++i) {
        const std::uint64_t seed = replay >= 0 ? std::uint64_t(replay) : std::uint64_t(1000 + i);
        const std::string unit = kUnits[seed % std::size(kUnits)];
        QElapsedTimer timer;
        timer.start();
        SafetyRun run(unit, seed, refusedText);
        const bool passed = run.run(static_cast<int>(actions));
        const Tally& t = run.tally();
        std::cout << "[ safety   ] " << unit << " seed " << seed << (passed ? "" : " (failed)")
                  << ", " << timer.elapsed() << " ms: " << t.line() << std::endl;
        if (!passed) {
            allPassed = false;
            continue;  // the next seeds may find another fault
        }
        for (const Covered& c : kEveryRun)
            EXPECT_GT(t.*c.count, 0) << unit << " seed " << seed << ": no " << c.name;
        whole += t;
    }
    if (!allPassed || replay >= 0)
        return;
    std::cout << "[ safety   ] all: " << whole.line() << std::endl;
    for (const Covered& c : kWholeTest)
        EXPECT_GT(whole.*c.count, 0) << "no " << c.name << " in the whole run";
}

}  // namespace
}  // namespace morlen::test
