#include "Settings.h"

#include <QDir>
#include <QSettings>
#include <QVariant>
#include <cstdint>
#include <limits>
#include <string>

namespace morlen {

QString settingsFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/Pelloran/Morlen.conf");
}

int ReadInteger(const QSettings& store, const char* name) {
    const QVariant value = store.value(QLatin1String(name));
    if (!value.isValid()) {
        throw SettingsError(std::string("Failed to get data for '") + name + "'");
    }
    bool ok = false;
    qlonglong number = 0;
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            number = value.toLongLong(&ok);
            break;
        case QMetaType::QString:
            // The settings file holds text: only a plain decimal number is an integer.
            number = value.toString().trimmed().toLongLong(&ok, 10);
            break;
        default:
            break;
    }
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > static_cast<qlonglong>(std::numeric_limits<std::uint32_t>::max())) {
        throw SettingsError(std::string("Invalid data type for '") + name + "'");
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

void WriteInteger(QSettings& store, const char* name, int value) {
    store.setValue(QLatin1String(name), value);
}

}  // namespace morlen
