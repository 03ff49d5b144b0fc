#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

class QMessageBox;
class QSettings;

namespace morlen {

// A stored setting that cannot be used; its message names the value, `file` is the settings
// file that holds it. Ends the program at start-up, before any window appears.
class SettingsError : public std::runtime_error {
public:
    SettingsError(const std::string& message, QString file)
        : std::runtime_error(message), file(std::move(file)) {}
    QString file;
};

// The error box for an unusable setting: its message, and below it the file that holds it and
// how to get the defaults back. The caller runs it.
std::unique_ptr<QMessageBox> SettingsErrorBox(const SettingsError& error);

// Where a window of `size` stored at `stored` (its top left corner, title bar included) can be
// placed: `stored` itself while enough of its title bar lies on one of the `screens` (their
// available areas) to grab it, otherwise centred on `primary` (at its top left corner when
// the window is larger). With no screen known, `stored`.
QPoint OnScreenPosition(QPoint stored, QSize size, const QList<QRect>& screens, QRect primary);

// The per-user settings file: $XDG_CONFIG_HOME/Pelloran/Morlen.conf, with ~/.config when
// XDG_CONFIG_HOME is unset or empty.
QString settingsFilePath();

// Reads a value stored as a 32-bit integer. Throws SettingsError "Failed to get data for
// 'NAME'" when the value is missing and "Invalid data type for 'NAME'" when it is not a 32-bit
// integer (unsigned values above the signed range read back as their two's complement).
int ReadInteger(const QSettings& store, const char* name);

// Stores a value as an integer, creating or replacing it.
void WriteInteger(QSettings& store, const char* name, int value);

}  // namespace morlen
