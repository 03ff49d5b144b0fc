#include "JournalEntry.h"

namespace morlen::journal {

bool IsPlaceholderSerial(const QString& serialNumber) {
    const QString serial = serialNumber.trimmed();
    return serial.isEmpty() || serial.compare(QLatin1String("NA"), Qt::CaseInsensitive) == 0;
}

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

namespace {

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString EntriesCsv(const QList<Entry>& entries) {
    QString csv = QStringLiteral(
        "When,Kind,Model,Serial number,Firmware,Port,Connection,What,Before,After,Outcome,"
        "Reason\r\n");
    for (const Entry& e : entries) {
        const QString fields[] = {e.when,
                                  KindText(e.kind),
                                  e.model,
                                  e.serialNumber,
                                  e.firmware,
                                  e.port,
                                  e.connection,
                                  e.what,
                                  e.before,
                                  e.after,
                                  OutcomeText(e.outcome),
                                  e.reason};
        QStringList line;
        for (const QString& field : fields)
            line.append(csvField(field));
        csv += line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
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
