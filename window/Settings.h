#pragma once

#include <QString>
#include <stdexcept>

class QSettings;

namespace morlen {

// A stored setting that cannot be used; its message names the value. Ends the program at
// start-up, before any window appears.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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
