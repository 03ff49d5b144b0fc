#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace morlen::journal {

// A throwaway PostgreSQL server of the tests' own: a cluster made with initdb in a temporary
// folder, reached only through a unix socket in that folder, stopped and removed at the end.
// The server refuses to run as root: as root, its programs run as the `postgres` user.
class PgServer {
public:
    // Makes the cluster and starts it; error() says why when that failed.
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool start();
    bool stop();
    // Why the last start or stop failed, with the server's log; empty when it did not.
    const QString& error() const { return error_; }

    // The connection string of one of its databases.
    QString connection(const QString& database) const;
    // A new empty database; its connection string, empty when it could not be made.
    QString newDatabase();

    // The server started for a whole test program, on first use.
    static PgServer& Shared();

private:
    bool run(const QStringList& command);

    QTemporaryDir dir_;
    QString bin_;
    int port_ = 0;
    int databases_ = 0;
    bool running_ = false;
    QString error_;
};

// A query's rows as text, from outside the journal; the error as the only row when it failed.
QList<QStringList> Query(const QString& connection, const QString& sql);

}  // namespace morlen::journal
