// morlen-bench-journal: the service journal window on a journal of 100 000 entries.
//
// Fills a journal in a temporary folder (one transaction, the journal's own schema), opens
// the real journal window (offscreen) on it and times what a technician does: opening it,
// a search typed a key at a time, scrolling to the end a page at a time, choosing one unit,
// and the exports (every entry as CSV, one unit's service report as PDF). For each it gives
// the time until the result is shown and the longest time the window thread was held: a
// 1 ms timer on the window thread notes every gap between its ticks.
//
// With --server <connection string> (an empty PostgreSQL database), the journal is shared on
// that server: it also times how long Record() waits with the server up and with an
// server that does not answer (--dead-server), fills the server's table with the same entries,
// times reading the newest page and the count from it, and runs the window on the server's entries.

#include <libpq-fe.h>
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
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

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

// The same entries as Fill, on the server, in one statement.
bool FillServer(const QString& connection, int count, int units) {
    Journal::Options options;
    options.server = connection;
    {
        Journal journal(QTemporaryDir().filePath(QStringLiteral("schema.sqlite")), options);
        journal.Flush();  // the table, as the program makes it
        if (journal.sharing() != Journal::Sharing::Shared)
            return false;
    }
    PGconn* server = PQconnectdb(connection.toUtf8().constData());
    const QByteArray sql =
        "INSERT INTO entries (at, kind, connection, port, model, serial, firmware, what, before,"
        " after, outcome, reason, family, origin, origin_id)"
        " SELECT t, CASE WHEN i % 40 = 0 THEN 1 ELSE 0 END, t, '/dev/ttyUSB0', 'Smart-UPS 1000',"
        " 'AS' || (100000 + i % $2), '60.11.I',"
        " CASE WHEN i % 97 = 0 THEN 'Reset all to default' ELSE (ARRAY['Up Voltage',"
        " 'Low Voltage', 'Alarm delay', 'Self Test', 'Constant 0', 'UPS ID', 'Read EEPROM',"
        " 'Sensitivity'])[i % 8 + 1] END, (200 + i % 50)::text, (201 + i % 50)::text,"
        " CASE WHEN i % 13 = 0 THEN 1 ELSE 0 END,"
        " CASE WHEN i % 13 = 0 THEN 'Target not reached after 40 steps.' ELSE '' END, 0,"
        " 'bench', i"
        " FROM (SELECT i, '2026-' || (1 + i % 12) || '-01T10:00:' || (10 + i % 50) || '+01:00'"
        " AS t FROM generate_series(0, $1 - 1) AS i) AS g";
    const QByteArray n = QByteArray::number(count), u = QByteArray::number(units);
    const char* values[] = {n.constData(), u.constData()};
    PGresult* result =
        PQexecParams(server, sql.constData(), 2, nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok)
        std::fprintf(stderr, "%s", PQerrorMessage(server));
    PQclear(result);
    PQfinish(server);
    return ok;
}

// How long each of `n` Record() calls took, the longest and the mean, in ms.
std::pair<double, double> TimeRecords(Journal& journal, int n) {
    double longest = 0, total = 0;
    for (int i = 0; i < n; ++i) {
        morlen::journal::Entry e;
        e.serialNumber = QStringLiteral("AS1");
        e.what = QStringLiteral("Up Voltage");
        const auto start = std::chrono::steady_clock::now();
        journal.Record(e);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        longest = std::max(longest, ms);
        total += ms;
    }
    return {longest, total / n};
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Record() and reads with a journal server.
bool ServerFigures(const QString& connection, const QString& deadServer, const QTemporaryDir& dir,
                   int count, int units) {
    constexpr int kRecords = 1000;
    {
        Journal journal(dir.filePath(QStringLiteral("alone.sqlite")));
        const auto [longest, mean] = TimeRecords(journal, kRecords);
        std::printf("No server: %d Record() calls, longest %.3f ms, mean %.3f ms\n", kRecords,
                    longest, mean);
    }
    {
        Journal::Options options;
        options.server = connection;
        Journal journal(dir.filePath(QStringLiteral("up.sqlite")), options);
        journal.Flush();
        const auto [longest, mean] = TimeRecords(journal, kRecords);
        const auto start = std::chrono::steady_clock::now();
        journal.Flush();
        std::printf(
            "Server up: %d Record() calls, longest %.3f ms, mean %.3f ms; all on the "
            "server %.0f ms after the last\n",
            kRecords, longest, mean, MsSince(start));
    }
    {
        // A server that does not answer: each try waits out the connect timeout.
        Journal::Options options;
        options.server = deadServer;
        options.connectTimeoutS = 2;
        auto start = std::chrono::steady_clock::now();
        auto journal =
            std::make_unique<Journal>(dir.filePath(QStringLiteral("down.sqlite")), options);
        const double opened = MsSince(start);
        const auto [longest, mean] = TimeRecords(*journal, kRecords);
        start = std::chrono::steady_clock::now();
        journal->Flush();
        const double flushed = MsSince(start);
        const int waiting = journal->waitingEntries();
        start = std::chrono::steady_clock::now();
        journal.reset();
        std::printf(
            "Server not answering: opened in %.1f ms; %d Record() calls, longest "
            "%.3f ms, mean %.3f ms; Flush() %.1f ms; %d entries kept locally; closed "
            "in %.0f ms\n",
            opened, kRecords, longest, mean, flushed, waiting, MsSince(start));
    }
    const auto fill = std::chrono::steady_clock::now();
    if (!FillServer(connection, count, units))
        return false;
    std::printf("Filled the server with %d entries in %.1f s\n", count, MsSince(fill) / 1000);
    Journal::Options options;
    options.server = connection;
    Journal journal(dir.filePath(QStringLiteral("reader.sqlite")), options);
    journal.Flush();
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        const qsizetype page =
            journal.Page(QString(), QString(), 0, JournalWindow::kPageSize).size();
        const double first = MsSince(start);
        start = std::chrono::steady_clock::now();
        const qsizetype unit =
            journal.Page(QStringLiteral("AS100042"), QString(), 0, JournalWindow::kPageSize).size();
        const double ofUnit = MsSince(start);
        start = std::chrono::steady_clock::now();
        const int all = journal.Count(QString(), QString());
        std::printf(
            "From the server: newest page (%lld) %.1f ms, a unit's newest page (%lld) "
            "%.1f ms, count (%d) %.1f ms\n",
            static_cast<long long>(page), first, static_cast<long long>(unit), ofUnit, all,
            MsSince(start));
    }
    return true;
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
    std::string server;
    app.add_option(
        "--server", server,
        "an empty PostgreSQL database (libpq connection string) to share the journal on");
    std::string deadServer = "host=10.255.255.1 dbname=morlen";
    app.add_option("--dead-server", deadServer,
                   "with --server: a server that does not answer, for Record()'s wait");
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
    const QString connection = QString::fromStdString(server);
    if (!connection.isEmpty() &&
        !ServerFigures(connection, QString::fromStdString(deadServer), dir, count, units)) {
        std::fprintf(stderr, "could not fill the server\n");
        return 1;
    }
    // With a server, the window reads the server's entries; its own file is new.
    Journal::Options options;
    options.server = connection;
    Journal journal(connection.isEmpty() ? path : dir.filePath(QStringLiteral("bench.sqlite")),
                    options);
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
