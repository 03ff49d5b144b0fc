#include "UpsModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace morlen::sim {

namespace {

constexpr char kCtrlA = 1;
constexpr char kCtrlB = 2;
constexpr char kCtrlD = 4;
constexpr char kCtrlZ = 26;

// Settings in the order the EEPROM keeps them.
constexpr std::string_view kEepromSettings = "uloeEprqks";
// Constants in the order the EEPROM keeps them.
constexpr std::string_view kEepromConstants = "0456#$%^\x04";

// Meter steps of first- and third-generation units, and their limits.
constexpr double kInputStep = 1.0, kInputLimit = 25.0;
constexpr double kLoadStep = 0.5, kLoadLimit = 25.0;
constexpr double kBatteryStep = 0.15, kBatteryLimit = 3.0;
// Second-generation steps always go down and wrap within +-limit.
constexpr double kInputLimit2nd = 12.0, kLoadLimit2nd = 10.0, kBatteryLimit2nd = 1.5;

// Charging on line: one percent every 36 s.
constexpr double kChargePerSecond = 100.0 / 3600.0;
// Low battery clears this many percent above the point where it was raised.
constexpr double kLowClearMargin = 5.0;

constexpr double kEps = 1e-9;

std::string Line(std::string text) {
    text += "\r\n";
    return text;
}

Micros SecondsFromNow(Micros now, double seconds) {
    // Round up, so that the event has really happened when its time comes.
    const auto us = static_cast<std::int64_t>(std::ceil(seconds * 1e6));
    return now + Micros(std::max<std::int64_t>(us, 1));
}

// Steps a value down by `step`, wrapping from below -limit to +limit.
double WrapDown(double value, double step, double limit) {
    value -= step;
    if (value < -limit - kEps)
        value = limit;
    return value;
}

std::uint8_t ProfileByte(const std::string& name, std::uint8_t address) {
    // FNV-1a: stable filler data that differs between profiles.
    std::uint32_t h = 2166136261u;
    for (unsigned char c : name) {
        h ^= c;
        h *= 16777619u;
    }
    h ^= address;
    h *= 16777619u;
    return static_cast<std::uint8_t>(h ^ (h >> 8) ^ (h >> 16));
}

}  // namespace

std::string FormatNumber(double value, int width, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*.*f", width, decimals, value);
    return buf;
}

std::string Hex2(std::uint8_t value) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", value);
    return buf;
}

UpsModel::UpsModel(const Profile& profile) : profile_(profile) {
    for (const auto& s : profile_.settings)
        settingIndex_.push_back(s.factory < s.values.size() ? s.factory : 0);
    storedIndex_ = settingIndex_;
    if (profile_.hasSettings)
        texts_['c'] = profile_.upsId;
    texts_['m'] = profile_.manufactureDate;
    texts_['x'] = profile_.batteryDate;
    if (!profile_.serial.empty())
        texts_['n'] =
            profile_.serial + std::string(static_cast<std::size_t>(profile_.serialNuls), '\0');
    packs_ = profile_.batteryPacks;
    if (profile_.modelIndex >= profile_.models.size())
        profile_.modelIndex = 0;
    if (!profile_.models.empty())
        code2nd_ = profile_.models[profile_.modelIndex].code;
    eepromAddress_ = profile_.firstEepromAddress;
    runTimeFull_ = profile_.runTimeFull;
    capacity_ = profile_.batteryCapacity > 0 ? profile_.batteryCapacity : 1.0;
    lineHigh_ = lineLow_ = lineVoltageAt(0.0);
    poweredOn(Micros(0));
}

void UpsModel::poweredOn(Micros at) {
    calibrating_ = false;
    transferCause_ = 'O';
    causeKnownAt_ = at + kCauseUnknownFor;
    testEnd_.reset();
}

// ---- Receiving ----

std::optional<std::string> UpsModel::receive(std::uint8_t byte, Micros at) {
    advance(at);
    taken_ = Taken::Ignored;
    target_ = 0;
    refused_ = false;
    if (storeAt_ && at >= *storeAt_) {
        storedIndex_ = settingIndex_;
        storeAt_.reset();
    }
    if (off_)
        return std::nullopt;
    if (entry_) {
        if (at - entry_->last > kTextTimeout) {
            entry_.reset();  // abandoned: this byte is a command again
        } else {
            taken_ = Taken::Text;
            target_ = entry_->command;
            return typeText(byte, at);
        }
    }
    if (!smart_) {
        if (byte != 'Y')
            return std::nullopt;
        taken_ = Taken::Command;
        smart_ = true;
        selected_ = byte;
        return Line("SM");
    }
    taken_ = Taken::Command;
    if (byte == '+' || byte == '-') {
        firstOne_.reset();
        firstZ_.reset();
        return step(byte == '+' ? +1 : -1, at);
    }
    return select(byte, at);
}

std::optional<std::string> UpsModel::select(std::uint8_t byte, Micros at) {
    // No document says what a unit has selected after it refused a command: assume the
    // worst, that it keeps the earlier selection, so a "+" or "-" sent next steps that.
    const std::uint8_t before = selected_;
    std::optional<std::string> reply = command(byte, at);
    if (reply && *reply == "NA\r\n")
        refused_ = true;
    if (refused_)
        selected_ = before;
    return reply;
}

void UpsModel::restart(Micros at) {
    advance(at);
    smart_ = false;
    programming_ = false;
    bypass_ = false;
    entry_.reset();
    firstOne_.reset();
    firstZ_.reset();
    // As from power-on: a calibration or self-test under way is lost, and so is the last
    // transfer cause.
    poweredOn(at);
    // A step not yet stored is lost.
    settingIndex_ = storedIndex_;
    storeAt_.reset();
}

void UpsModel::changed(char target) {
    taken_ = Taken::Changed;
    target_ = target;
}

std::optional<std::string> UpsModel::unknown() {
    refused_ = true;
    if (profile_.silentUnknown)
        return std::nullopt;
    return Line("NA");
}

std::optional<std::string> UpsModel::command(std::uint8_t byte, Micros at) {
    const auto previousOne = firstOne_;
    const auto previousZ = firstZ_;
    firstOne_.reset();
    firstZ_.reset();
    selected_ = byte;
    const bool second = profile_.generation == Generation::Second;
    const bool third = profile_.generation == Generation::Third;
    auto paired = [at](const std::optional<Micros>& first) {
        return first && at - *first >= kPairMin && at - *first <= kPairMax;
    };

    if (BackProValue* v = findBackPro(static_cast<char>(byte)))
        return Line(FormatNumber(v->value, 5, v->decimals));
    if (std::string_view("XGMN9D").find(static_cast<char>(byte)) != std::string_view::npos)
        return batteryService(byte, at);

    if (second) {
        switch (byte) {
            case 'a':
                inputOffset_ = WrapDown(inputOffset_, kInputStep, kInputLimit2nd);
                changed('a');
                return Line("OK");
            case 'b':
                loadOffset_ = WrapDown(loadOffset_, kLoadStep, kLoadLimit2nd);
                changed('b');
                return Line("OK");
            case 'd':
                batteryOffset_ = WrapDown(batteryOffset_, kBatteryStep, kBatteryLimit2nd);
                changed('d');
                return Line("OK");
            case '4':
            case '2':
            case '3': {
                const char target = byte == '4' ? '0' : byte == '2' ? '5' : '6';
                Constant* c = findConstant(target);
                if (c == nullptr)
                    return unknown();
                ++c->value;  // the unit's own direction: up, wrapping at FF
                changed(static_cast<char>(byte));
                return Line(Hex2(c->value));
            }
            case 'H': {
                if (!profile_.hasCodeWalk)
                    return unknown();
                const std::uint8_t current = code2nd_;
                code2nd_ = current == profile_.modelCodeLast
                               ? profile_.modelCodeFirst
                               : static_cast<std::uint8_t>(current + 1);
                // The model follows the row at or below the new code.
                std::size_t index = 0;
                for (std::size_t i = 0; i < profile_.models.size(); ++i)
                    if (profile_.models[i].code <= code2nd_)
                        index = i;
                profile_.modelIndex = index;
                changed('H');
                return Line(Hex2(current));
            }
            case '0':
            case '5':
            case '6': {
                const Constant* c = findConstant(static_cast<char>(byte));
                return c ? Line(Hex2(c->value)) : unknown();
            }
            default:
                break;
        }
    }

    switch (byte) {
        case 'Y':
            return Line("SM");
        case '1':
            if (profile_.progReply.empty())
                return unknown();
            if (paired(previousOne)) {
                programming_ = true;
                return Line(profile_.progReply);
            }
            firstOne_ = at;
            return std::nullopt;
        case 'Z':
            if (paired(previousZ)) {
                // Shutdown and restart: the unit comes back at once, out of smart mode, with
                // the settings its storage holds.
                restart(at);
                return std::nullopt;
            }
            firstZ_ = at;
            return std::nullopt;
        case 'R':
            smart_ = false;
            programming_ = false;
            return Line("BYE");
        case kCtrlA:
            if (second)
                return unknown();
            return Line(row().name);
        case kCtrlZ:
            if (profile_.capabilities.empty())
                return unknown();
            return Line(profile_.capabilities);
        case kCtrlB:
            if (!third || !programming_)
                return unknown();
            return Line(Hex2(modelCode()));
        case 'a':
            if (!profile_.hasProtocolInfo)
                return unknown();
            return Line(protocolInfo());
        case 'b':
            return Line(firmware());
        case 'V':
            if (profile_.vReply.empty() || third)
                return unknown();
            if (second) {
                std::string v = profile_.vReply;
                if (row().vFirst != 0)
                    v[0] = row().vFirst;
                return Line(v);
            }
            return Line(profile_.vReply);
        case '7':
            if (profile_.dipSwitches.empty())
                return unknown();
            return Line(profile_.dipSwitches);
        case 'n':
            if (!hasText('n'))
                return unknown();
            return Line(texts_['n']);
        case 'c':
        case 'm':
        case 'x':
            if (!hasText(static_cast<char>(byte)))
                return unknown();
            return Line(texts_[static_cast<char>(byte)]);
        case 'g': {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", profile_.batteryNominal);
            return Line(buf);
        }
        case 'F':
            return Line(profile_.hasFrequency ? reading('F') : "NA");
        case 'L':
        case 'O':
            return Line(profile_.hasLineReadings ? reading(static_cast<char>(byte)) : "NA");
        case 'P':
            return Line(profile_.hasLoad ? reading('P') : "NA");
        case 'C':
            return Line(profile_.hasTemperature ? reading('C') : "NA");
        case 'B':
        case 'f':
        case 'j':
            return Line(reading(static_cast<char>(byte)));
        case 'Q':
            return Line(Hex2(statusByte(at)));
        case '~':
        case '\'':
        case '8':
            return Line("00");
        case '>': {
            if (!profile_.hasBatteryPacks)
                return unknown();
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", packs_);
            return Line(buf);
        }
        case 'W':
            // The test runs on line only; a unit on battery or calibrating has no result.
            if (!onBattery_ && !calibrating_) {
                testEnd_ = at + kSelfTestDuration;
                testResult_ = profile_.loadPercent > 100.0 ? "NG" : weakBattery_ ? "BT" : "OK";
                transferCause_ = 'S';
            }
            return Line("OK");
        case 'A':
            return Line("OK");
        case 'z':
            if (!profile_.hasSettings)
                return unknown();
            factoryReset();
            addAlert('|', at + kChangeAlertDelay);
            return Line("CLEAR");
        case '^':
            if (profile_.hasBypass) {
                bypass_ = !bypass_;
                return Line(bypass_ ? "BYP" : "INV");
            }
            return programming_ ? Line(constantText('^')) : unknown();
        case '#':
            if (profile_.hash == HashMeaning::Eeprom)
                return Line(Hex2(eepromAddress_));
            return programming_ ? Line(constantText('#')) : unknown();
        case '0':
        case '4':
        case '5':
        case '6':
        case '$':
        case '%':
        case kCtrlD:
            return programming_ ? Line(constantText(static_cast<char>(byte))) : unknown();
        default:
            break;
    }
    if (profile_.hasSettings) {
        if (const Setting* s = findSetting(static_cast<char>(byte))) {
            const std::size_t i = static_cast<std::size_t>(s - profile_.settings.data());
            return Line(s->values[settingIndex_[i]]);
        }
    }
    return unknown();
}

std::optional<std::string> UpsModel::step(int direction, Micros at) {
    const char sel = static_cast<char>(selected_);
    const bool second = profile_.generation == Generation::Second;
    const bool third = profile_.generation == Generation::Third;
    auto no = [this]() -> std::optional<std::string> {
        if (profile_.silentUnknown)
            return std::nullopt;
        return Line("NO");
    };

    if (BackProValue* v = findBackPro(sel)) {
        if (!programming_)
            return no();
        v->value = std::max(0.0, v->value + direction * v->step);
        changed(sel);
        return Line("OK");
    }
    if (profile_.hasSettings) {
        if (const Setting* s = findSetting(sel)) {
            const std::size_t i = static_cast<std::size_t>(s - profile_.settings.data());
            const std::size_t n = s->values.size();
            // "-" moves to the next value, "+" to the previous one.
            settingIndex_[i] = (settingIndex_[i] + (direction < 0 ? 1 : n - 1)) % n;
            if (profile_.storesSettingsLate)
                storeAt_ = at + kChangeAlertDelay;
            else
                storedIndex_ = settingIndex_;
            addAlert('|', at + kChangeAlertDelay);
            changed(sel);
            return Line("OK");
        }
    }
    if (sel == '>' && profile_.hasBatteryPacks) {
        packs_ = std::clamp(packs_ + direction, 0, 10);
        addAlert('|', at + kChangeAlertDelay);
        changed(sel);
        return Line("OK");
    }
    const bool textSelected = hasText(sel) || (third && sel == 'b');
    if (direction < 0 && textSelected && profile_.refusedTexts.find(sel) != std::string::npos)
        return Line("NA");
    if (direction < 0 && hasText(sel)) {
        const std::size_t width = sel == 'n' ? static_cast<std::size_t>(profile_.serialWidth) : 8;
        entry_ = TextEntry{sel, width, {}, at};
        taken_ = Taken::TextBegun;
        target_ = sel;
        return std::nullopt;
    }
    if (direction < 0 && third && sel == 'b') {
        entry_ = TextEntry{'b', 3, {}, at};
        taken_ = Taken::TextBegun;
        target_ = 'b';
        return std::nullopt;
    }
    if (sel == '#' && profile_.hash == HashMeaning::Eeprom) {
        eepromAddress_ = static_cast<std::uint8_t>(eepromAddress_ + direction);
        return Line(Hex2(eepromByte(eepromAddress_)));
    }
    if (second || !programming_)
        return no();

    // Programming mode of first- and third-generation units.
    const bool constantSelected = (sel == '^' && !profile_.hasBypass) ||
                                  (sel == '#' && profile_.hash == HashMeaning::Constant) ||
                                  sel == '0' || sel == '4' || sel == '5' || sel == '6' ||
                                  sel == '$' || sel == '%' || sel == kCtrlD;
    if (constantSelected) {
        Constant* c = findConstant(sel);
        if (c == nullptr)
            return Line("NA");
        c->value = static_cast<std::uint8_t>(c->value + direction);
        changed(sel);
        return Line(Hex2(c->value));
    }
    if (sel == 'L' || sel == 'P' || sel == 'B')
        changed(sel);
    switch (sel) {
        case 'L':
            inputOffset_ =
                std::clamp(inputOffset_ + direction * kInputStep, -kInputLimit, kInputLimit);
            return Line(reading('L'));
        case 'P':
            loadOffset_ = std::clamp(loadOffset_ + direction * kLoadStep, -kLoadLimit, kLoadLimit);
            return Line(reading('P'));
        case 'B':
            batteryOffset_ = std::clamp(batteryOffset_ + direction * kBatteryStep, -kBatteryLimit,
                                        kBatteryLimit);
            return Line(reading('B'));
        default:
            break;
    }
    if ((third && sel == kCtrlB) || (!third && sel == 'b')) {
        moveModel(direction);
        changed(sel);
        return Line(Hex2(modelCode()));
    }
    return no();
}

std::optional<std::string> UpsModel::typeText(std::uint8_t byte, Micros at) {
    entry_->typed.push_back(static_cast<char>(byte));
    entry_->last = at;
    if (entry_->typed.size() < entry_->width)
        return std::nullopt;
    if (entry_->command == 'b')
        firmwareHead_ = entry_->typed;
    else
        texts_[entry_->command] = entry_->typed;
    entry_.reset();
    addAlert('|', at + kChangeAlertDelay);
    return Line("OK");
}

bool UpsModel::hasText(char command) const {
    switch (command) {
        case 'c':
            return profile_.hasSettings && profile_.backPro.empty();
        case 'm':
        case 'x':
            return true;
        case 'n':
            return !profile_.serial.empty();
        default:
            return false;
    }
}

bool UpsModel::isPublicCommand(std::uint8_t byte) const {
    const char c = static_cast<char>(byte);
    const bool second = profile_.generation == Generation::Second;
    if (!profile_.backPro.empty()) {
        for (const auto& v : profile_.backPro)
            if (v.command == c)
                return true;
    }
    switch (c) {
        case kCtrlA:
            return !second;
        case kCtrlZ:
            return !profile_.capabilities.empty();
        case 'Y':
        case 'W':
        case 'A':
        case 'R':
        case 'Q':
        case '~':
        case '\'':
        case '8':
        case 'B':
        case 'f':
        case 'j':
        case 'g':
        case 'm':
        case 'x':
        case 'b':
        case 'Z':
            return true;
        case 'X':
        case 'G':
        case 'M':
        case 'N':
        case '9':
        case 'D':
            return profile_.batteryCommands.find(c) != std::string::npos &&
                   profile_.silentCommands.find(c) == std::string::npos;
        case 'F':
            return profile_.hasFrequency;
        case 'C':
            return profile_.hasTemperature;
        case 'L':
        case 'O':
            return profile_.hasLineReadings;
        case 'P':
            return profile_.hasLoad;
        case 'n':
            return !profile_.serial.empty();
        case 'V':
            return !profile_.vReply.empty() && profile_.generation != Generation::Third;
        case 'a':
            return profile_.hasProtocolInfo;
        case 'c':
            return hasText('c');
        case '>':
            return profile_.hasBatteryPacks;
        case 'z':
            return profile_.hasSettings;
        case '^':
            return profile_.hasBypass;
        case '+':
        case '-':
            return profile_.hasSettings || profile_.hasBatteryPacks;
        default:
            return profile_.hasSettings && findSetting(c) != nullptr;
    }
}

std::string UpsModel::protocolInfo() const {
    // Protocol version, the alert characters the unit sends, the commands it answers. The
    // calibration commands of programming mode and the DIP-switch query are not listed.
    std::string out = "3.!$%+?=*#|.";
    for (int b = 1; b < 128; ++b)
        if (isPublicCommand(static_cast<std::uint8_t>(b)))
            out += static_cast<char>(b);
    return out;
}

// ---- Time, power and alerts ----

namespace {

// Input voltage drift: amplitude and period in seconds.
constexpr double kLineWave = 0.8, kLinePeriod = 47;

double Seconds(Micros t) {
    return static_cast<double>(t.count()) / 1e6;
}

// Highest and lowest value of sin(x) for x in [a, b].
std::pair<double, double> SineRange(double a, double b) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    auto contains = [&](double peak) {
        // Is there a peak + 2 pi k within [a, b]?
        const double k = std::ceil((a - peak) / kTwoPi);
        return peak + k * kTwoPi <= b;
    };
    double hi = std::max(std::sin(a), std::sin(b));
    double lo = std::min(std::sin(a), std::sin(b));
    if (contains(std::numbers::pi / 2))
        hi = 1.0;
    if (contains(3 * std::numbers::pi / 2))
        lo = -1.0;
    return {hi, lo};
}

}  // namespace

double UpsModel::wave(double amplitude, double periodSeconds, double phase) const {
    if (!drift_)
        return 0.0;
    const double t = Seconds(now_);
    return amplitude * std::sin(2.0 * std::numbers::pi * t / periodSeconds + phase);
}

double UpsModel::lineVoltageAt(double seconds) const {
    if (onBattery_)
        return 0.0;
    const double w =
        drift_ ? kLineWave * std::sin(2.0 * std::numbers::pi * seconds / kLinePeriod + 0.0) : 0.0;
    return std::max(0.0, profile_.inputVoltage + w + inputOffset_);
}

void UpsModel::trackLineExtremes(Micros from, Micros to) {
    double hi = std::max(lineVoltageAt(Seconds(from)), lineVoltageAt(Seconds(to)));
    double lo = std::min(lineVoltageAt(Seconds(from)), lineVoltageAt(Seconds(to)));
    if (!onBattery_ && drift_ && to > from) {
        const auto [sHi, sLo] = SineRange(2.0 * std::numbers::pi * Seconds(from) / kLinePeriod,
                                          2.0 * std::numbers::pi * Seconds(to) / kLinePeriod);
        const double base = profile_.inputVoltage + inputOffset_;
        hi = std::max(hi, std::max(0.0, base + kLineWave * sHi));
        lo = std::min(lo, std::max(0.0, base + kLineWave * sLo));
    }
    lineHigh_ = std::max(lineHigh_, hi);
    lineLow_ = std::min(lineLow_, lo);
}

double UpsModel::estimatedMinutes() const {
    return runTimeFull_ * 25.0 / std::max(profile_.loadPercent, 5.0);
}

double UpsModel::drainPerSecond() const {
    // The battery's true capacity sets the pace, whatever the unit has stored.
    const double minutes = runTimeFull_ * capacity_ * 25.0 / std::max(profile_.loadPercent, 5.0);
    return 100.0 / (minutes * 60.0) * timeScale_;
}

double UpsModel::lowChargeLimit() const {
    // Low battery when the run time left falls to the warning time ("q", 2 min by default).
    double warning = 2.0;
    if (const Setting* q = findSetting('q')) {
        const std::size_t i = static_cast<std::size_t>(q - profile_.settings.data());
        warning = std::atof(q->values[settingIndex_[i]].c_str());
    }
    return std::min(100.0, warning / estimatedMinutes() * 100.0);
}

void UpsModel::addAlert(char byte, Micros at) {
    if (!smart_)
        return;  // alerts belong to smart mode
    alerts_.emplace(at, byte);
}

void UpsModel::advance(Micros to) {
    auto check = [this] {
        if (replaceBattery_ && !off_) {
            while (nextReplaceAlert_ <= now_) {
                addAlert('#', nextReplaceAlert_);
                nextReplaceAlert_ += kReplaceRepeat;
            }
        }
        if (calibrating_ && charge_ <= profile_.calibrationFloor + kEps)
            endCalibration(true, true);
        if (discharging()) {
            while (nextOnBatteryAlert_ <= now_) {
                addAlert('!', nextOnBatteryAlert_);
                nextOnBatteryAlert_ += kOnBatteryRepeat;
            }
            if (!lowBattery_ && charge_ <= lowChargeLimit() + kEps) {
                lowBattery_ = true;
                addAlert('%', now_);
            }
            if (charge_ <= kEps) {
                charge_ = 0;
                addAlert('*', now_);
                off_ = true;
                entry_.reset();
            }
        } else if (!onBattery_) {
            if (lowBattery_ && charge_ >= lowChargeLimit() + kLowClearMargin - kEps) {
                lowBattery_ = false;
                addAlert('+', now_);
            }
        }
    };
    check();
    while (now_ < to) {
        Micros next = to;
        if (const auto event = nextStateEvent())
            next = std::min(next, *event);
        const double dt = static_cast<double>((next - now_).count()) / 1e6;
        trackLineExtremes(now_, next);
        if (discharging()) {
            charge_ = std::max(0.0, charge_ - drainPerSecond() * dt);
            if (calibrating_)
                calibrationWork_ += dt * timeScale_ * std::max(profile_.loadPercent, 5.0) / 25.0;
        } else if (!onBattery_) {
            charge_ = std::min(100.0, charge_ + kChargePerSecond * timeScale_ * dt);
        }
        now_ = next;
        check();
    }
}

std::vector<Alert> UpsModel::takeAlerts(Micros upTo) {
    advance(upTo);
    std::vector<Alert> out;
    while (!alerts_.empty() && alerts_.begin()->first <= upTo) {
        out.push_back({alerts_.begin()->first, alerts_.begin()->second});
        alerts_.erase(alerts_.begin());
    }
    return out;
}

std::optional<Micros> UpsModel::nextStateEvent() const {
    std::optional<Micros> next;
    auto consider = [&next, this](Micros t) {
        t = std::max(t, now_ + Micros(1));
        if (!next || t < *next)
            next = t;
    };
    if (replaceBattery_ && !off_)
        consider(nextReplaceAlert_);
    if (discharging()) {
        const double drain = drainPerSecond();
        consider(nextOnBatteryAlert_);
        if (calibrating_)
            consider(SecondsFromNow(now_, (charge_ - profile_.calibrationFloor) / drain));
        if (!lowBattery_)
            consider(SecondsFromNow(now_, (charge_ - lowChargeLimit()) / drain));
        consider(SecondsFromNow(now_, charge_ / drain));
    } else if (!onBattery_ && lowBattery_) {
        consider(SecondsFromNow(now_, (lowChargeLimit() + kLowClearMargin - charge_) /
                                          (kChargePerSecond * timeScale_)));
    }
    return next;
}

std::optional<Micros> UpsModel::nextAlertTime(Micros now) {
    advance(now);
    std::optional<Micros> next = nextStateEvent();
    if (!alerts_.empty() && (!next || alerts_.begin()->first < *next))
        next = alerts_.begin()->first;
    return next;
}

void UpsModel::powerFail(Micros at, char cause) {
    advance(at);
    if (onBattery_)
        return;
    endCalibration(false, false);
    onBattery_ = true;
    transferCause_ = cause;
    lineLow_ = 0.0;
    nextOnBatteryAlert_ = at;
    advance(at);
}

void UpsModel::powerRestore(Micros at) {
    advance(at);
    if (!onBattery_)
        return;
    onBattery_ = false;
    if (off_) {
        // The unit starts again as from power-on: out of smart mode.
        off_ = false;
        poweredOn(at);
        smart_ = false;
        programming_ = false;
        entry_.reset();
        return;
    }
    addAlert('$', at);
}

void UpsModel::scheduleAlert(char byte, Micros at) {
    alerts_.emplace(at, byte);
}

void UpsModel::setReplaceBattery(bool replace, Micros at) {
    advance(at);
    if (replace && !replaceBattery_)
        nextReplaceAlert_ = at;
    replaceBattery_ = replace;
    advance(at);
}

double UpsModel::batteryCharge(Micros at) {
    advance(at);
    return charge_;
}

std::uint8_t UpsModel::statusByte(Micros at) {
    advance(at);
    // A calibration runs on battery with the mains there: the on-line bit clears.
    std::uint8_t q = onBattery_ || calibrating_ ? 0x10 : 0x08;
    if (calibrating_ && profile_.calibrationBit)
        q |= 0x01;
    if (profile_.loadPercent > 100.0)
        q |= 0x20;
    if (lowBattery_)
        q |= 0x40;
    if (replaceBattery_)
        q |= 0x80;
    return q;
}

void UpsModel::setLoad(double percent, Micros at) {
    advance(at);
    profile_.loadPercent = std::max(0.0, percent);
}

void UpsModel::setLineVoltage(double volts, Micros at) {
    advance(at);
    profile_.inputVoltage = std::max(0.0, volts);
    trackLineExtremes(now_, now_);
}

void UpsModel::setBatteryCapacity(double share, Micros at) {
    advance(at);
    capacity_ = share > 0 ? share : 1.0;
}

void UpsModel::endCalibration(bool completed, bool backOnLine) {
    if (!calibrating_)
        return;
    calibrating_ = false;
    const double used = calibrationStart_ - charge_;
    if (completed && used > kEps) {
        // What the battery gave, as minutes at 25 % load on a full battery: the new estimate.
        const double trueMinutes = runTimeFull_ * capacity_;
        runTimeFull_ = calibrationWork_ / 60.0 / (used / 100.0);
        capacity_ = trueMinutes / runTimeFull_;
    }
    if (backOnLine)
        addAlert('$', now_);
}

std::optional<std::string> UpsModel::batteryService(std::uint8_t byte, Micros at) {
    const char c = static_cast<char>(byte);
    if (profile_.silentCommands.find(c) != std::string::npos) {
        refused_ = true;
        return std::nullopt;
    }
    if (profile_.batteryCommands.find(c) == std::string::npos)
        return unknown();
    switch (c) {
        case 'X':
            if (testEnd_ && at >= *testEnd_ && at - *testEnd_ <= kTestResultKept)
                return Line(testResult_);
            return Line("NO");
        case 'G':
            if (at < causeKnownAt_)
                return Line("NA");
            return Line(std::string(1, transferCause_));
        case 'M':
        case 'N': {
            // Every read starts the extreme afresh from the present voltage.
            const double present = lineVoltageAt(Seconds(now_));
            double& extreme = c == 'M' ? lineHigh_ : lineLow_;
            const double answer =
                c == 'M' ? std::max(extreme, present) : std::min(extreme, present);
            extreme = present;
            return Line(FormatNumber(answer, 5, 1));
        }
        case '9': {
            bool good = !onBattery_;
            const double v = profile_.inputVoltage + inputOffset_;
            // Outside the transfer points the line is bad, even before the unit acts on it.
            if (profile_.hasSettings && findSetting('l') != nullptr)
                good = good && v >= std::atof(setting('l').c_str());
            if (profile_.hasSettings && findSetting('u') != nullptr)
                good = good && v <= std::atof(setting('u').c_str());
            return Line(good ? "FF" : "00");
        }
        case 'D':
            if (calibrating_) {
                // A second "D" aborts: back on line, the stored run time unchanged.
                endCalibration(false, true);
                changed('D');
                return std::nullopt;
            }
            if (onBattery_ || charge_ < 100.0 - kEps) {
                refused_ = true;
                return Line("NO");
            }
            calibrating_ = true;
            calibrationStart_ = charge_;
            calibrationWork_ = 0;
            transferCause_ = profile_.forcedCauseK ? 'K' : 'S';
            causeKnownAt_ = std::min(causeKnownAt_, at);
            addAlert('!', at);
            nextOnBatteryAlert_ = at + kOnBatteryRepeat;
            changed('D');
            // The unit's only answer is the "!" alert.
            return std::nullopt;
        default:
            return unknown();
    }
}

// ---- Readings ----

double UpsModel::inputVoltage(Micros at) {
    advance(at);
    return lineVoltageAt(Seconds(now_));
}

double UpsModel::loadPercent(Micros at) {
    advance(at);
    return std::max(0.0, profile_.loadPercent + wave(0.4, 29, 1.0) + loadOffset_);
}

double UpsModel::batteryVoltage(Micros at) {
    advance(at);
    const double n = profile_.batteryNominal;
    const double v =
        onBattery_ ? n * (0.95 + 0.12 * charge_ / 100.0) : n * (1.10 + 0.0375 * charge_ / 100.0);
    return std::max(0.0, v + wave(0.02, 61, 2.0) + batteryOffset_);
}

std::string UpsModel::reading(char command) {
    switch (command) {
        case 'L':
            return FormatNumber(inputVoltage(now_), 5, 1);
        case 'O':
            return FormatNumber(profile_.outputVoltage + wave(0.3, 53, 0.5), 5, 1);
        case 'P':
            return FormatNumber(loadPercent(now_), 5, 1);
        case 'B':
            return FormatNumber(batteryVoltage(now_), 5, 2);
        case 'f':
            return FormatNumber(charge_, 5, 1);
        case 'C':
            return FormatNumber(profile_.temperature + wave(0.3, 300, 0.0), 5, 1);
        case 'F':
            return FormatNumber(onBattery_ ? 0.0 : profile_.frequency + wave(0.02, 37, 0.0), 5, 2);
        case 'j': {
            char buf[16];
            std::snprintf(buf, sizeof buf,
                          "%04d:", static_cast<int>(estimatedMinutes() * charge_ / 100.0));
            return buf;
        }
        default:
            return {};
    }
}

// ---- Settings, constants, model, texts ----

std::string UpsModel::constantText(char command) const {
    const Constant* c = findConstant(command);
    return c ? Hex2(c->value) : "NA";
}

Constant* UpsModel::findConstant(char command) {
    for (auto& c : profile_.constants)
        if (c.command == command)
            return &c;
    return nullptr;
}

const Constant* UpsModel::findConstant(char command) const {
    for (const auto& c : profile_.constants)
        if (c.command == command)
            return &c;
    return nullptr;
}

Setting* UpsModel::findSetting(char command) {
    for (auto& s : profile_.settings)
        if (s.command == command)
            return &s;
    return nullptr;
}

const Setting* UpsModel::findSetting(char command) const {
    for (const auto& s : profile_.settings)
        if (s.command == command)
            return &s;
    return nullptr;
}

BackProValue* UpsModel::findBackPro(char command) {
    for (auto& v : profile_.backPro)
        if (v.command == command)
            return &v;
    return nullptr;
}

const ModelRow& UpsModel::row() const {
    static const ModelRow none;
    return profile_.models.empty() ? none : profile_.models[profile_.modelIndex];
}

void UpsModel::moveModel(int direction) {
    // The table ends are hard stops: the code simply stays.
    const auto last = static_cast<long>(profile_.models.size()) - 1;
    const long index =
        std::clamp(static_cast<long>(profile_.modelIndex) + direction, 0L, std::max(0L, last));
    if (static_cast<std::size_t>(index) != profile_.modelIndex)
        firmwareHead_.clear();
    profile_.modelIndex = static_cast<std::size_t>(index);
}

void UpsModel::factoryReset() {
    for (std::size_t i = 0; i < profile_.settings.size(); ++i)
        settingIndex_[i] = profile_.settings[i].factory;
    storedIndex_ = settingIndex_;
    storeAt_.reset();
}

std::string UpsModel::setting(char command) const {
    const Setting* s = findSetting(command);
    if (s == nullptr)
        return {};
    return s->values[settingIndex_[static_cast<std::size_t>(s - profile_.settings.data())]];
}

std::optional<std::uint8_t> UpsModel::constant(char command) const {
    const Constant* c = findConstant(command);
    if (c == nullptr)
        return std::nullopt;
    return c->value;
}

std::uint8_t UpsModel::modelCode() const {
    if (profile_.generation == Generation::Second && profile_.hasCodeWalk)
        return code2nd_;
    return row().code;
}

std::string UpsModel::modelName() const {
    return row().name;
}

std::string UpsModel::firmware() const {
    std::string fw = row().firmware;
    if (!firmwareHead_.empty())
        fw = firmwareHead_ + (fw.size() > 3 ? fw.substr(3) : std::string());
    return fw;
}

std::string UpsModel::text(char command) const {
    const auto it = texts_.find(command);
    return it == texts_.end() ? std::string() : it->second;
}

std::uint8_t UpsModel::eepromByte(std::uint8_t address) const {
    auto textByte = [](const std::string& t, std::size_t i) -> std::uint8_t {
        return i < t.size() ? static_cast<std::uint8_t>(t[i]) : 0;
    };
    auto offsetSteps = [](double offset, double step) {
        return static_cast<std::uint8_t>(static_cast<std::int8_t>(std::lround(offset / step)));
    };
    const std::size_t a = address;
    if (a == 0x00)
        return modelCode();
    if (a == 0x01)
        return static_cast<std::uint8_t>(profile_.batteryNominal);
    if (a >= 0x02 && a < 0x02 + kEepromConstants.size()) {
        const Constant* c = findConstant(kEepromConstants[a - 0x02]);
        return c ? c->value : 0xFF;
    }
    if (a >= 0x10 && a < 0x10 + kEepromSettings.size()) {
        const Setting* s = findSetting(kEepromSettings[a - 0x10]);
        if (s == nullptr || !profile_.hasSettings)
            return 0xFF;
        return static_cast<std::uint8_t>(
            settingIndex_[static_cast<std::size_t>(s - profile_.settings.data())]);
    }
    if (a == 0x1A)
        return static_cast<std::uint8_t>(packs_);
    if (a == 0x1B)
        return offsetSteps(inputOffset_, kInputStep);
    if (a == 0x1C)
        return offsetSteps(loadOffset_, kLoadStep);
    if (a == 0x1D)
        return offsetSteps(batteryOffset_, kBatteryStep);
    if (a >= 0x20 && a < 0x28)
        return textByte(text('c'), a - 0x20);
    if (a >= 0x28 && a < 0x30)
        return textByte(text('m'), a - 0x28);
    if (a >= 0x30 && a < 0x38)
        return textByte(text('x'), a - 0x30);
    if (a >= 0x38 && a < 0x46)
        return textByte(text('n'), a - 0x38);
    if (a >= 0x46 && a < 0x49)
        return textByte(firmware(), a - 0x46);
    if (a >= 0x50 && a < 0x70)
        return textByte(modelName(), a - 0x50);
    if (a >= 0x70 && a < 0x80)
        return textByte(firmware(), a - 0x70);
    if (a >= 0x80)
        return ProfileByte(profile_.name, address);
    return 0x00;
}

}  // namespace morlen::sim
