// Morlen ended from outside (kill, Ctrl+C, a logout) while connected to the simulated unit on
// a pseudo-terminal: the first signal closes it as its window would be closed, a second one
// during that close ends it at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Settings.h"
#include "SignalClose.h"
#include "TermiosPort.h"
#include "Unit1.h"
#include "UpsSimProcess.h"

namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool folderEmpty(const fs::path& folder) {
    return fs::is_empty(folder);
}

// The simulated unit on COM1 (with a trace of what it received), a private lock folder, and
// the window connected to the unit.
struct Connected {
    fs::path trace;
    fs::path locks;
    morlen::test::UpsSimProcess sim;
    TForm1* form = nullptr;

    explicit Connected(const fs::path& folder)
        : trace(folder / "trace"),
          locks(folder / "lock"),
          sim({"--profile", "su1000", "--latency", "10", "--no-drift", "--port", "COM1", "--trace",
               trace.string()}) {
        fs::create_directories(locks);
        morlen::TermiosPort::setLockDirectory(locks.string());
        form = new TForm1;
        form->errorBox = [](const QString& text, const QString&) {
            ADD_FAILURE() << text.toStdString();
        };
        morlen::CloseOnSignals(form);
        form->ui->ComboBox1->setCurrentIndex(0);
        form->ComboBox1Change();
    }
    ~Connected() { morlen::TermiosPort::setLockDirectory("/run/lock"); }
    bool connected() const { return form->statusText() == form->textConnected; }
};

// Each signal, also while a menu holds the input, closes Morlen within a second the way its
// close button does: the poll thread stops, the unit gets "R" as the last thing it hears, the
// port and its lock are released and the settings are written.
TEST(SignalClose, EachSignalClosesMorlenInOrderWithinASecond) {
    enum class Open { Nothing, OptionsMenu, ContextMenu };
    const struct {
        int signal;
        Open open;
        const char* what;
    } rows[] = {
        {SIGTERM, Open::Nothing, "SIGTERM"},
        {SIGINT, Open::Nothing, "SIGINT"},
        {SIGHUP, Open::Nothing, "SIGHUP"},
        {SIGTERM, Open::OptionsMenu, "SIGTERM, Options menu open"},
        {SIGTERM, Open::ContextMenu, "SIGTERM, context menu open"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        Connected c(dir.path().toStdString());
        ASSERT_TRUE(c.sim.started()) << c.sim.error();
        ASSERT_TRUE(c.connected()) << c.form->statusText().toStdString();
        ASSERT_FALSE(folderEmpty(c.locks)) << "the port's lock file while connected";
        c.form->ui->HexCodeON->setChecked(true);  // a setting that must reach the file
        c.form->show();
        QTest::qWait(300);  // a few passes of the poll thread
        if (row.open == Open::OptionsMenu) {
            c.form->ui->MainMenu1->setActiveAction(c.form->ui->Options->menuAction());
        } else if (row.open == Open::ContextMenu) {
            QWidget* field = c.form->ui->UPSMessage->viewport();
            QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5),
                                   field->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(field, &menu);
        }
        if (row.open != Open::Nothing) {
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget(); }, 2000))
                << "the menu opened";
        }
        ASSERT_EQ(fileText(c.trace).find("R -> "), std::string::npos);

        QPointer<TForm1> window(c.form);
        ASSERT_EQ(::kill(::getpid(), row.signal), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 1000))
            << "closed within a second";
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 20000));
        std::string trace;
        const auto bye = [&] { return (trace = fileText(c.trace)).find("R -> \"BYE"); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return bye() != std::string::npos; }, 2000)) << trace;
        // "R" is the last line: the poll thread had stopped before it.
        EXPECT_EQ(trace.find('\n', bye()) + 1, trace.size()) << trace;
        EXPECT_TRUE(folderEmpty(c.locks)) << "lock file released";
        const QSettings written(morlen::settingsFilePath(), QSettings::IniFormat);
        EXPECT_EQ(written.value("HexCode").toInt(), 1);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }
}

// A signal during a runtime calibration closes Morlen as its window's close does: the
// calibration is aborted ("D" again), the abort read back from "Q", and only then "R".
TEST(SignalClose, DuringACalibrationTheAbortGoesOutBeforeR) {
    QTemporaryDir dir;
    Connected c(dir.path().toStdString());
    ASSERT_TRUE(c.sim.started()) << c.sim.error();
    ASSERT_TRUE(c.connected()) << c.form->statusText().toStdString();
    c.sim.command("load 45");
    c.form->questionBox = [](const QString&) { return true; };
    c.form->show();
    c.form->ui->PageControl1->setCurrentWidget(c.form->ui->TabSheet10);
    QTest::qWait(300);
    c.form->ui->Calibrate->click();
    const auto count = [&](const std::string& what) {
        const std::string trace = fileText(c.trace);
        std::size_t n = 0;
        for (std::size_t at = trace.find(what); at != std::string::npos;
             at = trace.find(what, at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return count(" D -> ") == 1; }, 10000)) << fileText(c.trace);
    QTest::qWait(1500);  // the start read back from "Q"
    QPointer<TForm1> window(c.form);
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 20000));
    std::string trace;
    const auto bye = [&] { return (trace = fileText(c.trace)).find("R -> \"BYE"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return bye() != std::string::npos; }, 2000)) << trace;
    EXPECT_EQ(count(" D -> "), 2u) << trace;
    const std::size_t abort = trace.rfind(" D -> ");
    EXPECT_NE(trace.find(" Q -> ", abort), std::string::npos) << trace;
    EXPECT_LT(abort, bye()) << trace;
}

// A signal while the calibration's questions stand open: the close waits for the answer, and a
// Yes then starts nothing, so nothing needs aborting. Nothing but the passes reaches the unit.
TEST(SignalClose, DuringTheCalibrationQuestionsNothingIsSent) {
    QTemporaryDir dir;
    Connected c(dir.path().toStdString());
    ASSERT_TRUE(c.sim.started()) << c.sim.error();
    ASSERT_TRUE(c.connected()) << c.form->statusText().toStdString();
    c.sim.command("load 45");
    QPointer<TForm1> window(c.form);
    int asked = 0;
    c.form->questionBox = [&](const QString&) {
        if (++asked == 1) {
            ::kill(::getpid(), SIGTERM);
            // The signal's close is pending while the poll thread waits on this answer.
            EXPECT_TRUE(QTest::qWaitFor([&] { return window->Tag == 1; }, 5000));
        }
        return true;
    };
    c.form->show();
    c.form->ui->PageControl1->setCurrentWidget(c.form->ui->TabSheet10);
    QTest::qWait(300);
    c.form->ui->Calibrate->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 20000));
    std::string trace;
    const auto bye = [&] { return (trace = fileText(c.trace)).find("R -> \"BYE"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return bye() != std::string::npos; }, 2000)) << trace;
    EXPECT_EQ(asked, 1) << "the second question is not asked once Morlen closes";
    EXPECT_EQ(trace.find(" D -> "), std::string::npos) << trace;
}

// In a child process: a second signal while the first one's close waits for the poll thread.
void SecondSignalDuringTheClose(const fs::path& folder) {
    Connected c(folder);
    if (!c.connected())
        std::_Exit(3);
    QPointer<TForm1> window(c.form);
    ::kill(::getpid(), SIGTERM);
    // The close is pending (Tag 1) until the poll thread has ended its pass.
    if (!QTest::qWaitFor([&] { return !window.isNull() && window->Tag == 1; }, 5000))
        std::_Exit(4);
    ::kill(::getpid(), SIGTERM);
    QTest::qWait(5000);
    std::_Exit(0);
}

TEST(SignalCloseDeathTest, ASecondSignalDuringTheCloseEndsMorlenAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test from its start again: it finds the parent's folder here.
    QTemporaryDir dir;
    if (!qEnvironmentVariableIsSet("MORLEN_SIGNAL_TEST_FOLDER"))
        qputenv("MORLEN_SIGNAL_TEST_FOLDER", dir.path().toLocal8Bit());
    const fs::path folder = qEnvironmentVariable("MORLEN_SIGNAL_TEST_FOLDER").toStdString();
    EXPECT_EXIT(SecondSignalDuringTheClose(folder), ::testing::KilledBySignal(SIGTERM), "");
    qunsetenv("MORLEN_SIGNAL_TEST_FOLDER");
    // It had connected, and ended before the close could tell the unit anything: no "R", and
    // the lock file is still there.
    const std::string trace = fileText(folder / "trace");
    EXPECT_NE(trace.find("Y -> \"SM"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("R -> "), std::string::npos) << trace;
    EXPECT_FALSE(folderEmpty(folder / "lock"));
}

}  // namespace
