#include "JournalFeed.h"

#include <QDateTime>

#include "Apcups.h"
#include "Journal.h"
#include "UnitSettings.h"

namespace morlen {

namespace {

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

}  // namespace

void JournalFeed::ConnectionOpened(const QString& port) {
    connection_ = journal::Journal::TimeText(QDateTime::currentDateTime());
    port_ = port;
}

void JournalFeed::ConnectionBegun(const APCUPS& ups, const QString& what, const QString& readings) {
    if (!On())
        return;
    journal::Entry entry;
    entry.kind = journal::Kind::ConnectionBegin;
    entry.what = what;
    entry.after = readings;
    Record(ups, std::move(entry));
}

void JournalFeed::ConnectionEnded(const APCUPS& ups, const QString& what) {
    if (!On() || connection_.isEmpty())
        return;
    journal::Entry entry;
    entry.kind = journal::Kind::ConnectionEnd;
    entry.what = what;
    Record(ups, std::move(entry));
    connection_.clear();
}

void JournalFeed::StepChanged(const APCUPS& ups, const QString& what, const QString& before,
                              const QString& after, journal::Outcome outcome,
                              const QString& reason) {
    journal::Entry entry;
    entry.what = what;
    entry.before = before;
    entry.after = after;
    entry.outcome = outcome;
    entry.reason = reason;
    Record(ups, std::move(entry));
}

void JournalFeed::Record(const APCUPS& ups, journal::Entry entry) {
    if (!On())
        return;
    entry.model = latin(ups.modelName.c_str()).trimmed();
    entry.serialNumber = latin(ups.serialNumber.c_str()).trimmed();
    entry.firmware = latin(ups.firmwareText.c_str()).trimmed();
    entry.family = ups.family;
    entry.connection = connection_;
    entry.port = port_;
    journal_->Record(std::move(entry));
}

QString JournalFeed::ValueOf(const JournalRecord& record, const APCUPS& ups) {
    using S = JournalRecord::Style;
    switch (record.style) {
        case S::Value:
            return latin(record.value(ups));
        case S::Settings: {
            QList<journal::LabelledValue> settings;
            for (const StoredSetting& setting : StoredSettings())
                if (setting.reset)
                    settings.append({latin(setting.label), latin(setting.value(ups))});
            return journal::FormatValues(settings);
        }
        case S::Command:
            return latin(ups.replyBuffer);
        case S::None:
        case S::Eeprom:
            break;
    }
    return QString();
}

void JournalFeed::RequestEnded(const APCUPS& ups, const JournalRecord& record,
                               const QString& before, const RequestEnd& end) {
    using S = JournalRecord::Style;
    if (!On() || record.style == S::None)
        return;
    journal::Entry entry;
    entry.what = latin(record.what);
    entry.after = ValueOf(record, ups);
    if (record.style != S::Command)
        entry.before = before;

    // A walk's end, or a note the request left in the status text, says how it ended; else
    // the value read back does.
    if (end.outcome) {
        entry.outcome = *end.outcome;
        entry.reason = end.reason;
    } else if (!end.note.isEmpty()) {
        entry.outcome = journal::Outcome::NotReached;
        entry.reason = end.note;
    } else if (record.style == S::Eeprom) {
        entry.outcome = journal::Outcome::Confirmed;
    } else if (record.style == S::Settings) {
        // Every setting read back empty: the unit did not answer the reset.
        bool answered = false;
        for (const journal::LabelledValue& v : journal::ParseValues(entry.after))
            answered = answered || !v.value.isEmpty();
        entry.outcome = answered ? journal::Outcome::Confirmed : journal::Outcome::Unanswered;
    } else if (entry.after.isEmpty()) {
        entry.outcome = journal::Outcome::Unanswered;
    } else if (entry.after == QLatin1String("NA")) {
        entry.outcome = journal::Outcome::Refused;
    } else {
        entry.outcome = journal::Outcome::Confirmed;
    }
    if (entry.outcome == journal::Outcome::Unanswered && entry.reason.isEmpty())
        entry.reason = QStringLiteral("The UPS did not answer.");
    Record(ups, std::move(entry));
}

}  // namespace morlen
