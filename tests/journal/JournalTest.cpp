// The journal's store on a real file, and shared on a real PostgreSQL server of the tests' own:
// what survives a kill, a full disk, a damaged file and a server that goes away, and the
// queries and texts the journal window and the restore read.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "Journal.h"
#include "PgServer.h"

// Texts in failure messages as text.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace morlen::journal {
namespace {

Entry Change(const QString& serial, const QString& what, const QString& before,
             const QString& after, Outcome outcome = Outcome::Confirmed) {
    Entry e;
    e.model = QStringLiteral("Smart-UPS 1000");
    e.family = 0;
    e.serialNumber = serial;
    e.what = what;
    e.before = before;
    e.after = after;
    e.outcome = outcome;
    return e;
}

QStringList Whats(const QList<Entry>& entries) {
    QStringList whats;
    for (const Entry& e : entries)
        whats.append(e.what);
    return whats;
}

// Rows counted by SQLite itself, from outside the journal; -1 when the file is no database.
int RowsOnDisk(const QString& path) {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM entries", -1, &count, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW)
            rows = sqlite3_column_int(count, 0);
        sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return rows;
}

// Where a journal keeps its entries: its file alone, or its file and a server.
enum class Backend { File, Server };

// The store's tests, each run on the file and on the server. Every test on the server has a
// database of its own.
class JournalOn : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Server) {
            PgServer& server = PgServer::Shared();
            ASSERT_TRUE(server.error().isEmpty()) << server.error().toStdString();
            database_ = server.newDatabase();
            ASSERT_FALSE(database_.isEmpty()) << server.error().toStdString();
        }
    }
    Journal::Options options() const {
        Journal::Options o;
        o.server = database_;
        return o;
    }
    // Once the journal has read, it read the server while that is the place.
    void ExpectReadFromTheRightPlace(const Journal& journal) const {
        EXPECT_EQ(journal.sharing(), GetParam() == Backend::Server ? Journal::Sharing::Shared
                                                                   : Journal::Sharing::LocalOnly);
    }
    QString database_;
};

INSTANTIATE_TEST_SUITE_P(, JournalOn, ::testing::Values(Backend::File, Backend::Server),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::File ? "File" : "Server";
                         });

TEST_P(JournalOn, KillDuringWritesLosesAtMostTheQueueAndTheEntryBeingWritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    // How many Record() calls the child has seen return: each such entry is the journal's.
    auto* recorded = static_cast<std::atomic<int>*>(::mmap(nullptr, sizeof(std::atomic<int>),
                                                           PROT_READ | PROT_WRITE,
                                                           MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(recorded, MAP_FAILED);
    new (recorded) std::atomic<int>(0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Records as fast as it can until it is killed, in the middle of some write (and, with
        // a server, of some sending: between its commit there and its mark here, too).
        Journal journal(path, options());
        for (int i = 0;; ++i) {
            journal.Record(Change(QStringLiteral("S1"), QString::number(i), QString(), QString()));
            recorded->store(i + 1);
        }
    }
    // Kill it once it has committed a good number of entries.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int seenBeforeKill = 0;
    while (seenBeforeKill < 200 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        seenBeforeKill = std::max(seenBeforeKill, RowsOnDisk(path));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(seenBeforeKill, 200);
    const int returned = recorded->load();
    ::munmap(recorded, sizeof(std::atomic<int>));

    // Everything committed before the kill is there, whole and in order, on the server once
    // each; of the entries whose Record() had returned, at most the queue and the one being
    // written are missing.
    Journal journal(path, options());
    const QList<Entry> entries = journal.Entries();
    ASSERT_GE(entries.size(), seenBeforeKill);
    EXPECT_GE(entries.size(), returned - (Journal::kQueueBound + 1)) << returned;
    for (qsizetype i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].what, QString::number(entries.size() - 1 - i)) << i;
    EXPECT_TRUE(journal.setAsidePath().isEmpty());
    EXPECT_TRUE(journal.failure().isEmpty());
    ExpectReadFromTheRightPlace(journal);
    EXPECT_EQ(journal.waitingEntries(), 0);
}

// Another program holds the database's write lock for a while, twice: each failure is told
// when it begins and once only, and writing again is told when it comes.
TEST(JournalStore, AFailureIsToldWhenItBeginsAndWhenWritingWorksAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    QStringList told;
    std::mutex toldMutex;
    Journal::Options options;
    options.busyTimeoutMs = 50;
    options.onFailure = [&](const QString& why) {
        std::lock_guard lock(toldMutex);
        told.append(QStringLiteral("failed: ") + why.section(QStringLiteral(": "), -1));
    };
    options.onWrittenAgain = [&] {
        std::lock_guard lock(toldMutex);
        told.append(QStringLiteral("written again"));
    };
    Journal journal(path, options);
    sqlite3* other = nullptr;
    journal.Record(Change(QStringLiteral("S1"), QStringLiteral("first"), {}, {}));
    journal.Flush();
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    const struct {
        const char* name;
        const char* sql;  // what the other program does first
        int entries;
        bool written;
        QStringList told;  // since the phase before
    } phases[] = {
        {"locked", "BEGIN EXCLUSIVE", 5, false, {"failed: database is locked"}},
        {"released", "COMMIT", 3, true, {"written again"}},
        {"locked again", "BEGIN EXCLUSIVE", 4, false, {"failed: database is locked"}},
        {"released again", "COMMIT", 2, true, {"written again"}},
        {"still writable", "SELECT 1", 2, true, {}},
    };
    int lost = 0;
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        ASSERT_EQ(sqlite3_exec(other, phase.sql, nullptr, nullptr, nullptr), SQLITE_OK);
        const qsizetype before = RowsOnDisk(path);
        for (int i = 0; i < phase.entries; ++i)
            journal.Record(Change(QStringLiteral("S1"), QString::fromLatin1(phase.name), {}, {}));
        journal.Flush();
        {
            std::lock_guard lock(toldMutex);
            EXPECT_EQ(told, phase.told);
            told.clear();
        }
        if (!phase.written)
            lost += phase.entries;
        EXPECT_EQ(journal.lostEntries(), lost);
        EXPECT_EQ(journal.failure().isEmpty(), phase.written);
        if (phase.written) {
            EXPECT_EQ(RowsOnDisk(path), before + phase.entries);
        }
    }
    sqlite3_close(other);
}

// A journal that cannot be written: it says why once, never blocks the caller for long, and a
// damaged file is set aside whole.
TEST(JournalStore, FailuresAreToldOnceAndNeverStopTheCaller) {
    struct Case {
        const char* name;
        std::function<void(const QString& path)> prepare;
        int maxPageCount;
        bool writable;          // entries still get written
        bool setAside;          // a damaged file was renamed, its bytes kept
        const char* log = "";   // the suffix of a log the damaged file had beside it
        bool logAside = false;  // it went aside with the file (else SQLite took it in)
    };
    const QByteArray garbage(4096, 'x');
    // A journal with a damaged page.
    const auto damagePage = [](const QString& path) {
        {
            Journal j(path);
            for (int i = 0; i < 40; ++i)
                j.Record(Change(QStringLiteral("S1"), QString(1000, QLatin1Char('a')), QString(),
                                QString()));
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(3 * 4096 + 100);
        f.write(QByteArray(2000, '\xff'));
    };
    // The same, written to once more and left as a crash leaves it: that last write only in
    // the log, under `suffix` beside the file.
    QByteArray logBytes;
    const auto damageWithLog = [&](const QString& path, const char* suffix) {
        damagePage(path);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        EXPECT_EQ(sqlite3_exec(db,
                               "PRAGMA wal_autocheckpoint = 0; CREATE TABLE later (x);"
                               " INSERT INTO later VALUES (1)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        QFile log(path + QStringLiteral("-wal"));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        logBytes = log.readAll();
        log.close();
        ASSERT_FALSE(logBytes.isEmpty());
        ASSERT_TRUE(log.rename(path + QLatin1String(suffix)) || QLatin1String(suffix) == "-wal");
    };
    const Case cases[] = {
        {"garbage file",
         [&](const QString& path) {
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(garbage);
         },
         0, true, true},
        {"database with a damaged page", damagePage, 0, true, true},
        // A damaged file with its log beside it. A write-ahead log goes aside with its file,
        // the file as it was; SQLite itself takes in a rollback journal when it first reads the
        // file (rolls it back, or drops one that is none), before the check. Neither is left
        // for the new journal.
        {"damaged file with a write-ahead log",
         [&](const QString& path) { damageWithLog(path, "-wal"); }, 0, true, true, "-wal", true},
        {"damaged file with a rollback journal",
         [&](const QString& path) { damageWithLog(path, "-journal"); }, 0, true, true, "-journal",
         false},
        // The disk full: a size limit of a few pages, reached after some entries.
        {"full disk", nullptr, 6, false, false},
        // The folder cannot be made: a file stands where it should be.
        {"unwritable folder",
         [](const QString& path) {
             QFile f(QFileInfo(path).absolutePath());
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
         },
         0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data/journal.sqlite"));
        QDir().mkpath(dir.filePath(QStringLiteral("data")));
        if (QString(c.name) == QLatin1String("unwritable folder"))
            QDir(dir.filePath(QStringLiteral("data"))).removeRecursively();
        if (c.prepare)
            c.prepare(path);
        QFile before(path);
        const QByteArray damagedBytes = before.open(QIODevice::ReadOnly) ? before.readAll() : "";
        before.close();

        std::atomic<int> told{0};
        QString why;
        Journal::Options options;
        options.onFailure = [&](const QString& text) {
            why = text;
            ++told;
        };
        options.maxPageCount = c.maxPageCount;
        Journal journal(path, options);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 60; ++i) {
            journal.Record(Change(QStringLiteral("S1"), QString(300, QLatin1Char('b')), QString(),
                                  QString::number(i)));
            // Recording only queues while there is room: far quicker than a write each.
            if (i == Journal::kQueueBound - 1) {
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
            }
        }
        journal.Flush();

        const QList<Entry> entries = journal.Entries();
        if (c.writable) {
            EXPECT_EQ(told.load(), 0) << why.toStdString();
            EXPECT_EQ(entries.size(), 60);
        } else {
            EXPECT_EQ(told.load(), 1);
            EXPECT_FALSE(why.isEmpty());
            EXPECT_EQ(journal.failure(), why);
            EXPECT_LT(entries.size(), 60);
            // The full disk is met midway: the entries before it stay.
            if (c.maxPageCount > 0) {
                EXPECT_GT(entries.size(), 0);
            }
        }
        if (c.setAside) {
            ASSERT_FALSE(journal.setAsidePath().isEmpty());
            QFile aside(journal.setAsidePath());
            ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
            EXPECT_EQ(aside.readAll(), damagedBytes);
            if (*c.log != '\0') {
                QFile log(journal.setAsidePath() + QLatin1String(c.log));
                if (c.logAside) {
                    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << "the log went aside";
                    EXPECT_EQ(log.readAll(), logBytes);
                } else {
                    EXPECT_FALSE(log.exists());
                    EXPECT_FALSE(QFile::exists(path + QLatin1String(c.log)));
                }
            }
        } else {
            EXPECT_TRUE(journal.setAsidePath().isEmpty());
        }
    }
}

// Two journals write one file at once, as two Morlens do (two benches on one home folder, or
// two ports on one machine): in two processes or in two threads, on a healthy file or on a
// damaged one that both find at their start. Every entry is there once, in each writer's
// order, and only the damaged file was set aside.
TEST_P(JournalOn, TwoWritersOnOneFileLoseNothingAndDoubleNothing) {
    constexpr int kEach = 150;
    const auto write = [this](const QString& path, const QString& who) {
        Journal journal(path, options());
        for (int i = 0; i < kEach; ++i)
            journal.Record(Change(who, QString::number(i), {}, {}));
        journal.Flush();
        return journal.failure().isEmpty() && journal.lostEntries() == 0;
    };
    const struct {
        const char* name;
        bool processes;
        bool damaged;
    } cases[] = {
        {"two threads", false, false},
        {"two processes", true, false},
        {"two threads, damaged file", false, true},
        {"two processes, damaged file", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A race: several rounds, each on a file of its own.
        for (int round = 0; round < 3; ++round) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
            if (c.damaged) {
                QFile f(path);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(QByteArray(8192, 'x'));
            }
            // Each writer's name, of this case and round alone: one server holds them all.
            const auto who = [&](int w) {
                return QStringLiteral("W%1 %2 %3").arg(w).arg(QLatin1String(c.name)).arg(round);
            };
            bool ok[2] = {false, false};
            if (c.processes) {
                pid_t children[2];
                for (int w = 0; w < 2; ++w) {
                    children[w] = fork();
                    ASSERT_GE(children[w], 0);
                    if (children[w] == 0)
                        _exit(write(path, who(w)) ? 0 : 1);
                }
                for (int w = 0; w < 2; ++w) {
                    int status = 0;
                    ::waitpid(children[w], &status, 0);
                    ok[w] = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                }
            } else {
                std::thread other([&] { ok[1] = write(path, who(1)); });
                ok[0] = write(path, who(0));
                other.join();
            }
            EXPECT_TRUE(ok[0] && ok[1]) << "round " << round;
            Journal journal(path, options());
            for (const QString& writer : {who(0), who(1)}) {
                QStringList whats = Whats(journal.Entries(writer));
                std::reverse(whats.begin(), whats.end());
                QStringList expected;
                for (int i = 0; i < kEach; ++i)
                    expected.append(QString::number(i));
                EXPECT_EQ(whats, expected) << writer.toStdString();
            }
            ExpectReadFromTheRightPlace(journal);
            const QStringList aside =
                QDir(dir.path()).entryList({QStringLiteral("journal.sqlite.damaged-*")});
            QStringList files;
            for (const QString& name : aside)
                if (!name.endsWith(QLatin1String("-wal")) && !name.endsWith(QLatin1String("-shm")))
                    files.append(name);
            EXPECT_EQ(files.size(), c.damaged ? 1 : 0) << "round " << round;
        }
    }
}

TEST_P(JournalOn, QueriesNewestFirstByUnitAndSearch) {
    QTemporaryDir dir;
    Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options());
    const QString reset1 = FormatValues({{QStringLiteral("Up Voltage"), QStringLiteral("253")}});
    const QString reset2 = FormatValues({{QStringLiteral("Up Voltage"), QStringLiteral("264")}});
    journal.Record(Change(QStringLiteral("AS1"), QString::fromLatin1(kResetWhat), reset1, {}));
    journal.Record(Change(QStringLiteral("AS2"), QStringLiteral("Up Voltage"), "253", "264"));
    journal.Record(Change(QStringLiteral("AS1"), QString::fromLatin1(kResetWhat), reset2, {}));
    journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("Constant 0"), "41", "43",
                          Outcome::NotReached));
    journal.Record(Change(QStringLiteral("AS2"), QString::fromLatin1(kResetWhat), reset1, {}));

    struct Case {
        QString serial, search;
        QStringList whats;
    };
    const QString reset = QString::fromLatin1(kResetWhat);
    const Case cases[] = {
        {{}, {}, {reset, "Constant 0", reset, "Up Voltage", reset}},
        {"AS1", {}, {"Constant 0", reset, reset}},
        {"AS2", {}, {reset, "Up Voltage"}},
        {"AS3", {}, {}},
        // The outcome's name, any case; a value inside a reset's ten.
        {{}, "not REACHED", {"Constant 0"}},
        {"AS1", "264", {reset}},
        {"AS2", "264", {"Up Voltage"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.serial + "/" + c.search).toStdString());
        EXPECT_EQ(Whats(journal.Entries(c.serial, c.search)), c.whats);
    }
    // The newest reset of each unit, with its values before.
    const QString model = QStringLiteral("Smart-UPS 1000");
    ASSERT_TRUE(journal.LastReset(0, model, QStringLiteral("AS1")).has_value());
    EXPECT_EQ(journal.LastReset(0, model, QStringLiteral("AS1"))->before, reset2);
    EXPECT_EQ(journal.LastReset(0, model, QStringLiteral("AS2"))->before, reset1);
    EXPECT_FALSE(journal.LastReset(0, model, QStringLiteral("AS3")).has_value());
    EXPECT_EQ(journal.SerialNumbers(), (QStringList{"AS1", "AS2"}));

    // A page at a time, as the window scrolls: each page goes on below the last one's oldest.
    const struct {
        QString serial, search;
        int limit;
        QList<QStringList> pages;
        int count;
    } paged[] = {
        {{}, {}, 2, {{reset, "Constant 0"}, {reset, "Up Voltage"}, {reset}}, 5},
        {"AS1", {}, 2, {{"Constant 0", reset}, {reset}}, 3},
        {{}, "253", 1, {{reset}, {"Up Voltage"}, {reset}}, 3},
        {"AS2", "nothing like it", 3, {{}}, 0},
    };
    for (const auto& p : paged) {
        SCOPED_TRACE((p.serial + "/" + p.search).toStdString());
        QList<QStringList> pages;
        qint64 before = 0;
        for (int i = 0; i < 5; ++i) {
            const QList<Entry> page = journal.Page(p.serial, p.search, before, p.limit);
            pages.append(Whats(page));
            if (page.size() < p.limit)
                break;
            before = page.back().id;
        }
        if (pages.size() > 1 && pages.back().isEmpty())
            pages.removeLast();
        EXPECT_EQ(pages, p.pages);
        EXPECT_EQ(journal.Count(p.serial, p.search), p.count);
    }
    ExpectReadFromTheRightPlace(journal);
}

// The values before a unit's last reset: only of that unit, known by family, model and serial
// number; never of a unit without a serial number of its own; not of a reset that changed
// nothing (the second of two).
TEST_P(JournalOn, TheLastResetIsThatUnitsOwnAndOneThatChangedSomething) {
    QTemporaryDir dir;
    Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options());
    const struct {
        int family;
        const char *model, *serial, *before, *after;
    } resets[] = {
        {0, "SU1000", "AS1", "264", "253"}, {0, "SU1000", "AS1", "253", "253 "},
        {0, "SU1000", "AS2", "257", "253"}, {0, "SU700", "AS2", "261", "253"},
        {2, "SU1000", "AS2", "265", "253"}, {0, "SU1000", "NA", "271", "253"},
        {0, "SU1000", "", "271", "253"},    {0, "SU1000", "  ", "271", "253"},
    };
    const auto values = [](const char* v) { return FormatValues({{"Up Voltage", v}}); };
    for (const auto& r : resets) {
        Entry e =
            Change(r.serial, QString::fromLatin1(kResetWhat), values(r.before), values(r.after));
        e.family = r.family;
        e.model = r.model;
        journal.Record(e);
    }
    // Each unit asked for, and the value before its reset ("" for none found).
    const struct {
        int family;
        const char *model, *serial, *before;
    } asked[] = {
        {0, "SU1000", "AS1", "264"}, {0, "SU1000", "AS2", "257"}, {0, "SU700", "AS2", "261"},
        {2, "SU1000", "AS2", "265"}, {4, "SU1000", "AS2", ""},    {0, "SU1400", "AS2", ""},
        {0, "SU1000", "NA", ""},     {0, "SU1000", "", ""},       {0, "SU1000", "  ", ""},
    };
    for (const auto& a : asked) {
        SCOPED_TRACE(std::to_string(a.family) + " " + a.model + " [" + a.serial + "]");
        const auto found = journal.LastReset(a.family, a.model, a.serial);
        EXPECT_EQ(found ? found->before : QString(), *a.before ? values(a.before) : QString());
    }
    ExpectReadFromTheRightPlace(journal);
}

// Whether `done` comes true within a generous while, looking every few milliseconds.
bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The entries' `what` on the server in the order it took them, asked from outside the journal.
QStringList WhatsOnServer(const QString& database) {
    QStringList whats;
    for (const QStringList& row :
         Query(database, QStringLiteral("SELECT what FROM entries ORDER BY id")))
        whats.append(row.join(QLatin1Char(' ')));
    return whats;
}

QStringList Numbers(int from, int to) {
    QStringList numbers;
    for (int i = from; i < to; ++i)
        numbers.append(QString::number(i));
    return numbers;
}

// What a journal told the status bar, in order.
struct Told {
    std::mutex mutex;
    QStringList texts;
    void Listen(Journal::Options& options) {
        options.onSharing = [this](const QString& text) {
            std::lock_guard lock(mutex);
            texts.append(text);
        };
    }
    QStringList Texts() {
        std::lock_guard lock(mutex);
        return texts;
    }
};

QString NewServerDatabase(PgServer& server) {
    EXPECT_TRUE(server.error().isEmpty()) << server.error().toStdString();
    const QString database = server.error().isEmpty() ? server.newDatabase() : QString();
    EXPECT_FALSE(database.isEmpty()) << server.error().toStdString();
    return database;
}

// A journal on `database` that tries again soon, telling `told`.
Journal::Options QuickRetries(const QString& database, Told& told) {
    Journal::Options options;
    options.server = database;
    options.retryPauseMs = 50;
    told.Listen(options);
    return options;
}

// Two benches, each with a file of its own, one server: each reads the other's entries, the
// reset to undo of a unit served on the other bench included; each file keeps its own.
TEST(SharedJournal, TwoBenchesSeeEachOthersEntries) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    Told toldA, toldB;
    Journal::Options optionsA, optionsB;
    optionsA.server = optionsB.server = database;
    toldA.Listen(optionsA);
    toldB.Listen(optionsB);
    const QString pathA = dir.filePath(QStringLiteral("a.sqlite"));
    const QString pathB = dir.filePath(QStringLiteral("b.sqlite"));
    Journal a(pathA, optionsA), b(pathB, optionsB);
    const QString reset = QString::fromLatin1(kResetWhat);
    const auto values = [](const char* v) { return FormatValues({{"Up Voltage", v}}); };
    a.Record(Change(QStringLiteral("AS1"), reset, values("264"), values("253")));
    a.Flush();
    b.Record(Change(QStringLiteral("AS2"), QStringLiteral("Up Voltage"), "253", "264"));
    b.Flush();
    a.Record(Change(QStringLiteral("AS1"), QStringLiteral("Constant 0"), "41", "43"));
    a.Flush();
    for (Journal* journal : {&a, &b}) {
        SCOPED_TRACE(journal->path().toStdString());
        EXPECT_EQ(Whats(journal->Entries()), (QStringList{"Constant 0", "Up Voltage", reset}));
        EXPECT_EQ(journal->SerialNumbers(), (QStringList{"AS1", "AS2"}));
        EXPECT_EQ(journal->Count(QStringLiteral("AS1"), {}), 2);
        const auto undo = journal->LastReset(0, QStringLiteral("Smart-UPS 1000"), "AS1");
        ASSERT_TRUE(undo.has_value());
        EXPECT_EQ(undo->before, values("264"));
        EXPECT_EQ(journal->sharing(), Journal::Sharing::Shared);
    }
    EXPECT_EQ(RowsOnDisk(pathA), 2);
    EXPECT_EQ(RowsOnDisk(pathB), 1);
    // Told once each, naming the server and no more of the connection string.
    for (Told* told : {&toldA, &toldB}) {
        const QStringList texts = told->Texts();
        ASSERT_EQ(texts.size(), 1) << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(texts.front().startsWith(QStringLiteral("Service journal shared on ")));
        EXPECT_TRUE(texts.front().endsWith(QLatin1Char('/') +
                                           database.section(QStringLiteral("dbname="), 1)))
            << texts.front().toStdString();
        EXPECT_FALSE(texts.front().contains(QStringLiteral("user=")));
    }
}

// The server stops mid-session and starts again: what is recorded meanwhile waits in the file,
// read there, counted on the status bar, and goes to the server in order when it is back, none
// lost, none twice.
TEST(SharedJournal, EntriesRecordedWhileTheServerIsDownAreSentInOrderWhenItIsBack) {
    PgServer server;  // of this test alone: it is stopped
    const QString database = NewServerDatabase(server);
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    Told told;
    Journal::Options options;
    options.server = database;
    options.retryPauseMs = 50;
    told.Listen(options);
    Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options);
    const auto record = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            journal.Record(Change(QStringLiteral("AS1"), QString::number(i), {}, {}));
        journal.Flush();
    };
    record(0, 3);
    EXPECT_EQ(journal.sharing(), Journal::Sharing::Shared);
    EXPECT_EQ(WhatsOnServer(database), Numbers(0, 3));

    ASSERT_TRUE(server.stop()) << server.error().toStdString();
    const auto start = std::chrono::steady_clock::now();
    record(3, 8);
    // Neither recording nor flushing waits for a server that is not there.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_TRUE(Eventually([&] {
        return journal.sharing() == Journal::Sharing::Unreachable && journal.waitingEntries() == 5;
    })) << int(journal.sharing())
        << " " << journal.waitingEntries();
    // Read from the file meanwhile: everything this bench wrote, newest first.
    QStringList newestFirst = Numbers(0, 8);
    std::reverse(newestFirst.begin(), newestFirst.end());
    EXPECT_EQ(Whats(journal.Entries(QStringLiteral("AS1"))), newestFirst);
    EXPECT_EQ(journal.Count({}, {}), 8);
    EXPECT_TRUE(Eventually([&] {
        return told.Texts().contains(
            QStringLiteral(
                "Journal server %1 cannot be reached: 5 entries kept here, sent when it can")
                .arg(Journal::ServerName(database)));
    })) << told.Texts().join(QLatin1Char('|')).toStdString();

    ASSERT_TRUE(server.start()) << server.error().toStdString();
    record(8, 10);
    ASSERT_TRUE(Eventually([&] {
        return journal.sharing() == Journal::Sharing::Shared && journal.waitingEntries() == 0;
    })) << int(journal.sharing())
        << " " << journal.waitingEntries();
    journal.Flush();
    EXPECT_EQ(WhatsOnServer(database), Numbers(0, 10));
    EXPECT_EQ(told.Texts().back(),
              QStringLiteral("Service journal shared on ") + Journal::ServerName(database));
}

// A server host that takes the connection and never answers (a hung server, a half-dead
// network): recording never waits for it, the first read waits out the connect timeout once,
// and the entries are kept in the file.
TEST(SharedJournal, AServerThatNeverAnswersHoldsNoCallerBeyondTheConnectTimeout) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);  // connections wait in the backlog, never answered
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    QTemporaryDir dir;
    Journal::Options options;
    options.server =
        QStringLiteral("host=127.0.0.1 port=%1 dbname=none").arg(ntohs(address.sin_port));
    options.connectTimeoutS = 2;
    const auto since = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::steady_clock::now() - start;
    };
    auto start = std::chrono::steady_clock::now();
    {
        Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options);
        for (int i = 0; i < 20; ++i)
            journal.Record(Change(QStringLiteral("AS1"), QString::number(i), {}, {}));
        EXPECT_LT(since(start), std::chrono::milliseconds(1500));
        EXPECT_EQ(journal.sharing(), Journal::Sharing::Connecting);
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(journal.Count({}, {}), 20);
        EXPECT_GT(since(start), std::chrono::milliseconds(500));
        EXPECT_LT(since(start), std::chrono::seconds(4));
        EXPECT_EQ(journal.sharing(), Journal::Sharing::Unreachable);
        EXPECT_EQ(journal.waitingEntries(), 20);
        // Out of reach now: reads no longer wait.
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(Whats(journal.Entries()).first(), QStringLiteral("19"));
        EXPECT_LT(since(start), std::chrono::milliseconds(500));
        start = std::chrono::steady_clock::now();
    }
    // Closing waits at most for a try under way.
    EXPECT_LT(since(start), std::chrono::seconds(4));
    ::close(listener);
}

// A kill between the server's commit of an entry and its mark in the file: the entry is sent
// again by the next journal on that file, and the server keeps one copy.
TEST(SharedJournal, AnEntryWhoseAcknowledgementWasLostIsNotDoubled) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    Journal::Options options;
    options.server = database;
    {
        Journal journal(path, options);
        for (int i = 0; i < 4; ++i)
            journal.Record(Change(QStringLiteral("AS1"), QString::number(i), {}, {}));
    }
    ASSERT_EQ(WhatsOnServer(database), Numbers(0, 4));
    // The file as such a kill leaves it: the server has them all, the file says none went.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    EXPECT_EQ(
        sqlite3_exec(db, "INSERT INTO outbox SELECT id FROM entries", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    {
        Journal journal(path, options);
        journal.Flush();
        EXPECT_EQ(journal.waitingEntries(), 0);
        journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("4"), {}, {}));
    }
    EXPECT_EQ(WhatsOnServer(database), Numbers(0, 5));
}

// A file copied to a second bench (or put back from a backup) shares its keys with the first:
// the server holds another entry under a key the copy sends. The copy takes a new name and
// sends again; nothing is swallowed, nothing doubled.
TEST(SharedJournal, ACopiedFileLosesNoneOfItsNewEntries) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("a.sqlite"));
    const QString copy = dir.filePath(QStringLiteral("b.sqlite"));
    Told told;
    const Journal::Options options = QuickRetries(database, told);
    {
        Journal journal(first, options);
        journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("a0"), {}, {}));
    }
    ASSERT_TRUE(QFile::copy(first, copy));
    {
        Journal journal(first, options);
        journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("a1"), {}, {}));
    }
    {
        Journal journal(copy, options);
        journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("b1"), {}, {}));
        EXPECT_TRUE(
            Eventually([&] { return WhatsOnServer(database).contains(QStringLiteral("b1")); }));
        EXPECT_TRUE(told.Texts().join('\n').contains(QLatin1String("this file's name")))
            << told.Texts().join('\n').toStdString();
    }
    QStringList whats = WhatsOnServer(database);
    whats.sort();
    EXPECT_EQ(whats, (QStringList{"a0", "a1", "b1"}));
}

// Another session's lock on the server's table of entries, held until released: a server that
// is alive and answers nothing that needs the table.
class TableLock {
public:
    explicit TableLock(const QString& database)
        : session_(PQconnectdb(database.toUtf8().constData())) {
        PQclear(PQexec(session_, "BEGIN; LOCK TABLE entries IN ACCESS EXCLUSIVE MODE"));
    }
    ~TableLock() { Release(); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    bool held() const { return PQstatus(session_) == CONNECTION_OK; }
    void Release() {
        if (session_ != nullptr)
            PQclear(PQexec(session_, "COMMIT"));
        PQfinish(session_);
        session_ = nullptr;
    }

private:
    PGconn* session_;
};

// Another session holds the entries' table locked: the server is alive and answers nothing.
// Neither the reads nor the sender wait for it beyond the timeouts; the reads answer from the
// file, and the entry goes once the lock is gone.
TEST(SharedJournal, ATableLockedByAnotherSessionHoldsNoCaller) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    Told told;
    Journal::Options options = QuickRetries(database, told);
    options.statementTimeoutMs = 1500;
    options.lockTimeoutMs = 500;
    Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options);
    journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("0"), {}, {}));
    journal.Flush();
    ASSERT_EQ(WhatsOnServer(database), Numbers(0, 1));

    TableLock lock(database);
    ASSERT_TRUE(lock.held());
    journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("1"), {}, {}));
    const auto start = std::chrono::steady_clock::now();
    // Run aside, so that a hang fails the test instead of holding it.
    auto counted = std::async(std::launch::async, [&] { return journal.Count({}, {}); });
    const bool answered = counted.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(answered);
    auto paged = std::async(std::launch::async,
                            [&] { return Whats(journal.Page(QStringLiteral("AS1"), {}, 0, 10)); });
    EXPECT_EQ(paged.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    if (answered) {
        EXPECT_EQ(counted.get(), 2);  // the file's answer
    }
    EXPECT_TRUE(Eventually([&] { return journal.waitingEntries() == 1; }));
    EXPECT_TRUE(Eventually([&] {
        return told.Texts().contains(
            QStringLiteral("Journal server %1 refused the entries: "
                           "canceling statement due to lock timeout: 1 entry kept here")
                .arg(Journal::ServerName(database)));
    })) << told.Texts().join(QLatin1Char('|')).toStdString();

    lock.Release();
    EXPECT_TRUE(Eventually([&] { return WhatsOnServer(database) == Numbers(0, 2); }))
        << WhatsOnServer(database).join(QLatin1Char(' ')).toStdString();
    journal.Flush();
    EXPECT_EQ(Whats(journal.Page(QStringLiteral("AS1"), {}, 0, 10)), (QStringList{"1", "0"}));
    EXPECT_EQ(paged.get(), (QStringList{"1", "0"}));
}

// A server that is reached but refuses the entries is not reported as out of reach: the status
// bar says why, and the entries wait in the file until it takes them.
TEST(SharedJournal, AServerThatRefusesTheEntriesSaysWhy) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    Told told;
    Journal::Options options = QuickRetries(database, told);
    Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options);
    journal.Flush();
    ASSERT_EQ(journal.sharing(), Journal::Sharing::Shared);
    ASSERT_EQ(Query(database,
                    QStringLiteral("CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE "
                                   "EXCEPTION 'no entries today'; END $$ LANGUAGE plpgsql;"
                                   "CREATE TRIGGER refuse BEFORE INSERT ON entries FOR EACH ROW "
                                   "EXECUTE FUNCTION refuse()")),
              QList<QStringList>());
    for (int i = 0; i < 2; ++i)
        journal.Record(Change(QStringLiteral("AS1"), QString::number(i), {}, {}));
    EXPECT_TRUE(Eventually([&] {
        return told.Texts().contains(
            QStringLiteral("Journal server %1 refused the entries: no entries today: "
                           "2 entries kept here")
                .arg(Journal::ServerName(database)));
    })) << told.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(journal.sharing(), Journal::Sharing::Unreachable);
    ASSERT_EQ(Query(database, QStringLiteral("DROP TRIGGER refuse ON entries")),
              QList<QStringList>());
    EXPECT_TRUE(Eventually([&] { return WhatsOnServer(database) == Numbers(0, 2); }));
}

// Texts reach the server whole and as they are: a NUL does not cut them, and a client
// encoding set in the environment does not change them.
TEST(SharedJournal, TextsReachTheServerWhole) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    Journal::Options options;
    options.server = database;
    ::setenv("PGCLIENTENCODING", "LATIN1", 1);
    {
        Journal journal(dir.filePath(QStringLiteral("j.sqlite")), options);
        journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("Batterie \u00e9tat"),
                              QString::fromUtf8("41\0 V", 5), QStringLiteral("43")));
    }
    ::unsetenv("PGCLIENTENCODING");
    EXPECT_EQ(
        Query(database, QStringLiteral("SELECT what, before FROM entries")),
        (QList<QStringList>{{QStringLiteral("Batterie \u00e9tat"), QStringLiteral("41\ufffd V")}}));
}

// Entries a file holds from before a server was set go to the server when it is first set:
// the unit's history does not disappear from the reads.
TEST(SharedJournal, AFilesEarlierEntriesGoToTheServerWhenItIsSet) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    const QString reset = QString::fromLatin1(kResetWhat);
    const auto values = [](const char* v) { return FormatValues({{"Up Voltage", v}}); };
    {
        Journal alone(path);
        alone.Record(Change(QStringLiteral("AS1"), QStringLiteral("Constant 0"), "41", "43"));
        alone.Record(Change(QStringLiteral("AS1"), reset, values("264"), values("253")));
    }
    Journal::Options options;
    options.server = database;
    for (int run = 0; run < 2; ++run) {
        Journal journal(path, options);
        const auto undo = journal.LastReset(0, QStringLiteral("Smart-UPS 1000"), "AS1");
        ASSERT_TRUE(undo.has_value());
        EXPECT_EQ(undo->before, values("264"));
        EXPECT_EQ(journal.sharing(), Journal::Sharing::Shared);
    }
    // Once each, oldest first, though the file was opened with the server twice.
    EXPECT_EQ(WhatsOnServer(database), (QStringList{"Constant 0", reset}));
}

// The server took a batch but the file cannot mark it sent (another program holds it for a
// moment): the round ends as failed and the pause comes before the batch goes again, rather
// than sending it again and again without one. The server keeps it once.
TEST(SharedJournal, AFileThatCannotMarkEntriesSentIsTriedAgainAfterThePause) {
    const QString database = NewServerDatabase(PgServer::Shared());
    ASSERT_FALSE(database.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    Journal::Options options;
    options.server = database;
    options.retryPauseMs = 300;
    options.busyTimeoutMs = 20;
    Journal journal(path, options);
    journal.Flush();
    // Every try to insert counted, those the unique key turns away included.
    ASSERT_EQ(Query(database,
                    QStringLiteral("CREATE TABLE tries (n INTEGER); INSERT INTO tries VALUES (0);"
                                   "CREATE FUNCTION count_try() RETURNS trigger AS $$ BEGIN "
                                   "UPDATE tries SET n = n + 1; RETURN NEW; END $$ LANGUAGE "
                                   "plpgsql; CREATE TRIGGER count_try BEFORE INSERT ON entries "
                                   "FOR EACH ROW EXECUTE FUNCTION count_try()")),
              QList<QStringList>());
    // The sender waits on the server's lock while the entry is committed locally and the file
    // is then held.
    TableLock lock(database);
    ASSERT_TRUE(lock.held());
    journal.Record(Change(QStringLiteral("AS1"), QStringLiteral("0"), {}, {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3* file = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &file), SQLITE_OK);
    sqlite3_busy_timeout(file, 2000);
    ASSERT_EQ(sqlite3_exec(file, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    lock.Release();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    sqlite3_exec(file, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(file);
    EXPECT_TRUE(Eventually([&] { return journal.waitingEntries() == 0; }));
    journal.Flush();
    EXPECT_EQ(WhatsOnServer(database), Numbers(0, 1));
    const QList<QStringList> tries = Query(database, QStringLiteral("SELECT n FROM tries"));
    ASSERT_EQ(tries.size(), 1);
    // 1.2 s held, a pause of 0.3 s between tries: about five, not hundreds.
    EXPECT_GE(tries.front().front().toInt(), 2);
    EXPECT_LE(tries.front().front().toInt(), 7);
}

TEST(JournalTexts, ValuesAndCsvRoundTrip) {
    struct Case {
        QList<LabelledValue> values;
        QString text;
    };
    const Case cases[] = {
        {{{"Up Voltage", "253"}, {"Self Test", "OFF "}}, "Up Voltage=253\nSelf Test=OFF \n"},
        // Split at the first '='; an empty value stays a value.
        {{{"UPS ID", "A=B"}, {"Alarm delay", ""}}, "UPS ID=A=B\nAlarm delay=\n"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatValues(c.values), c.text);
        EXPECT_EQ(ParseValues(c.text), c.values);
    }
    // A line break in a value is cut there; a line without '=' is no value.
    EXPECT_EQ(FormatValues({{"UPS ID", "AB\nCD"}}), "UPS ID=AB\n");
    EXPECT_EQ(ParseValues("junk\nA=1\n"), (QList<LabelledValue>{{"A", "1"}}));
    EXPECT_EQ(ValueOf("A=1\nB=\n", "B"), "");
    EXPECT_FALSE(ValueOf("A=1\nB=\n", "B").isNull());
    EXPECT_TRUE(ValueOf("A=1\n", "C").isNull());

    Entry e = Change("AS1", "UPS ID", "a,b", "say \"hi\"", Outcome::Refused);
    e.when = "2026-12-08T16:00:00+01:00";
    e.before = "x=1\ny=2\n";
    const QString csv = EntriesCsv({e});
    EXPECT_EQ(csv,
              "When,Kind,Model,Serial number,Firmware,Port,Connection,What,Before,After,Outcome,"
              "Reason\r\n"
              "2026-12-08T16:00:00+01:00,Change,Smart-UPS 1000,AS1,,,,UPS ID,\"x=1\ny=2\n\","
              "\"say \"\"hi\"\"\",Refused,\r\n");
}

}  // namespace
}  // namespace morlen::journal
