#pragma once

#include <QDate>
#include <QString>
#include <string>

#include "JournalEntry.h"
#include "View.h"

namespace morlen {

class APCUPS;
class BatteryWatch;
class HandOff;
class JournalFeed;

// The guided battery service of one connection, on the poll thread. It sends nothing of its
// own but reads: the date is written by the battery-date text write, the self-test started by
// the self-test request and the calibration by its guarded start; each tells the service how
// it went. Every step goes to the journal; the state goes to the view after each.
class BatteryService {
public:
    BatteryService(View& view, APCUPS& ups, HandOff& handOff, JournalFeed& journal,
                   BatteryWatch& battery);

    // Step 1: identity, battery date, charge, run time, last self-test result and the
    // replace-battery flag. Runs again as a resume from the start.
    void Before();
    // The battery-date write has run (`oldDate` as the unit held it before).
    void DateWritten(const QString& oldDate, const QString& typed);
    // The self-test request has run: its result is awaited.
    // `reply`: the unit's answer to the self-test command; only "OK" started a test.
    void SelfTestStarted(const std::string& reply);
    // The guarded calibration's start has run (started or not).
    void CalibrationAsked();
    // The technician leaves out the step due now (the date, the self-test, the calibration).
    void Skip();
    // Step 5: the readings again and the summary.
    void After();
    // Between passes: follows a running calibration, also one the unit started late.
    void Step();
    // The step's request was refused before anything was sent: `why` is shown.
    void Refused(const QString& why);
    // The link is lost: a step waiting on the unit ends with what is known.
    void LinkLost();

    bool Active() const { return active_; }
    ServiceStep next() const { return state_.next; }
    const ServiceState& state() const { return state_; }

    // Today as the unit writes its dates: two-digit month, day and year with the separator
    // its own date shows ("MM/DD/YY"), when that is "/", "-" or "."; "/" otherwise.
    static QString TodayInUnitForm(const QString& unitDate, const QDate& today);

private:
    // The readings of the before and after steps, "label=value" lines.
    QString Readings();
    // Journals the before or after step: confirmed only when every reading was answered.
    void RecordReadings(const QString& step, const QString& before, const QString& after);
    void SelfTestRead(const char* reply);
    void Publish(const QString& message);
    void Record(const QString& step, const QString& before, const QString& after,
                journal::Outcome outcome, const QString& reason = QString());

    View& view_;
    APCUPS& ups_;
    HandOff& handOff_;
    JournalFeed& journal_;
    BatteryWatch& battery_;
    bool active_ = false;
    bool calibrating_ = false;
    // The calibration step ended unstarted: the unit may still start it late.
    bool mayStartLate_ = false;
    // A calibration running at the service's start is followed first: then the date is next.
    bool dateAfterCalibration_ = false;
    // Follows the watched calibration as the calibration step.
    void Follow();
    // Of the last readings: how many were asked and how many the unit answered.
    int asked_ = 0, answered_ = 0;
    ServiceState state_;
};

}  // namespace morlen
