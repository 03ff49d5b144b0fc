#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "Apcups.h"
#include "JournalEntry.h"
#include "Requests.h"

namespace morlen {

namespace journal {
class Journal;
}

// How a request ended, as its handling saw it.
struct RequestEnd {
    // Where a walk (or a row) has said so; else the note or the value read back decides.
    std::optional<journal::Outcome> outcome;
    QString reason;
    // The request note the request left on the window; empty when none.
    QString note;
};

// Feeds the service journal: the connections and every request that changes the unit, each
// with the unit's identity as the unit object holds it. Recording only copies what the unit
// last read back: the journal adds nothing to the line.
//
// Used by whichever thread owns the link: the window thread while no poll thread runs (the
// connection's begin, the end at a close), else the poll thread.
class JournalFeed {
public:
    // The journal as its owner holds it, now and later: while it holds none, the journal is
    // off and nothing is recorded.
    explicit JournalFeed(const std::unique_ptr<journal::Journal>& journal) : journal_(journal) {}

    bool On() const { return journal_ != nullptr; }
    // The open connection's name in the journal; empty when none is open.
    const QString& connection() const { return connection_; }

    // A connection step begins on `port`: what it changes in the unit belongs to this
    // connection from here on, before its "Connection" entry.
    void ConnectionOpened(const QString& port);
    // The connection step has identified the unit; `readings` are what the window shows of it
    // ("label=value").
    void ConnectionBegun(const APCUPS& ups, const QString& what, const QString& readings);
    // A change the connection step made itself, outside any request.
    void StepChanged(const APCUPS& ups, const QString& what, const QString& before,
                     const QString& after, journal::Outcome outcome, const QString& reason);
    // The connection ends, `what` says how; nothing when none is open.
    void ConnectionEnded(const APCUPS& ups, const QString& what);

    // What `record` holds of the unit now: taken before a request runs, and after.
    static QString ValueOf(const JournalRecord& record, const APCUPS& ups);
    // A request ended: its entry, with `before` as taken when it began.
    void RequestEnded(const APCUPS& ups, const JournalRecord& record, const QString& before,
                      const RequestEnd& end);
    // Any other entry of the connection.
    void Record(const APCUPS& ups, journal::Entry entry);

private:
    const std::unique_ptr<journal::Journal>& journal_;
    QString connection_, port_;
};

}  // namespace morlen
