#include "Journal.h"

#include <libpq-fe.h>

#include <sqlite3.h>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>
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
// With a server: the entries not yet on it, and the file's name there. An outbox made in a
// file that already holds entries starts with all of them: the history the server gives back
// is then this file's too, and the server's unique key keeps each once.
const char* const kOutbox =
    "BEGIN IMMEDIATE;"
    "CREATE TEMP TABLE new_outbox AS"
    " SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'outbox');"
    "CREATE TABLE IF NOT EXISTS outbox (id INTEGER PRIMARY KEY);"
    "INSERT INTO outbox SELECT id FROM entries WHERE EXISTS (SELECT 1 FROM new_outbox);"
    "DROP TABLE new_outbox;"
    "CREATE TABLE IF NOT EXISTS origin (id TEXT NOT NULL);"
    "COMMIT";
// A journal begun before the family was kept gets the column; its entries have none.
const char* const kAddFamily = "ALTER TABLE entries ADD COLUMN family INTEGER";

// An entry's columns, in the order entryFrom() reads them.
const char* const kEntryColumns =
    "id, at, kind, connection, port, model, serial, firmware, what, before, after, outcome,"
    " reason, family";

// The server's table: the local one's columns, and the entry's origin and local row id, which
// make a second copy of it impossible. Two journals may create it at once: the lock makes one
// wait for the other.
const char* const kServerSchema =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(7724651201);"
    "CREATE TABLE IF NOT EXISTS entries ("
    " id BIGSERIAL PRIMARY KEY,"
    " at TEXT NOT NULL, kind INTEGER NOT NULL,"
    " connection TEXT, port TEXT, model TEXT, serial TEXT, firmware TEXT,"
    " what TEXT, before TEXT, after TEXT, outcome INTEGER NOT NULL, reason TEXT,"
    " family INTEGER,"
    " origin TEXT NOT NULL, origin_id BIGINT NOT NULL, UNIQUE (origin, origin_id));"
    "CREATE INDEX IF NOT EXISTS entries_by_serial ON entries (serial, id);"
    "COMMIT";

const char* const kServerInsert =
    "INSERT INTO entries (at, kind, connection, port, model, serial, firmware, what, before,"
    " after, outcome, reason, family, origin, origin_id)"
    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15)"
    " ON CONFLICT (origin, origin_id) DO NOTHING";

// Entries sent to the server in one transaction.
constexpr int kSendBatch = 100;

// Rows the server is asked for at a time while a search filters them.
constexpr int kServerChunk = 500;

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

// An entry from a row of kEntryColumns: `text(i)` is column i's text, `null(i)` whether it has
// none.
template <typename Text, typename Null>
Entry entryFrom(const Text& text, const Null& null) {
    Entry e;
    e.id = text(0).toLongLong();
    e.when = text(1);
    e.kind = Kind(text(2).toInt());
    e.connection = text(3);
    e.port = text(4);
    e.model = text(5);
    e.serialNumber = text(6);
    e.firmware = text(7);
    e.what = text(8);
    e.before = text(9);
    e.after = text(10);
    e.outcome = Outcome(text(11).toInt());
    e.reason = text(12);
    if (!null(13))
        e.family = text(13).toInt();
    return e;
}

// A libpq result that is cleared however the function leaves.
struct Result {
    PGresult* handle = nullptr;
    explicit Result(PGresult* result) : handle(result) {}
    ~Result() { PQclear(handle); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ExecStatusType status() const { return PQresultStatus(handle); }
};

// Why the server refused a statement, in its own words.
QString ErrorOf(const PGresult* result, const PGconn* server) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    return QString::fromUtf8(primary ? primary : PQerrorMessage(server)).trimmed();
}

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
    if (shared()) {
        // Whatever an earlier run left waiting goes first.
        sharing_ = Sharing::Connecting;
        sendWanted_ = true;
        sender_ = std::thread([this] { senderLoop(); });
    }
}

Journal::~Journal() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    writer_.join();
    if (sender_.joinable()) {
        // A last round for what the writer just committed, if the server is there; what is
        // not sent waits in the file for the next journal.
        {
            std::lock_guard lock(queueMutex_);
            senderStopping_ = true;
        }
        queueChanged_.notify_all();
        sender_.join();
    }
    dropServer();
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
    // With a server reached, until it has the entries too; one out of reach is not waited for.
    queueChanged_.wait(lock, [this] {
        return queue_.empty() && !writing_ &&
               (sharing_ == Sharing::LocalOnly || sharing_ == Sharing::Unreachable ||
                (!sendWanted_ && !sending_));
    });
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
        bool written = false;
        {
            std::lock_guard db(dbMutex_);
            written = (db_ != nullptr || openLocked()) && writeLocked(entry);
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
        if (shared() && written) {
            sendWanted_ = true;
            ++waiting_;
        }
        const bool tell = shared() && written && sharing_ == Sharing::Unreachable;
        queueChanged_.notify_all();
        if (tell) {
            // One more waits: the status bar counts it.
            lock.unlock();
            tellSharing();
            lock.lock();
        }
    }
}

void Journal::senderLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return senderStopping_ || sendWanted_; });
        if (senderStopping_ && (!sendWanted_ || sharing_ == Sharing::Unreachable))
            return;
        sendWanted_ = false;
        sending_ = true;
        lock.unlock();
        QString refused;
        const bool reached = sendWaiting(refused);
        const int waiting = countWaiting();
        lock.lock();
        sending_ = false;
        sharing_ = reached ? Sharing::Shared : Sharing::Unreachable;
        refused_ = reached ? QString() : refused;
        waiting_ = waiting;
        queueChanged_.notify_all();
        lock.unlock();
        tellSharing();
        lock.lock();
        if (!reached) {
            if (senderStopping_)
                return;
            // A pause before the next try; what is recorded meanwhile waits in the file.
            queueChanged_.wait_for(lock, std::chrono::milliseconds(options_.retryPauseMs),
                                   [this] { return senderStopping_; });
            sendWanted_ = true;
        }
    }
}

bool Journal::connectServer(QString& refused) {
    {
        std::lock_guard lock(serverMutex_);
        if (server_ != nullptr && PQstatus(server_) == CONNECTION_OK)
            return true;
    }
    dropServer();
    // Connected outside the lock: a reader never waits for a server that does not answer.
    const QByteArray timeout = QByteArray::number(std::max(2, options_.connectTimeoutS));
    const QByteArray connection = options_.server.toUtf8();
    const QByteArray limits = QByteArrayLiteral("-c statement_timeout=") +
                              QByteArray::number(options_.statementTimeoutMs) +
                              " -c lock_timeout=" + QByteArray::number(options_.lockTimeoutMs);
    // A server host that stops answering mid-session is given up after about 10 s rather than
    // TCP's quarter of an hour; the connection string's own settings win over these.
    // The texts are UTF-8 whatever the environment's PGCLIENTENCODING says.
    const char* const keys[] = {"connect_timeout",  "tcp_user_timeout",
                                "keepalives_idle",  "keepalives_interval",
                                "keepalives_count", "application_name",
                                "client_encoding",  "options",
                                "dbname",           nullptr};
    const char* const values[] = {
        timeout.constData(),    "10000", "10", "5", "2", "morlen", "UTF8", limits.constData(),
        connection.constData(), nullptr};
    PGconn* server = PQconnectdbParams(keys, values, 1);
    PGresult* schema = nullptr;
    bool ok = PQstatus(server) == CONNECTION_OK;
    if (ok) {
        PQsetNoticeProcessor(
            server, [](void*, const char*) {}, nullptr);
        schema = PQexec(server, kServerSchema);
        ok = PQresultStatus(schema) == PGRES_COMMAND_OK;
    }
    const Result schemaResult(schema);
    if (!ok) {
        // Reached, it refused the schema (a lock it waited for too long, a right it lacks).
        if (PQstatus(server) == CONNECTION_OK)
            refused = QStringLiteral("refused the entries: ") + ErrorOf(schema, server);
        PQfinish(server);
        return false;
    }
    std::lock_guard lock(serverMutex_);
    server_ = server;
    return true;
}

void Journal::dropServer() {
    std::lock_guard lock(serverMutex_);
    PQfinish(server_);
    server_ = nullptr;
}

bool Journal::sendWaiting(QString& refused) {
    if (!connectServer(refused))
        return false;
    for (bool first = true;; first = false) {
        QList<Entry> batch;
        QByteArray origin;
        {
            // Closing does not wait for a backlog: what is left waits in the file.
            std::lock_guard lock(queueMutex_);
            if (senderStopping_ && !first)
                return true;
        }
        {
            std::lock_guard db(dbMutex_);
            if (db_ == nullptr && !openLocked())
                return true;  // nothing can wait in a file that cannot be opened
            batch = waitingLocked(kSendBatch, nullptr);
            origin = origin_.toUtf8();
        }
        if (batch.isEmpty())
            return true;
        bool originTaken = false;
        if (!sendBatch(batch, origin, refused, originTaken)) {
            dropServer();
            if (originTaken) {
                std::lock_guard db(dbMutex_);
                refused = renameOriginLocked()
                              ? QStringLiteral(
                                    "holds other entries under this file's name (a "
                                    "copy of another journal's file?): it takes a "
                                    "new name and sends them again")
                              : QStringLiteral(
                                    "holds other entries under this file's name, and "
                                    "the file cannot take a new one: %1")
                                    .arg(lastError(db_));
            }
            return false;
        }
        // Committed on the server: only now are they no longer waiting. A kill before the
        // local commit sends them again, and the server keeps the first copies.
        std::lock_guard db(dbMutex_);
        bool done = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        Statement remove;
        done = done && sqlite3_prepare_v2(db_, "DELETE FROM outbox WHERE id = ?1", -1,
                                          &remove.handle, nullptr) == SQLITE_OK;
        for (const Entry& e : batch) {
            if (!done)
                break;
            sqlite3_reset(remove.handle);
            sqlite3_bind_int64(remove.handle, 1, e.id);
            done = sqlite3_step(remove.handle) == SQLITE_DONE;
        }
        done = done && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!done) {
            // The file cannot say they went: the round ends, and the pause comes before the
            // next one sends them again (the server keeps one copy).
            refused = QStringLiteral("took entries this file could not mark as sent: %1: %2")
                          .arg(path_, lastError(db_));
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
}

bool Journal::sendBatch(const QList<Entry>& batch, const QByteArray& origin, QString& refused,
                        bool& originTaken) {
    std::lock_guard lock(serverMutex_);
    if (server_ == nullptr)
        return false;
    // One transaction for the batch: one round trip to the disk of the server, not one each.
    bool sent = Result(PQexec(server_, "BEGIN")).status() == PGRES_COMMAND_OK;
    for (const Entry& e : batch) {
        if (!sent)
            break;
        // The server's texts end at a NUL, which the file keeps: it is sent as U+FFFD so that
        // what follows it is not lost.
        const auto text = [](QString t) { return t.replace(QChar(0), QChar(0xFFFD)).toUtf8(); };
        const QByteArray fields[] = {text(e.when),
                                     QByteArray::number(int(e.kind)),
                                     text(e.connection),
                                     text(e.port),
                                     text(e.model),
                                     text(e.serialNumber),
                                     text(e.firmware),
                                     text(e.what),
                                     text(e.before),
                                     text(e.after),
                                     QByteArray::number(int(e.outcome)),
                                     text(e.reason),
                                     QByteArray::number(e.family),
                                     origin,
                                     QByteArray::number(e.id)};
        const char* values[std::size(fields)];
        for (std::size_t i = 0; i < std::size(fields); ++i)
            values[i] = fields[i].constData();
        if (e.family < 0)
            values[12] = nullptr;
        const Result insert(PQexecParams(server_, kServerInsert, int(std::size(fields)), nullptr,
                                         values, nullptr, nullptr, 0));
        sent = insert.status() == PGRES_COMMAND_OK;
        if (!sent && PQstatus(server_) == CONNECTION_OK)
            refused = QStringLiteral("refused the entries: ") + ErrorOf(insert.handle, server_);
        if (sent && std::strcmp(PQcmdTuples(insert.handle), "0") == 0) {
            // Already there under its key: this entry, sent before (an acknowledgement lost),
            // or another file's under the same name, which must not swallow this one.
            const char* key[] = {values[13], values[14]};
            const Result held(PQexecParams(server_,
                                           "SELECT at, what, before, after FROM entries"
                                           " WHERE origin = $1 AND origin_id = $2",
                                           2, nullptr, key, nullptr, nullptr, 0));
            sent = held.status() == PGRES_TUPLES_OK && PQntuples(held.handle) == 1;
            for (const int field : {0, 7, 8, 9}) {
                const int column = field == 0 ? 0 : field - 6;
                sent = sent && fields[field] == PQgetvalue(held.handle, 0, column);
            }
            originTaken = !sent && held.status() == PGRES_TUPLES_OK;
        }
    }
    if (sent) {
        const Result commit(PQexec(server_, "COMMIT"));
        sent = commit.status() == PGRES_COMMAND_OK;
        if (!sent && PQstatus(server_) == CONNECTION_OK)
            refused = QStringLiteral("refused the entries: ") + ErrorOf(commit.handle, server_);
    }
    return sent;
}

QList<Entry> Journal::waitingLocked(int limit, int* count) {
    QList<Entry> entries;
    Statement select;
    const QByteArray sql = QByteArrayLiteral("SELECT ") + kEntryColumns +
                           " FROM entries WHERE id IN (SELECT id FROM outbox) ORDER BY id LIMIT ?1";
    if (count != nullptr) {
        Statement counted;
        *count = sqlite3_prepare_v2(db_, "SELECT count(*) FROM outbox", -1, &counted.handle,
                                    nullptr) == SQLITE_OK &&
                         sqlite3_step(counted.handle) == SQLITE_ROW
                     ? sqlite3_column_int(counted.handle, 0)
                     : 0;
    }
    if (sqlite3_prepare_v2(db_, sql.constData(), -1, &select.handle, nullptr) != SQLITE_OK)
        return entries;
    sqlite3_bind_int(select.handle, 1, limit);
    while (sqlite3_step(select.handle) == SQLITE_ROW)
        entries.append(
            entryFrom([&](int i) { return columnText(select.handle, i); },
                      [&](int i) { return sqlite3_column_type(select.handle, i) == SQLITE_NULL; }));
    return entries;
}

int Journal::countWaiting() {
    std::lock_guard db(dbMutex_);
    int count = 0;
    if (db_ != nullptr)
        waitingLocked(0, &count);
    return count;
}

void Journal::serverLost() {
    dropServer();
    {
        std::lock_guard lock(queueMutex_);
        if (sharing_ == Sharing::Shared || sharing_ == Sharing::Connecting)
            sharing_ = Sharing::Unreachable;
        sendWanted_ = true;
    }
    queueChanged_.notify_all();
    tellSharing();
}

void Journal::tellSharing() {
    const QString text = sharingText();
    {
        std::lock_guard lock(toldMutex_);
        if (text == told_)
            return;
        told_ = text;
    }
    if (options_.onSharing)
        options_.onSharing(text);
}

Journal::Sharing Journal::sharing() const {
    std::lock_guard lock(queueMutex_);
    return sharing_;
}

int Journal::waitingEntries() const {
    std::lock_guard lock(queueMutex_);
    return waiting_;
}

QString Journal::sharingText() const {
    switch (sharing()) {
        case Sharing::LocalOnly:
            return QString();
        case Sharing::Connecting:
            return QStringLiteral("Connecting to the journal server %1...")
                .arg(ServerName(options_.server));
        case Sharing::Shared:
            return QStringLiteral("Service journal shared on %1").arg(ServerName(options_.server));
        case Sharing::Unreachable:
            break;
    }
    QString refused;
    int waiting = 0;
    {
        std::lock_guard lock(queueMutex_);
        refused = refused_;
        waiting = waiting_;
    }
    const QString kept =
        waiting == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(waiting);
    // A server that answered and said no is not out of reach: its reason is the one to act on.
    if (!refused.isEmpty())
        return QStringLiteral("Journal server %1 %2: %3 kept here")
            .arg(ServerName(options_.server), refused, kept);
    return QStringLiteral("Journal server %1 cannot be reached: %2 kept here, sent when it can")
        .arg(ServerName(options_.server), kept);
}

QString Journal::ServerName(const QString& connection) {
    PQconninfoOption* options = PQconninfoParse(connection.toUtf8().constData(), nullptr);
    if (options == nullptr)
        return QStringLiteral("(a connection string that does not read)");
    QString host, port, database;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        const QString value = QString::fromUtf8(o->val ? o->val : "");
        if (qstrcmp(o->keyword, "host") == 0 ||
            (qstrcmp(o->keyword, "hostaddr") == 0 && host.isEmpty()))
            host = value;
        else if (qstrcmp(o->keyword, "port") == 0)
            port = value;
        else if (qstrcmp(o->keyword, "dbname") == 0)
            database = value;
    }
    PQconninfoFree(options);
    QString name = host.isEmpty() ? QStringLiteral("localhost") : host;
    if (!port.isEmpty())
        name += QLatin1Char(':') + port;
    if (!database.isEmpty())
        name += QLatin1Char('/') + database;
    return name;
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
        if (shared() && !prepareOutboxLocked(db)) {
            failLocked(QStringLiteral("%1: %2").arg(path_, lastError(db)));
            sqlite3_close(db);
            return false;
        }
        db_ = db;
        return true;
    }
    return false;
}

bool Journal::renameOriginLocked() {
    if (db_ == nullptr)
        return false;
    Statement rename;
    if (sqlite3_prepare_v2(db_, "UPDATE origin SET id = ?1", -1, &rename.handle, nullptr) !=
        SQLITE_OK)
        return false;
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    bindText(rename.handle, 1, name);
    if (sqlite3_step(rename.handle) != SQLITE_DONE)
        return false;
    origin_ = name;
    return true;
}

bool Journal::prepareOutboxLocked(sqlite3* db) {
    if (sqlite3_exec(db, kOutbox, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    // Named once, by whichever journal gets there first; every later one reads that name.
    Statement name;
    if (sqlite3_prepare_v2(db,
                           "INSERT INTO origin (id) SELECT ?1"
                           " WHERE NOT EXISTS (SELECT 1 FROM origin)",
                           -1, &name.handle, nullptr) != SQLITE_OK)
        return false;
    bindText(name.handle, 1, QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (sqlite3_step(name.handle) != SQLITE_DONE)
        return false;
    Statement read;
    if (sqlite3_prepare_v2(db, "SELECT id FROM origin LIMIT 1", -1, &read.handle, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(read.handle) != SQLITE_ROW)
        return false;
    origin_ = columnText(read.handle, 0);
    return !origin_.isEmpty();
}

bool Journal::writeLocked(Entry& entry) {
    // With a server, the entry and its place in the outbox are one commit.
    if (shared() && sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        failLocked(QStringLiteral("%1: %2").arg(path_, lastError(db_)));
        return false;
    }
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
        // Without a server, one statement outside a transaction: committed when it returns.
        rc = sqlite3_step(insert.handle);
    }
    if (shared() && rc == SQLITE_DONE) {
        rc = sqlite3_exec(db_,
                          "INSERT INTO outbox (id) VALUES (last_insert_rowid());"
                          " COMMIT",
                          nullptr, nullptr, nullptr);
        rc = rc == SQLITE_OK ? SQLITE_DONE : rc;
    }
    if (rc != SQLITE_DONE) {
        failLocked(QStringLiteral("%1: %2").arg(path_, lastError(db_)));
        if (shared())
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
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
    QByteArray sql = QByteArrayLiteral("SELECT ") + kEntryColumns + " FROM entries";
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
        Entry e =
            entryFrom([&](int i) { return columnText(select.handle, i); },
                      [&](int i) { return sqlite3_column_type(select.handle, i) == SQLITE_NULL; });
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
    return read(serialNumber, nullptr, search, beforeId, limit);
}

QList<Entry> Journal::read(const QString& serialNumber, const ResetsOf* resets,
                           const QString& search, qint64 beforeId, int limit) {
    if (auto entries = serverSelect(serialNumber, resets, search, beforeId, limit))
        return *std::move(entries);
    std::lock_guard lock(dbMutex_);
    return selectLocked(serialNumber, resets, search, beforeId, limit);
}

int Journal::Count(const QString& serialNumber, const QString& search) {
    Flush();
    if (!search.isEmpty()) {
        // A page at a time: the matches are counted, not kept.
        int found = 0;
        for (qint64 before = 0;;) {
            const QList<Entry> page = read(serialNumber, nullptr, {}, before, 2000);
            for (const Entry& e : page)
                found += Matches(e, search) ? 1 : 0;
            if (page.size() < 2000)
                return found;
            before = page.back().id;
        }
    }
    const bool oneUnit = !serialNumber.isEmpty();
    int counted = 0;
    if (serverQuery(
            oneUnit ? "SELECT count(*) FROM entries WHERE serial = $1"
                    : "SELECT count(*) FROM entries",
            oneUnit ? QList<QByteArray>{serialNumber.toUtf8()} : QList<QByteArray>(),
            [&](const PGresult* rows) { counted = QByteArray(PQgetvalue(rows, 0, 0)).toInt(); }))
        return counted;
    std::lock_guard lock(dbMutex_);
    if (db_ == nullptr && !openLocked())
        return 0;
    Statement count;
    const char* sql =
        oneUnit ? "SELECT count(*) FROM entries WHERE serial = ?1" : "SELECT count(*) FROM entries";
    if (sqlite3_prepare_v2(db_, sql, -1, &count.handle, nullptr) != SQLITE_OK)
        return 0;
    if (oneUnit)
        bindText(count.handle, 1, serialNumber);
    return sqlite3_step(count.handle) == SQLITE_ROW ? sqlite3_column_int(count.handle, 0) : 0;
}

std::optional<Entry> Journal::LastReset(int family, const QString& model,
                                        const QString& serialNumber) {
    // Units without a serial number of their own would all be one unit.
    if (IsPlaceholderSerial(serialNumber))
        return std::nullopt;
    Flush();
    const auto values = [](const QString& text) {
        QList<LabelledValue> list = ParseValues(text);
        for (LabelledValue& v : list)
            v.value = v.value.trimmed();
        return list;
    };
    const ResetsOf unit{family, model.trimmed()};
    for (Entry& e : read(serialNumber.trimmed(), &unit, {}, 0, -1)) {
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
    // Ordered by their bytes, as the local file orders them, whatever the server's locale.
    if (serverQuery("SELECT serial FROM entries WHERE serial <> '' GROUP BY serial"
                    " ORDER BY serial COLLATE \"C\"",
                    {}, [&](const PGresult* rows) {
                        for (int row = 0; row < PQntuples(rows); ++row)
                            serials.append(QString::fromUtf8(PQgetvalue(rows, row, 0)));
                    }))
        return serials;
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

bool Journal::serverQuery(const QByteArray& sql, const QList<QByteArray>& parameters,
                          const std::function<void(const PGresult*)>& take) {
    if (!shared())
        return false;
    {
        std::lock_guard lock(queueMutex_);
        if (sharing_ != Sharing::Shared)
            return false;
    }
    {
        std::lock_guard lock(serverMutex_);
        if (server_ == nullptr)
            return false;
        QList<const char*> values;
        for (const QByteArray& p : parameters)
            values.append(p.constData());
        const Result rows(PQexecParams(server_, sql.constData(), int(values.size()), nullptr,
                                       values.constData(), nullptr, nullptr, 0));
        if (rows.status() == PGRES_TUPLES_OK) {
            take(rows.handle);
            return true;
        }
        // A query the server refused leaves it reached; the file answers this one.
        if (PQstatus(server_) == CONNECTION_OK)
            return false;
    }
    serverLost();
    return false;
}

std::optional<QList<Entry>> Journal::serverSelect(const QString& serialNumber,
                                                  const ResetsOf* resets, const QString& search,
                                                  qint64 beforeId, int limit) {
    QList<Entry> entries;
    qint64 before = beforeId > 0 ? beforeId : std::numeric_limits<qint64>::max();
    for (;;) {
        // A search filters what comes, a chunk at a time; without one the server counts.
        const int chunk = search.isEmpty() ? limit : kServerChunk;
        QList<QByteArray> parameters{QByteArray::number(before)};
        QByteArray sql =
            QByteArrayLiteral("SELECT ") + kEntryColumns + " FROM entries WHERE id < $1";
        const auto parameter = [&](const QByteArray& value) {
            parameters.append(value);
            return QByteArrayLiteral("$") + QByteArray::number(parameters.size());
        };
        if (!serialNumber.isEmpty())
            sql += " AND serial = " + parameter(serialNumber.toUtf8());
        if (resets) {
            sql += " AND kind = 0 AND what = " + parameter(kResetWhat);
            sql += " AND family = " + parameter(QByteArray::number(resets->family));
            sql += " AND model = " + parameter(resets->model.toUtf8());
        }
        sql += " ORDER BY id DESC";
        if (chunk >= 0)
            sql += " LIMIT " + parameter(QByteArray::number(chunk));
        int rows = 0;
        const bool reached = serverQuery(sql, parameters, [&](const PGresult* result) {
            rows = PQntuples(result);
            for (int row = 0; row < rows; ++row) {
                Entry e =
                    entryFrom([&](int i) { return QString::fromUtf8(PQgetvalue(result, row, i)); },
                              [&](int i) { return PQgetisnull(result, row, i) != 0; });
                before = e.id;
                if ((limit < 0 || entries.size() < limit) &&
                    (search.isEmpty() || Matches(e, search)))
                    entries.append(std::move(e));
            }
        });
        if (!reached)
            return std::nullopt;
        if (chunk < 0 || rows < chunk || (limit >= 0 && entries.size() >= limit))
            return entries;
    }
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
