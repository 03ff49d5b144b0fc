// A seeded random run of the real window against the simulated unit: buttons clicked, entry
// fields typed into, pasted into and edited after Enter, pages switched, and the unit's faults
// (a refused step or text write, a lost byte, a garbage reply, a restart, a pulled cable).
// After every poll pass the unit must have been changed only where a request of that pass
// asked for it, and must never have heard a command that shuts it down, restarts it, tests it,
// calibrates its run time or takes it out of smart mode; closing the window sends "R" last.
//
//   MORLEN_SAFETY_SEED=n      replays the run of that seed (printed with every failure)
//   MORLEN_SAFETY_ACTIONS=n   actions per unit (default 500)
//   MORLEN_SAFETY_REFUSED_TEXT=0|1  refuses the "-" of text writes too (see kRefusedTextWrites)
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "EngineBench.h"

namespace morlen::test {
namespace {

// A text write whose "-" the unit refuses must send none of its characters; the refused "-"
// is among the faults unless MORLEN_SAFETY_REFUSED_TEXT=0.
constexpr bool kRefusedTextWrites = true;

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

private:
    std::uint64_t state_;
};

// What a request may change in the unit, by the command whose value changes (a sign after a
// selection, or one of a second-generation unit's own step bytes), and how often; "M" stands
// for the model code's command. A walk may take its bound and two more.
struct Allowance {
    char code;
    const char* targets;
    int times;
};
constexpr int kWalk = 260, kMeterWalk = 514;
// clang-format off
const Allowance kAllowances[] = {
    {'1', "M", 1}, {'Q', "M", kWalk}, {'t', "M", kWalk},
    {'2', "P", 1}, {'f', "P", 1}, {'H', "P", kMeterWalk}, {'6', "b", 1}, {'I', "b", kMeterWalk},
    {'3', "L", 1}, {'g', "L", 1}, {'J', "L", kMeterWalk}, {'L', "L", kMeterWalk},
    {'7', "a", 1}, {'K', "a", kMeterWalk}, {'4', "Bd", 1}, {'D', "Bd", 1}, {'R', "Bd", 1},
    {'s', "d", kMeterWalk}, {'5', ">", 1}, {'A', "w", 1}, {'B', "2", 1}, {'C', "v", 1},
    {'E', "e", 1}, {'F', "d", 1}, {'G', "c", 1}, {'8', "u", 1}, {'b', "u", 1}, {'9', "l", 1},
    {'c', "l", 1}, {'a', "o", 1}, {'d', "o", 1}, {'M', "e", 1}, {'S', "q", 1}, {'u', "p", 1},
    {'v', "r", 1}, {'w', "E", 1}, {'x', "s", 1}, {'y', "k", 1},
    {'!', "\x04", kWalk}, {'@', "#", kWalk}, {'U', "$", kWalk}, {'Z', "%", kWalk},
    {'V', "^", kWalk}, {'l', "04", kWalk}, {'p', "04", kWalk}, {'m', "4", kWalk},
    {'n', "52", kWalk}, {'q', "52", kWalk}, {'o', "63", kWalk}, {'r', "63", kWalk},
    {'h', "m", 1}, {'i', "x", 1}, {'j', "c", 1}, {'k', "n", 1}, {'O', "b", 1},
};
// clang-format on

// The one-shot commands a request sends on purpose: self-test, panel test, reset, bypass.
char CommandOf(char code) {
    const std::string_view codes = "PzN~", commands = "WAz^";
    const std::size_t i = codes.find(code);
    return i == std::string_view::npos ? 0 : commands[i];
}

// Shut down, restart, runtime calibration, simulated power failure: no request asks for them.
bool NeverSent(std::uint8_t command) {
    return std::string_view("ZSK@DU").find(static_cast<char>(command)) != std::string_view::npos;
}

std::string Printable(std::uint8_t c) {
    if (c >= 32 && c < 127)
        return std::string(1, static_cast<char>(c));
    return "^" + std::string(1, static_cast<char>(c + 64));
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

QString Typed(Random& r, Kind kind) {
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
        case Kind::Hex:
            for (int n = r.chance(90) ? 2 : 1; n > 0; --n)
                s += QChar("0123456789ABCDEF"[r.below(16)]);
            break;
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

class SafetyRun {
public:
    SafetyRun(const std::string& profile, std::uint64_t seed, bool refusedTextWrites)
        : profile_(profile),
          seed_(seed),
          refusedText_(refusedTextWrites),
          r_(seed),
          bench_(profile) {}

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
            form.ui->SelfTestON1->setChecked(r_.chance(30));
            form.ui->HexCodeON->setChecked(r_.chance(50));
            connectionAllowance();
            faults_.clear();
            if (r_.chance(25))
                armFault(true);
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
        requests_ = "(connection)";
        if (bench_.form().ui->SelfTestON1->isChecked()) {
            allowed_['E'] = 8;
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
        check("a poll pass");
        connectionZ_ = 0;
        if (!ok_)
            return;
        if (done_ >= actions_) {
            // Closed while connected: the thread stops after this pass, then "R".
            closing_ = true;
            bench_.unit().clearFaults();
            bench_.form().close();
            return;
        }
        act();
    }

    // Every byte since the mark against what the requests of the pass allow.
    void check(const char* when) {
        const auto& log = bench_.unit().log();
        std::map<char, int> used;
        int zs = 0;
        for (std::size_t i = mark_; i < log.size() && ok_; ++i) {
            const sim::Exchange& e = log[i];
            if (e.taken == sim::Taken::Command) {
                const char c = static_cast<char>(e.command);
                if (c == 'Z' && ++zs <= connectionZ_)
                    continue;
                if (NeverSent(e.command) || c == 'R')
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
        mark_ = log.size();
    }

    bool fail(const std::string& what, std::size_t at = std::size_t(-1)) {
        ok_ = false;
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
        }
        ADD_FAILURE() << out.str();
        return false;
    }

    // One refresh's worth of technician and unit: up to three actions, then the requests they
    // posted become the next pass's allowance.
    void act() {
        TForm1& form = bench_.form();
        faults_.clear();
        for (int n = 1 + r_.below(3); n > 0; --n, ++done_) {
            const int what = r_.below(100);
            if (what < 35)
                clickButton();
            else if (what < 80)
                typeIntoField();
            else if (what < 88)
                switchPage();
            else
                armFault();
        }
        // The poll thread waits: the queue holds exactly what the next pass carries out.
        Queue& queue = *form.requestQueue;
        std::vector<APCommandToSend> posted;
        while (!queue.IsEmpty()) {
            posted.push_back(queue.Front());
            queue.Pop();
        }
        requests_.clear();
        allowed_.clear();
        commands_.clear();
        const char model = secondGen_ ? 'H' : form.ups->usesCtrlB ? cmd::CtrlB : 'b';
        for (const APCommandToSend& q : posted) {
            queue.Push(q.code, q.argument);
            requests_ += q.code;
            for (const Allowance& a : kAllowances) {
                if (a.code != q.code)
                    continue;
                for (const char* t = a.targets; *t != '\0'; ++t)
                    allowed_[*t == 'M' ? model : *t] += a.times;
            }
            if (const char c = CommandOf(q.code))
                commands_ += c;
        }
        if (requests_.find_first_of("hijkO") != std::string::npos) {
            // A "-" lost on the line cannot be told from one taken: the text's first character
            // would reach the unit as a command whatever Morlen does. A refused "-" can: see
            // kRefusedTextWrites.
            bench_.unit().clearFaults();
            faults_ = "(cleared for the text write)";
            if (refusedText_ && r_.chance(50)) {
                bench_.unit().refuseNextStep();
                faults_ += " refused step";
            }
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
        std::vector<QAbstractButton*> all;
        for (const char* name : kButtons)
            all.push_back(bench_.form().findChild<QAbstractButton*>(QLatin1String(name)));
        const auto shown = usable(all);
        if (!shown.empty())
            r_.pick(shown)->click();
    }

    void typeIntoField() {
        std::vector<QLineEdit*> all;
        std::vector<Kind> kinds;
        for (const auto& [name, kind] : kFields) {
            QLineEdit* e = bench_.form().findChild<QLineEdit*>(QLatin1String(name));
            if (e != nullptr && e->isVisibleTo(&bench_.form()) && e->isEnabled()) {
                all.push_back(e);
                kinds.push_back(kind);
            }
        }
        if (all.empty())
            return;
        const int i = r_.below(static_cast<int>(all.size()));
        QLineEdit* entry = all[static_cast<std::size_t>(i)];
        const Kind kind = kinds[static_cast<std::size_t>(i)];
        entry->setFocus();
        entry->selectAll();
        QTest::keyClick(entry, Qt::Key_Backspace);
        const QString text = Typed(r_, kind);
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
    EngineBench bench_;
    bool secondGen_ = false;
    bool ok_ = true;
    bool closing_ = false;
    int done_ = 0;
    int actions_ = 0;
    int refreshes_ = 0;
    int connectionZ_ = 0;
    std::size_t mark_ = 0;
    std::string requests_, commands_, faults_;
    std::map<char, int> allowed_;
};

TEST(RandomizedSafety, TheUnitHearsOnlyWhatThePostedRequestsImply) {
    const bool refusedText = EnvNumber("MORLEN_SAFETY_REFUSED_TEXT", kRefusedTextWrites) != 0;
    const long actions = EnvNumber("MORLEN_SAFETY_ACTIONS", 500);
    const long replay = EnvNumber("MORLEN_SAFETY_SEED", -1);
    const char* const kUnits[] = {"su1000",  "su1000-3g",  "gen2-v2",
                                  "backpro", "surt1000xl", "sc1000"};
    for (std::size_t i = 0; i < std::size(kUnits); ++i) {
        const std::uint64_t seed = replay >= 0 ? std::uint64_t(replay) : 1000 + i;
        const std::string unit = kUnits[seed % std::size(kUnits)];
        SafetyRun run(unit, seed, refusedText);
        if (!run.run(static_cast<int>(actions)) || replay >= 0)
            break;
    }
}

}  // namespace
}  // namespace morlen::test
