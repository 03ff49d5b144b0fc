#include "PgServer.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace morlen::journal {

namespace {

// Where the server's programs are: pg_config says, else the newest Debian cluster version.
QString ServerPrograms() {
    if (FILE* config = ::popen("pg_config --bindir 2>/dev/null", "r")) {
        char line[4096] = {};
        const bool read = std::fgets(line, sizeof line, config) != nullptr;
        ::pclose(config);
        const QString bin = QString::fromLocal8Bit(line).trimmed();
        if (read && QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                               .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto v = versions.crbegin(); v != versions.crend(); ++v) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*v);
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return QString();
}

// A TCP port nobody listens on now; it names the socket file.
int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 54329;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (s >= 0)
        ::close(s);
    return port;
}

QString FileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// Stops the shared server when the test program ends.
class SharedServerEnd : public ::testing::Environment {
public:
    void TearDown() override { server.reset(); }
    static inline std::unique_ptr<PgServer> server;
};
const auto* const kEnd = ::testing::AddGlobalTestEnvironment(new SharedServerEnd);

}  // namespace

PgServer::PgServer() : bin_(ServerPrograms()), port_(FreePort()) {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder: ") + dir_.errorString();
        return;
    }
    if (bin_.isEmpty()) {
        error_ = QStringLiteral(
            "no PostgreSQL server programs: neither `pg_config --bindir` nor "
            "/usr/lib/postgresql/*/bin has initdb (Debian package postgresql)");
        return;
    }
    if (::geteuid() == 0) {
        // The server will not run as root: the folder becomes the postgres user's.
        const passwd* user = ::getpwnam("postgres");
        if (user == nullptr) {
            error_ = QStringLiteral(
                "running as root and there is no `postgres` user to run the "
                "server as (the Debian package postgresql makes one)");
            return;
        }
        if (::chown(QFile::encodeName(dir_.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            error_ = QStringLiteral("cannot give %1 to the postgres user").arg(dir_.path());
            return;
        }
    }
    if (!run({bin_ + QStringLiteral("/initdb"), QStringLiteral("-A"), QStringLiteral("trust"),
              QStringLiteral("-U"), QStringLiteral("morlen"), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync"),
              QStringLiteral("-D"), dir_.filePath(QStringLiteral("data"))}))
        return;
    start();
}

PgServer::~PgServer() {
    if (running_)
        stop();
}

bool PgServer::run(const QStringList& command) {
    QStringList argv = command;
    if (::geteuid() == 0)
        argv = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"),
                           QStringLiteral("postgres"), QStringLiteral("--")} +
               command;
    std::vector<QByteArray> bytes;
    for (const QString& a : argv)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char*> args;
    for (QByteArray& b : bytes)
        args.push_back(b.data());
    args.push_back(nullptr);
    const QString log = dir_.filePath(QStringLiteral("command.log"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, QFile::encodeName(log).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        error_ = QStringLiteral("`%1` failed: %2\n%3\nserver log:\n%4")
                     .arg(argv.join(QLatin1Char(' ')),
                          spawned != 0 ? QString::fromLocal8Bit(std::strerror(spawned))
                                       : QStringLiteral("exit status %1").arg(status),
                          FileText(log), FileText(dir_.filePath(QStringLiteral("server.log"))));
        return false;
    }
    return true;
}

bool PgServer::start() {
    error_.clear();
    // Only a socket in the folder: nothing else on the machine can reach it or be hit by it.
    running_ = run({bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("start"), QStringLiteral("-w"),
                    QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-D"),
                    dir_.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                    dir_.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
                    QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off")
                        .arg(dir_.path())
                        .arg(port_)});
    return running_;
}

bool PgServer::stop() {
    error_.clear();
    running_ = !run({bin_ + QStringLiteral("/pg_ctl"), QStringLiteral("stop"), QStringLiteral("-w"),
                     QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-D"),
                     dir_.filePath(QStringLiteral("data"))});
    return !running_;
}

QString PgServer::connection(const QString& database) const {
    return QStringLiteral("host=%1 port=%2 user=morlen dbname=%3")
        .arg(dir_.path())
        .arg(port_)
        .arg(database);
}

QString PgServer::newDatabase() {
    const QString name = QStringLiteral("journal%1").arg(++databases_);
    const QList<QStringList> made =
        Query(connection(QStringLiteral("postgres")), QStringLiteral("CREATE DATABASE ") + name);
    if (!made.isEmpty()) {
        error_ = made.front().join(QLatin1Char(' '));
        return QString();
    }
    return connection(name);
}

PgServer& PgServer::Shared() {
    if (!SharedServerEnd::server)
        SharedServerEnd::server = std::make_unique<PgServer>();
    return *SharedServerEnd::server;
}

QList<QStringList> Query(const QString& connection, const QString& sql) {
    QList<QStringList> rows;
    PGconn* server = PQconnectdb(connection.toUtf8().constData());
    PGresult* result = PQexec(server, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(result); ++row) {
            QStringList columns;
            for (int column = 0; column < PQnfields(result); ++column)
                columns.append(QString::fromUtf8(PQgetvalue(result, row, column)));
            rows.append(columns);
        }
    } else if (status != PGRES_COMMAND_OK) {
        rows.append({QStringLiteral("error:"), QString::fromUtf8(PQerrorMessage(server))});
    }
    PQclear(result);
    PQfinish(server);
    return rows;
}

}  // namespace morlen::journal
