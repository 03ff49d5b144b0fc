#include "UnitSettings.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace morlen {

namespace {

const char* const kHeader = "# Morlen unit settings";

template <auto Field>
const char* textOf(const APCUPS& ups) {
    return (ups.*Field).c_str();
}

// The unit's own letter for each stored setting, in the order of StoredSettings(): the command
// its group in a capability string starts with.
constexpr char kCommands[kStoredSettingCount + 1] = "uloEprskeq>";
constexpr int kSelfTest = 3, kSensitivity = 6, kAlarmDelay = 7, kPacks = 10;
// How many characters the unit gives for each numbered setting (0: a word or the packs).
constexpr int kWidths[kStoredSettingCount] = {3, 3, 3, 3, 3, 3, 0, 0, 2, 2, 0};

// The words the window shows for the unit's one-letter answers, as the link reads them.
struct Word {
    char letter;
    const char* text;
};
constexpr Word kSensitivityWords[] = {{'H', "High"}, {'M', "Medium"}, {'L', "Low"}, {'A', "Auto"}};
constexpr Word kAlarmDelayWords[] = {
    {'0', "5 Seconds"}, {'T', "30 Seconds"}, {'L', "Low Battery"}, {'N', "Disabled"}};

const Word* wordsBegin(int index) {
    return index == kSensitivity  ? std::begin(kSensitivityWords)
           : index == kAlarmDelay ? std::begin(kAlarmDelayWords)
                                  : nullptr;
}
const Word* wordsEnd(int index) {
    return index == kSensitivity  ? std::end(kSensitivityWords)
           : index == kAlarmDelay ? std::end(kAlarmDelayWords)
                                  : nullptr;
}

// Without the spaces the unit pads some values with.
std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool digitsOnly(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The form of the unit's replies, where it lists no values: exactly as many digits as it gives
// (the self-test interval may also read "ON" or "OFF"), or one of the words the window shows.
bool hasForm(int index, const std::string& value) {
    if (const Word* word = wordsBegin(index))
        return std::any_of(word, wordsEnd(index), [&](const Word& w) { return value == w.text; });
    if (index == kSelfTest && (value == "ON" || value == "OFF"))
        return true;
    return int(value.size()) == kWidths[index] && digitsOnly(value);
}

// The first line of `text` that starts with `key=`, without it; null when there is none.
QString lineValue(const QStringList& lines, const QString& key) {
    const QString start = key + QLatin1Char('=');
    for (const QString& line : lines)
        if (line.startsWith(start))
            return line.mid(start.size());
    return QString();
}

}  // namespace

const std::array<StoredSetting, kStoredSettingCount>& StoredSettings() {
    // In the order of the journal's reset entries, the packs last. The second-generation page
    // has its own buttons for the voltages; the rest live on the "Settings" page.
    static const std::array<StoredSetting, kStoredSettingCount> all = {{
        {"upper-transfer", "Up Voltage", '8', 'b', "UpVoltageConstChange", "UpVoltageChange2nd",
         textOf<&APCUPS::highTransferText>, &APCUPS::ReadHighTransfer, false},
        {"lower-transfer", "Low Voltage", '9', 'c', "LowVoltageConstChange", "LowVoltageChange2nd",
         textOf<&APCUPS::lowTransferText>, &APCUPS::ReadLowTransfer, false},
        {"output-voltage", "Out Voltage", 'a', 'd', "OutVoltageConstChange", "OutVoltageChange2nd",
         textOf<&APCUPS::outputSettingText>, &APCUPS::ReadOutputSetting, false},
        {"self-test", "Self Test", 'w', 0, "SelfTestChange", nullptr,
         textOf<&APCUPS::selfTestIntervalText>, &APCUPS::ReadSelfTestInterval, false},
        {"shutdown-delay", "Shut down delay", 'u', 0, "ShutDownDelayChange", nullptr,
         textOf<&APCUPS::shutdownDelayText>, &APCUPS::ReadShutdownDelay, false},
        {"wake-up-delay", "Wake up delay", 'v', 0, "WakeUpDelayChange", nullptr,
         textOf<&APCUPS::turnOnDelayText>, &APCUPS::ReadTurnOnDelay, false},
        {"sensitivity", "Sensitivity", 'x', 0, "SensitivityChange", nullptr,
         textOf<&APCUPS::sensitivityText>, &APCUPS::ReadSensitivity, false},
        {"alarm-delay", "Alarm delay", 'y', 0, "AlarmDelayChange", nullptr,
         textOf<&APCUPS::alarmDelayText>, &APCUPS::ReadAlarmDelay, false},
        {"return-threshold", "Return threshold", 'M', 0, "ThresholdChange", nullptr,
         textOf<&APCUPS::returnThresholdText>, &APCUPS::ReadReturnThreshold, false},
        {"low-battery-warning", "Low Battery Warning", 'S', 0, "LowBatWarningChange", nullptr,
         textOf<&APCUPS::lowBatteryWarningText>, &APCUPS::ReadLowBatteryWarning, false},
        {"battery-packs", "Bat. Packs", '5', 0, "BatteryPacksPlus", nullptr,
         textOf<&APCUPS::batteryPacksText>, &APCUPS::ReadBatteryPacks, true},
    }};
    return all;
}

UnitOffer OfferOf(const std::string& capabilities, char locale) {
    struct Group {
        char command, locale;
        std::vector<std::string> values;
    };
    std::vector<Group> groups;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t at = capabilities.find('#');
    if (at != std::string::npos) {
        ++at;
        while (at + 4 <= capabilities.size()) {
            const char count = capabilities[at + 2], width = capabilities[at + 3];
            if (!digit(count) || !digit(width) || width == '0')
                break;
            const std::size_t n = std::size_t(count - '0'), w = std::size_t(width - '0');
            if (at + 4 + n * w > capabilities.size())
                break;
            Group group{capabilities[at], capabilities[at + 1], {}};
            for (std::size_t i = 0; i < n; ++i)
                group.values.push_back(trimmed(capabilities.substr(at + 4 + i * w, w)));
            groups.push_back(std::move(group));
            at += 4 + n * w;
        }
    }
    UnitOffer offer;
    for (int index = 0; index < kStoredSettingCount; ++index) {
        if (index == kPacks)
            continue;  // never listed: its own bound holds
        std::vector<std::string> own, any;
        for (const Group& group : groups) {
            if (group.command != kCommands[index])
                continue;
            any.insert(any.end(), group.values.begin(), group.values.end());
            if (group.locale == locale || group.locale == '4')
                own.insert(own.end(), group.values.begin(), group.values.end());
        }
        std::vector<std::string>& list = offer[std::size_t(index)];
        for (const std::string& value : own.empty() ? any : own) {
            if (const Word* word = wordsBegin(index)) {
                // A letter, as the unit lists it: the window's word for it, or none.
                const Word* found = std::find_if(word, wordsEnd(index), [&](const Word& w) {
                    return value.size() == 1 && value[0] == w.letter;
                });
                if (found != wordsEnd(index))
                    list.push_back(found->text);
            } else {
                list.push_back(value);
            }
        }
    }
    return offer;
}

bool IsUnitValue(int index, const std::vector<std::string>& offered, const std::string& value) {
    const std::string text = trimmed(value);
    if (text.empty() || text == "NA")
        return false;
    if (index == kPacks)
        return text.size() <= 3 && digitsOnly(text) && std::stoi(text) <= kMaxBatteryPacks;
    if (!offered.empty())
        return std::find(offered.begin(), offered.end(), text) != offered.end();
    return hasForm(index, text);
}

QString FamilyName(int family) {
    switch (family) {
        case FamilySmart:
            return QStringLiteral("Smart-UPS");
        case FamilyBackPro:
            return QStringLiteral("Back-UPS Pro");
        case FamilySmart2ndGen:
            return QStringLiteral("second-generation Smart-UPS");
        case FamilyBackCS:
            return QStringLiteral("Back-UPS CS");
        case FamilySmartNoSerial:
            return QStringLiteral("Smart-UPS without serial number");
        default:
            return QStringLiteral("unit of unknown family");
    }
}

QString FormatSettingsFile(const UnitSettingsFile& file) {
    QString out = QLatin1String(kHeader) + QLatin1Char('\n');
    const auto line = [&out](const QString& key, const QString& value) {
        out += key + QLatin1Char('=') + value + QLatin1Char('\n');
    };
    // The identity is for reference; the family decides whether the file may be restored.
    line(QStringLiteral("model"), file.model);
    line(QStringLiteral("serial-number"), file.serialNumber);
    line(QStringLiteral("firmware"), file.firmware);
    line(QStringLiteral("family"),
         QString::number(file.family) + QLatin1Char(' ') + FamilyName(file.family));
    line(QStringLiteral("saved"), file.saved);
    // Values exactly as the unit gave them, spaces included.
    for (int i = 0; i < kStoredSettingCount; ++i)
        if (!file.values[std::size_t(i)].isNull())
            line(QLatin1String(StoredSettings()[std::size_t(i)].key), file.values[std::size_t(i)]);
    return out;
}

std::optional<UnitSettingsFile> ParseSettingsFile(const QString& text, QString* why) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    const auto refuse = [why](const QString& reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (lines.isEmpty() || lines.front() != QLatin1String(kHeader))
        return refuse(QStringLiteral("This is not a file of unit settings."));
    UnitSettingsFile file;
    bool numeric = false;
    const QString family = lineValue(lines, QStringLiteral("family"));
    file.family = family.section(QLatin1Char(' '), 0, 0).toInt(&numeric);
    if (!numeric)
        return refuse(QStringLiteral("The file does not say which family of unit it is from."));
    file.model = lineValue(lines, QStringLiteral("model"));
    file.serialNumber = lineValue(lines, QStringLiteral("serial-number"));
    file.firmware = lineValue(lines, QStringLiteral("firmware"));
    file.saved = lineValue(lines, QStringLiteral("saved"));
    // Any other line (a constant, a meter, the model code) is not restored, whatever it holds.
    for (int i = 0; i < kStoredSettingCount; ++i)
        file.values[std::size_t(i)] =
            lineValue(lines, QLatin1String(StoredSettings()[std::size_t(i)].key));
    return file;
}

QString SettingsFileName(const QString& model, const QString& serialNumber) {
    QString name = (model.trimmed() + QLatin1Char(' ') + serialNumber.trimmed()).trimmed();
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    name.replace(unsafe, QStringLiteral("_"));
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("unit"));
    return name + QStringLiteral(".mrn");
}

FileFit FitOf(const UnitSettingsFile& file, int family, const QString& model,
              const QString& serialNumber) {
    if (file.family != family)
        return FileFit::OtherFamily;
    if (file.model.trimmed() != model.trimmed() ||
        file.serialNumber.trimmed() != serialNumber.trimmed())
        return FileFit::OtherUnit;
    return FileFit::Same;
}

QString FitText(const UnitSettingsFile& file, FileFit fit) {
    switch (fit) {
        case FileFit::Same:
            break;
        case FileFit::OtherFamily:
            return QStringLiteral("Saved from a %1: its settings do not apply to this unit.")
                .arg(FamilyName(file.family));
        case FileFit::OtherUnit:
            return QStringLiteral(
                       "Saved from another unit (%1, serial number %2): check each value "
                       "before restoring.")
                .arg(file.model.trimmed(), file.serialNumber.trimmed());
    }
    return QString();
}

bool SameValue(const StoredSetting& setting, const QString& a, const QString& b) {
    const QString x = a.trimmed();
    const QString y = b.trimmed();
    if (x.isEmpty() || y.isEmpty())
        return false;  // nothing read is never a value
    if (setting.twoWay)
        return IntegerOf(x.toLatin1().constData()) == IntegerOf(y.toLatin1().constData());
    return x == y;
}

QList<SettingDifference> Differences(const SettingValues& now, const SettingValues& saved,
                                     const UnitOffer& offer) {
    QList<SettingDifference> out;
    for (int i = 0; i < kStoredSettingCount; ++i) {
        const auto n = std::size_t(i);
        if (now[n].isNull() || saved[n].isNull())
            continue;
        const bool restorable = IsUnitValue(i, offer[n], saved[n].toLatin1().toStdString());
        if (!restorable || !SameValue(StoredSettings()[n], now[n], saved[n]))
            out.append({i, now[n], saved[n], restorable});
    }
    return out;
}

RestoreResult RestoreSetting(const RestoreTarget& target, const std::function<std::string()>& read,
                             const std::function<std::string(char sign)>& step,
                             const std::function<bool()>& stopped) {
    const StoredSetting& setting = StoredSettings()[std::size_t(target.index)];
    const auto same = [&](const std::string& value) {
        return SameValue(setting, QString::fromLatin1(value), QString::fromLatin1(target.value));
    };
    const auto blank = [](const std::string& value) { return trimmed(value).empty(); };
    const auto isValue = [&](const std::string& value) {
        return IsUnitValue(target.index, target.offered, value);
    };
    // Whatever the file or the journal says is checked again here: it is what steps the unit.
    if (!isValue(target.value))
        return {RestoreEnd::NotOffered, 0, {}};
    const std::string start = read();
    if (blank(start))
        return {RestoreEnd::NoAnswer, 0, start};
    // "NA" or garbage is nowhere on the cycle: no step could be counted from it.
    if (!isValue(start))
        return {RestoreEnd::NoValue, 0, start};
    if (same(start))
        return {RestoreEnd::Reached, 0, start};

    int bound = kSettingCycleBound;
    char sign = '-';
    if (setting.twoWay) {
        const long from = IntegerOf(start.c_str());
        const long to = IntegerOf(target.value.c_str());
        bound = int(std::labs(to - from));
        sign = to > from ? '+' : '-';
    }
    std::string last = start;
    for (int steps = 1; steps <= bound; ++steps) {
        std::string value = step(sign);
        if (blank(value))
            return {RestoreEnd::NoAnswer, steps, value};
        if (!isValue(value))
            return {RestoreEnd::NoValue, steps, value};
        if (same(value))
            return {RestoreEnd::Reached, steps, value};
        if (!setting.twoWay && value == start)
            return {RestoreEnd::CameRound, steps, value};
        if (value == last)
            return {RestoreEnd::Still, steps, value};
        if (stopped && stopped())
            return {RestoreEnd::Stopped, steps, value};
        last = std::move(value);
    }
    return {RestoreEnd::Bound, bound, last};
}

QString RestoreEndText(const RestoreResult& result) {
    const QString value = QString::fromLatin1(result.value).trimmed();
    switch (result.end) {
        case RestoreEnd::Reached:
            break;
        case RestoreEnd::CameRound:
            return QStringLiteral("the unit does not offer it: back at %1 after %2 steps")
                .arg(value)
                .arg(result.steps);
        case RestoreEnd::Still:
            return QStringLiteral("the value did not move from %1").arg(value);
        case RestoreEnd::NoAnswer:
            return QStringLiteral("the UPS did not answer");
        case RestoreEnd::NoValue:
            return QStringLiteral("the UPS answered \"%1\", no value of this setting").arg(value);
        case RestoreEnd::NotOffered:
            return QLatin1String(kNotAUnitValue);
        case RestoreEnd::Stopped:
            return QStringLiteral("stopped by the close after %1 %2, at %3")
                .arg(result.steps)
                .arg(result.steps == 1 ? QStringLiteral("step") : QStringLiteral("steps"))
                .arg(value);
        case RestoreEnd::Bound:
            return QStringLiteral("not reached after %1 steps, at %2").arg(result.steps).arg(value);
    }
    return QString();
}

}  // namespace morlen
