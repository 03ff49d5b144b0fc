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
#include <utility>
#include <vector>

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
    UnitSettingsFile file{QStringLiteral("SMART-UPS 1000"),
                          QStringLiteral("WS9643050926"),
                          QStringLiteral("60.11.I"),
                          FamilySmart,
                          QStringLiteral("2026-12-08T10:00:00"),
                          {}};
    return file;
}

// ---- The file ----

TEST(UnitSettingsFile, ValuesComeBackExactlyAndOnlyTheSettingsAreRead) {
    UnitSettingsFile saved = Su1000File();
    saved.values[kLowTransfer] = QStringLiteral("200");
    saved.values[6] = QStringLiteral(" Medium");  // the unit's own padding is kept
    saved.values[3] = QStringLiteral("ON ");
    saved.values[kPacks] = QStringLiteral("002");
    QString why;
    const auto back = ParseSettingsFile(FormatSettingsFile(saved), &why);
    ASSERT_TRUE(back) << why.toStdString();
    EXPECT_EQ(back->model, saved.model);
    EXPECT_EQ(back->serialNumber, saved.serialNumber);
    EXPECT_EQ(back->firmware, saved.firmware);
    EXPECT_EQ(back->family, FamilySmart);
    EXPECT_EQ(back->saved, saved.saved);
    for (std::size_t i = 0; i < saved.values.size(); ++i) {
        EXPECT_EQ(back->values[i], saved.values[i]) << Setting(i).key;
        EXPECT_EQ(back->values[i].isNull(), saved.values[i].isNull()) << Setting(i).key;
    }

    struct Row {
        const char* text;
        bool parsed;
    };
    const Row rows[] = {
        {"", false},
        {"model=SMART-UPS 1000\nfamily=0\n", false},                 // no header
        {"# Morlen unit settings\nmodel=SMART-UPS 1000\n", false},   // no family
        {"# Morlen unit settings\r\nfamily=0 Smart-UPS\r\n", true},  // written elsewhere
        {"# Morlen unit settings\nfamily=2\nconst0=A0\n", true},     // a constant is no setting
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = ParseSettingsFile(QString::fromLatin1(row.text), &why);
        ASSERT_EQ(parsed.has_value(), row.parsed);
        if (!parsed)
            continue;
        for (const QString& value : parsed->values)
            EXPECT_TRUE(value.isNull());
    }
    EXPECT_EQ(SettingsFileName(saved.model, saved.serialNumber).toStdString(),
              "SMART-UPS_1000_WS9643050926.mrn");
    EXPECT_EQ(SettingsFileName(QStringLiteral("../x"), QString()).toStdString(), "unit.._x.mrn");
}

TEST(UnitSettingsFile, AnotherFamilyIsRefusedAnotherUnitWarned) {
    struct Row {
        int family;
        const char* model;
        const char* serial;
        FileFit fit;
    };
    const Row rows[] = {
        {FamilySmart, "SMART-UPS 1000", "WS9643050926", FileFit::Same},
        {FamilySmart, "SMART-UPS 1000 ", " WS9643050926", FileFit::Same},  // the unit's padding
        {FamilySmart, "SMART-UPS 1000", "WS9643050927", FileFit::OtherUnit},
        {FamilySmart, "SMART-UPS 700", "WS9643050926", FileFit::OtherUnit},
        {FamilySmart2ndGen, "SMART-UPS 1000", "WS9643050926", FileFit::OtherFamily},
        {FamilySmartNoSerial, "SMART-UPS 1000", "WS9643050926", FileFit::OtherFamily},
    };
    const UnitSettingsFile file = Su1000File();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.serial);
        const FileFit fit = FitOf(file, row.family, QString::fromLatin1(row.model),
                                  QString::fromLatin1(row.serial));
        EXPECT_EQ(fit, row.fit);
        EXPECT_EQ(FitText(file, fit).isEmpty(), row.fit == FileFit::Same);
    }
}

// ---- One setting ----

// A unit whose setting goes round `cycle` (or, for the packs, counts up to 10), with every
// step asked of it logged.
struct FakeSetting {
    FakeSetting(std::vector<std::string> values, std::size_t start, int packCount = 0,
                int answered = 1000)
        : cycle(std::move(values)), at(start), packs(packCount), answerUntil(answered) {}
    std::vector<std::string> cycle;
    std::size_t at;
    int packs;
    int answerUntil;  // steps answered; later ones come back empty
    std::string asked;
    std::string value() const { return cycle.empty() ? std::to_string(packs) : cycle[at]; }
    std::string step(char sign) {
        asked += sign;
        if (int(asked.size()) > answerUntil)
            return "";
        if (cycle.empty())
            packs = std::clamp(packs + (sign == '+' ? 1 : -1), 0, 10);
        else
            at = (at + 1) % cycle.size();
        return value();
    }
};

std::vector<std::string> Counting(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(std::to_string(100 + i));
    return out;
}

TEST(RestoreSetting, EndsAtTheSavedValueOrOnceRoundTheCycle) {
    const std::vector<std::string> low = {"208", "204", "200", "196"};
    struct Row {
        const char* name;
        FakeSetting unit;
        std::size_t setting;
        std::string target;
        RestoreEnd end;
        std::string asked;
    };
    const Row rows[] = {
        {"already there", {low, 2}, kLowTransfer, "200", RestoreEnd::Reached, ""},
        {"two steps on", {low, 0}, kLowTransfer, "200", RestoreEnd::Reached, "--"},
        {"across the wrap", {low, 3}, kLowTransfer, "204", RestoreEnd::Reached, "--"},
        {"spaces do not count", {{"ON ", "OFF"}, 1}, 3, "ON", RestoreEnd::Reached, "-"},
        // The edge: a value the unit does not offer costs exactly one round, then it stops
        // where it began.
        {"not offered", {low, 1}, kLowTransfer, "199", RestoreEnd::CameRound, "----"},
        {"one value only", {{"115"}, 0}, 2, "120", RestoreEnd::CameRound, "-"},
        {"never comes round",
         {Counting(40), 0},
         kLowTransfer,
         "999",
         RestoreEnd::Bound,
         std::string(kSettingCycleBound, '-')},
        {"stops answering", {low, 0, 0, 1}, kLowTransfer, "196", RestoreEnd::NoAnswer, "--"},
        {"packs up", {{}, 0, 1}, kPacks, "003", RestoreEnd::Reached, "++"},
        {"packs down", {{}, 0, 4}, kPacks, "0", RestoreEnd::Reached, "----"},
        {"packs at the end stop", {{}, 0, 9}, kPacks, "012", RestoreEnd::Still, "++"},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.name);
        FakeSetting& unit = row.unit;
        const RestoreResult result = RestoreSetting(
            Setting(row.setting), [&] { return unit.value(); },
            [&](char sign) { return unit.step(sign); }, row.target);
        EXPECT_EQ(result.end, row.end);
        EXPECT_EQ(unit.asked, row.asked);
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
    // Opens the restore dialog on the file and returns it.
    RestoreDialog* openDialog() {
        form().ui->RestoreUnitSettings->trigger();
        const auto dialogs = form().findChildren<RestoreDialog*>();
        if (dialogs.isEmpty())
            return nullptr;
        RestoreDialog* dialog = dialogs.last();  // the newest
        dialog->findChild<QPushButton*>(QStringLiteral("OpenSettingsFile"))->click();
        return dialog;
    }
    void writeFile(const UnitSettingsFile& file) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(FormatSettingsFile(file).toUtf8());
    }
    // Restores the file at the next refresh; the wire of the pass that carried it out.
    std::string restore() {
        return statusPass({}, nullptr, [this] {
            RestoreDialog* dialog = openDialog();
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
    rig.statusPass({{'8', '-'},
                    {'9', '-'},
                    {'9', '-'},
                    {'a', '-'},
                    {'w', '-'},
                    {'w', '-'},
                    {'w', '-'},
                    {'u', '-'},
                    {'v', '-'},
                    {'x', '-'},
                    {'y', '-'},
                    {'y', '-'},
                    {'M', '-'},
                    {'S', '-'},
                    {'5', '+'},
                    {'5', '+'}});
    rig.form().ui->SaveUnitSettings->trigger();
    EXPECT_EQ(QFileInfo(rig.suggested).fileName().toStdString(), "SMART-UPS_1000_WS9643050926.mrn");
    QFile file(rig.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto saved = ParseSettingsFile(QString::fromUtf8(file.readAll()), nullptr);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->serialNumber.toStdString(), "WS9643050926");
    const char* const expected[] = {"257",     "200",         "240", "OFF", "180", "060",
                                    " Medium", "Low Battery", "15",  "05",  "002"};
    for (std::size_t i = 0; i < kStoredSettingCount; ++i)
        EXPECT_EQ(saved->values[i].toStdString(), expected[i]) << Setting(i).key;

    // The reset, and one more pack, take every value away from the file.
    rig.statusPass({{'N', 'z'}, {'5', '+'}},
                   [&] { EXPECT_EQ(rig.bench().unit().model().setting('l'), "208"); });
    RestoreDialog* dialog = rig.openDialog();
    ASSERT_NE(dialog, nullptr);
    auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("Differences"));
    ASSERT_EQ(table->rowCount(), 11);
    EXPECT_EQ(table->item(1, 0)->text().toStdString(), "Low Voltage");
    EXPECT_EQ(table->item(1, 1)->text().toStdString(), "208");
    EXPECT_EQ(table->item(1, 2)->text().toStdString(), "200");
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("FitWarning"))->isHidden());
    delete dialog;

    // Each setting is read, then stepped with its own button's operation, each step read back,
    // until it reads the saved value.
    const std::string wire = rig.restore();
    EXPECT_EQ(wire, Steps("u/3", "-/2", 1) + " " + Steps("l/3", "-/2", 2) + " " +
                        Steps("o/3", "-/2", 1) + " " + Steps("E/3", "-/2", 3) + " " +
                        Steps("p/3", "-/2", 1) + " " + Steps("r/3", "-/2", 1) + " " +
                        Steps("s/1", "-/1", 1) + " " + Steps("k/1", "-/1", 2) + " " +
                        Steps("e/2", "-/2", 1) + " " + Steps("q/2", "-/2", 1) + " " +
                        Steps(">/3", "-/3", 1));
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

    // Nothing differs any more: nothing to restore.
    dialog = rig.openDialog();
    EXPECT_EQ(dialog->findChild<QTableWidget*>(QStringLiteral("Differences"))->rowCount(), 0);
    EXPECT_FALSE(dialog->findChild<QPushButton*>(QStringLiteral("RestoreButton"))->isEnabled());
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
        const char* serial;
        bool warned, restorable;
    };
    const Row rows[] = {
        {FamilySmart, "WS9643050926", false, true},
        {FamilySmart, "XX0000000000", true, true},
        {FamilySmart2ndGen, "WS9643050926", true, false},
    };
    RestoreRig rig;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.family);
        UnitSettingsFile file = Su1000File();
        file.family = row.family;
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
