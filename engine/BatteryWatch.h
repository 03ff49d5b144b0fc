#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "Clock.h"
#include "View.h"

namespace morlen {

class APCUPS;
class HandOff;
class JournalFeed;

// The status bits of "Q" the battery service looks at.
namespace qbit {
constexpr unsigned Calibration = 0x01;
constexpr unsigned OnLine = 0x08;
constexpr unsigned OnBattery = 0x10;
constexpr unsigned Overload = 0x20;
constexpr unsigned BatteryLow = 0x40;
}  // namespace qbit

// "Q" as two hex digits, kept in the unit object; nothing for no answer or anything else.
std::optional<std::uint8_t> ReadStatusByte(APCUPS& ups);

// How a runtime calibration ended.
enum class CalibrationEnd {
    NotStarted,  // a start condition failed, the technician declined or the unit did not start
    Completed,   // the unit went back on line by itself
    Aborted,     // Morlen sent the abort and "Q" confirmed it
    AbortUnconfirmed,  // the abort went out, but "Q" still shows the unit on battery
    MainsFailed,       // the mains failed: the unit ended it (or may have), nothing was sent
    LeftToUnit,        // the link was lost or the technician left it: the unit carries on alone
};

// Limits of a guarded calibration.
namespace calibration {
constexpr float kMinLoad = 30.0f;
constexpr float kGoodLoad = 40.0f;
constexpr float kLoadMove = 5.0f;      // points of the start load
constexpr unsigned kMaxRunTime = 120;  // minutes the unit may hold at the start
constexpr float kChargeFloor = 20.0f;  // below where units end by themselves (25 %, 35 %)
constexpr unsigned kRunTimeFloor = 2;  // minutes
constexpr unsigned kBoundSlack = 15;   // minutes over the run time at the start
constexpr int kConfirmReads = 5;       // reads of "Q", a second apart, after a "D"
}  // namespace calibration

// The battery service's own traffic, a step between the poll passes: the self-test result, the
// transfer cause and the line's extremes and quality when they are due, and the guarded runtime
// calibration. Lives as long as one connection, on the poll thread; what it shows goes to the
// view through the hand-off. The only place a "D" is sent from.
class BatteryWatch {
public:
    BatteryWatch(View& view, APCUPS& ups, HandOff& handOff, JournalFeed& journal);

    // Between two passes: each pass of a running calibration; and, from the first pass the
    // "Battery" page shows on, its values once, after a self-test, after a return from battery
    // and the extremes at most once a minute. Until the technician looks at them no pass
    // carries more than it always did.
    void Step(bool pageShown = true);
    // The self-test request went out: its result is read once the test has had time to end,
    // when the page shows it or `awaited` (the guided service waits for it).
    void SelfTestStarted(bool awaited = false);
    // Called with each self-test result read after a test (the reply as kept).
    std::function<void(const char* reply)> selfTestRead;

    // The guided start: the check, both confirmations, the "D", the start read back.
    CalibrationCheck Check();
    void StartCalibration();
    // The technician asks for the abort; nothing when none runs.
    void AbortCalibration();
    // The window closes (or a signal closes it) while a calibration runs: it is aborted, and the
    // abort confirmed, before the link is given up.
    void Stopping();
    // The link is lost: nothing can reach the unit, so the calibration is left to it.
    void LinkLost();
    // "Q" shows a calibration Morlen did not start here: said so, and the abort offered.
    // `where`: when it was found, as the journal says it ("at the connection").
    void FoundCalibrating(const QString& where = QStringLiteral("at the connection"));

    bool Calibrating() const { return running_; }
    // Watched, or left to the unit and still shown by "Q": a self-test or a date write now
    // would reach a calibrating unit. A last "Q" that showed a calibration is read once more
    // (it may have ended since); no answer counts as calibrating.
    bool UnitCalibrating();
    // The passes still look for a calibration the unit may start late.
    bool LookingForLateStart() const { return lateStartUntil_.has_value(); }
    std::optional<CalibrationEnd> lastEnd() const { return end_; }
    // The connection's extremes as Morlen keeps them (each "M"/"N" starts the unit's afresh).
    std::optional<float> highest() const { return highest_; }
    std::optional<float> lowest() const { return lowest_; }

    // What the last calibration started from (its start conditions and readings), the last
    // progress shown while it ran and how it ended; empty until there is one.
    const QString& startText() const { return startText_; }
    const QString& progressText() const { return progressText_; }
    const QString& endText() const { return endText_; }

    static constexpr std::int64_t kSelfTestSeconds = 40;
    static constexpr std::int64_t kExtremesSeconds = 60;
    // How long after a "D" the unit did not seem to take, the passes still look for its start.
    static constexpr std::int64_t kLateStartSeconds = 60;

private:
    void ReadFirst();
    void ReadSelfTest();
    void ReadTransferCause();
    void ReadExtremes();
    void Watch();
    // Sends the abort, then reads "Q" until it shows the unit back on line (bounded).
    void Abort(const QString& why);
    // The abort waits for a pass that can judge it; false once the few reads are spent.
    bool AbortWaits(const QString& why, const QString& unknown);
    bool AbortConfirmed(bool& answered);
    bool StillCalibrating(unsigned status) const;
    void LookForLateStart();
    void Finish(CalibrationEnd end, const QString& how);
    // A calibration Morlen did not start (or saw start late), journalled with its reason.
    void RecordFound(const QString& reason);
    void show(Field field, const QString& text);
    void note(const QString& text);
    Micros now() const;

    View& view_;
    APCUPS& ups_;
    HandOff& handOff_;
    JournalFeed& journal_;
    bool active_ = false;
    std::optional<Micros> selfTestAt_;
    std::optional<Micros> extremesAt_;
    unsigned lastStatus_ = 0;
    std::optional<float> highest_, lowest_;

    bool running_ = false;
    bool calibrationBitSeen_ = false;
    bool checkFoundCalibrating_ = false;
    Micros startedAt_{0};
    // The load at the start; taken at the first watch of a calibration found running.
    std::optional<float> startLoad_;
    unsigned runTimeBefore_ = 0, boundMinutes_ = 0;
    QString before_;
    std::optional<CalibrationEnd> end_;
    std::optional<Micros> lateStartUntil_;
    // An abort due while "Q" went unanswered: tried again at the next passes, a few times.
    std::optional<QString> pendingAbort_;
    int unansweredAtAbort_ = 0;
    QString startText_, progressText_, endText_;
};

}  // namespace morlen
