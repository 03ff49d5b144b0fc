#include "BatteryService.h"

#include <QRegularExpression>

#include "Apcups.h"
#include "BatteryWatch.h"
#include "JournalEntry.h"
#include "JournalFeed.h"
#include "RequestHandling.h"

namespace morlen {

namespace {

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

constexpr unsigned kReplaceBattery = 0x80;
// Progress lines kept of one calibration: the report shows its course, not every pass.
constexpr int kCourseLines = 40;

}  // namespace

BatteryService::BatteryService(View& view, APCUPS& ups, HandOff& handOff, JournalFeed& journal,
                               BatteryWatch& battery)
    : view_(view), ups_(ups), handOff_(handOff), journal_(journal), battery_(battery) {
    battery_.selfTestRead = [this](const char* reply) { SelfTestRead(reply); };
}

namespace {

QString UnitSeparator(const QString& unitDate) {
    // The unit's own separator, of the few a date is written with; MM/DD/YY is what units show.
    static const QRegularExpression form(QStringLiteral("^\\d\\d([/.-])\\d\\d\\1\\d\\d$"));
    const auto match = form.match(unitDate.trimmed());
    return match.hasMatch() ? match.captured(1) : QStringLiteral("/");
}

}  // namespace

QString BatteryService::TodayInUnitForm(const QString& unitDate, const QDate& today) {
    return today.toString(QStringLiteral("MM%1dd%1yy").arg(UnitSeparator(unitDate)));
}

QString ServiceDateProblem(const QString& typed, const QString& unitDate) {
    const QString separator = UnitSeparator(unitDate);
    const QString form = QStringLiteral("MM%1DD%1YY").arg(separator);
    static const QRegularExpression digits(QStringLiteral("^(\\d\\d)(.)(\\d\\d)\\2(\\d\\d)$"));
    const auto match = digits.match(typed);
    if (!match.hasMatch() || match.captured(2) != separator)
        return QStringLiteral("\"%1\" is not a date as this UPS writes it (%2): nothing was sent.")
            .arg(typed, form);
    if (!QDate(2000 + match.captured(4).toInt(), match.captured(1).toInt(),
               match.captured(3).toInt())
             .isValid())
        return QStringLiteral("\"%1\" is no date of the calendar (%2): nothing was sent.")
            .arg(typed, form);
    return QString();
}

QString BatteryService::Readings() {
    QList<journal::LabelledValue> values;
    asked_ = answered_ = 0;
    // A reply counts as a reading when it is neither nothing nor "NA".
    const auto read = [this](const char* reply) {
        ++asked_;
        const std::string_view text(reply);
        answered_ += !text.empty() && text != "NA" ? 1 : 0;
        return latin(reply);
    };
    values.append({QStringLiteral("Battery date"), read(ups_.ReadBatteryReplaceDate())});
    if (ups_.family != FamilyBackPro) {
        values.append({QStringLiteral("Charge"), read(ups_.ReadBatteryCapacity()) + " %"});
        values.append({QStringLiteral("Run time"), read(ups_.ReadRunTime()) + " min"});
        values.append({QStringLiteral("Load"), read(ups_.ReadLoad()) + " %"});
    }
    if (ups_.AnswersBatteryReads()) {
        const char* result = ups_.ReadSelfTestResult();
        read(result);
        values.append({QStringLiteral("Self-test result"), latin(SelfTestResultWords(result))});
    } else {
        values.append(
            {QStringLiteral("Self-test result"), QStringLiteral("Not reported by this UPS")});
    }
    const auto status = ReadStatusByte(ups_);
    ++asked_;
    answered_ += status ? 1 : 0;
    values.append({QStringLiteral("Replace battery"), !status ? QStringLiteral("Not answered")
                                                      : (*status & kReplaceBattery) != 0u
                                                          ? QStringLiteral("Yes")
                                                          : QStringLiteral("No")});
    return journal::FormatValues(values);
}

void BatteryService::Before() {
    active_ = true;
    calibrating_ = false;
    mayStartLate_ = false;
    dateAfterCalibration_ = false;
    state_ = ServiceState();
    // The service's first read: a calibration running already comes before anything else.
    QString found;
    if (ups_.OffersCalibration() && !battery_.Calibrating()) {
        const auto status = ReadStatusByte(ups_);
        if (status && (*status & qbit::Calibration) != 0) {
            battery_.FoundCalibrating(QStringLiteral("at the service's start"));
            found = battery_.Calibrating() ? battery_.progressText() : battery_.endText();
            if (found.isEmpty())
                found = QStringLiteral("The UPS is running a runtime calibration.");
            found += QLatin1Char(' ');
        }
    }
    state_.model = latin(ups_.modelName.c_str()).trimmed();
    state_.serialNumber = latin(ups_.serialNumber.c_str()).trimmed();
    state_.firmware = latin(ups_.firmwareText.c_str()).trimmed();
    state_.connection = journal_.connection();
    state_.before = Readings();
    state_.oldDate = latin(ups_.batteryReplaceDate.c_str());
    const std::chrono::year_month_day today = ups_.clock().today();
    state_.proposedDate = TodayInUnitForm(
        state_.oldDate, QDate(int(today.year()), unsigned(today.month()), unsigned(today.day())));
    state_.next = ServiceStep::Date;
    RecordReadings(QStringLiteral("before"), QString(), state_.before);
    // Morlen's own calibration, or an abort that waits for the status: nothing but "Q" and the
    // readings may reach the unit until it ends.
    if (battery_.Calibrating()) {
        dateAfterCalibration_ = true;
        Follow();
        Publish(found + QStringLiteral(
                            "Readings taken. A runtime calibration runs: it is followed, and the "
                            "date and the self-test wait until it ends."));
        return;
    }
    Publish(found + QStringLiteral("Readings taken. Next: the new battery date."));
}

void BatteryService::Follow() {
    calibrating_ = true;
    state_.waiting = true;
    state_.next = ServiceStep::Calibration;
    state_.calibrationStart = battery_.startText();
    state_.calibrationCourse.clear();
    state_.calibrationEnd.clear();
}

void BatteryService::Refused(const QString& why) {
    if (active_)
        Publish(why);
}

void BatteryService::DateWritten(const QString& oldDate, const QString& typed) {
    if (!active_ || state_.next != ServiceStep::Date)
        return;
    state_.oldDate = oldDate;
    state_.newDate = latin(ups_.batteryReplaceDate.c_str());
    const bool stored = ups_.lastTextWrite == TextWrite::Accepted &&
                        state_.newDate.trimmed() == typed.left(8).trimmed();
    if (stored) {
        state_.dateOutcome = QStringLiteral("Stored: %1 (was %2).").arg(state_.newDate, oldDate);
        state_.next = ServiceStep::SelfTest;
        Publish(state_.dateOutcome + QStringLiteral(" Next: the self-test."));
    } else if (ups_.RefusedSelection() != nullptr || ups_.lastTextWrite == TextWrite::Refused) {
        state_.dateOutcome =
            QStringLiteral("The UPS refused the new date; nothing else was sent. It keeps %1.")
                .arg(state_.newDate.isEmpty() ? oldDate : state_.newDate);
        Publish(state_.dateOutcome);
    } else {
        state_.dateOutcome =
            QStringLiteral("The UPS did not confirm the new date: it reads back \"%1\".")
                .arg(state_.newDate);
        Publish(state_.dateOutcome);
    }
}

void BatteryService::SelfTestStarted(const std::string& reply) {
    if (!active_ || state_.next != ServiceStep::SelfTest)
        return;
    // A unit that did not start a test still holds the result of an earlier one: none is read.
    if (reply != "OK") {
        state_.selfTestResult =
            QStringLiteral("Not started (the UPS answered \"%1\")")
                .arg(reply.empty() ? QStringLiteral("nothing") : QString::fromLatin1(reply));
        Record(QStringLiteral("self-test"), QString(), state_.selfTestResult,
               reply.empty() ? journal::Outcome::Unanswered : journal::Outcome::Refused,
               state_.selfTestResult);
        Publish(QStringLiteral("Self-test: %1.").arg(state_.selfTestResult));
        return;
    }
    if (!ups_.AnswersBatteryReads()) {
        state_.selfTestResult = QStringLiteral("Not reported by this UPS");
        state_.next = ServiceStep::Calibration;
        Record(QStringLiteral("self-test"), QString(), state_.selfTestResult,
               journal::Outcome::NotReached, state_.selfTestResult);
        Publish(
            QStringLiteral("Self-test started; this UPS reports no result. Next: the "
                           "runtime calibration (optional)."));
        return;
    }
    battery_.SelfTestStarted(true);
    state_.waiting = true;
    Publish(QStringLiteral("Self-test running: its result is read in %1 s.")
                .arg(BatteryWatch::kSelfTestSeconds));
}

void BatteryService::SelfTestRead(const char* reply) {
    if (!active_ || !state_.waiting || state_.next != ServiceStep::SelfTest)
        return;
    state_.waiting = false;
    const std::string_view answer(reply);
    const bool result = answer == "OK" || answer == "BT" || answer == "NG";
    state_.selfTestResult =
        result ? latin(SelfTestResultWords(reply))
               : QStringLiteral("No result (the UPS answered \"%1\")")
                     .arg(answer.empty() ? QStringLiteral("nothing") : latin(reply));
    state_.next = ServiceStep::Calibration;
    Record(QStringLiteral("self-test"), QString(), state_.selfTestResult,
           result ? journal::Outcome::Confirmed
                  : (answer.empty() ? journal::Outcome::Unanswered : journal::Outcome::NotReached),
           result ? QString() : state_.selfTestResult);
    Publish(QStringLiteral("Self-test: %1. Next: the runtime calibration (optional).")
                .arg(state_.selfTestResult));
}

void BatteryService::CalibrationAsked() {
    if (!active_ || state_.next != ServiceStep::Calibration)
        return;
    state_.calibrationStart = battery_.startText();
    state_.calibrationCourse.clear();
    calibrating_ = battery_.Calibrating();
    state_.waiting = calibrating_;
    if (calibrating_) {
        Publish(QStringLiteral("Calibration running."));
        return;
    }
    // Not started: the guard has said why, and journalled it.
    state_.calibrationEnd = battery_.endText();
    state_.next = ServiceStep::After;
    mayStartLate_ = true;
    Publish(state_.calibrationEnd);
}

void BatteryService::Step() {
    if (!active_)
        return;
    // The watch believes a late start only on the unit's own bit: the service follows it again,
    // also after the readings after. Once the watch stops looking, a calibration is no late start.
    if (mayStartLate_ && !battery_.LookingForLateStart()) {
        mayStartLate_ = false;
        if (!calibrating_ && battery_.Calibrating() &&
            (state_.next == ServiceStep::After || state_.next == ServiceStep::Done)) {
            Follow();
            Publish(
                QStringLiteral("The UPS started the calibration late: it runs and is watched."));
            return;
        }
    }
    if (!calibrating_)
        return;
    const QString& progress = battery_.progressText();
    if (!progress.isEmpty() &&
        (state_.calibrationCourse.isEmpty() || state_.calibrationCourse.back() != progress)) {
        if (state_.calibrationCourse.size() >= kCourseLines)
            state_.calibrationCourse.removeAt(kCourseLines / 2);
        state_.calibrationCourse.append(progress);
    }
    if (battery_.Calibrating()) {
        Publish(progress);
        return;
    }
    calibrating_ = false;
    state_.waiting = false;
    state_.calibrationEnd = battery_.endText();
    if (dateAfterCalibration_) {
        dateAfterCalibration_ = false;
        state_.next = ServiceStep::Date;
        Publish(state_.calibrationEnd + QStringLiteral(" Next: the new battery date."));
        return;
    }
    state_.next = ServiceStep::After;
    Publish(state_.calibrationEnd + QStringLiteral(" Next: the readings after."));
}

void BatteryService::Skip() {
    if (!active_ || state_.waiting)
        return;
    QString* outcome = nullptr;
    QString step;
    switch (state_.next) {
        case ServiceStep::Date:
            outcome = &state_.dateOutcome;
            step = QStringLiteral("battery date");
            state_.next = ServiceStep::SelfTest;
            break;
        case ServiceStep::SelfTest:
            outcome = &state_.selfTestResult;
            step = QStringLiteral("self-test");
            state_.next = ServiceStep::Calibration;
            break;
        case ServiceStep::Calibration:
            outcome = &state_.calibrationEnd;
            step = QStringLiteral("runtime calibration");
            state_.next = ServiceStep::After;
            break;
        default:
            return;
    }
    *outcome = QStringLiteral("Left out by the technician.");
    Record(step, QString(), QString(), journal::Outcome::NotReached, *outcome);
    Publish(QStringLiteral("The %1 was left out.").arg(step));
}

void BatteryService::LinkLost() {
    if (!active_ || state_.linkLost)
        return;
    state_.linkLost = true;
    mayStartLate_ = false;
    QString known = QStringLiteral("The link to the UPS was lost: nothing more can be sent.");
    if (state_.waiting && state_.next == ServiceStep::SelfTest) {
        state_.selfTestResult =
            QStringLiteral("Started; the link was lost before its result could be read");
        Record(QStringLiteral("self-test"), QString(), state_.selfTestResult,
               journal::Outcome::Unanswered, state_.selfTestResult);
        known += QStringLiteral(" The self-test's result is not known.");
    } else if (calibrating_) {
        // The watch has journalled the calibration as left to the unit.
        state_.calibrationEnd = battery_.endText();
        known += QLatin1Char(' ') + state_.calibrationEnd;
    }
    calibrating_ = false;
    state_.waiting = false;
    Publish(known);
}

void BatteryService::After() {
    if (!active_ || state_.next != ServiceStep::After)
        return;
    state_.after = Readings();
    state_.next = ServiceStep::Done;
    RecordReadings(QStringLiteral("after"), state_.before, state_.after);
    Publish(QStringLiteral("Battery service complete."));
}

void BatteryService::RecordReadings(const QString& step, const QString& before,
                                    const QString& after) {
    // Confirmed only when the unit gave every reading; none read is unanswered, some partial.
    const journal::Outcome outcome = answered_ == asked_ ? journal::Outcome::Confirmed
                                     : answered_ == 0    ? journal::Outcome::Unanswered
                                                         : journal::Outcome::NotReached;
    Record(step, before, after, outcome,
           outcome == journal::Outcome::Confirmed
               ? QString()
               : QStringLiteral("%1 of %2 readings answered.").arg(answered_).arg(asked_));
}

void BatteryService::Publish(const QString& message) {
    state_.message = message;
    handOff_.RunOnWindowThread([this] { view_.showService(state_); });
}

void BatteryService::Record(const QString& step, const QString& before, const QString& after,
                            journal::Outcome outcome, const QString& reason) {
    journal::Entry entry;
    entry.what = QStringLiteral("Battery service: ") + step;
    entry.before = before;
    entry.after = after;
    entry.outcome = outcome;
    entry.reason = reason;
    journal_.Record(ups_, std::move(entry));
}

}  // namespace morlen
