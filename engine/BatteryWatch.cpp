#include "BatteryWatch.h"

#include <algorithm>
#include <cmath>

#include "Apcups.h"
#include "JournalFeed.h"
#include "RequestHandling.h"

namespace morlen {

namespace {

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

bool IsNumber(const char* text) {
    return IsValueOf(ValueForm::Number, text);
}

QString QualityWords(const char* reply) {
    if (reply[0] == '\0')
        return QStringLiteral("Not answered");
    if (std::string_view(reply) == "FF")
        return QStringLiteral("Good");
    if (std::string_view(reply) == "00")
        return QStringLiteral("Bad");
    return QStringLiteral("No answer from the UPS");
}

QString Volts(float value) {
    return QString::number(double(value), 'f', 1);
}

std::optional<std::uint8_t> ReadStatus(APCUPS& ups) {
    return ReadStatusByte(ups);
}

}  // namespace

std::optional<std::uint8_t> ReadStatusByte(APCUPS& ups) {
    const char* reply = ups.Transact('Q', 2);
    std::uint8_t status = 0;
    if (!IsHexByte(reply) || !HexByte(reply, status))
        return std::nullopt;
    ups.statusByte = status;
    return status;
}

BatteryWatch::BatteryWatch(View& view, APCUPS& ups, HandOff& handOff, JournalFeed& journal)
    : view_(view), ups_(ups), handOff_(handOff), journal_(journal) {}

Micros BatteryWatch::now() const {
    return ups_.clock().now();
}

void BatteryWatch::show(Field field, const QString& text) {
    handOff_.RunOnWindowThread([&] { view_.putText(field, text); });
}

void BatteryWatch::note(const QString& text) {
    handOff_.RunOnWindowThread([&] { view_.showRequestNote(text); });
}

void BatteryWatch::Step(bool pageShown) {
    if (running_)
        Watch();
    else if (lateStartUntil_)
        LookForLateStart();
    if (selfTestAt_ && now() - *selfTestAt_ >= std::chrono::seconds(kSelfTestSeconds)) {
        selfTestAt_.reset();
        ReadSelfTest();
        ReadTransferCause();
    }
    if (!active_) {
        if (!pageShown)
            return;
        active_ = true;
        ReadFirst();
        return;
    }
    // "Q" is read by the "Status" page's passes and by a running calibration: a return from
    // battery shows there.
    const unsigned status = ups_.statusByte;
    if ((lastStatus_ & qbit::OnBattery) != 0 && (status & qbit::OnBattery) == 0)
        ReadTransferCause();
    lastStatus_ = status;
    if (extremesAt_ && now() - *extremesAt_ >= std::chrono::seconds(kExtremesSeconds))
        ReadExtremes();
}

void BatteryWatch::ReadFirst() {
    if (ups_.AnswersBatteryReads()) {
        ReadSelfTest();
        ReadTransferCause();
        ReadExtremes();
    }
    if (ups_.AnswersLineQuality())
        show(Field::LineQuality, QualityWords(ups_.ReadLineQuality()));
    if (!ups_.OffersCalibration() || running_)
        return;
    // A unit still calibrating from an earlier connection (or another tool) is said so, and the
    // technician may end it.
    const auto status = ReadStatus(ups_);
    lastStatus_ = ups_.statusByte;
    if (status && (*status & qbit::Calibration) != 0)
        FoundCalibrating();
}

void BatteryWatch::FoundCalibrating(const QString& where) {
    running_ = true;
    calibrationBitSeen_ = true;
    startedAt_ = now();
    startLoad_.reset();
    runTimeBefore_ = 0;
    boundMinutes_ = 0;
    before_ = QStringLiteral("Found calibrating ") + where;
    show(Field::CalibrationState, QStringLiteral("The UPS is running a runtime calibration."));
    bool abort = false;
    handOff_.RunOnWindowThread([&] { abort = view_.offerCalibrationAbort(); });
    if (abort) {
        Abort(QStringLiteral("Aborted %1, as the technician asked.").arg(where));
        return;
    }
    // Left to the unit: Morlen sends it nothing more, not even at a close.
    running_ = false;
    end_ = CalibrationEnd::LeftToUnit;
    endText_ = QStringLiteral(
        "The UPS is running a runtime calibration, left to it: Morlen does not watch or abort "
        "it.");
    show(Field::CalibrationState, endText_);
    RecordFound(QStringLiteral("Found running %1; left to the UPS.").arg(where));
}

bool BatteryWatch::UnitCalibrating() {
    if (running_)
        return true;
    const auto shows = [this](unsigned status) {
        // A unit without the bit, left to itself: on battery may be its calibration.
        return (status & qbit::Calibration) != 0 ||
               (end_ == CalibrationEnd::LeftToUnit && !calibrationBitSeen_ &&
                (status & qbit::OnBattery) != 0);
    };
    if (!shows(ups_.statusByte))
        return false;
    const auto status = ReadStatus(ups_);
    return !status || shows(*status);
}

void BatteryWatch::RecordFound(const QString& reason) {
    journal::Entry entry;
    entry.what = QStringLiteral("Runtime calibration");
    entry.before = before_;
    entry.outcome = journal::Outcome::NotReached;
    entry.reason = reason;
    journal_.Record(ups_, std::move(entry));
}

void BatteryWatch::SelfTestStarted(bool awaited) {
    if ((active_ || awaited) && ups_.AnswersBatteryReads())
        selfTestAt_ = now();
}

void BatteryWatch::ReadSelfTest() {
    const char* reply = ups_.ReadSelfTestResult();
    show(Field::SelfTestResult, latin(SelfTestResultWords(reply)));
    if (selfTestRead)
        selfTestRead(reply);
}

void BatteryWatch::ReadTransferCause() {
    if (ups_.AnswersBatteryReads())
        show(Field::TransferCause, latin(TransferCauseWords(ups_.ReadTransferCause())));
}

void BatteryWatch::ReadExtremes() {
    extremesAt_ = now();
    const char* high = ups_.ReadHighestLine();
    if (IsNumber(high))
        highest_ = std::max(highest_.value_or(NumberOf(high)), NumberOf(high));
    const char* low = ups_.ReadLowestLine();
    if (IsNumber(low))
        lowest_ = std::min(lowest_.value_or(NumberOf(low)), NumberOf(low));
    show(Field::LineHighest, highest_ ? Volts(*highest_) : latin(high));
    show(Field::LineLowest, lowest_ ? Volts(*lowest_) : latin(low));
}

// ---- Runtime calibration ----

CalibrationCheck BatteryWatch::Check() {
    using namespace calibration;
    CalibrationCheck check;
    if (!ups_.OffersCalibration()) {
        check.failing << QStringLiteral("This UPS offers no runtime calibration.");
        return check;
    }
    if (const auto read = ReadStatus(ups_); !read) {
        check.failing << QStringLiteral("The UPS did not answer its status.");
    } else {
        const unsigned status = *read;
        checkFoundCalibrating_ = (status & qbit::Calibration) != 0;
        if (checkFoundCalibrating_)
            check.failing << QStringLiteral("A calibration is running already.");
        if ((status & qbit::OnLine) == 0)
            check.failing << QStringLiteral("The UPS is not on line.");
        if ((status & qbit::OnBattery) != 0)
            check.failing << QStringLiteral("The UPS is on battery.");
        if ((status & qbit::Overload) != 0)
            check.failing << QStringLiteral("The UPS reports an overload.");
        if ((status & qbit::BatteryLow) != 0)
            check.failing << QStringLiteral("The UPS reports a low battery.");
    }
    const char* charge = ups_.ReadBatteryCapacity();
    if (!IsNumber(charge) || ups_.batteryCapacity != 100.0f)
        check.failing << QStringLiteral("The charge is %1 %, not 100.0 %.").arg(latin(charge));
    const char* load = ups_.ReadLoad();
    if (!IsNumber(load) || ups_.loadPercent < kMinLoad)
        check.failing << QStringLiteral("The load is %1 %, below 30 %.").arg(latin(load));
    else if (ups_.loadPercent > 100.0f)
        check.failing << QStringLiteral("The load is %1 %, above 100 %.").arg(latin(load));
    else if (ups_.loadPercent < kGoodLoad)
        check.warnings << QStringLiteral(
                              "The load is %1 %: 40 % or more gives a better "
                              "calibration.")
                              .arg(latin(load));
    const char* quality = ups_.ReadLineQuality();
    if (std::string_view(quality) == "00")
        check.failing << QStringLiteral("The line quality is bad.");
    const char* runTime = ups_.ReadRunTime();
    check.runTimeMinutes = ups_.runTimeMinutes;
    if (runTime[0] == '\0' || !ups_.runTimeAnswered || ups_.runTimeMinutes == 0)
        check.failing << QStringLiteral("The UPS did not answer its run time.");
    else if (ups_.runTimeMinutes > kMaxRunTime)
        check.failing << QStringLiteral(
                             "The run time is %1 min, more than the %2 min a "
                             "calibration allows.")
                             .arg(ups_.runTimeMinutes)
                             .arg(kMaxRunTime);
    // The unit runs down to about a quarter of its charge.
    check.expectedMinutes = (check.runTimeMinutes * 3 + 3) / 4;
    check.boundMinutes = check.runTimeMinutes + kBoundSlack;
    return check;
}

void BatteryWatch::StartCalibration() {
    if (running_) {
        note(QStringLiteral("A runtime calibration is running already."));
        return;
    }
    const CalibrationCheck check = Check();
    startText_ =
        QStringLiteral("Run time %1 min, charge %2 %, load %3 %.")
            .arg(check.runTimeMinutes)
            .arg(latin(ups_.batteryCapacityText.c_str()), latin(ups_.loadPercentText.c_str()));
    if (!check.failing.isEmpty())
        startText_ += QStringLiteral(" Failing: ") + check.failing.join(QLatin1Char(' '));
    if (!check.warnings.isEmpty())
        startText_ += QStringLiteral(" Warned: ") + check.warnings.join(QLatin1Char(' '));
    progressText_.clear();
    endText_.clear();
    const auto refused = [this, &check](const QString& why) {
        end_ = CalibrationEnd::NotStarted;
        endText_ = why;
        journal::Entry entry;
        entry.what = QStringLiteral("Runtime calibration");
        entry.before = QStringLiteral("Run time=%1").arg(check.runTimeMinutes);
        entry.outcome = journal::Outcome::NotReached;
        entry.reason = why;
        journal_.Record(ups_, std::move(entry));
        show(Field::CalibrationState, why);
        note(why);
    };
    if (checkFoundCalibrating_) {
        checkFoundCalibrating_ = false;
        FoundCalibrating();
        return;
    }
    if (!check.failing.isEmpty()) {
        refused(QStringLiteral("Calibration not started: ") + check.failing.join(QLatin1Char(' ')));
        return;
    }
    bool confirmed = false;
    handOff_.RunOnWindowThread([&] { confirmed = view_.confirmCalibration(check); });
    // A close (or a signal) while the questions stood open: the "D" would only be aborted. The
    // close answers an open question No, which is no technician's answer.
    if (handOff_.StopRequested()) {
        refused(QStringLiteral("Calibration not started: Morlen was closing."));
        return;
    }
    if (!confirmed) {
        refused(QStringLiteral("Calibration not started: the technician declined."));
        return;
    }
    // The questions may have stood open for minutes: the "D" goes out only on fresh readings.
    if (const CalibrationCheck again = Check(); !again.failing.isEmpty()) {
        refused(QStringLiteral("Calibration not started: while the questions were open, ") +
                again.failing.join(QLatin1Char(' ')));
        return;
    }
    startLoad_ = ups_.loadPercent;
    runTimeBefore_ = check.runTimeMinutes;
    boundMinutes_ = check.boundMinutes;
    before_ = QStringLiteral("Run time=%1\nCharge=%2\nLoad=%3")
                  .arg(runTimeBefore_)
                  .arg(latin(ups_.batteryCapacityText.c_str()))
                  .arg(latin(ups_.loadPercentText.c_str()));
    ups_.SendCalibration();
    // The reply is an alert the link drops: only "Q" says whether the unit started.
    for (int i = 0; i < calibration::kConfirmReads; ++i) {
        ups_.clock().sleepMs(1000);
        const auto status = ReadStatus(ups_);
        if (status && (*status & (qbit::Calibration | qbit::OnBattery)) != 0) {
            lastStatus_ = *status;
            running_ = true;
            calibrationBitSeen_ = (*status & qbit::Calibration) != 0;
            startedAt_ = now();
            show(Field::CalibrationState, QStringLiteral("Calibration running."));
            return;
        }
    }
    // A unit that starts later still is found by the passes that follow, for a while.
    lateStartUntil_ = now() + std::chrono::seconds(kLateStartSeconds);
    refused(QStringLiteral("Calibration not started: the UPS did not go on battery."));
}

void BatteryWatch::LookForLateStart() {
    if (now() > *lateStartUntil_) {
        lateStartUntil_.reset();
        return;
    }
    // Late, only its own bit tells a calibration from a mains failure: a "D" meant to abort
    // the one could start the other.
    const auto status = ReadStatus(ups_);
    if (!status || (*status & qbit::Calibration) == 0)
        return;
    lateStartUntil_.reset();
    lastStatus_ = *status;
    running_ = true;
    calibrationBitSeen_ = (*status & qbit::Calibration) != 0;
    startedAt_ = now();
    end_.reset();
    show(Field::CalibrationState, QStringLiteral("Calibration running (it started late)."));
    RecordFound(QStringLiteral("The UPS started the calibration after all: it is watched."));
}

// Still calibrating by the status: its bit, or, for a unit never seen to show it, on battery
// and off line.
bool BatteryWatch::StillCalibrating(unsigned status) const {
    if ((status & qbit::Calibration) != 0)
        return true;
    return !calibrationBitSeen_ && (status & qbit::OnBattery) != 0 && (status & qbit::OnLine) == 0;
}

void BatteryWatch::Watch() {
    using namespace calibration;
    if (pendingAbort_) {
        Abort(QString(*pendingAbort_));  // a copy: the abort clears what it came from
        return;
    }
    const auto read = ReadStatus(ups_);
    ups_.ReadBatteryCapacity();
    ups_.ReadRunTime();
    ups_.ReadLoad();
    ups_.ReadInputVoltage();
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(now() - startedAt_).count();
    progressText_ =
        QStringLiteral("On battery %1 min: charge %2 %, run time %3 min, load %4 %, input %5 V")
            .arg(minutes)
            .arg(latin(ups_.batteryCapacityText.c_str()), latin(ups_.runTimeText.c_str()),
                 latin(ups_.loadPercentText.c_str()), latin(ups_.inputVoltageText.c_str()));
    show(Field::CalibrationState, progressText_);
    if (!read) {
        // The link check decides about the link; the time bound holds regardless.
        if (boundMinutes_ > 0 && minutes >= std::int64_t(boundMinutes_))
            Abort(QStringLiteral("The calibration took longer than %1 min.").arg(boundMinutes_));
        return;
    }
    const unsigned status = *read;
    if ((status & qbit::Calibration) != 0)
        calibrationBitSeen_ = true;
    const bool backOnLine = (status & qbit::OnLine) != 0 && (status & qbit::OnBattery) == 0 &&
                            (status & qbit::Calibration) == 0;
    if (backOnLine) {
        Finish(CalibrationEnd::Completed, QStringLiteral("The UPS ended the calibration."));
        return;
    }
    // Off line without the calibration bit, once the unit has shown it: it is on battery for
    // another reason, and has ended the calibration itself. Another "D" could only start one.
    if (!StillCalibrating(status)) {
        Finish(CalibrationEnd::MainsFailed,
               QStringLiteral("The mains failed: the UPS ended the calibration itself (its status "
                              "shows none), so no abort was sent."));
        return;
    }
    // A reading the unit did not give in its form is no reading: one lost reply must not end
    // an hour's run.
    const bool loadRead = IsNumber(ups_.loadPercentText.c_str());
    if (!startLoad_ && loadRead)
        startLoad_ = ups_.loadPercent;
    if (startLoad_ && loadRead && std::fabs(ups_.loadPercent - *startLoad_) > kLoadMove) {
        Abort(QStringLiteral("The load moved from %1 % to %2 %.")
                  .arg(double(*startLoad_))
                  .arg(latin(ups_.loadPercentText.c_str())));
        return;
    }
    // Units that never show the bit are judged by the input voltage alone.
    const char* lowTransfer = ups_.lowTransferText.c_str();
    if (IsNumber(ups_.inputVoltageText.c_str()) && IsNumber(lowTransfer) &&
        ups_.inputVoltage < NumberOf(lowTransfer)) {
        Abort(QStringLiteral("The mains failed (input %1 V).")
                  .arg(latin(ups_.inputVoltageText.c_str())));
        return;
    }
    if (IsNumber(ups_.batteryCapacityText.c_str()) && ups_.batteryCapacity < kChargeFloor) {
        Abort(QStringLiteral("The charge fell to %1 %.")
                  .arg(latin(ups_.batteryCapacityText.c_str())));
        return;
    }
    if (ups_.runTimeAnswered && ups_.runTimeMinutes < kRunTimeFloor) {
        Abort(QStringLiteral("The run time fell to %1 min.").arg(ups_.runTimeMinutes));
        return;
    }
    if (minutes >= std::int64_t(boundMinutes_) && boundMinutes_ > 0)
        Abort(QStringLiteral("The calibration took longer than %1 min.").arg(boundMinutes_));
}

void BatteryWatch::AbortCalibration() {
    if (!running_) {
        note(QStringLiteral("No runtime calibration is running."));
        return;
    }
    Abort(QStringLiteral("Aborted by the technician."));
}

void BatteryWatch::Stopping() {
    if (!running_)
        return;
    Abort(QStringLiteral("Aborted because the window closed."));
    // The status unanswered: the few reads left before the link is given up.
    while (running_ && pendingAbort_)
        Abort(QString(*pendingAbort_));
}

void BatteryWatch::LinkLost() {
    if (running_)
        Finish(CalibrationEnd::LeftToUnit,
               QStringLiteral("The link was lost during the calibration: no abort could be "
                              "sent, the UPS carries on alone."));
}

bool BatteryWatch::AbortConfirmed(bool& answered) {
    answered = false;
    for (int i = 0; i < calibration::kConfirmReads; ++i) {
        ups_.clock().sleepMs(1000);
        // A unit that shows the calibration bit has ended it when the bit clears (it may stay on
        // battery when the mains are out); one that does not, when it is back on line.
        const auto status = ReadStatus(ups_);
        answered = answered || status.has_value();
        if (!status || (*status & qbit::Calibration) != 0)
            continue;
        if (calibrationBitSeen_ ||
            ((*status & qbit::OnLine) != 0 && (*status & qbit::OnBattery) == 0))
            return true;
    }
    return false;
}

bool BatteryWatch::AbortWaits(const QString& why, const QString& unknown) {
    if (++unansweredAtAbort_ >= calibration::kConfirmReads)
        return false;
    pendingAbort_ = why;
    progressText_ = why + QLatin1Char(' ') + unknown +
                    QStringLiteral(", so no abort was sent yet: the calibration is still watched.");
    show(Field::CalibrationState, progressText_);
    return true;
}

void BatteryWatch::Abort(const QString& why) {
    // A "D" to a unit that has ended the calibration would start another: the status first.
    const auto status = ReadStatus(ups_);
    if (!status) {
        if (AbortWaits(why, QStringLiteral("The UPS did not answer its status")))
            return;
        Finish(CalibrationEnd::AbortUnconfirmed,
               why + QStringLiteral(" The UPS did not answer its status %1 times, so no abort "
                                    "was sent: the calibration may still run.")
                         .arg(unansweredAtAbort_));
        return;
    }
    if (!StillCalibrating(*status)) {
        const bool onLine = (*status & qbit::OnLine) != 0 && (*status & qbit::OnBattery) == 0;
        Finish(onLine ? CalibrationEnd::Completed : CalibrationEnd::MainsFailed,
               why + QStringLiteral(" The UPS had ended the calibration itself, so no abort "
                                    "was sent."));
        return;
    }
    // Without the bit, on battery below the low transfer point is the mains failing as much as
    // the calibration: a "D" to a unit that has ended it would start another.
    // Only an input known at or above a known low transfer point lets the "D" go out.
    if (!calibrationBitSeen_) {
        ups_.ReadInputVoltage();
        const char* lowTransfer = ups_.lowTransferText.c_str();
        if (!IsNumber(ups_.inputVoltageText.c_str()) || !IsNumber(lowTransfer)) {
            if (AbortWaits(why, QStringLiteral("The input or the low transfer point is not known")))
                return;
            Finish(CalibrationEnd::AbortUnconfirmed,
                   why + QStringLiteral(" The input or the low transfer point stayed not known: "
                                        "nothing was sent, the calibration may still run."));
            return;
        }
        if (ups_.inputVoltage < NumberOf(lowTransfer)) {
            Finish(CalibrationEnd::MainsFailed,
                   why + QStringLiteral(" The input is %1 V, below the low transfer point: the "
                                        "mains failed, and the calibration may have ended with "
                                        "them (this UPS does not show it). Nothing was sent.")
                             .arg(latin(ups_.inputVoltageText.c_str())));
            return;
        }
    }
    pendingAbort_.reset();
    unansweredAtAbort_ = 0;
    ups_.SendCalibration();
    // The reply to the second "D" says nothing; the status does.
    bool answered = false;
    if (AbortConfirmed(answered))
        Finish(CalibrationEnd::Aborted, why + QStringLiteral(" The abort is confirmed."));
    else if (!answered)
        Finish(CalibrationEnd::AbortUnconfirmed,
               why + QStringLiteral(" The abort was sent, but the UPS did not answer its status "
                                    "after it: the abort is not confirmed."));
    else
        Finish(CalibrationEnd::AbortUnconfirmed,
               why + QStringLiteral(" The abort was sent, but the UPS still reports the "
                                    "calibration or battery operation."));
}

void BatteryWatch::Finish(CalibrationEnd end, const QString& how) {
    running_ = false;
    pendingAbort_.reset();
    unansweredAtAbort_ = 0;
    end_ = end;
    lastStatus_ = ups_.statusByte;
    const auto onBattery =
        std::chrono::duration_cast<std::chrono::minutes>(now() - startedAt_).count();
    QString after = QStringLiteral("Time on battery=%1 min").arg(onBattery);
    if (end != CalibrationEnd::LeftToUnit) {
        ups_.ReadRunTime();
        after += QStringLiteral("\nRun time=%1").arg(latin(ups_.runTimeText.c_str()));
    }
    endText_ = how + QStringLiteral(" Run time before %1 min, after %2 min, %3 min on battery.")
                         .arg(runTimeBefore_)
                         .arg(end == CalibrationEnd::LeftToUnit ? QStringLiteral("?")
                                                                : latin(ups_.runTimeText.c_str()))
                         .arg(onBattery);
    show(Field::CalibrationState, endText_);
    journal::Entry entry;
    entry.what = QStringLiteral("Runtime calibration");
    entry.before = before_;
    entry.after = after;
    entry.outcome = end == CalibrationEnd::Completed ? journal::Outcome::Confirmed
                                                     : journal::Outcome::NotReached;
    entry.reason = end == CalibrationEnd::Completed ? QString() : how;
    journal_.Record(ups_, std::move(entry));
}

}  // namespace morlen
