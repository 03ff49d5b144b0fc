#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

namespace morlen::journal {

// What an entry records.
enum class Kind {
    Change,           // a request that changes or may change the unit, or an EEPROM read
    ConnectionBegin,  // a unit identified on a port
    ConnectionEnd,    // the port closed
};

// How a request ended.
enum class Outcome {
    Confirmed,   // the unit read back what was asked for
    NotReached,  // the unit answered but did not get there; `reason` says why
    Refused,     // the unit answered "NA" (or the like) to the request itself
    Unanswered,  // the unit did not answer
};

// One line of the service journal. Texts are as the unit gave them (Latin-1 decoded).
struct Entry {
    qint64 id = 0;  // given by the store; 0 until written
    QString when;   // local time, ISO 8601 with its offset ("2026-12-08T15:52:44+01:00")
    Kind kind = Kind::Change;
    // The unit as identified when the request ended; its family as the link numbers them, -1
    // where it is not known (entries written before the journal kept it).
    QString model, serialNumber, firmware;
    int family = -1;
    // The connection the entry belongs to (the same text on every entry of one connection,
    // ConnectionBegin and ConnectionEnd included) and its port ("COM1", "/dev/ttyUSB0").
    QString connection, port;
    // What was done, named as the window labels it: "Up Voltage", "Serial Number", "Reset all
    // to default", "Read EEPROM"... For ConnectionBegin / ConnectionEnd a short description.
    QString what;
    // The values before and after, as last read back from the unit. A reset holds all ten
    // settings in each (see FormatSettings); a ConnectionBegin holds the unit's readings at
    // the connection in `after`, in the same "label=value" lines.
    QString before, after;
    Outcome outcome = Outcome::Confirmed;
    QString reason;  // why it was not confirmed; empty when it was
};

// What a reset entry's `what` reads (the button's text).
inline constexpr const char* kResetWhat = "Reset all to default";

// A serial number that names no unit: empty, blanks, or "NA" from a unit without one. Two units
// with such a number are never taken for one.
bool IsPlaceholderSerial(const QString& serialNumber);

// One labelled value of a multi-value entry.
struct LabelledValue {
    QString label, value;
    bool operator==(const LabelledValue&) const = default;
};

// One "label=value" line per value, in the given order, '\n' after each. A label holds no
// '=' and no line break; a value holds no line break (one would be cut there).
QString FormatValues(const QList<LabelledValue>& values);
// The lines of FormatValues back, split at the first '='. Lines without '=' are skipped;
// neither part is trimmed ("OFF " stays "OFF ").
QList<LabelledValue> ParseValues(const QString& text);
// The value under `label` in FormatValues text, or a null QString when there is none.
QString ValueOf(const QString& text, const QString& label);

// The entries as CSV for a spreadsheet: a header line, then one line per entry, fields quoted
// where they hold a comma, a quote or a line break (RFC 4180), lines ended by CR LF.
QString EntriesCsv(const QList<Entry>& entries);

// The names the journal window and the export show.
QString OutcomeText(Outcome outcome);  // "Confirmed", "Not reached", "Refused", "Unanswered"
QString KindText(Kind kind);           // "Change", "Connection", "End of connection"

}  // namespace morlen::journal
