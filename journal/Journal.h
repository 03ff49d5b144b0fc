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
    // Waits until every entry recorded before the call is written or given up.
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

    // The local time text an entry gets.
    static QString TimeText(const QDateTime& time);

private:
    bool openLocked();
    bool openCheckedLocked();
    bool writeLocked(Entry& entry);
    void failLocked(const QString& why);
    void writerLoop();
    // Entries of one unit (all when empty), newest first; only its resets when `resets` says
    // whose.
    struct ResetsOf {
        int family;
        QString model;
    };
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

    // The queue between Record() and the writer thread.
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<Entry> queue_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace morlen::journal
