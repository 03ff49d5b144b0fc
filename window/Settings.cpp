#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QVariant>
#include <algorithm>
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

QPoint OnScreenPosition(QPoint stored, QSize size, const QList<QRect>& screens, QRect primary) {
    // The title bar as window managers draw it, and how much of it a hand needs to grab it.
    constexpr int kTitleBarHeight = 24;
    const QSize grip(std::min(64, size.width()), kTitleBarHeight / 2);
    const QRect titleBar(stored, QSize(size.width(), kTitleBarHeight));
    for (const QRect& screen : screens) {
        const QRect seen = titleBar.intersected(screen);
        if (seen.width() >= grip.width() && seen.height() >= grip.height())
            return stored;
    }
    if (primary.isEmpty())
        return stored;
    const QPoint centred(primary.x() + (primary.width() - size.width()) / 2,
                         primary.y() + (primary.height() - size.height()) / 2);
    return QPoint(std::max(primary.x(), centred.x()), std::max(primary.y(), centred.y()));
}

int ReadInteger(const QSettings& store, const char* name) {
    const QVariant value = store.value(QLatin1String(name));
    if (!value.isValid()) {
        throw SettingsError(std::string("Failed to get data for '") + name + "'", store.fileName());
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
        throw SettingsError(std::string("Invalid data type for '") + name + "'", store.fileName());
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

std::unique_ptr<QMessageBox> SettingsErrorBox(const SettingsError& error) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Critical, QCoreApplication::applicationName(),
                                      QString::fromLocal8Bit(error.what()), QMessageBox::Ok);
    // Without "HexCode" every setting starts again from its default, so taking that line away
    // mends any of them; taking away only the bad line would leave the value missing.
    box->setInformativeText(
        QStringLiteral("The settings are kept in ") + error.file +
        QStringLiteral(". Removing the line that starts with \"HexCode=\" from that file, or the "
                       "whole file, brings back the default settings."));
    return box;
}

void WriteInteger(QSettings& store, const char* name, int value) {
    store.setValue(QLatin1String(name), value);
}

}  // namespace morlen
