#pragma once

#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Apcups.h"
#include "Queue.h"
#include "Requests.h"
#include "View.h"

namespace morlen {

// The pages a stored setting is posted and shown on.
enum class SettingPage { Smart, SecondGen, Settings };

// Where one page posts and shows a stored setting. A place without a button is none.
struct SettingPlace {
    SettingPage page = SettingPage::Settings;
    Request request = Request::RestoreSettings;  // what its button posts (none: no button)
    const char* button = nullptr;                // the button: its "Change", or the packs' "-"
    const char* buttonUp = nullptr;              // the packs' "+"
    Field field = Field::Model;                  // where the value shows
};

// One of the words the window shows for a one-letter answer of the unit.
struct SettingWord {
    char letter;
    const char* text;
};

// The unit's ten stored settings and its battery packs: what a settings file holds, what a
// reset sets (the ten), what a restore puts back. Calibration constants, meters and the model
// code belong to one unit's calibration and are never among them. Every other list of them
// (the requests, the buttons, the reset, the journal's labels) is made from this one.
struct StoredSetting {
    const char* key;    // its line in a settings file
    const char* label;  // as the window labels it; the journal records it by the same name
    // Its places: the Smart-UPS or "Settings" page first, then the second-generation page's
    // own, where it has one.
    SettingPlace places[2];
    // The value as the unit object last read it, the read that asks the unit afresh, and one
    // step, read back: a cycled setting goes on to the next value the unit offers ("-"), the
    // packs count "+" or "-".
    const char* (*value)(const APCUPS&);
    const char* (APCUPS::*read)();
    const char* (*step)(APCUPS&, char sign);
    // The battery packs are a number stepped both ways; the settings go round a cycle.
    bool twoWay = false;
    // "Reset all to default" sets it back; a reset's journal entry holds these, in this order.
    bool reset = true;
    // How the unit gives its values: its letter in a capability string (Ctrl-Z), and where it
    // lists none the form of its replies: so many digits, or one of the window's words for its
    // one-letter answers. The self-test interval may also read "ON" or "OFF".
    char command;
    int width = 0;
    std::span<const SettingWord> words = {};
    bool onOff = false;
};
constexpr int kStoredSettingCount = 11;
const std::array<StoredSetting, kStoredSettingCount>& StoredSettings();

// One value per stored setting, in the order above; a null text where there is none.
using SettingValues = std::array<QString, kStoredSettingCount>;

// The most battery packs a supported unit counts: its "+" and "-" stop at 0 and 10 (the
// simulated units keep that range, sim/README.md). A count above it is no value a unit gives,
// so a restore never steps the packs further than this.
constexpr int kMaxBatteryPacks = 10;

// The values a unit lists for each stored setting in its capability string (Ctrl-Z), as the
// window shows them (trimmed); an empty list where the unit lists none, and then the form of
// the unit's replies decides.
using UnitOffer = std::array<std::vector<std::string>, kStoredSettingCount>;
// The lists of a capability string ("#", then per setting and locale: the command, the locale,
// the number of values, their width and the values). `locale` is the last character of the
// firmware; a setting listed only for other locales takes all of its lists. Anything that does
// not parse ends the lists there.
UnitOffer OfferOf(const std::string& capabilities, char locale);
// Whether `value` has the form the unit gives for that setting: one of the values listed in
// `offered` where there are any, else exactly the width and characters of its replies; for
// the packs digits only, at most kMaxBatteryPacks. "NA" and empty values never are.
bool IsUnitValue(int index, const std::vector<std::string>& offered, const std::string& value);
// What the restore dialog shows for a saved value that is not one.
inline constexpr const char* kNotAUnitValue = "not a value of this unit";

// A settings file: the unit it was saved from and its values.
struct UnitSettingsFile {
    QString model, serialNumber, firmware;
    int family = FamilyUnknown;
    QString saved;  // local time, ISO 8601
    SettingValues values;
};
QString FormatSettingsFile(const UnitSettingsFile& file);
// The file back; nothing, and why in `why`, when the text is not a settings file.
std::optional<UnitSettingsFile> ParseSettingsFile(const QString& text, QString* why);
// A file name made of the model and serial number, with what a file name cannot hold replaced.
QString SettingsFileName(const QString& model, const QString& serialNumber);
QString FamilyName(int family);

// Whether a file may be restored on this unit: one of another family never is; one of
// another model or serial number is, after a warning.
enum class FileFit { Same, OtherUnit, OtherFamily };
FileFit FitOf(const UnitSettingsFile& file, int family, const QString& model,
              const QString& serialNumber);
// The text the restore dialog shows for a fit other than Same.
QString FitText(const UnitSettingsFile& file, FileFit fit);

// Two values of one setting are the same when they differ only in the spaces around them
// (the unit pads some) or, for the battery packs, in their leading zeros.
bool SameValue(const StoredSetting& setting, const QString& a, const QString& b);

struct SettingDifference {
    int index;
    QString now, saved;
    bool restorable;  // false: the saved value is not a value of this unit, and is skipped
};
// The settings this unit offers (a `now` that is not null) with a saved value (not null) that
// differs, or that is not a value of this unit.
QList<SettingDifference> Differences(const SettingValues& now, const SettingValues& saved,
                                     const UnitOffer& offer);

// What the journal calls the summary that ends a restore.
inline constexpr const char* kRestoreWhat = "Restore unit settings";

// Steps of one setting that neither reaches its value nor comes back round to where it began:
// more than any unit offers for one setting.
constexpr int kSettingCycleBound = 16;

enum class RestoreEnd {
    Reached,     // the unit reads the saved value
    CameRound,   // back at the value it began with: the unit does not offer the saved one
    Still,       // a step left the value where it was
    NoAnswer,    // a read came back empty
    NoValue,     // a read came back as no value of this setting ("NA", garbage)
    NotOffered,  // the saved value is not a value of this unit: nothing read, nothing sent
    Stopped,     // the close came: no step after the one under way
    Bound,       // kSettingCycleBound steps, or for the packs as many as they were apart
};
struct RestoreResult {
    RestoreEnd end;
    int steps;
    std::string value;  // as last read back
};
// Puts one setting back: reads it, then steps it (each step read back) until it reads the
// target's value. A cycled setting is stepped at most once round its cycle; the packs step
// toward the saved number, at most as many steps as they were apart (both are values of the
// unit, so never more than kMaxBatteryPacks). A target or a read that is not a value of the
// unit sends no (further) step; `stopped`, asked after each step, ends it there.
RestoreResult RestoreSetting(const RestoreTarget& target, const std::function<std::string()>& read,
                             const std::function<std::string(char sign)>& step,
                             const std::function<bool()>& stopped = nullptr);
// Why a setting was not put back; empty when it was.
QString RestoreEndText(const RestoreResult& result);

}  // namespace morlen
