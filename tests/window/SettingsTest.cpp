// The six persisted settings: first start, restore, reset, unusable values, and the write at
// close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <map>
#include <memory>
#include <string>

#include "Settings.h"
#include "Tag.h"
#include "Unit1.h"
#include "WindowTestSupport.h"

namespace {

using Values = std::map<std::string, QString>;

const char* const kNames[] = {"Left", "Top", "AUTOSU3Gen", "SelfTest", "HexCode", "Graphics"};

class SettingsTest : public ::testing::Test {
protected:
    ScratchConfig config;

    // Writes the settings file as another run (or a person) left it.
    void store(const Values& values) const {
        QSettings file(config.file(), QSettings::IniFormat);
        file.clear();
        for (const auto& [name, value] : values) {
            file.setValue(QString::fromStdString(name), value);
        }
        file.sync();
    }

    Values stored() const {
        QSettings file(config.file(), QSettings::IniFormat);
        Values values;
        for (const QString& key : file.allKeys()) {
            values[key.toStdString()] = file.value(key).toString();
        }
        return values;
    }

    static Values changed() {
        return {{"Left", "300"},   {"Top", "200"},   {"AUTOSU3Gen", "1"},
                {"SelfTest", "1"}, {"HexCode", "1"}, {"Graphics", "2"}};
    }

    // Closes a window made with new and lets it free itself, as the close does.
    static void closeAndFree(QPointer<TForm1>& form) {
        ASSERT_TRUE(form->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(form.isNull());
    }

    static bool anyWindowLeft() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<TForm1*>(w) != nullptr) {
                return true;
            }
        }
        return false;
    }
};

const Values kDefaults = {{"Left", "183"},   {"Top", "131"},   {"AUTOSU3Gen", "0"},
                          {"SelfTest", "0"}, {"HexCode", "0"}, {"Graphics", "0"}};

TEST_F(SettingsTest, FileLivesInTheUsersConfigFolder) {
    EXPECT_EQ(morlen::settingsFilePath(), config.file());
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_TRUE(
        morlen::settingsFilePath().endsWith(QStringLiteral("/.config/Pelloran/Morlen.conf")));
    qputenv("XDG_CONFIG_HOME", config.folder().toLocal8Bit());
}

TEST_F(SettingsTest, FirstStartWritesAndAppliesTheDefaults) {
    ASSERT_FALSE(QFile::exists(config.file()));
    TForm1 form;
    EXPECT_EQ(stored(), kDefaults);
    EXPECT_EQ(form.pos(), QPoint(183, 131));
    EXPECT_FALSE(form.ui->SelfTestON1->isChecked());
    EXPECT_FALSE(form.ui->AUTO1->isChecked());
    EXPECT_FALSE(form.ui->HexCodeON->isChecked());
    EXPECT_EQ(form.ui->Graphics->currentIndex(), 0);
    EXPECT_EQ(form.ui->Graphics->currentText(), QStringLiteral("Input & Battery"));
    EXPECT_EQ(tagOf(form.ui->Graphics), 0);
    EXPECT_EQ(tagOf(form.ui->GroupBox26), 0);
}

// Each value lands on its own control (no two swapped).
TEST_F(SettingsTest, StoredValuesAreApplied) {
    const struct {
        const char* changedName;
        bool selfTest, autoFix, hexCode;
    } cases[] = {
        {"SelfTest", true, false, false},
        {"AUTOSU3Gen", false, true, false},
        {"HexCode", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.changedName);
        Values values = kDefaults;
        values[c.changedName] = "7";  // any value but 0 reads as marked
        store(values);
        TForm1 form;
        EXPECT_EQ(form.ui->SelfTestON1->isChecked(), c.selfTest);
        EXPECT_EQ(form.ui->AUTO1->isChecked(), c.autoFix);
        EXPECT_EQ(form.ui->HexCodeON->isChecked(), c.hexCode);
    }
    store(changed());
    TForm1 form;
    EXPECT_EQ(form.pos(), QPoint(300, 200));
    EXPECT_EQ(form.ui->Graphics->currentIndex(), 2);
    EXPECT_EQ(tagOf(form.ui->Graphics), 2);
    EXPECT_EQ(tagOf(form.ui->GroupBox26), 2);
}

TEST_F(SettingsTest, ChangesMadeInTheWindowComeBackOnTheNextStart) {
    QPointer<TForm1> form = new TForm1;
    form->move(412, 96);
    form->ui->HexCodeON->setChecked(true);
    form->ui->AUTO1->setChecked(true);
    form->ui->Graphics->setCurrentIndex(3);
    closeAndFree(form);
    EXPECT_EQ(stored(), (Values{{"Left", "412"},
                                {"Top", "96"},
                                {"AUTOSU3Gen", "1"},
                                {"SelfTest", "0"},
                                {"HexCode", "1"},
                                {"Graphics", "3"}}));

    TForm1 next;
    EXPECT_EQ(next.pos(), QPoint(412, 96));
    EXPECT_TRUE(next.ui->HexCodeON->isChecked());
    EXPECT_TRUE(next.ui->AUTO1->isChecked());
    EXPECT_FALSE(next.ui->SelfTestON1->isChecked());
    EXPECT_EQ(next.ui->Graphics->currentIndex(), 3);
}

// Without "HexCode" the settings count as absent: every value goes back to its default.
TEST_F(SettingsTest, DeletingOnlyHexCodeResetsAllSix) {
    Values values = changed();
    values.erase("HexCode");
    store(values);
    TForm1 form;
    EXPECT_EQ(stored(), kDefaults);
    EXPECT_EQ(form.pos(), QPoint(183, 131));
    EXPECT_FALSE(form.ui->SelfTestON1->isChecked());
    EXPECT_FALSE(form.ui->AUTO1->isChecked());
    EXPECT_EQ(form.ui->Graphics->currentIndex(), 0);
}

TEST_F(SettingsTest, MissingValueStopsStartUp) {
    for (const char* name : {"Left", "Top", "AUTOSU3Gen", "SelfTest", "Graphics"}) {
        SCOPED_TRACE(name);
        Values values = changed();
        values.erase(name);
        store(values);
        try {
            TForm1 form;
            ADD_FAILURE() << "the window was built";
        } catch (const morlen::SettingsError& error) {
            EXPECT_EQ(std::string(error.what()),
                      std::string("Failed to get data for '") + name + "'");
        }
        EXPECT_FALSE(anyWindowLeft());
        // Nothing was repaired behind the user's back.
        EXPECT_EQ(stored(), values);
    }
}

TEST_F(SettingsTest, ValueThatIsNoIntegerStopsStartUp) {
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {"Left", "abc"},      {"Top", "1.5"},      {"AUTOSU3Gen", ""},     {"SelfTest", "0x1"},
        {"Graphics", "1, 2"}, {"HexCode", "true"}, {"Left", "4294967296"}, {"Top", "-2147483649"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.text);
        Values values = changed();
        values[c.name] = QString::fromLatin1(c.text);
        store(values);
        try {
            TForm1 form;
            ADD_FAILURE() << "the window was built";
        } catch (const morlen::SettingsError& error) {
            EXPECT_EQ(std::string(error.what()),
                      std::string("Invalid data type for '") + c.name + "'");
            const auto box = morlen::SettingsErrorBox(error);
            EXPECT_EQ(box->text(), QString::fromLocal8Bit(error.what()));
            EXPECT_EQ(box->informativeText(),
                      "The settings are kept in " + config.file() +
                          ". Removing the line that starts with \"HexCode=\" from that file, "
                          "or the whole file, brings back the default settings.");
        }
        EXPECT_FALSE(anyWindowLeft());
    }
    // Doing what the box says brings the window back.
    Values values = changed();
    values["Left"] = "abc";
    values.erase("HexCode");
    store(values);
    TForm1 form;
    EXPECT_EQ(stored(), kDefaults);
}

// A position on no screen (a monitor since unplugged) opens the window centred on the screen;
// the file keeps what it held until the close writes where the window really is.
TEST_F(SettingsTest, AWindowStoredOffEveryScreenOpensOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(QGuiApplication::screens().size(), 1);
    const struct {
        int left, top;
        bool kept;
    } cases[] = {
        {300, 200, true},
        {screen.right() - 100, 100, true},
        {-500, 100, true},
        {3000, 2000, false},
        {-5000, 131, false},
        {183, -200, false},
        {screen.right() - 20, 100, false},  // too little of the title bar on the screen
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.left) + "," + std::to_string(c.top));
        Values values = changed();
        values["Left"] = QString::number(c.left);
        values["Top"] = QString::number(c.top);
        store(values);
        QPointer<TForm1> form = new TForm1;
        form->show();
        const QRect placed(form->pos(), form->size());
        if (c.kept)
            EXPECT_EQ(placed.topLeft(), QPoint(c.left, c.top));
        else
            EXPECT_LE((placed.center() - screen.center()).manhattanLength(), 2);
        EXPECT_EQ(stored(), values) << "nothing is written at start";
        closeAndFree(form);
        EXPECT_EQ(stored().at("Left"), QString::number(placed.x()));
        EXPECT_EQ(stored().at("Top"), QString::number(placed.y()));
    }
}

// A 32-bit value is read whole: the unsigned range reads back as its two's complement.
TEST_F(SettingsTest, ThirtyTwoBitValuesAreAccepted) {
    Values values = changed();
    values["Left"] = "-20";
    values["Top"] = "2147483647";
    values["Graphics"] = "4294967295";
    store(values);
    QSettings file(config.file(), QSettings::IniFormat);
    EXPECT_EQ(morlen::ReadInteger(file, "Left"), -20);
    EXPECT_EQ(morlen::ReadInteger(file, "Top"), 2147483647);
    EXPECT_EQ(morlen::ReadInteger(file, "Graphics"), -1);
}

TEST_F(SettingsTest, GraphChoiceOutsideTheListSelectsNothing) {
    for (const char* graphics : {"4", "-1", "99", "4294967295"}) {
        SCOPED_TRACE(graphics);
        Values values = changed();
        values["Graphics"] = graphics;
        store(values);
        TForm1 form;
        EXPECT_EQ(form.ui->Graphics->currentIndex(), -1);
        EXPECT_TRUE(form.ui->Graphics->currentText().isEmpty());
        EXPECT_EQ(tagOf(form.ui->Graphics), -1);
        EXPECT_EQ(tagOf(form.ui->GroupBox26), -1);
    }
}

TEST_F(SettingsTest, ClosingWithoutAPollThreadClosesAtOnceAndWritesTheSix) {
    store(changed());
    QPointer<TForm1> form = new TForm1;
    form->show();
    // Every one of the six moves away from what is stored, so only the close can store it.
    form->move(340, 250);
    form->ui->SelfTestON1->setChecked(false);
    form->ui->AUTO1->setChecked(false);
    form->ui->HexCodeON->setChecked(false);
    form->ui->Graphics->setCurrentIndex(-1);
    const QPoint where = form->pos();
    ASSERT_NE(QString::number(where.x()), changed().at("Left"));
    ASSERT_NE(QString::number(where.y()), changed().at("Top"));
    EXPECT_EQ(stored(), changed()) << "nothing is written before the close";
    closeAndFree(form);
    const Values values = stored();
    EXPECT_EQ(values.size(), 6u);
    for (const char* name : kNames) {
        EXPECT_EQ(values.count(name), 1u) << name;
    }
    EXPECT_EQ(values.at("Left"), QString::number(where.x()));
    EXPECT_EQ(values.at("Top"), QString::number(where.y()));
    EXPECT_EQ(values.at("SelfTest"), QStringLiteral("0"));
    EXPECT_EQ(values.at("AUTOSU3Gen"), QStringLiteral("0"));
    EXPECT_EQ(values.at("HexCode"), QStringLiteral("0"));
    EXPECT_EQ(values.at("Graphics"), QStringLiteral("-1"));
}

// The settings are written by the close only, never while the window is open.
TEST_F(SettingsTest, ChangesAreNotWrittenBeforeTheClose) {
    store(changed());
    TForm1 form;
    form.ui->HexCodeON->setChecked(false);
    form.move(10, 10);
    EXPECT_EQ(stored(), changed());
}

// The end handler of the poll thread completes a pending close; without one it only notes
// that the thread has ended.
TEST_F(SettingsTest, EndOfPollThreadCompletesAPendingClose) {
    QPointer<TForm1> form = new TForm1;
    form->show();
    form->WorkerTerminated();
    EXPECT_EQ(form->workerEnded, 1);
    ASSERT_FALSE(form.isNull());
    EXPECT_TRUE(form->isVisible());

    form->ui->HexCodeON->setChecked(true);
    form->Tag = 1;
    form->workerEnded = 0;
    form->requestQueue->Push('2', '+');
    form->WorkerTerminated();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(stored().at("HexCode"), QStringLiteral("1"));
}

// A poll thread that ended by itself (lost connection) does not hold the close up.
TEST_F(SettingsTest, ClosingAfterThePollThreadEndedClosesAtOnce) {
    QPointer<TForm1> form = new TForm1;
    // Only compared with null by the close: a stand-in for a thread that has already ended.
    alignas(8) static char endedThread[8];
    form->worker = reinterpret_cast<morlen::APCDynamicData*>(endedThread);
    form->workerEnded = 1;
    closeAndFree(form);
    EXPECT_EQ(stored(), kDefaults);
}

}  // namespace
