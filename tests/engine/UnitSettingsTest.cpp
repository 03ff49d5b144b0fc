// Saving a unit's stored settings to a file and putting them back: the file, which files may be
// restored, the bounded step of one setting, and the whole restore against the simulated unit.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Journal.h"
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
    };
    const Row rows[] = {
        {"already there", low, 2, kLowTransfer, "200", RestoreEnd::Reached, ""},
        {"across the wrap", low, 3, kLowTransfer, "204", RestoreEnd::Reached, "--"},
        {"spaces do not count", {"ON ", "OFF"}, 1, 3, "ON", RestoreEnd::Reached, "-"},
        // The edge: a value the unit does not offer costs exactly one round, and the setting
        // ends where it began.
        {"not offered", low, 1, kLowTransfer, "199", RestoreEnd::CameRound, "----"},
        {"one value only", {"115"}, 0, 2, "120", RestoreEnd::CameRound, "-"},
        {"never comes round", Numbers(100, 40), 0, kLowTransfer, "99", RestoreEnd::Bound,
         std::string(kSettingCycleBound, '-')},
        {"packs up", Numbers(0, 11), 1, kPacks, "003", RestoreEnd::Reached, "++"},
        {"packs down", Numbers(0, 11), 4, kPacks, "0", RestoreEnd::Reached, "----"},
        {"packs at the end stop", Numbers(0, 11), 9, kPacks, "12", RestoreEnd::Still, "++"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::size_t at = row.at;
        std::string asked;
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
            Setting(row.setting), [&] { return row.values[at]; }, step, row.target);
        EXPECT_EQ(result.end, row.end);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(result.steps, int(row.asked.size()));
        EXPECT_EQ(RestoreEndText(result).isEmpty(), row.end == RestoreEnd::Reached);
    }
}

// ---- Against the simulated unit ----

// The real window on a simulated Smart-UPS 1000, with the file dialogs answered by the test.
class RestoreRig : public WireRig {
public:
    RestoreRig() : WireRig("su1000") {
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

    // A reset by mistake, undone from the journal's record of the values before it: the same
    // steps, the packs aside (a reset leaves them).
    rig.statusPass({{'N', 'z'}});
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
    RestoreRig rig;
    UnitSettingsFile file = Su1000File();
    file.values[kLowTransfer] = QStringLiteral("199");
    rig.writeFile(file);
    EXPECT_EQ(rig.restore(), Steps("l/3", "-/2", 4));
    ASSERT_TRUE(
        rig.bench().atRefresh([&] { EXPECT_EQ(rig.bench().unit().model().setting('l'), "208"); }));
    EXPECT_EQ(rig.form().statusText().toStdString(),
              "Settings restored: 0 of 1. Not restored: Low Voltage: the unit does not offer "
              "it: back at 208 after 4 steps.");
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
