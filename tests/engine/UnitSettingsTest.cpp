// Saving a unit's stored settings to a file and putting them back: the file, which files may be
// restored, the bounded step of one setting, and the whole restore against the simulated unit.
#include <gtest/gtest.h>

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Journal.h"
#include "Profile.h"
#include "RestoreDialog.h"
#include "UnitSettings.h"
#include "WireRig.h"

namespace morlen::test {
namespace {

constexpr std::size_t kLowTransfer = 1;
constexpr std::size_t kPacks = 10;

const StoredSetting& Setting(std::size_t index) {
    return StoredSettings()[index];
}

UnitSettingsFile Su1000File() {
    return {QStringLiteral("SMART-UPS 1000"),
            QStringLiteral("WS9643050926"),
            QStringLiteral("60.11.I"),
            FamilySmart,
            QStringLiteral("2026-12-08T10:00:00"),
            {}};
}

// ---- The file ----

TEST(UnitSettingsFile, ValuesComeBackExactlyAndOnlyTheSettingsAreRead) {
    UnitSettingsFile saved = Su1000File();
    saved.values[kLowTransfer] = QStringLiteral("200");
    saved.values[6] = QStringLiteral(" Medium");  // the unit's own padding is kept
    saved.values[3] = QStringLiteral("ON ");
    const auto back = ParseSettingsFile(FormatSettingsFile(saved), nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(QStringList({back->model, back->serialNumber, back->firmware, back->saved}),
              QStringList({saved.model, saved.serialNumber, saved.firmware, saved.saved}));
    EXPECT_EQ(back->family, FamilySmart);
    for (std::size_t i = 0; i < saved.values.size(); ++i)  // null stays null: not in the file
        EXPECT_TRUE(back->values[i] == saved.values[i] &&
                    back->values[i].isNull() == saved.values[i].isNull())
            << Setting(i).key;
    // No header, no family: no settings file. A constant is no setting.
    EXPECT_FALSE(ParseSettingsFile(QStringLiteral("family=0\n"), nullptr));
    EXPECT_FALSE(ParseSettingsFile(QStringLiteral("# Morlen unit settings\nmodel=X\n"), nullptr));
    const auto other = ParseSettingsFile(
        QStringLiteral("# Morlen unit settings\r\nfamily=0\r\nconst0=A0\r\n"), nullptr);
    ASSERT_TRUE(other);
    EXPECT_TRUE(std::all_of(other->values.begin(), other->values.end(),
                            [](const QString& v) { return v.isNull(); }));
}

// ---- One setting ----

// `count` numbers from `first`, as a unit shows them.
std::vector<std::string> Numbers(int first, int count) {
    std::vector<std::string> out;
    for (int i = first; i < first + count; ++i)
        out.push_back(std::to_string(i));
    return out;
}

TEST(RestoreSetting, EndsAtTheSavedValueOrOnceRoundTheCycle) {
    // A unit whose setting goes round `values` with "-"; the packs count along them, stopping
    // at either end.
    const std::vector<std::string> low = {"208", "204", "200", "196"};
    struct Row {
        const char* name;
        std::vector<std::string> values;
        std::size_t at, setting;
        std::string target;
        RestoreEnd end;
        std::string asked;
        std::vector<std::string> offered = {};  // what the unit lists; none: the form decides
        int stopAt = 0;  // the step during which the close asks the restore to stop
    };
    const Row rows[] = {
        {"already there", low, 2, kLowTransfer, "200", RestoreEnd::Reached, ""},
        {"across the wrap", low, 3, kLowTransfer, "204", RestoreEnd::Reached, "--"},
        {"spaces do not count", {"ON ", "OFF"}, 1, 3, "ON", RestoreEnd::Reached, "-"},
        // The edge: a value the unit does not list costs exactly one round, and the setting
        // ends where it began; one it lists is reached on the last step of that round.
        {"not offered", low, 1, kLowTransfer, "199", RestoreEnd::CameRound, "----"},
        {"one value only", {"115"}, 0, 2, "120", RestoreEnd::CameRound, "-"},
        {"never comes round", Numbers(100, 40), 0, kLowTransfer, "099", RestoreEnd::Bound,
         std::string(kSettingCycleBound, '-')},
        // The cycle bound's edge: a round of 16 comes back, one of 17 is cut at 16 steps.
        {"round of 16", Numbers(100, 16), 0, kLowTransfer, "099", RestoreEnd::CameRound,
         std::string(16, '-')},
        {"round of 17", Numbers(100, 17), 0, kLowTransfer, "099", RestoreEnd::Bound,
         std::string(16, '-')},
        // Not a value of this unit: nothing is read or sent. A read that is none: no more steps.
        {"not listed", low, 1, kLowTransfer, "199", RestoreEnd::NotOffered, "", low},
        {"saved as NA", low, 1, kLowTransfer, "NA", RestoreEnd::NotOffered, ""},
        {"too wide", low, 1, kLowTransfer, "2000", RestoreEnd::NotOffered, ""},
        {"unit answers NA", {"NA"}, 0, kLowTransfer, "200", RestoreEnd::NoValue, ""},
        {"no answer", {"208", ""}, 0, kLowTransfer, "200", RestoreEnd::NoAnswer, "-"},
        {"garbage", {"208", "2#4", "200"}, 0, kLowTransfer, "200", RestoreEnd::NoValue, "-"},
        {"packs up", Numbers(0, 11), 1, kPacks, "003", RestoreEnd::Reached, "++"},
        {"packs down", Numbers(0, 11), 4, kPacks, "0", RestoreEnd::Reached, "----"},
        {"packs at the end stop", Numbers(0, 10), 8, kPacks, "10", RestoreEnd::Still, "++"},
        // The packs: as many steps as they were apart, no more packs than a unit can have.
        {"packs pass over",
         {"000", "002", "004", "006"},
         0,
         kPacks,
         "003",
         RestoreEnd::Bound,
         "+++"},
        {"packs to the most", Numbers(0, 11), 0, kPacks, "010", RestoreEnd::Reached,
         std::string(kMaxBatteryPacks, '+')},
        {"one pack more", Numbers(0, 12), 0, kPacks, "011", RestoreEnd::NotOffered, ""},
        {"unit reads one more", Numbers(0, 12), 11, kPacks, "0", RestoreEnd::NoValue, ""},
        {"packs as letters", Numbers(0, 11), 2, kPacks, "abc", RestoreEnd::NotOffered, ""},
        // The close: no step after the one under way.
        {"close in step 1 of 2", low, 3, kLowTransfer, "204", RestoreEnd::Stopped, "-", {}, 1},
        {"close in the last step", low, 3, kLowTransfer, "204", RestoreEnd::Reached, "--", {}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::size_t at = row.at;
        std::string asked;
        int reads = 0;
        const auto step = [&](char sign) {
            asked += sign;
            const std::size_t n = row.values.size();
            if (row.setting != kPacks)
                at = (at + 1) % n;
            else
                at = sign == '+' ? std::min(at + 1, n - 1) : (at == 0 ? 0 : at - 1);
            return row.values[at];
        };
        const RestoreResult result = RestoreSetting(
            {int(row.setting), 0, row.target, row.offered},
            [&] {
                ++reads;
                return row.values[at];
            },
            step, [&] { return row.stopAt != 0 && int(asked.size()) >= row.stopAt; });
        EXPECT_EQ(result.end, row.end);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(reads, row.end == RestoreEnd::NotOffered ? 0 : 1);
        EXPECT_EQ(result.steps, int(row.asked.size()));
        EXPECT_EQ(RestoreEndText(result).isEmpty(), row.end == RestoreEnd::Reached);
    }
}

// The values a unit lists in its capability string, as the window shows them: its own locale's
// voltages, the sensitivity and alarm delay letters as words; nothing where it lists none.
TEST(UnitOffer, TheCapabilityStringListsTheValuesTheWindowShows) {
    const struct {
        const char* profile;
        std::size_t index;
        std::vector<std::string> values;
    } rows[] = {
        {"su1000", 0, {"253", "257", "261", "265"}},
        {"su1000", 3, {"336", "168", "ON", "OFF"}},
        {"su1000", 6, {}},  // not listed before the third generation
        {"su1000-3g", 7, {"5 Seconds", "30 Seconds", "Low Battery", "Disabled"}},
        {"surt1000xl", 6, {"Auto"}},
        {"surt1000xl", 8, {"00", "15", "50", "90"}},
    };
    for (const auto& row : rows) {
        const sim::Profile& p = *sim::FindProfile(row.profile);
        EXPECT_EQ(OfferOf(p.capabilities, p.locale)[row.index], row.values) << row.profile;
    }
    // A group that does not parse ends the lists there.
    EXPECT_TRUE(OfferOf("#uI43253257261265lI4x", 'I')[kLowTransfer].empty());
}

// ---- Against the simulated unit ----

// The real window on a simulated Smart-UPS 1000, with the file dialogs answered by the test.
class RestoreRig : public WireRig {
public:
    explicit RestoreRig(const std::string& profile = "su1000",
                        const std::function<void(sim::Profile&)>& change = nullptr)
        : WireRig(profile, change) {
        path = dir.filePath(QStringLiteral("unit.mrn"));
        form().runSaveSettingsDialog = [this](const QString& suggested) {
            this->suggested = suggested;
            return path;
        };
        form().runOpenSettingsDialog = [this] { return path; };
    }
    // Opens the restore dialog on the file (or the other source) and returns it.
    RestoreDialog* openDialog(const char* source = "OpenSettingsFile") {
        form().ui->RestoreUnitSettings->trigger();
        const auto dialogs = form().findChildren<RestoreDialog*>();
        if (dialogs.isEmpty())
            return nullptr;
        RestoreDialog* dialog = dialogs.last();  // the newest
        dialog->findChild<QPushButton*>(QLatin1String(source))->click();
        return dialog;
    }
    void writeFile(const UnitSettingsFile& file) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(FormatSettingsFile(file).toUtf8());
    }
    // Restores the file at the next refresh; the wire of the pass that carried it out.
    std::string restore(const char* source = "OpenSettingsFile") {
        return statusPass({}, nullptr, [this, source] {
            RestoreDialog* dialog = openDialog(source);
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QPushButton*>(QStringLiteral("RestoreButton"))->click();
        });
    }

    QTemporaryDir dir;
    QString path;
    QString suggested;
};

std::string Steps(const std::string& read, const std::string& sign, int times) {
    return read + (times ? " " + Repeat(read + " " + sign + " " + read, times) : "");
}

TEST(RestoreOnTheUnit, AfterAResetEveryValueComesBackStepByStep) {
    RestoreRig rig;
    // Every setting away from its factory value, and two battery packs.
    std::vector<std::pair<char, char>> away = {{'5', '+'}, {'5', '+'}};
    for (const char code : std::string("899awwwuvxyyMS"))
        away.push_back({code, '-'});
    rig.statusPass(away);
    rig.form().ui->SaveUnitSettings->trigger();
    EXPECT_EQ(QFileInfo(rig.suggested).fileName().toStdString(), "SMART-UPS_1000_WS9643050926.mrn");
    QFile file(rig.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto saved = ParseSettingsFile(QString::fromUtf8(file.readAll()), nullptr);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->serialNumber.toStdString(), "WS9643050926");
    const char* const values[] = {"257",     "200",         "240", "OFF", "180", "060",
                                  " Medium", "Low Battery", "15",  "05",  "002"};
    for (std::size_t i = 0; i < kStoredSettingCount; ++i)
        EXPECT_EQ(saved->values[i].toStdString(), values[i]) << Setting(i).key;

    // The reset, and one more pack, take every value away from the file.
    rig.statusPass({{'N', 'z'}, {'5', '+'}},
                   [&] { EXPECT_EQ(rig.bench().unit().model().setting('l'), "208"); });
    RestoreDialog* dialog = rig.openDialog();
    ASSERT_NE(dialog, nullptr);
    auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("Differences"));
    ASSERT_EQ(table->rowCount(), 11);
    EXPECT_EQ(table->item(1, 1)->text() + table->item(1, 2)->text(), QStringLiteral("208200"));
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("FitWarning"))->isHidden());
    delete dialog;

    // Each setting is read, then stepped with its own button's operation, each step read back,
    // until it reads the saved value.
    const std::string wire = rig.restore();
    std::string expected;
    for (const auto& [read, sign, times] : {std::tuple{"u/3", "-/2", 1},
                                            {"l/3", "-/2", 2},
                                            {"o/3", "-/2", 1},
                                            {"E/3", "-/2", 3},
                                            {"p/3", "-/2", 1},
                                            {"r/3", "-/2", 1},
                                            {"s/1", "-/1", 1},
                                            {"k/1", "-/1", 2},
                                            {"e/2", "-/2", 1},
                                            {"q/2", "-/2", 1},
                                            {">/3", "-/3", 1}})
        expected += (expected.empty() ? "" : " ") + Steps(read, sign, times);
    EXPECT_EQ(wire, expected);
    ASSERT_TRUE(rig.bench().atRefresh([&] {
        const sim::UpsModel& unit = rig.bench().unit().model();
        const char commands[] = {'u', 'l', 'o', 'E', 'p', 'r', 's', 'k', 'e', 'q'};
        const char* const onUnit[] = {"257", "200", "240", "OFF", "180",
                                      "060", "M",   "L",   "15",  "05"};
        for (std::size_t i = 0; i < 10; ++i)
            EXPECT_EQ(unit.setting(commands[i]), onUnit[i]) << commands[i];
        EXPECT_EQ(unit.batteryPacks(), 2);
    }));
    EXPECT_EQ(rig.form().statusText().toStdString(), "Settings restored: 11 of 11.");
    EXPECT_EQ(rig.ui().LowTransferVoltage->text().toStdString(), "200");

    // A reset by mistake, pressed twice, undone from the journal's record of the values before
    // the first: the same steps, the packs aside (a reset leaves them).
    rig.statusPass({{'N', 'z'}, {'N', 'z'}});
    EXPECT_EQ(rig.restore("BeforeReset"), wire.substr(0, wire.rfind(" >/3 >/3")));
    journal::Journal& journal = *rig.form().journal;
    journal.Flush();
    const QList<journal::Entry> entries = journal.Entries(QStringLiteral("WS9643050926"));
    ASSERT_GE(entries.size(), 16);
    EXPECT_EQ(entries[0].what.toStdString(), kRestoreWhat);
    EXPECT_EQ(entries[0].outcome, journal::Outcome::Confirmed);
    EXPECT_EQ(journal::ValueOf(entries[0].after, QStringLiteral("Self Test")).toStdString(), "OFF");
    // Between the reset and the summary, one entry per step, each read back: newest first,
    // the last of the low battery warning, the first of the upper transfer voltage.
    EXPECT_EQ(entries[1].what.toStdString(), "Low Battery Warning");
    EXPECT_EQ(entries[14].what.toStdString(), "Up Voltage");
    for (int i = 1; i <= 14; ++i)
        EXPECT_TRUE(entries[i].outcome == journal::Outcome::Confirmed &&
                    entries[i].before != entries[i].after)
            << i;
    EXPECT_EQ(entries[15].what.toStdString(), journal::kResetWhat);
}

TEST(RestoreOnTheUnit, AValueTheUnitNeverReachesIsReportedAfterOneRound) {
    // A unit that lists its values refuses it in the dialog; one that lists none (the second
    // generation) has it tried for exactly one round.
    struct Row {
        const char* profile;
        int family;
        std::string wire;
        const char* status;
    };
    const Row rows[] = {
        {"su1000", FamilySmart, "", "Connection to UPS established."},
        {"gen2-v2", FamilySmart2ndGen, Steps("l/3", "-/2", 4),
         "Settings restored: 0 of 1. Not restored: Low Voltage: the unit does not offer it: back "
         "at 208 after 4 steps."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.profile);
        RestoreRig rig(row.profile);
        UnitSettingsFile file = Su1000File();
        file.family = row.family;
        file.values[kLowTransfer] = QStringLiteral("199");
        rig.writeFile(file);
        EXPECT_EQ(rig.restore(), row.wire);
        ASSERT_TRUE(rig.bench().atRefresh(
            [&] { EXPECT_EQ(rig.bench().unit().model().setting('l'), "208"); }));
        EXPECT_EQ(rig.form().statusText().toStdString(), row.status);
    }
}

// Runs `action` once when `watched` is enabled: for the Reconnect button, in the middle of
// the window's handling of a lost connection.
struct WhenEnabled : QObject {
    WhenEnabled(QWidget* watched, std::function<void()> action) : action(std::move(action)) {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            std::exchange(action, [] {})();
        return false;
    }
    std::function<void()> action;
};

// A restore confirmed while the connection is being lost never reaches the unit the next
// connection finds.
TEST(RestoreOnTheUnit, ARestoreConfirmedAsTheLinkIsLostIsDropped) {
    RestoreRig rig;
    UnitSettingsFile file = Su1000File();
    file.values[kLowTransfer] = QStringLiteral("200");
    rig.writeFile(file);
    RestoreDialog* dialog = rig.openDialog();
    ASSERT_NE(dialog, nullptr);
    QString said;
    WhenEnabled hook(rig.ui().Reconnect, [&] {
        dialog->findChild<QPushButton*>(QStringLiteral("RestoreButton"))->click();
        said = rig.form().statusText();
    });
    ASSERT_TRUE(rig.bench().atRefresh([&] { rig.bench().unit().unplug(); }));
    ASSERT_TRUE(EngineBench::waitFor([&] { return rig.form().workerEnded == 1; }));
    EXPECT_EQ(said.toStdString(), "Nothing was restored: the connection to the unit has ended.");
    rig.bench().unit().plug();
    rig.form().ReconnectClick();
    ASSERT_TRUE(rig.bench().atRefreshes(
        {[] {}, [&] { EXPECT_EQ(rig.bench().unit().model().setting('l'), "208"); }}));
}

// A hand-edited file on the unit it names: what is no value of the unit is shown as such and
// sends nothing; the rest is restored.
TEST(RestoreOnTheUnit, WhatIsNoValueOfTheUnitIsShownAndSendsNothing) {
    RestoreRig rig;
    rig.statusPass({{'5', '+'}, {'5', '+'}});
    UnitSettingsFile file = Su1000File();
    file.values[0] = QStringLiteral("NA");
    file.values[kLowTransfer] = QStringLiteral("999");
    file.values[2] = QStringLiteral("240");
    file.values[kPacks] = QStringLiteral("abc");
    rig.writeFile(file);
    RestoreDialog* dialog = rig.openDialog();
    ASSERT_NE(dialog, nullptr);
    auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("Differences"));
    QStringList notes;
    for (int row = 0; row < table->rowCount(); ++row)
        notes << table->item(row, 3)->text();
    EXPECT_EQ(notes, QStringList({"not a value of this unit", "not a value of this unit", "",
                                  "not a value of this unit"}));
    delete dialog;
    EXPECT_EQ(rig.restore(), "o/3 o/3 -/2 o/3");
    ASSERT_TRUE(rig.bench().atRefresh([&] {
        const sim::UpsModel& unit = rig.bench().unit().model();
        EXPECT_EQ(unit.setting('u') + unit.setting('l') + unit.setting('o'), "253208240");
        EXPECT_EQ(unit.batteryPacks(), 2);
    }));
    EXPECT_EQ(rig.form().statusText().toStdString(), "Settings restored: 1 of 1.");
}

// Which settings a file holds: those the unit's page has a usable button for, each with a
// value of the unit ("NA" and nothing read are never saved). By the unit's letters, packs ">".
TEST(UnitSettingsFile, EachFamilySavesTheSettingsItsPageOffers) {
    const struct {
        const char* profile;
        std::function<void(sim::Profile&)> change;
        std::string letters;  // empty: nothing to save
    } rows[] = {
        {"su1000", nullptr, "uloEprskeq>"},
        {"su620", nullptr, "uloEprskeq"},  // no temperature sensor: the packs' buttons disabled
        // An SC unit hides the packs' buttons, though this one reads its packs.
        {"sc1000", [](sim::Profile& p) { p.hasBatteryPacks = true; }, "uloEprskeq"},
        {"gen2-v2", nullptr, "uloEprskeq"},
        {"gen2-no-e", nullptr, "uloprskeq"},  // its self-test interval is never answered
        {"gen2-v0", nullptr, ""},             // DIP switches: nothing stepped from the window
        {"noserial", nullptr, "ulo"},
        {"backpro", nullptr, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.profile);
        RestoreRig rig(row.profile, row.change);
        rig.form().ui->SaveUnitSettings->trigger();
        QFile file(rig.path);
        ASSERT_EQ(file.open(QIODevice::ReadOnly), !row.letters.empty());
        const auto saved = ParseSettingsFile(QString::fromUtf8(file.readAll()), nullptr);
        std::string letters;
        for (std::size_t i = 0; saved && i < kStoredSettingCount; ++i)
            if (!saved->values[i].isNull())
                letters += "uloEprskeq>"[i];
        EXPECT_EQ(letters, row.letters);
    }
}

TEST(RestoreOnTheUnit, AnotherFamilyIsRefusedAnotherSerialNumberWarned) {
    struct Row {
        int family;
        const char *model, *serial;
        bool warned, restorable;
    };
    const Row rows[] = {
        {FamilySmart, "SMART-UPS 1000", " WS9643050926 ", false, true},  // the unit's padding
        {FamilySmart, "SMART-UPS 1000", "XX0000000000", true, true},
        {FamilySmart, "SMART-UPS 700", "WS9643050926", true, true},
        {FamilySmart2ndGen, "SMART-UPS 1000", "WS9643050926", true, false},
        {FamilySmartNoSerial, "SMART-UPS 1000", "WS9643050926", true, false},
    };
    RestoreRig rig;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.family);
        UnitSettingsFile file = Su1000File();
        file.family = row.family;
        file.model = QString::fromLatin1(row.model);
        file.serialNumber = QString::fromLatin1(row.serial);
        file.values[kLowTransfer] = QStringLiteral("200");
        rig.writeFile(file);
        RestoreDialog* dialog = rig.openDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(!dialog->findChild<QLabel*>(QStringLiteral("FitWarning"))->isHidden(),
                  row.warned);
        EXPECT_EQ(dialog->findChild<QPushButton*>(QStringLiteral("RestoreButton"))->isEnabled(),
                  row.restorable);
        EXPECT_EQ(dialog->differences().size(), row.restorable ? 1 : 0);
        delete dialog;
    }
}

}  // namespace
}  // namespace morlen::test
