#include "UnitSettings.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace morlen {

namespace {

const char* const kHeader = "# Morlen unit settings";

// One step of a setting: a cycled one ignores the sign.
template <auto Step>
const char* stepOf(APCUPS& ups, char) {
    return (ups.*Step)();
}
template <auto Step>
const char* signedStepOf(APCUPS& ups, char sign) {
    return (ups.*Step)(sign);
}

constexpr SettingWord kSensitivityWords[] = {
    {'H', "High"}, {'M', "Medium"}, {'L', "Low"}, {'A', "Auto"}};
constexpr SettingWord kAlarmDelayWords[] = {
    {'0', "5 Seconds"}, {'T', "30 Seconds"}, {'L', "Low Battery"}, {'N', "Disabled"}};

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
bool hasForm(const StoredSetting& setting, const std::string& value) {
    if (!setting.words.empty())
        return std::any_of(setting.words.begin(), setting.words.end(),
                           [&](const SettingWord& w) { return value == w.text; });
    if (setting.onOff && (value == "ON" || value == "OFF"))
        return true;
    return int(value.size()) == setting.width && digitsOnly(value);
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
    using P = SettingPage;
    using R = Request;
    using F = Field;
    // In the order of the journal's reset entries, the packs last. The second-generation page
    // has its own buttons for the voltages; the rest live on the "Settings" page.
    static const std::array<StoredSetting, kStoredSettingCount> all = {{
        {.key = "upper-transfer",
         .label = "Up Voltage",
         .places = {{.page = P::Smart,
                     .request = R::UpVoltageChange,
                     .button = "UpVoltageConstChange",
                     .field = F::UpTransferVoltage},
                    {.page = P::SecondGen,
                     .request = R::UpVoltage2ndChange,
                     .button = "UpVoltageChange2nd",
                     .field = F::UpVoltage2nd}},
         .value = UnitText<&APCUPS::highTransferText>,
         .read = &APCUPS::ReadHighTransfer,
         .step = stepOf<&APCUPS::StepHighTransfer>,
         .command = 'u',
         .width = 3},
        {.key = "lower-transfer",
         .label = "Low Voltage",
         .places = {{.page = P::Smart,
                     .request = R::LowVoltageChange,
                     .button = "LowVoltageConstChange",
                     .field = F::LowTransferVoltage},
                    {.page = P::SecondGen,
                     .request = R::LowVoltage2ndChange,
                     .button = "LowVoltageChange2nd",
                     .field = F::LowVoltage2nd}},
         .value = UnitText<&APCUPS::lowTransferText>,
         .read = &APCUPS::ReadLowTransfer,
         .step = stepOf<&APCUPS::StepLowTransfer>,
         .command = 'l',
         .width = 3},
        {.key = "output-voltage",
         .label = "Out Voltage",
         .places = {{.page = P::Smart,
                     .request = R::OutVoltageChange,
                     .button = "OutVoltageConstChange",
                     .field = F::OutputVoltageConstant},
                    {.page = P::SecondGen,
                     .request = R::OutVoltage2ndChange,
                     .button = "OutVoltageChange2nd",
                     .field = F::OutputVoltageConstant2nd}},
         .value = UnitText<&APCUPS::outputSettingText>,
         .read = &APCUPS::ReadOutputSetting,
         .step = stepOf<&APCUPS::StepOutputSetting>,
         .command = 'o',
         .width = 3},
        {.key = "self-test",
         .label = "Self Test",
         .places = {{.page = P::Settings,
                     .request = R::SelfTestChange,
                     .button = "SelfTestChange",
                     .field = F::SelfTest}},
         .value = UnitText<&APCUPS::selfTestIntervalText>,
         .read = &APCUPS::ReadSelfTestInterval,
         .step = stepOf<&APCUPS::StepSelfTestInterval>,
         .command = 'E',
         .width = 3,
         .onOff = true},
        {.key = "shutdown-delay",
         .label = "Shut down delay",
         .places = {{.page = P::Settings,
                     .request = R::ShutDownDelayChange,
                     .button = "ShutDownDelayChange",
                     .field = F::ShutDownDelay}},
         .value = UnitText<&APCUPS::shutdownDelayText>,
         .read = &APCUPS::ReadShutdownDelay,
         .step = stepOf<&APCUPS::StepShutdownDelay>,
         .command = 'p',
         .width = 3},
        {.key = "wake-up-delay",
         .label = "Wake up delay",
         .places = {{.page = P::Settings,
                     .request = R::WakeUpDelayChange,
                     .button = "WakeUpDelayChange",
                     .field = F::WakeUpDelay}},
         .value = UnitText<&APCUPS::turnOnDelayText>,
         .read = &APCUPS::ReadTurnOnDelay,
         .step = stepOf<&APCUPS::StepTurnOnDelay>,
         .command = 'r',
         .width = 3},
        {.key = "sensitivity",
         .label = "Sensitivity",
         .places = {{.page = P::Settings,
                     .request = R::SensitivityChange,
                     .button = "SensitivityChange",
                     .field = F::Sensitivity}},
         .value = UnitText<&APCUPS::sensitivityText>,
         .read = &APCUPS::ReadSensitivity,
         .step = stepOf<&APCUPS::StepSensitivity>,
         .command = 's',
         .words = kSensitivityWords},
        {.key = "alarm-delay",
         .label = "Alarm delay",
         .places = {{.page = P::Settings,
                     .request = R::AlarmDelayChange,
                     .button = "AlarmDelayChange",
                     .field = F::AlarmDelay}},
         .value = UnitText<&APCUPS::alarmDelayText>,
         .read = &APCUPS::ReadAlarmDelay,
         .step = stepOf<&APCUPS::StepAlarmDelay>,
         .command = 'k',
         .words = kAlarmDelayWords},
        {.key = "return-threshold",
         .label = "Return threshold",
         .places = {{.page = P::Settings,
                     .request = R::ThresholdChange,
                     .button = "ThresholdChange",
                     .field = F::Threshold}},
         .value = UnitText<&APCUPS::returnThresholdText>,
         .read = &APCUPS::ReadReturnThreshold,
         .step = stepOf<&APCUPS::StepReturnThreshold>,
         .command = 'e',
         .width = 2},
        {.key = "low-battery-warning",
         .label = "Low Battery Warning",
         .places = {{.page = P::Settings,
                     .request = R::LowBatWarningChange,
                     .button = "LowBatWarningChange",
                     .field = F::LowBatWarning}},
         .value = UnitText<&APCUPS::lowBatteryWarningText>,
         .read = &APCUPS::ReadLowBatteryWarning,
         .step = stepOf<&APCUPS::StepLowBatteryWarning>,
         .command = 'q',
         .width = 2},
        {.key = "battery-packs",
         .label = "Bat. Packs",
         .places = {{.page = P::Smart,
                     .request = R::BatteryPacksStep,
                     .button = "BatteryPacksMinus",
                     .buttonUp = "BatteryPacksPlus",
                     .field = F::BatteryPacks}},
         .value = UnitText<&APCUPS::batteryPacksText>,
         .read = &APCUPS::ReadBatteryPacks,
         .step = signedStepOf<&APCUPS::StepBatteryPacks>,
         .twoWay = true,
         .reset = false,
         .command = '>'},
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
        const StoredSetting& setting = StoredSettings()[std::size_t(index)];
        if (setting.twoWay)
            continue;  // never listed: its own bound holds
        std::vector<std::string> own, any;
        for (const Group& group : groups) {
            if (group.command != setting.command)
                continue;
            any.insert(any.end(), group.values.begin(), group.values.end());
            if (group.locale == locale || group.locale == '4')
                own.insert(own.end(), group.values.begin(), group.values.end());
        }
        std::vector<std::string>& list = offer[std::size_t(index)];
        for (const std::string& value : own.empty() ? any : own) {
            if (!setting.words.empty()) {
                // A letter, as the unit lists it: the window's word for it, or none.
                const auto found = std::find_if(
                    setting.words.begin(), setting.words.end(), [&](const SettingWord& w) {
                        return value.size() == 1 && value[0] == w.letter;
                    });
                if (found != setting.words.end())
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
    const StoredSetting& setting = StoredSettings()[std::size_t(index)];
    if (setting.twoWay)
        return text.size() <= 3 && digitsOnly(text) && std::stoi(text) <= kMaxBatteryPacks;
    if (!offered.empty())
        return std::find(offered.begin(), offered.end(), text) != offered.end();
    return hasForm(setting, text);
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
