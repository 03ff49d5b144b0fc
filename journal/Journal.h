#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "JournalEntry.h"

struct sqlite3;
struct pg_conn;
struct pg_result;

namespace morlen::journal {

// The service journal: one SQLite database of entries. Record() only queues the entry; a
// writer thread of its own commits each entry in a transaction of its own, so the caller (the
// poll thread) does not wait for the disk. The queue holds at most kQueueBound entries: a
// caller that finds it full waits until the writer has taken one. A crash or a kill therefore
// loses at most the entries still queued and the one being written: kQueueBound + 1.
//
// A journal that cannot be written never stops the caller for long: an entry it cannot write
// (after waiting out another writer's lock for `busyTimeoutMs`) is dropped and counted. The
// failure handler is told when writing begins to fail and the recovery handler when it works
// again; a failure that lasts is told once. A file that is not a database (or a damaged one)
// is renamed aside, never overwritten, and a new one started.
//
// Several journals (in one program or in several) may write one file at once: each entry is
// written once, and the check for damage and the setting aside happen under a lock on a file
// beside the database, so that one never sets aside the new file another has just started.
//
// Shared on a PostgreSQL server (Options::server set): the local file is then the outbox. Each
// entry is committed to the local file as above, and a sender thread of its own copies it to the
// server in order, marking it sent locally only once the server has committed it. An entry is
// known on the server by the local file's origin id and its local row id, so one sent again
// after a lost acknowledgement (a kill between the server's commit and the local mark) is not
// doubled. While the server cannot be reached the entries wait in the local file and go when
// it can, after a pause between tries; Record() never waits for the server. A kill with a
// server set loses no more than without: what waits in the local file is sent by the next
// journal to open it. When a server is first set for a file, the entries it already holds are
// sent too, oldest first, so that the history read from the server is the file's as well.
//
// Reads go to the server while it is reached, so every bench sees the whole history; while it
// is not, they read the local file, and sharing() says so. The first read after the journal
// opens waits for the first round of sending: the connect timeout at most when the server is
// out of reach, the whole backlog (100 entries to a server transaction) when it is reached.
// Closing sends at most the batch under way; the rest waits in the file for the next journal.
//
// Every member may be called from any thread.
class Journal {
public:
    // The most entries waiting for the writer.
    static constexpr int kQueueBound = 8;

    struct Options {
        // Local time now; tests fix it.
        std::function<QDateTime()> now;
        // Told on the writer thread when the journal begins to fail, with why.
        std::function<void(const QString& why)> onFailure;
        // Told on the writer thread when an entry is written again after a failure.
        std::function<void()> onWrittenAgain;
        // How long a write waits for another writer's lock before it counts as failed.
        int busyTimeoutMs = 2000;
        // A limit on the database's size in pages (0: none); a full disk for tests.
        int maxPageCount = 0;

        // A libpq connection string of the server the journal is shared on; empty: the local
        // file alone.
        QString server;
        // Told on the sender's or a reader's thread when sharing begins, stops or the number
        // of entries waiting for the server changes, with the text for the status bar.
        std::function<void(const QString& text)> onSharing;
        // The pause between tries to reach a server that could not be reached.
        int retryPauseMs = 5000;
        // How long a try to connect to the server may take, in seconds (libpq allows no less
        // than 2); the connection string's own connect_timeout wins.
        int connectTimeoutS = 4;
        // How long one statement on the server, and one wait there for a lock, may take: a
        // server that is alive but answers nothing (a table another session holds locked)
        // holds no reader and no sender longer.
        int statementTimeoutMs = 10000;
        int lockTimeoutMs = 5000;
    };

    // Whether the journal is shared, as it stands.
    enum class Sharing {
        LocalOnly,    // no server set
        Connecting,   // the first try to reach the server is under way
        Shared,       // the server was reached when last tried
        Unreachable,  // it was not, or it refused the entries: they wait in the local file
    };

    // Opens (or creates) the database at `path`; its folder is created when missing.
    explicit Journal(QString path);
    Journal(QString path, Options options);
    // Writes what is queued, then closes.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // The database in the user's data folder (QStandardPaths::AppDataLocation).
    static QString DefaultPath();

    // Queues an entry; stamps `when` when it is empty. Returns at once unless kQueueBound
    // entries are waiting, then when the writer has taken one.
    void Record(Entry entry);
    // Waits until every entry recorded before the call is written or given up; with a server
    // reached (or being tried for the first time), until the sender's round ends, which sends
    // everything waiting. A server out of reach is not waited for.
    void Flush();

    // Entries newest first: of one unit (by serial number; all units when empty) and, when
    // `search` is not empty, only those with it in any of their texts (case ignored).
    QList<Entry> Entries(const QString& serialNumber = QString(),
                         const QString& search = QString());
    // The same a page at a time: at most `limit` of them, older than the entry `beforeId`
    // (0: from the newest). A unit's entries come through its serial number's index, and a
    // search reads only as far as the page needs.
    QList<Entry> Page(const QString& serialNumber, const QString& search, qint64 beforeId,
                      int limit);
    // How many entries Entries() would give.
    int Count(const QString& serialNumber, const QString& search);
    // Whether an entry has `search` in any of its texts, as the window shows them.
    static bool Matches(const Entry& entry, const QString& search);
    // The newest reset entry of a unit, known by its family, model and serial number: its
    // `before` holds the ten settings before the reset. A reset that changed nothing (a second
    // one right after the first) is passed over. Nothing for a placeholder serial number.
    std::optional<Entry> LastReset(int family, const QString& model, const QString& serialNumber);
    // The serial numbers the journal knows, sorted.
    QStringList SerialNumbers();

    QString path() const { return path_; }
    // Where a damaged file was put aside when this journal opened it; empty when none was.
    QString setAsidePath() const;
    // Why the journal cannot be written; empty while it can.
    QString failure() const;
    // Entries dropped because they could not be written, since the journal opened.
    int lostEntries() const;

    Sharing sharing() const;
    // Entries committed locally and not yet on the server, as last counted.
    int waitingEntries() const;
    // What onSharing was last told, or would be: empty for a journal of its own.
    QString sharingText() const;
    // The server a connection string names, for people to read (no password).
    static QString ServerName(const QString& connection);

    // The local time text an entry gets.
    static QString TimeText(const QDateTime& time);

private:
    struct ResetsOf {
        int family;
        QString model;
    };
    bool openLocked();
    bool openCheckedLocked();
    bool writeLocked(Entry& entry);
    // The outbox and the file's origin id, made when missing.
    bool prepareOutboxLocked(sqlite3* db);
    void failLocked(const QString& why);
    void writerLoop();
    void senderLoop();
    // Sends what waits in the local file; false when the server could not be reached or
    // refused them (`refused` then says what happened).
    bool sendWaiting(QString& refused);
    bool connectServer(QString& refused);
    // One batch in one server transaction; false when it did not commit.
    // `originTaken`: the server holds another entry under one of this file's keys (the file is
    // a copy of another journal's, or was put back from a backup).
    bool sendBatch(const QList<Entry>& batch, const QByteArray& origin, QString& refused,
                   bool& originTaken);
    // Gives the file a new origin name, so that its entries no longer meet another file's.
    bool renameOriginLocked();
    void dropServer();
    // What waits for the server, oldest first, at most `limit`; `count` gets how many wait.
    QList<Entry> waitingLocked(int limit, int* count);
    int countWaiting();
    // A reader found the server gone: read locally and have the sender try again.
    void serverLost();
    void tellSharing();
    // Server reads: nothing when no server is reached (the caller reads the local file).
    std::optional<QList<Entry>> serverSelect(const QString& serialNumber, const ResetsOf* resets,
                                             const QString& search, qint64 beforeId, int limit);
    // Runs a query on the server while it is reached and gives `take` its rows; false when
    // it was not asked or did not answer.
    bool serverQuery(const QByteArray& sql, const QList<QByteArray>& parameters,
                     const std::function<void(const pg_result*)>& take);
    // From the server while it is reached, else from the local file.
    QList<Entry> read(const QString& serialNumber, const ResetsOf* resets, const QString& search,
                      qint64 beforeId, int limit);
    bool shared() const { return !options_.server.isEmpty(); }
    // Entries of one unit (all when empty), newest first; only its resets when `resets` says
    // whose.
    QList<Entry> selectLocked(const QString& serialNumber, const ResetsOf* resets = nullptr,
                              const QString& search = QString(), qint64 beforeId = 0,
                              int limit = -1);

    const QString path_;
    Options options_;
    // Guards the database handle and the fields below it.
    mutable std::mutex dbMutex_;
    sqlite3* db_ = nullptr;
    QString setAside_;
    QString failure_;
    // The last write failed: the next success is told.
    bool failing_ = false;
    int lost_ = 0;
    // The local file's name on the server, kept in the file once.
    QString origin_;

    // The connection to the server, shared by the sender and the readers.
    mutable std::mutex serverMutex_;
    pg_conn* server_ = nullptr;
    // What the sharing handler was told last.
    std::mutex toldMutex_;
    QString told_;

    // The queue between Record() and the writer thread.
    mutable std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Entry> queue_;
    bool writing_ = false;
    bool stopping_ = false;
    // The sender's state, under queueMutex_ too.
    Sharing sharing_ = Sharing::LocalOnly;
    int waiting_ = 0;
    // What went wrong with a server that was reached, at the last try ("refused the entries:
    // why"); empty when nothing did.
    QString refused_;
    bool sendWanted_ = false;
    bool sending_ = false;
    bool senderStopping_ = false;
    std::thread writer_;
    std::thread sender_;
};

}  // namespace morlen::journal
