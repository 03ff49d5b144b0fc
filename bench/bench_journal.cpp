// morlen-bench-journal: the service journal window on a journal of 100 000 entries.
//
// Fills a journal in a temporary folder (one transaction, the journal's own schema), opens
// the real journal window (offscreen) on it and times what a technician does: opening it,
// a search typed a key at a time, scrolling to the end a page at a time, choosing one unit,
// and the exports (every entry as CSV, one unit's service report as PDF). For each it gives
// the time until the result is shown and the longest time the window thread was held: a
// 1 ms timer on the window thread notes every gap between its ticks.

#include <sqlite3.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "AppLook.h"
#include "Journal.h"
#include "JournalWindow.h"

namespace {

using morlen::JournalWindow;
using morlen::journal::Journal;

// The longest the window thread went without running its timer.
class StallGauge {
public:
    StallGauge() {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start(1);
    }
    void reset() {
        last_ = clock_.nsecsElapsed();
        longest_ = 0;
    }
    double longestMs() const { return double(longest_) / 1e6; }

private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0, longest_ = 0;
};

// Runs the window thread until `done` holds; the time it took in ms, or -1 after a minute.
double RunUntil(const std::function<bool()>& done, const QElapsedTimer& since) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 600000)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return double(since.nsecsElapsed()) / 1e6;
}

void Pause(int ms) {
    QElapsedTimer t;
    t.start();
    QTimer wake;  // the wait for events ends at least this often
    wake.start(1);
    RunUntil([&] { return t.elapsed() >= ms; }, t);
}

bool Fill(const QString& path, int count, int units) {
    {
        Journal journal(path);  // the schema, as the program makes it
        journal.Record(morlen::journal::Entry{});
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO entries (at, kind, connection, port, model, serial, firmware,"
                       " what, before, after, outcome, reason, family)"
                       " VALUES (?1, ?2, ?3, '/dev/ttyUSB0', 'Smart-UPS 1000', ?4, '60.11.I',"
                       " ?5, ?6, ?7, ?8, ?9, 0)",
                       -1, &insert, nullptr);
    const char* whats[] = {"Up Voltage", "Low Voltage", "Alarm delay", "Self Test",
                           "Constant 0", "UPS ID",      "Read EEPROM", "Sensitivity"};
    const QByteArray ten =
        "Up Voltage=253\nLow Voltage=208\nOut Voltage=230\nSelf Test=336\nShut down delay=020\n"
        "Wake up delay=000\nSensitivity=H\nAlarm delay=0\nReturn threshold=00\n"
        "Low Battery Warning=02\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray at = QByteArray("2026-") + QByteArray::number(1 + i % 12) +
                              "-01T10:00:" + QByteArray::number(10 + i % 50) + "+01:00";
        const QByteArray serial = "AS" + QByteArray::number(100000 + i % units);
        const bool reset = i % 97 == 0;
        const QByteArray what = QByteArray(reset ? morlen::journal::kResetWhat : whats[i % 8]);
        const QByteArray before = reset ? ten : QByteArray::number(200 + i % 50);
        const QByteArray after = reset ? ten : QByteArray::number(201 + i % 50);
        const int outcome = i % 13 == 0 ? 1 : 0;
        sqlite3_bind_text(insert, 1, at.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, i % 40 == 0 ? 1 : 0);
        sqlite3_bind_text(insert, 3, at.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, serial.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 5, what.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 6, before.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 7, after.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 8, outcome);
        sqlite3_bind_text(insert, 9, outcome ? "Target not reached after 40 steps." : "", -1,
                          SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return false;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

struct Row {
    const char* what;
    double shownMs;
    double stallMs;
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"morlen-bench-journal: the journal window on a journal of 100 000 entries"};
    int count = 100000, units = 100;
    app.add_option("--entries", count, "entries in the journal")->check(CLI::PositiveNumber);
    app.add_option("--units", units, "units they belong to")->check(CLI::PositiveNumber);
    CLI11_PARSE(app, argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    morlen::applyApplicationLook();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    QElapsedTimer fill;
    fill.start();
    if (!Fill(path, count, units)) {
        std::fprintf(stderr, "could not fill %s\n", qPrintable(path));
        return 1;
    }
    std::printf("Filled %d entries of %d units in %.1f s\n", count, units,
                double(fill.elapsed()) / 1000.0);

    // The program's main window is up when the journal opens: Qt's one-time start-up (fonts,
    // style) is not the journal's.
    {
        QTableView warm;
        warm.show();
        Pause(50);
    }
    Journal journal(path);
    StallGauge gauge;
    std::vector<Row> rows;
    QElapsedTimer t;

    // Opening: the newest page shown, then the count.
    gauge.reset();
    t.start();
    auto* window = new JournalWindow(journal, QString(), [] { return QString(); });
    window->show();
    const double firstPage = RunUntil([&] { return !window->shown().isEmpty(); }, t);
    const double opened = RunUntil([&] { return !window->loading(); }, t);
    rows.push_back({"open: newest page shown", firstPage, gauge.longestMs()});
    rows.push_back({"open: all counted", opened, gauge.longestMs()});

    // A search typed a key at a time, 80 ms apart: one unit's serial number.
    auto* search = window->findChild<QLineEdit*>(QStringLiteral("JournalSearch"));
    const QString typed = QStringLiteral("as100042");
    gauge.reset();
    for (qsizetype n = 1; n <= typed.size(); ++n) {
        search->setText(typed.left(n));
        if (n < typed.size())
            Pause(80);
    }
    t.start();
    Pause(5);
    const double found = RunUntil(
        [&] {
            return !window->loading() && !window->shown().isEmpty() &&
                   window->shown().front().serialNumber == QLatin1String("AS100042");
        },
        t);
    rows.push_back({"search typed, results and count shown", found, gauge.longestMs()});
    search->clear();
    Pause(JournalWindow::kSearchDelayMs + 10);
    RunUntil([&] { return !window->loading(); }, t);

    // Scrolling to the end of what is read, 25 times: a page each.
    auto* table = window->findChild<QTableView*>(QStringLiteral("JournalEntries"));
    gauge.reset();
    t.start();
    for (int i = 0; i < 25; ++i) {
        table->scrollToBottom();
        RunUntil([&] { return !window->loading(); }, t);
    }
    rows.push_back({"25 pages scrolled", double(t.nsecsElapsed()) / 1e6, gauge.longestMs()});

    // One unit chosen.
    auto* unit = window->findChild<QComboBox*>(QStringLiteral("JournalUnit"));
    RunUntil([&] { return unit->count() > 1; }, t);
    gauge.reset();
    t.start();
    unit->setCurrentIndex(unit->findData(QStringLiteral("AS100042")));
    const double chosen = RunUntil([&] { return !window->loading(); }, t);
    rows.push_back({"one unit chosen", chosen, gauge.longestMs()});
    const qsizetype unitEntries = window->shown().size();

    // Its service report, then every entry as CSV.
    gauge.reset();
    t.start();
    window->exportTo(dir.filePath(QStringLiteral("unit.pdf")));
    const double pdf = RunUntil([&] { return !window->exporting(); }, t);
    rows.push_back({"PDF of one unit exported", pdf, gauge.longestMs()});
    unit->setCurrentIndex(unit->findData(QString()));
    RunUntil([&] { return !window->loading(); }, t);
    gauge.reset();
    t.start();
    window->exportTo(dir.filePath(QStringLiteral("all.csv")));
    const double csv = RunUntil([&] { return !window->exporting(); }, t);
    rows.push_back({"CSV of every entry exported", csv, gauge.longestMs()});

    // Closing: the window goes, its reading thread with it.
    gauge.reset();
    t.start();
    window->close();
    delete window;
    const double closed = double(t.nsecsElapsed()) / 1e6;
    rows.push_back({"window closed", closed, closed});

    std::printf("%d entries, %d units (%lld entries read for the unit chosen)\n", count, units,
                static_cast<long long>(unitEntries));
    std::printf("| | until shown | longest window-thread stall |\n|---|---|---|\n");
    for (const Row& r : rows)
        std::printf("| %s | %.0f ms | %.1f ms |\n", r.what, r.shownMs, r.stallMs);
    return 0;
}
