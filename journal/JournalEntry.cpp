#include "JournalEntry.h"

namespace morlen::journal {

QString FormatValues(const QList<LabelledValue>& values) {
    QString text;
    for (const LabelledValue& v : values) {
        QString value = v.value;
        // A line break would start a line of its own: cut there.
        const qsizetype cut = value.indexOf(QLatin1Char('\n'));
        if (cut >= 0)
            value.truncate(cut);
        value.remove(QLatin1Char('\r'));
        text += v.label + QLatin1Char('=') + value + QLatin1Char('\n');
    }
    return text;
}

QList<LabelledValue> ParseValues(const QString& text) {
    QList<LabelledValue> values;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        values.append({line.left(equals), line.mid(equals + 1)});
    }
    return values;
}

QString ValueOf(const QString& text, const QString& label) {
    for (const LabelledValue& v : ParseValues(text)) {
        if (v.label == label)
            return v.value.isNull() ? QStringLiteral("") : v.value;
    }
    return QString();
}

QString OutcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Confirmed:
            return QStringLiteral("Confirmed");
        case Outcome::NotReached:
            return QStringLiteral("Not reached");
        case Outcome::Refused:
            return QStringLiteral("Refused");
        case Outcome::Unanswered:
            return QStringLiteral("Unanswered");
    }
    return QString();
}

QString KindText(Kind kind) {
    switch (kind) {
        case Kind::Change:
            return QStringLiteral("Change");
        case Kind::ConnectionBegin:
            return QStringLiteral("Connection");
        case Kind::ConnectionEnd:
            return QStringLiteral("End of connection");
    }
    return QString();
}

}  // namespace morlen::journal
