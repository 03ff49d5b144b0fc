#include "Journal.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace morlen::journal {

namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS entries ("
    " id INTEGER PRIMARY KEY,"
    " at TEXT NOT NULL, kind INTEGER NOT NULL,"
    " connection TEXT, port TEXT, model TEXT, serial TEXT, firmware TEXT,"
    " what TEXT, before TEXT, after TEXT, outcome INTEGER NOT NULL, reason TEXT,"
    " family INTEGER);"
    "CREATE INDEX IF NOT EXISTS entries_by_serial ON entries (serial, id);";
// A journal begun before the family was kept gets the column; its entries have none.
const char* const kAddFamily = "ALTER TABLE entries ADD COLUMN family INTEGER";

const char* const kColumns =
    "SELECT id, at, kind, connection, port, model, serial, firmware, what, before, after,"
    " outcome, reason, family FROM entries";

QString lastError(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

bool damaged(int rc) {
    return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT;
}

void bindText(sqlite3_stmt* statement, int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* statement, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, index)) : QString();
}

// An exclusive lock on a file beside the database, held while it lives. Another journal
// opening the same database waits for it; the lock goes with the process, whatever ends it.
class OpenLock {
public:
    explicit OpenLock(const QString& database) {
        fd_ = ::open(QFile::encodeName(database + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~OpenLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenLock(const OpenLock&) = delete;
    OpenLock& operator=(const OpenLock&) = delete;

private:
    int fd_ = -1;
};

// A statement that is finalized however the function leaves.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

Journal::Journal(QString path) : Journal(std::move(path), Options()) {}

Journal::Journal(QString path, Options options)
    : path_(std::move(path)), options_(std::move(options)) {
    if (!options_.now)
        options_.now = [] { return QDateTime::currentDateTime(); };
    writer_ = std::thread([this] { writerLoop(); });
}

Journal::~Journal() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    writer_.join();
    std::lock_guard lock(dbMutex_);
    sqlite3_close(db_);
}

QString Journal::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/journal.sqlite");
}

QString Journal::TimeText(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

void Journal::Record(Entry entry) {
    if (entry.when.isEmpty())
        entry.when = TimeText(options_.now());
    {
        std::unique_lock lock(queueMutex_);
        queueChanged_.wait(lock, [this] { return queue_.size() < std::size_t(kQueueBound); });
        queue_.push_back(std::move(entry));
    }
    queueChanged_.notify_all();
}

void Journal::Flush() {
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

void Journal::writerLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;  // stopping, with everything written
        Entry entry = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();

        // The writer has taken the entry: a caller waiting for room may go on.
        queueChanged_.notify_all();
        QString failed;
        bool writtenAgain = false;
        {
            std::lock_guard db(dbMutex_);
            const bool written = (db_ != nullptr || openLocked()) && writeLocked(entry);
            if (!written) {
                ++lost_;
                if (!failing_)
                    failed = failure_;
            }
            writtenAgain = written && failing_;
            failing_ = !written;
        }
        // Outside the lock: the handlers may ask the journal about itself.
        if (!failed.isEmpty() && options_.onFailure)
            options_.onFailure(failed);
        if (writtenAgain && options_.onWrittenAgain)
            options_.onWrittenAgain();

        lock.lock();
        writing_ = false;
        queueChanged_.notify_all();
    }
}

void Journal::failLocked(const QString& why) {
    failure_ = why;
}

bool Journal::openLocked() {
    const QFileInfo file(path_);
    QDir().mkpath(file.absolutePath());
    // One journal at a time checks the file and sets a damaged one aside: another that checked
    // the damaged file before it was set aside must not then set aside the new one.
    const OpenLock one(path_);
    return openCheckedLocked();
}

bool Journal::openCheckedLocked() {  // Up to two tries: a damaged file is set aside once and a new
                                     // one started.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QByteArray name = QFile::encodeName(path_);
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
        if (rc != SQLITE_OK) {
            failLocked(QStringLiteral("%1: %2").arg(path_, db ? lastError(db) : QString()));
            sqlite3_close(db);
            return false;
        }
        // Until the file has passed its check, closing it must not take its log in: a damaged
        // file goes aside as it was, its log beside it.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        // Another Morlen may be writing the same file for a moment.
        sqlite3_busy_timeout(db, options_.busyTimeoutMs);
        // Write-ahead: a reader (the journal window of another Morlen) never waits for the
        // writer, and a commit is whole once its frames are on disk.
        rc = sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL", nullptr,
                          nullptr, nullptr);
        QString check;
        if (rc == SQLITE_OK) {
            Statement quick;
            rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &quick.handle, nullptr);
            if (rc == SQLITE_OK && sqlite3_step(quick.handle) == SQLITE_ROW)
                check = columnText(quick.handle, 0);
            if (rc == SQLITE_OK)
                rc = sqlite3_errcode(db);
        }
        if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
            rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
        const bool isDamaged = damaged(rc) || (rc == SQLITE_OK && check != QLatin1String("ok"));
        if (isDamaged && attempt == 0) {
            sqlite3_close(db);
            const QString aside = path_ + QStringLiteral(".damaged-") +
                                  options_.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            if (!QFile::rename(path_, aside)) {
                failLocked(QStringLiteral("%1 is damaged and could not be set aside").arg(path_));
                return false;
            }
            // Its log belongs to the damaged file, not to the new one.
            for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-journal")})
                QFile::rename(path_ + suffix, aside + suffix);
            QFile::remove(path_ + QStringLiteral("-shm"));
            setAside_ = aside;
            continue;
        }
        if (rc != SQLITE_OK || isDamaged) {
            failLocked(QStringLiteral("%1: %2").arg(path_, lastError(db)));
            sqlite3_close(db);
            return false;
        }
        // Only into a file that passed its check: a damaged one goes aside untouched.
        sqlite3_exec(db, kAddFamily, nullptr, nullptr, nullptr);  // fails where it is there
        if (options_.maxPageCount > 0) {
            const QByteArray limit = QByteArrayLiteral("PRAGMA max_page_count = ") +
                                     QByteArray::number(options_.maxPageCount);
            sqlite3_exec(db, limit.constData(), nullptr, nullptr, nullptr);
        }
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        db_ = db;
        return true;
    }
    return false;
}

bool Journal::writeLocked(Entry& entry) {
    Statement insert;
    int rc = sqlite3_prepare_v2(db_,
                                "INSERT INTO entries (at, kind, connection, port, model, serial,"
                                " firmware, what, before, after, outcome, reason, family)"
                                " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)",
                                -1, &insert.handle, nullptr);
    if (rc == SQLITE_OK) {
        bindText(insert.handle, 1, entry.when);
        sqlite3_bind_int(insert.handle, 2, int(entry.kind));
        bindText(insert.handle, 3, entry.connection);
        bindText(insert.handle, 4, entry.port);
        bindText(insert.handle, 5, entry.model);
        bindText(insert.handle, 6, entry.serialNumber);
        bindText(insert.handle, 7, entry.firmware);
        bindText(insert.handle, 8, entry.what);
        bindText(insert.handle, 9, entry.before);
        bindText(insert.handle, 10, entry.after);
        sqlite3_bind_int(insert.handle, 11, int(entry.outcome));
        bindText(insert.handle, 12, entry.reason);
        if (entry.family >= 0)
            sqlite3_bind_int(insert.handle, 13, entry.family);
        // One statement outside a transaction: committed when it returns.
        rc = sqlite3_step(insert.handle);
    }
    if (rc != SQLITE_DONE) {
        failLocked(QStringLiteral("%1: %2").arg(path_, lastError(db_)));
        return false;
    }
    entry.id = sqlite3_last_insert_rowid(db_);
    failure_.clear();
    return true;
}

QList<Entry> Journal::selectLocked(const QString& serialNumber, const ResetsOf* resets,
                                   const QString& search, qint64 beforeId, int limit) {
    QList<Entry> entries;
    if (db_ == nullptr && !openLocked())
        return entries;
    // Two forms, so that a unit's entries come through its index, not a scan of them all.
    const bool oneUnit = !serialNumber.isEmpty();
    QByteArray sql = kColumns;
    sql += oneUnit ? " WHERE serial = ?1 AND id < ?5" : " WHERE id < ?5";
    if (resets)
        sql += " AND kind = 0 AND what = ?2 AND family = ?3 AND model = ?4";
    sql += " ORDER BY id DESC";
    Statement select;
    if (sqlite3_prepare_v2(db_, sql.constData(), -1, &select.handle, nullptr) != SQLITE_OK)
        return entries;
    if (oneUnit)
        bindText(select.handle, 1, serialNumber);
    sqlite3_bind_int64(select.handle, 5,
                       beforeId > 0 ? beforeId : std::numeric_limits<qint64>::max());
    if (resets) {
        bindText(select.handle, 2, QString::fromLatin1(kResetWhat));
        sqlite3_bind_int(select.handle, 3, resets->family);
        bindText(select.handle, 4, resets->model);
    }
    while ((limit < 0 || entries.size() < limit) && sqlite3_step(select.handle) == SQLITE_ROW) {
        Entry e;
        e.id = sqlite3_column_int64(select.handle, 0);
        e.when = columnText(select.handle, 1);
        e.kind = Kind(sqlite3_column_int(select.handle, 2));
        e.connection = columnText(select.handle, 3);
        e.port = columnText(select.handle, 4);
        e.model = columnText(select.handle, 5);
        e.serialNumber = columnText(select.handle, 6);
        e.firmware = columnText(select.handle, 7);
        e.what = columnText(select.handle, 8);
        e.before = columnText(select.handle, 9);
        e.after = columnText(select.handle, 10);
        e.outcome = Outcome(sqlite3_column_int(select.handle, 11));
        e.reason = columnText(select.handle, 12);
        if (sqlite3_column_type(select.handle, 13) != SQLITE_NULL)
            e.family = sqlite3_column_int(select.handle, 13);
        if (search.isEmpty() || Matches(e, search))
            entries.append(std::move(e));
    }
    return entries;
}

bool Journal::Matches(const Entry& e, const QString& search) {
    const QString texts[] = {
        e.when, e.connection, e.port,  e.model,  e.serialNumber,         e.firmware,
        e.what, e.before,     e.after, e.reason, OutcomeText(e.outcome), KindText(e.kind)};
    for (const QString& text : texts) {
        if (text.contains(search, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QList<Entry> Journal::Entries(const QString& serialNumber, const QString& search) {
    return Page(serialNumber, search, 0, -1);
}

QList<Entry> Journal::Page(const QString& serialNumber, const QString& search, qint64 beforeId,
                           int limit) {
    Flush();
    std::lock_guard lock(dbMutex_);
    return selectLocked(serialNumber, nullptr, search, beforeId, limit);
}

int Journal::Count(const QString& serialNumber, const QString& search) {
    Flush();
    if (!search.isEmpty()) {
        // A page at a time: the matches are counted, not kept.
        int found = 0;
        for (qint64 before = 0;;) {
            std::lock_guard lock(dbMutex_);
            const QList<Entry> page = selectLocked(serialNumber, nullptr, {}, before, 2000);
            for (const Entry& e : page)
                found += Matches(e, search) ? 1 : 0;
            if (page.size() < 2000)
                return found;
            before = page.back().id;
        }
    }
    std::lock_guard lock(dbMutex_);
    if (db_ == nullptr && !openLocked())
        return 0;
    Statement count;
    const char* sql = serialNumber.isEmpty() ? "SELECT count(*) FROM entries"
                                             : "SELECT count(*) FROM entries WHERE serial = ?1";
    if (sqlite3_prepare_v2(db_, sql, -1, &count.handle, nullptr) != SQLITE_OK)
        return 0;
    if (!serialNumber.isEmpty())
        bindText(count.handle, 1, serialNumber);
    return sqlite3_step(count.handle) == SQLITE_ROW ? sqlite3_column_int(count.handle, 0) : 0;
}

std::optional<Entry> Journal::LastReset(int family, const QString& model,
                                        const QString& serialNumber) {
    // Units without a serial number of their own would all be one unit.
    if (IsPlaceholderSerial(serialNumber))
        return std::nullopt;
    Flush();
    std::lock_guard lock(dbMutex_);
    const auto values = [](const QString& text) {
        QList<LabelledValue> list = ParseValues(text);
        for (LabelledValue& v : list)
            v.value = v.value.trimmed();
        return list;
    };
    const ResetsOf unit{family, model.trimmed()};
    for (Entry& e : selectLocked(serialNumber.trimmed(), &unit)) {
        // A second reset holds factory values on both sides: the undo is the one before it.
        if (values(e.before) == values(e.after))
            continue;
        return std::move(e);
    }
    return std::nullopt;
}

QStringList Journal::SerialNumbers() {
    Flush();
    QStringList serials;
    std::lock_guard lock(dbMutex_);
    if (db_ == nullptr && !openLocked())
        return serials;
    Statement select;
    if (sqlite3_prepare_v2(db_,
                           "SELECT DISTINCT serial FROM entries WHERE serial <> ''"
                           " ORDER BY serial",
                           -1, &select.handle, nullptr) != SQLITE_OK)
        return serials;
    while (sqlite3_step(select.handle) == SQLITE_ROW)
        serials.append(columnText(select.handle, 0));
    return serials;
}

QString Journal::setAsidePath() const {
    std::lock_guard lock(dbMutex_);
    return setAside_;
}

QString Journal::failure() const {
    std::lock_guard lock(dbMutex_);
    return failing_ ? failure_ : QString();
}

int Journal::lostEntries() const {
    std::lock_guard lock(dbMutex_);
    return lost_;
}

}  // namespace morlen::journal
