// The battery service's step between passes and its guarded runtime calibration, against a unit
// whose battery, status and readings a test sets: when each read goes out, every start condition
// and every reason to abort, each shown by what reaches the unit.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Apcups.h"
#include "BatteryService.h"
#include "BatteryWatch.h"
#include "EngineBench.h"
#include "Journal.h"
#include "JournalFeed.h"
#include "RecordingView.h"
#include "RequestHandling.h"
#include "SimLine.h"
#include "Tone.h"
#include "WireLog.h"

namespace morlen::test {
namespace {

// A unit as far as the guard looks at it. A "D" starts a calibration when the charge is full,
// and a second one ends it; `takesD` false: it answers "NA" and does nothing.
struct BatteryUnit {
    unsigned status = qbit::OnLine;
    std::string charge = "100.0", runTime = "0045:", load = "042.0", input = "230.0",
                quality = "FF", highest = "231.0", lowest = "228.0";
    bool takesD = true, takesAbort = true, showsCalibrationBit = true, answers = true;
    bool failOnConfirm = false;   // the mains fail while the technician confirms
    bool closeOnConfirm = false;  // the window closes while the technician confirms
    int dSent = 0;
    int statusAnswers = -1;  // how many more "Q" it answers; -1: every one

    bool calibrating() const { return (status & (qbit::Calibration | qbit::OnBattery)) != 0; }
    std::optional<std::string> reply(char c) {
        if (!answers)
            return std::nullopt;
        char hex[3];
        switch (c) {
            case 'Y':
                return "SM";
            case 'Q':
                if (statusAnswers == 0)
                    return std::nullopt;
                if (statusAnswers > 0)
                    --statusAnswers;
                std::snprintf(hex, sizeof hex, "%02X", status);
                return hex;
            case 'f':
                return charge;
            case 'j':
                return runTime;
            case 'P':
                return load;
            case 'L':
                return input;
            case '9':
                return quality;
            case 'X':
            case 'W':
                return "OK";
            case 'x':
                return "11/29/96";
            case 'G':
                return "O";
            case 'M':
                return highest;
            case 'N':
                return lowest;
            case 'D':
                ++dSent;
                if (!takesD)
                    return "NA";
                if (calibrating()) {
                    if (takesAbort)
                        status = qbit::OnLine;
                } else if (charge == "100.0") {
                    status = qbit::OnBattery | (showsCalibrationBit ? qbit::Calibration : 0);
                }
                return std::string();  // only an alert, which the link drops
            default:
                return "NA";
        }
    }
};

class Rig final : public HandOff {
public:
    explicit Rig(const std::function<void(BatteryUnit&)>& before = nullptr,
                 std::int16_t family = FamilySmart, bool acceptsAbort = true, bool firstLook = true)
        : log_(clock_), view_(log_), tone_(clock_) {
        if (before)
            before(unit);
        view_.abortAnswer = acceptsAbort;
        auto line = std::make_unique<sim::SimLine>(
            clock_, [this](std::uint8_t byte, Micros at, sim::SimLine& l) {
                const auto text = unit.reply(static_cast<char>(byte));
                if (!text)
                    return;
                l.send(text->empty() ? std::string("!") : *text + "\r\n", at + Micros(40000));
            });
        ups_ = std::make_unique<APCUPS>(std::move(line), clock_);
        ups_->OpenPort("COM1");
        ups_->family = family;
        ups_->lowTransferText = "196";
        journalFile_ = std::make_unique<journal::Journal>(dir_.path() + "/journal.sqlite");
        journal_ = std::make_unique<JournalFeed>(journalFile_);
        log_.attach(*ups_);
        handler_ = std::make_unique<RequestHandler>(view_, *ups_, tone_, *journal_, *this);
        if (firstLook)
            handler_->battery().Step();  // the technician looks at the battery page
        log_.take();
    }

    void handle(Request request, std::optional<std::string> text = std::nullopt) {
        handler_->Handle(request, '-', std::move(text));
    }
    BatteryWatch& battery() { return handler_->battery(); }
    BatteryService& service() { return handler_->service(); }
    APCUPS& ups() { return *ups_; }
    RecordingView& view() { return view_; }
    VirtualClock& clock() { return clock_; }
    WireLog& log() { return log_; }
    // The journal's entries, newest first, once everything recorded is written.
    QList<journal::Entry> entries() {
        journalFile_->Flush();
        return journalFile_->Entries();
    }
    QString state() const { return view_.textIn(Field::CalibrationState).value_or(QString()); }

    void RunOnWindowThread(const std::function<void()>& call) override { call(); }
    bool StopRequested() const override { return stop; }

    BatteryUnit unit;
    bool stop = false;  // the window closes (or a signal came)

private:
    class QuietTone final : public Tone {
    public:
        explicit QuietTone(Clock& clock) : clock_(clock) {}
        void Beep(int, int ms) override { clock_.sleepMs(ms); }

    private:
        Clock& clock_;
    };

    VirtualClock clock_;
    WireLog log_;
    RecordingView view_;
    QuietTone tone_;
    QTemporaryDir dir_;
    std::unique_ptr<journal::Journal> journalFile_;
    std::unique_ptr<JournalFeed> journal_;
    std::unique_ptr<APCUPS> ups_;
    std::unique_ptr<RequestHandler> handler_;
};

// Lines of a log that are transactions (and, `pauses`, the pauses between them), without what
// the view was asked meanwhile.
std::string WireOf(std::string all, bool pauses = false) {
    std::string out;
    all += " ";
    for (std::size_t at = 0, next; (next = all.find(' ', at)) != std::string::npos; at = next + 1) {
        const std::string item = all.substr(at, next - at);
        if ((item.size() >= 3 && item[1] == '/') || (pauses && item.size() > 1 && item[0] == '~'))
            out += (out.empty() ? "" : " ") + item;
    }
    return out;
}
std::string Wire(WireLog& log) {
    return WireOf(log.take());
}

TEST(BatteryReadings, NothingUntilThePageIsShownThenEachReadWhenItIsDue) {
    Rig rig(nullptr, FamilySmart, true, false);
    BatteryWatch& watch = rig.battery();
    watch.Step(false);
    watch.SelfTestStarted();
    rig.clock().advance(std::chrono::minutes(5));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "") << "a pass stays as it was until the page is looked at";

    watch.Step(true);
    EXPECT_EQ(Wire(rig.log()), "X/2 G/1 M/5 N/5 9/2 Q/2");
    EXPECT_EQ(rig.view().textIn(Field::SelfTestResult), QStringLiteral("Passed: battery good"));
    EXPECT_EQ(rig.view().textIn(Field::TransferCause), QStringLiteral("None since switched on"));
    EXPECT_EQ(rig.view().textIn(Field::LineQuality), QStringLiteral("Good"));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "") << "each read once; the page need not stay in front";

    // The extremes at most once a minute; Morlen keeps the connection's.
    rig.unit.highest = "229.0";
    rig.unit.lowest = "221.5";
    rig.clock().advance(std::chrono::seconds(59));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "");
    rig.clock().advance(std::chrono::seconds(1));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "M/5 N/5");
    EXPECT_EQ(watch.highest(), 231.0f);
    EXPECT_EQ(watch.lowest(), 221.5f);
    EXPECT_EQ(rig.view().textIn(Field::LineHighest), QStringLiteral("231.0"));
    EXPECT_EQ(rig.view().textIn(Field::LineLowest), QStringLiteral("221.5"));

    // The self-test's result once the test has had its 40 s.
    watch.SelfTestStarted();
    rig.clock().advance(std::chrono::seconds(39));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "");
    rig.clock().advance(std::chrono::seconds(1));
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "X/2 G/1");

    // A return from battery, as a pass of the "Status" page reads it: the transfer's cause.
    rig.unit.status = qbit::OnBattery;
    rig.ups().ReadStatusByte();
    watch.Step(false);
    rig.unit.status = qbit::OnLine;
    rig.ups().ReadStatusByte();
    watch.Step(false);
    EXPECT_EQ(Wire(rig.log()), "Q/2 Q/2 G/1");
    // An abort asked with nothing running sends nothing.
    rig.handle(Request::CalibrationAbort);
    EXPECT_EQ(Wire(rig.log()), "");
}

TEST(BatteryReadings, EachFamilyIsAskedOnlyWhatItAnswers) {
    struct FamilyRow {
        std::int16_t family;
        std::string wire;
    };
    const FamilyRow rows[] = {
        {FamilySmart, "X/2 G/1 M/5 N/5 9/2 Q/2"},
        {FamilySmart2ndGen, "X/2 G/1 M/5 N/5 9/2 Q/2"},
        {FamilySmartNoSerial, "X/2 G/1 M/5 N/5 9/2 Q/2"},
        {FamilyBackPro, "X/2 G/1 M/5 N/5 9/2"},
        {FamilyBackCS, "9/2"},
        {FamilyUnknown, ""},
    };
    for (const FamilyRow& row : rows) {
        SCOPED_TRACE(row.family);
        Rig rig(nullptr, row.family, true, false);
        rig.battery().Step(true);
        EXPECT_EQ(Wire(rig.log()), row.wire);
        // Nothing the calibration would send reaches a family without one.
        rig.handle(Request::CalibrationStart);
        if (row.family == FamilyBackPro || row.family == FamilyBackCS ||
            row.family == FamilyUnknown) {
            EXPECT_EQ(Wire(rig.log()), "");
            EXPECT_EQ(rig.unit.dSent, 0);
        }
    }
}

TEST(CalibrationGuard, EachFailingStartConditionIsNamedAndNoCalibrationStarts) {
    struct StartRow {
        const char* name;
        std::function<void(BatteryUnit&)> change;
        const char* named;  // in the state the window shows
        int dSent = 0;
        std::int16_t family = FamilySmart;
        bool declines = false;
    };
    const StartRow rows[] = {
        {"not on line", [](BatteryUnit& u) { u.status = 0; }, "not on line"},
        {"on battery", [](BatteryUnit& u) { u.status = qbit::OnLine | qbit::OnBattery; },
         "on battery"},
        {"overload", [](BatteryUnit& u) { u.status = qbit::OnLine | qbit::Overload; }, "overload"},
        {"low battery", [](BatteryUnit& u) { u.status = qbit::OnLine | qbit::BatteryLow; },
         "low battery"},
        {"status unanswered", nullptr, "did not answer its status"},
        {"charge not full", [](BatteryUnit& u) { u.charge = "099.0"; }, "not 100.0 %"},
        {"charge unanswered", [](BatteryUnit& u) { u.charge = "NA"; }, "not 100.0 %"},
        {"load below 30 %", [](BatteryUnit& u) { u.load = "029.5"; }, "below 30 %"},
        {"line quality bad", [](BatteryUnit& u) { u.quality = "00"; }, "line quality is bad"},
        {"run time too long", [](BatteryUnit& u) { u.runTime = "0150:"; }, "more than the 120 min"},
        {"run time unanswered", [](BatteryUnit& u) { u.runTime = "NA"; }, "did not answer its run"},
        // Garbage that reads as a number is no reading.
        {"charge garbled high", [](BatteryUnit& u) { u.charge = "999.9"; }, "not 100.0 %"},
        {"load garbled high", [](BatteryUnit& u) { u.load = "512.0"; }, "above 100 %"},
        {"run time garbled", [](BatteryUnit& u) { u.runTime = "65600:"; },
         "did not answer its run"},
        // The mains fail while the questions stand open: the readings are taken again.
        {"mains fail during the questions", [](BatteryUnit& u) { u.failOnConfirm = true; },
         "while the questions were open"},
        {"Back-UPS Pro", nullptr, "offers no runtime calibration", 0, FamilyBackPro},
        {"Back-UPS CS", nullptr, "offers no runtime calibration", 0, FamilyBackCS},
        {"technician declines", nullptr, "declined", 0, FamilySmart, true},
        // Closed while the questions stood open, then answered Yes: nothing goes out.
        {"closed during the questions", [](BatteryUnit& u) { u.closeOnConfirm = true; },
         "Morlen was closing"},
        // The close itself answers the question No: still the close, not the technician.
        {"closed during the questions, answered No",
         [](BatteryUnit& u) { u.closeOnConfirm = true; }, "Morlen was closing", 0, FamilySmart,
         true},
        // The unit refuses the "D": "Q" never shows it on battery.
        {"unit refuses", [](BatteryUnit& u) { u.takesD = false; }, "did not go on battery", 1},
    };
    for (const StartRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(nullptr, row.family);
        if (row.change)
            row.change(rig.unit);
        const bool unreadable = std::string(row.name) == "status unanswered";
        if (unreadable)
            rig.unit.answers = false;
        rig.view().confirmAnswer = !row.declines;
        if (rig.unit.failOnConfirm)
            rig.view().whileConfirming = [&rig] { rig.unit.status = qbit::OnBattery; };
        if (rig.unit.closeOnConfirm)
            rig.view().whileConfirming = [&rig] { rig.stop = true; };
        rig.handle(Request::CalibrationStart);
        EXPECT_EQ(rig.unit.dSent, row.dSent);
        EXPECT_FALSE(rig.battery().Calibrating());
        EXPECT_EQ(rig.battery().lastEnd(), CalibrationEnd::NotStarted);
        const QList<journal::Entry> entries = rig.entries();
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries[0].what, QStringLiteral("Runtime calibration"));
        EXPECT_EQ(entries[0].outcome, journal::Outcome::NotReached);
        EXPECT_EQ(entries[0].reason, rig.state());
        if (!unreadable) {
            EXPECT_TRUE(rig.state().contains(QLatin1String(row.named)))
                << rig.state().toStdString();
        }
    }
}

TEST(CalibrationGuard, ALoadUnderFortyPercentWarnsAndAFullStartRuns) {
    Rig rig([](BatteryUnit& u) { u.load = "035.0"; });
    rig.log().take();
    rig.handle(Request::CalibrationStart);
    // 45 min of run time: about 34 min expected, aborted after 60.
    EXPECT_NE(rig.log().take().find("confirm calibration 34/60 min warned"), std::string::npos);
    EXPECT_TRUE(rig.battery().Calibrating());
    EXPECT_EQ(rig.unit.dSent, 1);
}

// Each reason to end a running calibration: what the unit then received and how it ended.
TEST(CalibrationGuard, EveryReasonToAbortSendsOneMoreDAndReadsTheAbortBack) {
    struct RunRow {
        const char* name;
        std::function<void(Rig&)> during;
        CalibrationEnd end;
        int dSent;  // the start's included
        const char* named;
        std::function<void(BatteryUnit&)> unitIs = nullptr;  // before the start
    };
    const auto noBit = [](BatteryUnit& u) { u.showsCalibrationBit = false; };
    const auto lostStatus = [](Rig& r, int reads) {
        r.unit.answers = false;
        for (int i = 0; i < reads; ++i)
            r.battery().Step();
    };
    const RunRow rows[] = {
        {"technician", [](Rig& r) { r.handle(Request::CalibrationAbort); }, CalibrationEnd::Aborted,
         2, "by the technician"},
        {"load up 6 points", [](Rig& r) { r.unit.load = "048.5"; }, CalibrationEnd::Aborted, 2,
         "load moved"},
        {"load down 6 points", [](Rig& r) { r.unit.load = "036.0"; }, CalibrationEnd::Aborted, 2,
         "load moved"},
        {"load within 5 points", [](Rig& r) { r.unit.load = "046.5"; }, CalibrationEnd::NotStarted,
         1, "On battery"},
        // A reply lost or garbled is no reading: the run goes on.
        {"load unanswered", [](Rig& r) { r.unit.load = "NA"; }, CalibrationEnd::NotStarted, 1,
         "On battery"},
        {"run time unanswered", [](Rig& r) { r.unit.runTime = "NA"; }, CalibrationEnd::NotStarted,
         1, "On battery"},
        // The unit dropped it on a mains failure as the load moved: nothing more is sent.
        {"mains cut and load moved",
         [](Rig& r) {
             r.unit.status = qbit::OnBattery;
             r.unit.load = "000.0";
         },
         CalibrationEnd::MainsFailed, 1, "ended the calibration itself"},
        // Ended by the unit before the technician's abort came: the abort finds it over.
        {"technician after the unit ended it",
         [](Rig& r) {
             r.unit.status = qbit::OnLine;
             r.handle(Request::CalibrationAbort);
         },
         CalibrationEnd::Completed, 1, "no abort was sent"},
        // No status at all: the time bound still ends the watch after a few more reads, and no
        // "D" goes out blind.
        {"status lost past the time bound",
         [&](Rig& r) {
             r.clock().advance(std::chrono::minutes(61));
             lostStatus(r, calibration::kConfirmReads);
         },
         CalibrationEnd::AbortUnconfirmed, 1, "no abort was sent"},
        // One status lost at the abort: still watched, the abort sent once "Q" shows it running.
        {"status lost once at the abort",
         [&](Rig& r) {
             r.clock().advance(std::chrono::minutes(61));
             lostStatus(r, 1);
             if (!r.battery().Calibrating())
                 return;
             EXPECT_TRUE(r.state().contains(QLatin1String("still watched")))
                 << r.state().toStdString();
             r.unit.answers = true;
         },
         CalibrationEnd::Aborted, 2, "abort is confirmed"},
        // A unit without the calibration bit on battery below the low transfer point: the mains
        // are out, perhaps the calibration with them; a "D" could start one.
        {"no bit, input below the low transfer point", [](Rig& r) { r.unit.input = "180.0"; },
         CalibrationEnd::MainsFailed, 1, "Nothing was sent", noBit},
        {"no bit, technician aborts in an outage",
         [](Rig& r) {
             r.unit.input = "180.0";
             r.handle(Request::CalibrationAbort);
         },
         CalibrationEnd::MainsFailed, 1, "Nothing was sent", noBit},
        {"no bit, technician aborts on mains", [](Rig& r) { r.handle(Request::CalibrationAbort); },
         CalibrationEnd::Aborted, 2, "abort is confirmed", noBit},
        // Without the bit, an input or a low transfer point not known is no sign of the mains:
        // the abort waits as for an unanswered status, a few reads, then ends with nothing sent.
        {"no bit, input unanswered",
         [&](Rig& r) {
             r.unit.input = "NA";
             r.handle(Request::CalibrationAbort);
             EXPECT_TRUE(r.state().contains(QLatin1String("no abort was sent yet")))
                 << r.state().toStdString();
             for (int i = 1; i < calibration::kConfirmReads; ++i)
                 r.battery().Step();
         },
         CalibrationEnd::AbortUnconfirmed, 1, "not known: nothing was sent", noBit},
        {"no bit, low transfer unknown",
         [&](Rig& r) {
             r.ups().lowTransferText = "";
             r.handle(Request::CalibrationAbort);
             for (int i = 1; i < calibration::kConfirmReads; ++i)
                 r.battery().Step();
         },
         CalibrationEnd::AbortUnconfirmed, 1, "not known: nothing was sent", noBit},
        // Known again before the reads run out: the abort goes out then.
        {"no bit, input answered again",
         [&](Rig& r) {
             r.unit.input = "garbage";
             r.handle(Request::CalibrationAbort);
             r.battery().Step();
             r.unit.input = "230.0";
         },
         CalibrationEnd::Aborted, 2, "abort is confirmed", noBit},
        {"input below the low transfer point", [](Rig& r) { r.unit.input = "180.0"; },
         CalibrationEnd::Aborted, 2, "mains failed"},
        // The unit drops the calibration on the mains failure: nothing more is sent.
        {"mains cut", [](Rig& r) { r.unit.status = qbit::OnBattery; }, CalibrationEnd::MainsFailed,
         1, "ended the calibration itself"},
        {"charge floor", [](Rig& r) { r.unit.charge = "019.0"; }, CalibrationEnd::Aborted, 2,
         "charge fell"},
        {"run time floor", [](Rig& r) { r.unit.runTime = "0001:"; }, CalibrationEnd::Aborted, 2,
         "run time fell"},
        {"time bound", [](Rig& r) { r.clock().advance(std::chrono::minutes(61)); },
         CalibrationEnd::Aborted, 2, "longer than 60 min"},
        {"window closes", [](Rig& r) { r.battery().Stopping(); }, CalibrationEnd::Aborted, 2,
         "window closed"},
        // Nothing can be sent: the unit carries on, and the state says so.
        {"link lost",
         [](Rig& r) {
             r.unit.answers = false;
             r.battery().LinkLost();
         },
         CalibrationEnd::LeftToUnit, 1, "carries on alone"},
        // The unit ends it: no second "D", which could start another.
        {"unit ends it", [](Rig& r) { r.unit.status = qbit::OnLine; }, CalibrationEnd::Completed, 1,
         "UPS ended the calibration"},
        // The abort is sent once; a unit that stays on battery is reported, never sent another.
        {"abort not taken",
         [](Rig& r) {
             r.unit.takesAbort = false;
             r.handle(Request::CalibrationAbort);
         },
         CalibrationEnd::AbortUnconfirmed, 2, "still reports"},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(row.unitIs);
        rig.handle(Request::CalibrationStart);
        ASSERT_TRUE(rig.battery().Calibrating());
        row.during(rig);
        if (rig.battery().Calibrating())
            rig.battery().Step();
        EXPECT_EQ(rig.unit.dSent, row.dSent);
        if (row.end == CalibrationEnd::NotStarted) {
            EXPECT_TRUE(rig.battery().Calibrating());  // still running, watched
        } else {
            EXPECT_FALSE(rig.battery().Calibrating());
            EXPECT_EQ(rig.battery().lastEnd(), row.end);
            // One entry, with the run time before and, where the unit still answers, after.
            const QList<journal::Entry> entries = rig.entries();
            ASSERT_EQ(entries.size(), 1);
            EXPECT_TRUE(entries[0].before.contains(QLatin1String("Run time=45")));
            EXPECT_TRUE(entries[0].after.contains(QLatin1String("Time on battery=")));
            EXPECT_EQ(entries[0].after.contains(QLatin1String("Run time=")),
                      row.end != CalibrationEnd::LeftToUnit);
            EXPECT_EQ(entries[0].outcome, row.end == CalibrationEnd::Completed
                                              ? journal::Outcome::Confirmed
                                              : journal::Outcome::NotReached);
        }
        EXPECT_TRUE(rig.state().contains(QLatin1String(row.named))) << rig.state().toStdString();
    }
}

TEST(CalibrationGuard, AUnitWithoutTheCalibrationBitIsJudgedByItsBatteryAndLine) {
    Rig rig([](BatteryUnit& u) { u.showsCalibrationBit = false; });
    rig.handle(Request::CalibrationStart);
    ASSERT_TRUE(rig.battery().Calibrating());
    rig.battery().Step();
    EXPECT_TRUE(rig.battery().Calibrating());  // on battery is the calibration's own doing
    rig.handle(Request::CalibrationAbort);
    EXPECT_EQ(rig.battery().lastEnd(), CalibrationEnd::Aborted);
    EXPECT_EQ(rig.unit.dSent, 2);
}

TEST(CalibrationGuard, AConnectionToACalibratingUnitSaysSoAndOffersTheAbort) {
    const auto calibrating = [](BatteryUnit& u) { u.status = qbit::OnBattery | qbit::Calibration; };
    {
        Rig rig(calibrating);  // the technician accepts the offer
        EXPECT_EQ(rig.unit.dSent, 1);
        EXPECT_EQ(rig.battery().lastEnd(), CalibrationEnd::Aborted);
    }
    {
        // Declined: left to the unit. Neither a guard nor the close sends it anything.
        Rig rig(calibrating, FamilySmart, false);
        EXPECT_EQ(rig.unit.dSent, 0);
        EXPECT_FALSE(rig.battery().Calibrating());
        EXPECT_EQ(rig.battery().lastEnd(), CalibrationEnd::LeftToUnit);
        EXPECT_TRUE(rig.state().contains(QLatin1String("left to it")));
        EXPECT_EQ(rig.battery().endText(), rig.state()) << "its end has its text";
        rig.unit.load = "000.0";
        rig.battery().Step();
        rig.battery().Stopping();
        EXPECT_EQ(rig.unit.dSent, 0);
    }
    {
        // A start asked of a unit that calibrates already starts nothing: it says so and offers
        // the abort.
        Rig rig;
        rig.unit.status = qbit::OnLine | qbit::Calibration;
        rig.view().abortAnswer = false;
        rig.handle(Request::CalibrationStart);
        EXPECT_EQ(rig.unit.dSent, 0);
        EXPECT_EQ(rig.battery().lastEnd(), CalibrationEnd::LeftToUnit);
        EXPECT_TRUE(rig.state().contains(QLatin1String("running a runtime calibration")));
    }
}

// ---- The window and its poll thread on the simulated unit ----

// Connected with the load a calibration wants, every question answered Yes, the battery page
// in front.
void OnTheBatteryPage(EngineBench& bench) {
    bench.unit().setLoad(45.0);
    bench.form().questionBox = [](const QString&) { return true; };
    bench.connectUnit();
    bench.ui().PageControl1->setCurrentWidget(bench.ui().TabSheet10);
    ASSERT_TRUE(bench.atRefresh([] {}));
    bench.takeCommands();
}
// And its Calibrate clicked: the unit calibrates.
void StartOnTheWindow(EngineBench& bench) {
    OnTheBatteryPage(bench);
    bench.ui().Calibrate->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.unit().model().calibrating(); }));
    // And Morlen has read the start back: the unit's "D" alone is not yet a watched calibration.
    ASSERT_TRUE(EngineBench::waitFor([&] {
        const QString state = bench.ui().CalibrationState->text();
        return state.startsWith(QLatin1String("Calibration running")) ||
               state.startsWith(QLatin1String("On battery"));
    })) << bench.ui().CalibrationState->text().toStdString();
    const std::string heard = bench.takeCommands();
    ASSERT_EQ(std::count(heard.begin(), heard.end(), 'D'), 1) << heard;
}

TEST(BatteryPageOnTheWindow, ShowsWhatEachFamilyAnswersInWords) {
    struct PageRow {
        const char* profile;
        const char* selfTest;
        const char* quality;
        bool extremes;
    };
    const PageRow rows[] = {
        {"su1000", "No result", "Good", true},
        {"gen2-v2", "No result", "Good", true},
        // Nobody says what a Back-UPS Pro answers: the simulated one refuses them all.
        {"backpro", "No answer from the UPS", "No answer from the UPS", false},
        {"backcs", "", "Good", false},
    };
    for (const PageRow& row : rows) {
        SCOPED_TRACE(row.profile);
        EngineBench bench(row.profile);
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        ASSERT_TRUE(bench.atRefresh([] {}));
        const std::string before = bench.takeCommands();
        EXPECT_EQ(before.find_first_of("XGMN9D"), std::string::npos) << "nothing before a look";
        ui.PageControl1->setCurrentWidget(ui.TabSheet10);
        ASSERT_TRUE(bench.atRefreshes({[] {}, [] {}}));
        EXPECT_EQ(ui.SelfTestResult->text(), QLatin1String(row.selfTest));
        EXPECT_EQ(ui.LineQuality->text(), QLatin1String(row.quality));
        EXPECT_EQ(ui.LineHighest->text().toDouble() > 100.0, row.extremes)
            << ui.LineHighest->text().toStdString();
        EXPECT_EQ(bench.takeCommands().find('D'), std::string::npos);
    }
}

int Ds(const std::string& commands) {
    return int(std::count(commands.begin(), commands.end(), 'D'));
}

TEST(CalibrationOnTheWindow, ACloseAbortsItAndTheAbortIsReadBackBeforeTheLinkIsGivenUp) {
    EngineBench bench("su1000");
    StartOnTheWindow(bench);
    bench.form().close();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.formGone(); }));
    const std::string heard = bench.takeCommands();
    EXPECT_EQ(Ds(heard), 1) << "the abort, after the start";
    EXPECT_FALSE(bench.unit().model().calibrating());
    // The abort's "D", "Q" until the unit is back on line, and only then "R".
    const auto abort = heard.rfind('D');
    ASSERT_NE(abort, std::string::npos);
    EXPECT_NE(heard.find('Q', abort), std::string::npos) << heard;
    EXPECT_EQ(heard.back(), 'R') << heard;
}

// The window closed while its real question box stands open: the close answers it No, the
// second question is not asked and no "D" goes out.
TEST(CalibrationOnTheWindow, ACloseWhileTheQuestionStandsOpenAnswersItNo) {
    EngineBench bench("su1000");
    OnTheBatteryPage(bench);
    bench.form().questionBox = nullptr;  // the real box from here on
    int questions = 0, ticksOpen = 0;
    bool stuck = false;  // the close left the question open
    QPointer<QMessageBox> seen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (seen && seen->isVisible() && ++ticksOpen > 100) {
            stuck = true;
            seen->reject();  // the test's own answer, so that it ends
        }
        if (bench.formGone() || !bench.form().openQuestion || bench.form().openQuestion == seen ||
            !bench.form().openQuestion->isVisible())
            return;
        seen = bench.form().openQuestion;
        ++questions;
        bench.form().close();
    });
    closer.start(20);
    bench.ui().Calibrate->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.formGone(); }, 20000));
    closer.stop();
    EXPECT_FALSE(stuck) << "the close did not answer the open question";
    EXPECT_EQ(questions, 1) << "the close answered the first question; no second was asked";
    EXPECT_EQ(Ds(bench.takeCommands()), 0);
    EXPECT_FALSE(bench.unit().model().calibrating());
}

TEST(CalibrationOnTheWindow, ALostLinkLeavesItToTheUnitAndTheReconnectOffersTheAbort) {
    EngineBench bench("su1000");
    StartOnTheWindow(bench);
    bench.unit().unplug();
    ASSERT_TRUE(EngineBench::waitFor([&] { return bench.form().workerEnded == 1; }));
    EXPECT_EQ(Ds(bench.takeCommands()), 0) << "nothing can reach the unit: no abort is tried";
    EXPECT_TRUE(bench.unit().model().calibrating());
    EXPECT_TRUE(bench.ui().CalibrationState->text().contains(QLatin1String("carries on alone")))
        << bench.ui().CalibrationState->text().toStdString();

    // Back again: the battery page's first look finds the calibration and offers the abort.
    QStringList asked;
    bench.form().questionBox = [&](const QString& text) {
        asked << text;
        return true;
    };
    bench.unit().plug();
    bench.form().ReconnectClick();
    bench.ui().PageControl1->setCurrentWidget(bench.ui().TabSheet10);
    ASSERT_TRUE(EngineBench::waitFor([&] { return !bench.unit().model().calibrating(); }));
    ASSERT_TRUE(bench.atRefresh([] {}));
    EXPECT_EQ(Ds(bench.takeCommands()), 1);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QLatin1String("running a runtime calibration")));
}

// ---- The guided battery service ----

// The whole service on the simulated Smart-UPS: the readings, the date written with the text
// write and read back once stored, the self-test and its result after the test's time, the
// calibration handed to its guard (refused here: the load is under 30 %), the readings after;
// each step in the journal.
TEST(GuidedService, AWalkThroughEveryStepOnTheSimulatedUnit) {
    // The unit's own load (18.5 %) refuses the calibration; at 45 % it runs down to the unit's
    // floor, which stores a new run time, and the service carries on after it.
    for (const double load : {0.0, 45.0}) {
        SCOPED_TRACE(load > 0 ? "a calibration run to its end" : "a calibration refused");
        ViewRig rig("su1000", [load](sim::Profile& p) {
            if (load > 0)
                p.loadPercent = load;
        });
        rig.openJournal();
        const ServiceState& state = rig.view().service;
        EXPECT_EQ(WireOf(rig.handle(Request::ServiceBefore)), "Q/2 x/8 f/5 j/4 P/5 X/2 Q/2");
        EXPECT_EQ(state.next, ServiceStep::Date);
        EXPECT_EQ(state.oldDate, QStringLiteral("11/29/96"));
        EXPECT_EQ(state.proposedDate, QStringLiteral("01/15/26"))
            << "the clock's day, not the host's";
        EXPECT_EQ(journal::ValueOf(state.before, QStringLiteral("Replace battery")),
                  QStringLiteral("No"));

        EXPECT_EQ(WireOf(rig.handle(Request::ReplaceDateWrite, "12/09/26"), true),
                  "x/8 -/1 1/2 2/2 //2 0/2 9/2 //2 2/2 6/2 ~4000 x/8 ~500");
        EXPECT_EQ(state.newDate, QStringLiteral("12/09/26"));
        EXPECT_EQ(state.next, ServiceStep::SelfTest);

        EXPECT_EQ(WireOf(rig.handle(Request::SelfTest), true), "W/3");
        EXPECT_TRUE(state.waiting);
        rig.ups().clock().sleepMs(39000);
        rig.handler().battery().Step(false);
        EXPECT_EQ(WireOf(rig.log().take()), "") << "the result only once the test has ended";
        rig.ups().clock().sleepMs(1000);
        rig.handler().battery().Step(false);
        EXPECT_EQ(WireOf(rig.log().take()), "X/2 G/1");
        EXPECT_EQ(state.selfTestResult, QStringLiteral("Passed: battery good"));
        EXPECT_EQ(state.next, ServiceStep::Calibration);

        std::string calibration = WireOf(rig.handle(Request::CalibrationStart));
        if (load > 0) {
            // Each pass watches it; bounded here by four hours of the unit's time.
            EXPECT_TRUE(state.waiting);
            for (int pass = 0; pass < 4 * 360 && state.waiting; ++pass) {
                rig.ups().clock().sleepMs(10000);
                rig.handler().battery().Step(false);
                rig.handler().service().Step();
            }
            calibration += WireOf(rig.log().take());
            EXPECT_FALSE(state.waiting) << "the calibration did not end";
            EXPECT_FALSE(state.calibrationCourse.isEmpty());
            EXPECT_FALSE(rig.unit().model().calibrating());
        } else {
            EXPECT_TRUE(state.calibrationEnd.contains(QLatin1String("below 30 %")));
        }
        EXPECT_EQ(std::count(calibration.begin(), calibration.end(), 'D'), load > 0 ? 1 : 0)
            << "one D starts it and none follows an end the unit made itself";
        EXPECT_EQ(state.next, ServiceStep::After);

        EXPECT_EQ(WireOf(rig.handle(Request::ServiceAfter)), "x/8 f/5 j/4 P/5 X/2 Q/2");
        EXPECT_EQ(state.next, ServiceStep::Done);
        EXPECT_EQ(journal::ValueOf(state.after, QStringLiteral("Battery date")),
                  QStringLiteral("12/09/26"));
        QStringList steps;
        for (const journal::Entry& e : rig.entries())
            if (e.kind == journal::Kind::Change)
                steps.prepend(e.what + QLatin1Char(':') + journal::OutcomeText(e.outcome));
        EXPECT_EQ(steps, QStringList({"Battery service: before:Confirmed",
                                      "Batteries Replaced Date:Confirmed", "Self Test:Confirmed",
                                      "Battery service: self-test:Confirmed",
                                      load > 0 ? "Runtime calibration:Confirmed"
                                               : "Runtime calibration:Not reached",
                                      "Battery service: after:Confirmed"}));
        if (load > 0) {
            EXPECT_NE(journal::ValueOf(state.after, QStringLiteral("Run time")),
                      journal::ValueOf(state.before, QStringLiteral("Run time")))
                << "the unit stored the run time it measured";
        }
    }
}

// The date proposed is the clock's today in the unit's own form; only a date of the calendar in
// that form is written.
TEST(GuidedService, TheDateIsTodayInTheUnitsFormAndOnlyARealDateIsWritten) {
    const QDate today(2026, 2, 3);
    struct DateRow {
        const char* unitDate;
        const char* proposed;
        const char* typed;
        bool written;
    };
    const DateRow rows[] = {
        {"11/29/96", "02/03/26", "12/09/26", true},
        {"11-29-96", "02-03-26", "12-09-26", true},
        {"11.29.96", "02.03.26", "02/29/28", false},  // not the unit's separator
        {"11.29.96", "02.03.26", "02.29.28", true},   // a leap day
        {"11/29/96", "02/03/26", "02/29/27", false},  // no leap year
        {"11/29/96", "02/03/26", "13/01/26", false},
        {"11/29/96", "02/03/26", "00/10/26", false},
        {"11/29/96", "02/03/26", "12/9/26", false},
        {"11/29/96", "02/03/26", "12/09/2026", false},
        {"11/29/96", "02/03/26", "1a/09/26", false},
        {"11/29/96", "02/03/26", "", false},
        // A unit's date with another separator, or none readable: the usual form.
        {"11x29x96", "02/03/26", "12x09x26", false},
        {"11 29 96", "02/03/26", "12/09/26", true},
        {"NA", "02/03/26", "12/09/26", true},
    };
    for (const DateRow& row : rows) {
        SCOPED_TRACE(std::string(row.unitDate) + " " + row.typed);
        const QString unitDate = QLatin1String(row.unitDate);
        EXPECT_EQ(BatteryService::TodayInUnitForm(unitDate, today), QLatin1String(row.proposed));
        const QString problem = ServiceDateProblem(QLatin1String(row.typed), unitDate);
        EXPECT_EQ(problem.isEmpty(), row.written) << problem.toStdString();
        if (!row.written) {
            EXPECT_TRUE(problem.contains(QLatin1String("nothing was sent")));
        }
    }
    // The engine holds the service's date to the same check: nothing goes out for no date.
    for (const char* typed : {"02/29/27", "12/9/26", "", "12-09-26"}) {
        SCOPED_TRACE(typed);
        Rig rig(nullptr, FamilySmart, true, false);
        rig.handle(Request::ServiceBefore);
        rig.log().take();
        rig.handle(Request::ReplaceDateWrite, typed);
        EXPECT_EQ(Wire(rig.log()), "");
        EXPECT_EQ(rig.view().service.next, ServiceStep::Date);
        EXPECT_TRUE(rig.view().service.message.contains(QLatin1String("nothing was sent")));
    }
    Rig rig(nullptr, FamilySmart, true, false);
    rig.handle(Request::ServiceBefore);
    rig.log().take();
    rig.handle(Request::ReplaceDateWrite, "12/09/26");
    EXPECT_NE(Wire(rig.log()), "");
}

// A refused date, a self-test without result and a stop: each ends bounded, says so and sends
// nothing the technician did not ask for.
TEST(GuidedService, ARefusedDateAndAnUnansweredResultEndHonestly) {
    {
        SCOPED_TRACE("date refused");
        ViewRig rig("su1000", [](sim::Profile& p) { p.refusedTexts = "x"; });
        rig.handle(Request::ServiceBefore);
        // The unit refuses the text after the selection: no character of the date follows,
        // only the read of what it keeps; the service stays at the date.
        EXPECT_EQ(WireOf(rig.handle(Request::ReplaceDateWrite, "12/09/26"), true), "x/8 -/1 x/8");
        EXPECT_EQ(rig.view().service.next, ServiceStep::Date);
        EXPECT_TRUE(rig.view().service.dateOutcome.contains(QLatin1String("refused")));
        rig.ups().clock().sleepMs(60000);
        rig.handler().battery().Step(false);
        rig.handler().service().Step();
        EXPECT_EQ(WireOf(rig.log().take()), "") << "nothing else is sent";
    }
    {
        SCOPED_TRACE("selection refused");
        // A unit answering "NA" for its battery date.
        ViewRig rig("su1000", [](sim::Profile& p) { p.batteryDate = "NA"; });
        rig.handle(Request::ServiceBefore);
        EXPECT_EQ(WireOf(rig.handle(Request::ReplaceDateWrite, "12/09/26"), true), "x/8 x/8");
        EXPECT_TRUE(rig.view().service.dateOutcome.contains(QLatin1String("refused")));
        EXPECT_EQ(rig.view().service.next, ServiceStep::Date);
    }
    // No result: one bounded read. A test the unit did not start: no read at all, since the
    // unit still holds an earlier test's result, and the service stays at the self-test.
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "self-test refused" : "no result");
        ViewRig rig("su1000", [](sim::Profile& p) { p.silentCommands = "X"; });
        rig.handle(Request::ServiceBefore);
        rig.handle(Request::ServiceSkip);
        if (refused)
            rig.unit().refuseCommand('W');
        rig.handle(Request::SelfTest);
        for (int second = 0; second < 120; ++second) {
            rig.ups().clock().sleepMs(1000);
            rig.handler().battery().Step(false);
            rig.handler().service().Step();
        }
        const std::string wire = WireOf(rig.log().take());
        EXPECT_EQ(std::count(wire.begin(), wire.end(), 'X'), refused ? 0 : 1) << wire;
        EXPECT_FALSE(rig.view().service.waiting);
        EXPECT_TRUE(rig.view().service.selfTestResult.startsWith(
            refused ? QLatin1String("Not started") : QLatin1String("No result")));
        EXPECT_EQ(rig.view().service.next,
                  refused ? ServiceStep::SelfTest : ServiceStep::Calibration);
    }
}

// The service on a unit of the guard's rig, each case from the service's start: what reaches
// the unit, where the service stands and what the journal holds.
TEST(GuidedService, ItFollowsTheUnitThroughWhatHappensMeanwhile) {
    struct ServiceRow {
        const char* name;
        std::function<void(BatteryUnit&)> unitIs;
        std::function<void(Rig&)> run;
        const char* wireStarts;  // the service's first reads
        ServiceStep next;
        bool waiting;
        const char* message;
        int dSent;
        bool acceptsAbort = true;  // the abort offered at the start
    };
    const auto upToCalibration = [](Rig& r) {
        r.handle(Request::ServiceSkip);
        r.handle(Request::ServiceSkip);
    };
    // The date and the self-test asked while the unit calibrates: refused, nothing sent but a
    // read of the status that showed it.
    const auto dateAndSelfTestRefused = [](Rig& r) {
        r.log().take();
        r.handle(Request::ReplaceDateWrite, "12/09/26");
        EXPECT_TRUE(r.view().service.message.contains(QLatin1String("nothing was sent")))
            << r.view().service.message.toStdString();
        r.handle(Request::SelfTest);
        const std::string wire = Wire(r.log());
        EXPECT_EQ(QString::fromStdString(wire).remove(QStringLiteral("Q/2")).trimmed(), "") << wire;
    };
    const auto calibrating = [](BatteryUnit& u) { u.status = qbit::OnBattery | qbit::Calibration; };
    // The "D" not taken at first; the unit starts a few seconds later, the service at `at`.
    const auto startsLate = [&](Rig& r, ServiceStep at) {
        upToCalibration(r);
        r.handle(Request::CalibrationStart);
        if (at == ServiceStep::Done)
            r.handle(Request::ServiceAfter);
        EXPECT_EQ(r.view().service.next, at);
        r.unit.status = qbit::OnBattery | qbit::Calibration;
        r.clock().advance(std::chrono::seconds(5));
        r.battery().Step();
        r.service().Step();
    };
    const ServiceRow rows[] = {
        // Its first read finds a calibration running and offers the abort before anything else.
        {"calibrating at the start",
         [](BatteryUnit& u) { u.status = qbit::OnBattery | qbit::Calibration; }, nullptr,
         "Q/2 Q/2 D/", ServiceStep::Date, false, "abort is confirmed", 1},
        // Left to the unit: the service says so; its date and self-test send nothing while the
        // unit shows the calibration.
        {"calibrating at the start, left to the UPS", calibrating,
         [&](Rig& r) {
             EXPECT_TRUE(r.view().service.message.contains(QLatin1String("left to it")));
             dateAndSelfTestRefused(r);
             // Once the unit has ended it, the status read says so and the test goes out.
             r.unit.status = qbit::OnLine;
             r.handle(Request::SelfTest);
             EXPECT_EQ(Wire(r.log()), "Q/2 W/3");
             const QList<journal::Entry> entries = r.entries();
             EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const journal::Entry& e) {
                 return e.reason.contains(QLatin1String("at the service's start"));
             }));
         },
         "Q/2 ", ServiceStep::Date, false, "calibrat", 0, false},
        // The abort asked at the start, but "Q" unanswered: the service follows the calibration
        // until the abort is read back, then goes on to the date.
        {"abort asked at the start, status unanswered",
         [](BatteryUnit& u) {
             u.status = qbit::OnBattery | qbit::Calibration;
             u.statusAnswers = 1;
         },
         [&](Rig& r) {
             EXPECT_EQ(r.view().service.next, ServiceStep::Calibration);
             EXPECT_TRUE(r.view().service.waiting);
             dateAndSelfTestRefused(r);
             r.unit.statusAnswers = -1;
             r.battery().Step();
             r.service().Step();
         },
         "Q/2 Q/", ServiceStep::Date, false, "abort is confirmed", 1},
        // Started while Morlen's own calibration runs: the service follows it, and sends neither
        // the date nor the self-test meanwhile.
        {"started during Morlen's calibration", nullptr,
         [&](Rig& r) {
             r.handle(Request::CalibrationStart);
             r.handle(Request::ServiceBefore);
             EXPECT_EQ(r.view().service.next, ServiceStep::Calibration);
             dateAndSelfTestRefused(r);
             r.battery().Step();
             r.service().Step();
         },
         "Q/2 x/", ServiceStep::Calibration, true, "On battery", 1},
        {"on line at the start", nullptr, nullptr, "Q/2 x/", ServiceStep::Date, false,
         "Readings taken", 0},
        // The unit refuses the "D" at first and starts it a pass later, with its own bit: the
        // service follows it again, abort and all.
        {"late start", [](BatteryUnit& u) { u.takesD = false; },
         [&](Rig& r) { startsLate(r, ServiceStep::After); }, "Q/2 x/", ServiceStep::Calibration,
         true, "started the calibration late", 1},
        // A late start after the readings after reopens the calibration step.
        {"late start after the readings after", [](BatteryUnit& u) { u.takesD = false; },
         [&](Rig& r) { startsLate(r, ServiceStep::Done); }, "Q/2 x/", ServiceStep::Calibration,
         true, "started the calibration late", 1},
        // Once the watch no longer looks for a late start, a calibration started from the
        // battery page is no late start of the service's.
        {"a page's calibration after the late-start window",
         [](BatteryUnit& u) { u.takesD = false; },
         [&](Rig& r) {
             upToCalibration(r);
             r.handle(Request::CalibrationStart);
             r.clock().advance(std::chrono::seconds(BatteryWatch::kLateStartSeconds + 1));
             r.battery().Step();
             r.service().Step();
             r.unit.takesD = true;
             r.handle(Request::CalibrationStart);
             ASSERT_TRUE(r.battery().Calibrating());
             r.battery().Step();
             r.service().Step();
         },
         "Q/2 x/", ServiceStep::After, false, "did not go on battery", 2},
        // A lost link ends the step that waits: the self-test's result is not known.
        {"link lost during the self-test", nullptr,
         [](Rig& r) {
             r.handle(Request::ServiceSkip);
             r.handle(Request::SelfTest);
             EXPECT_TRUE(r.view().service.waiting);
             r.unit.answers = false;
             r.battery().LinkLost();
             r.service().LinkLost();
         },
         "Q/2 x/", ServiceStep::SelfTest, false, "self-test's result is not known", 0},
        {"link lost during the calibration", nullptr,
         [&](Rig& r) {
             upToCalibration(r);
             r.handle(Request::CalibrationStart);
             r.service().Step();
             EXPECT_TRUE(r.view().service.waiting);
             r.unit.answers = false;
             r.battery().LinkLost();
             r.service().LinkLost();
         },
         "Q/2 x/", ServiceStep::Calibration, false, "carries on alone", 1},
    };
    for (const ServiceRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(row.unitIs, FamilySmart, row.acceptsAbort, false);
        rig.handle(Request::ServiceBefore);
        const std::string wire = Wire(rig.log());
        EXPECT_EQ(wire.rfind(row.wireStarts, 0), 0u) << wire;
        if (row.run)
            row.run(rig);
        const ServiceState& state = rig.view().service;
        EXPECT_EQ(state.next, row.next);
        EXPECT_EQ(state.waiting, row.waiting);
        EXPECT_TRUE(state.message.contains(QLatin1String(row.message)))
            << state.message.toStdString();
        EXPECT_EQ(rig.unit.dSent, row.dSent);
        if (std::string(row.name) == "late start") {
            rig.handle(Request::CalibrationAbort);
            EXPECT_EQ(rig.unit.dSent, 2);
            rig.service().Step();
            EXPECT_EQ(rig.view().service.next, ServiceStep::After);
        }
        if (std::string(row.name).starts_with("link lost")) {
            EXPECT_TRUE(state.linkLost);
            EXPECT_EQ(rig.entries()[0].outcome, row.next == ServiceStep::SelfTest
                                                    ? journal::Outcome::Unanswered
                                                    : journal::Outcome::NotReached);
        }
    }
}

// The report reads the connection's changes a page at a time, oldest first, and no further back
// than the connection's first entry; a cancel stops it between pages.
TEST(GuidedService, TheReportReadsTheConnectionsChangesAndStopsWhenCancelled) {
    QTemporaryDir dir;
    journal::Journal source(dir.path() + "/journal.sqlite");
    const auto record = [&](journal::Kind kind, const QString& serial, const QString& connection,
                            const QString& what) {
        journal::Entry entry;
        entry.kind = kind;
        entry.serialNumber = serial;
        entry.connection = connection;
        entry.what = what;
        source.Record(entry);
    };
    record(journal::Kind::ConnectionBegin, "SN1", "c1", "begin c1");
    record(journal::Kind::Change, "SN1", "c1", "earlier connection");
    // Under the same connection text but before its first entry: not this connection's.
    record(journal::Kind::Change, "SN1", "c2", "before the connection");
    record(journal::Kind::ConnectionBegin, "SN1", "c2", "begin c2");
    QStringList expected;
    for (int i = 0; i < 450; ++i) {
        record(journal::Kind::Change, "SN1", "c2", QStringLiteral("change %1").arg(i));
        record(journal::Kind::Change, "SN2", "c2", QStringLiteral("other unit %1").arg(i));
        expected << QStringLiteral("change %1").arg(i);
    }
    ServiceState state;
    state.serialNumber = QStringLiteral("SN1");
    state.connection = QStringLiteral("c2");
    std::atomic<bool> cancel = false;
    const auto changes = ServiceChanges(source, state, cancel);
    ASSERT_TRUE(changes);
    QStringList read;
    for (const journal::Entry& e : *changes)
        read << e.what;
    EXPECT_EQ(read, expected);
    cancel = true;
    EXPECT_FALSE(ServiceChanges(source, state, cancel)) << "cancelled, nothing read";
}

// The readings before and after are journalled as what they are: confirmed only when the unit
// answered each.
TEST(GuidedService, TheReadingsAreJournalledAsTheUnitAnsweredThem) {
    struct ReadingsRow {
        const char* name;
        std::function<void(BatteryUnit&)> change;
        journal::Outcome outcome;
    };
    const ReadingsRow rows[] = {
        {"all answered", nullptr, journal::Outcome::Confirmed},
        {"some answered", [](BatteryUnit& u) { u.charge = "NA"; }, journal::Outcome::NotReached},
        {"none answered", [](BatteryUnit& u) { u.answers = false; }, journal::Outcome::Unanswered},
    };
    for (const ReadingsRow& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(nullptr, FamilySmart, true, false);
        if (row.change)
            row.change(rig.unit);
        rig.handle(Request::ServiceBefore);
        for (int i = 0; i < 3; ++i)
            rig.handle(Request::ServiceSkip);
        rig.handle(Request::ServiceAfter);
        QList<journal::Entry> readings;
        for (const journal::Entry& e : rig.entries())
            if (e.what.endsWith(QLatin1String("before")) || e.what.endsWith(QLatin1String("after")))
                readings.append(e);
        ASSERT_EQ(readings.size(), 2);
        for (const journal::Entry& e : readings)
            EXPECT_EQ(e.outcome, row.outcome) << e.what.toStdString();
    }
}

// The dialog as the engine's state leaves it: a lost link greys every step and the abort, and
// a click that reaches one anyway posts nothing.
TEST(GuidedServiceOnTheWindow, ALostLinkGreysTheStepsAndTheAbort) {
    std::vector<Request> posted;
    BatteryServiceDialog dialog(
        nullptr,
        [&](Request request, std::optional<std::string>) {
            posted.push_back(request);
            return true;
        },
        [] {});
    const auto button = [&](const char* name) {
        return dialog.findChild<QPushButton*>(QLatin1String(name));
    };
    ServiceState state;
    state.next = ServiceStep::Calibration;
    state.waiting = true;
    dialog.showState(state);
    EXPECT_TRUE(button("ServiceAbort")->isEnabled()) << "a running calibration can be aborted";
    state.waiting = false;
    state.linkLost = true;
    state.message = QStringLiteral("The link to the UPS was lost: nothing more can be sent.");
    dialog.showState(state);
    for (const char* name : {"ServiceAbort", "ServiceRun", "ServiceSkip"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(button(name)->isEnabled());
        button(name)->setEnabled(true);
        button(name)->click();
    }
    EXPECT_TRUE(posted.empty()) << int(posted.front());
    EXPECT_TRUE(button("ServiceReport")->isEnabled()) << "what is known can be reported";
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("ServiceMessage"))
                    ->text()
                    .contains(QLatin1String("no abort was sent")));
}

// On the window: the menu entry only while a unit is connected; the dialog stopped, closed,
// opened again and resumed where it stopped, each step posted through the queue; the report
// written off the window thread.
TEST(GuidedServiceOnTheWindow, StopsAtAnyStepAndResumesThere) {
    EngineBench bench("su1000");
    TForm1& form = bench.form();
    EXPECT_FALSE(bench.ui().BatteryService->isEnabled());
    bench.connectUnit();
    ASSERT_TRUE(bench.ui().BatteryService->isEnabled());
    bench.ui().BatteryService->trigger();
    ASSERT_NE(form.serviceDialog, nullptr);
    auto* dialog = form.serviceDialog.data();
    EXPECT_FALSE(dialog->isModal());
    const auto button = [&](const char* name) {
        return dialog->findChild<QPushButton*>(QLatin1String(name));
    };
    bench.takeCommands();
    button("ServiceRun")->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return form.serviceState.next == ServiceStep::Date; }));
    auto* date = dialog->findChild<QLineEdit*>(QStringLiteral("ServiceDate"));
    EXPECT_EQ(date->text(), form.serviceState.proposedDate);
    EXPECT_NE(bench.takeCommands().find('x'), std::string::npos) << "the date read before";

    button("ServiceStop")->click();
    EXPECT_FALSE(button("ServiceRun")->isEnabled());
    dialog->close();
    bench.ui().BatteryService->trigger();
    EXPECT_EQ(form.serviceDialog.data(), dialog) << "the same service, where it stopped";
    EXPECT_FALSE(button("ServiceRun")->isEnabled());
    // A click that reaches the run button while stopped (it is greyed) sends nothing.
    button("ServiceRun")->setEnabled(true);
    button("ServiceRun")->click();
    ASSERT_TRUE(bench.atRefreshes({[] {}, [] {}}));
    EXPECT_EQ(bench.takeCommands().find('x'), std::string::npos) << "nothing while stopped";

    button("ServiceResume")->click();
    // Not a date of the calendar: refused in the dialog, nothing sent.
    const auto message = [&] {
        return dialog->findChild<QLabel*>(QStringLiteral("ServiceMessage"))->text();
    };
    date->setText(QStringLiteral("13/45/26"));
    button("ServiceRun")->click();
    EXPECT_TRUE(message().contains(QLatin1String("nothing was sent"))) << message().toStdString();
    ASSERT_TRUE(bench.atRefreshes({[] {}, [] {}}));
    EXPECT_EQ(bench.takeCommands().find('x'), std::string::npos) << "a bad date is not sent";
    date->setText(QStringLiteral("12/09/26"));
    button("ServiceRun")->click();
    ASSERT_TRUE(
        EngineBench::waitFor([&] { return form.serviceState.next == ServiceStep::SelfTest; }));
    EXPECT_NE(bench.takeCommands().find("x-12/09/26"), std::string::npos);
    // Each step left out; a click on its run button right after the skip (the button stale)
    // must not carry the step out after all.
    for (const ServiceStep next : {ServiceStep::Calibration, ServiceStep::After}) {
        button("ServiceSkip")->click();
        button("ServiceRun")->setEnabled(true);
        button("ServiceRun")->click();
        ASSERT_TRUE(EngineBench::waitFor([&] { return form.serviceState.next == next; }));
    }
    ASSERT_TRUE(bench.atRefreshes({[] {}, [] {}}));
    EXPECT_FALSE(button("ServiceReport")->isEnabled());
    button("ServiceRun")->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return form.serviceState.next == ServiceStep::Done; }));
    const std::string heard = bench.takeCommands();
    EXPECT_EQ(heard.find_first_of("WD"), std::string::npos) << "left out: " << heard;

    QTemporaryDir dir;
    const QString path = dir.path() + "/service.pdf";
    form.runReportDialog = [&] { return path; };
    bool written = false;
    QObject::connect(&form, &TForm1::reportWritten, [&](bool ok) { written = ok; });
    button("ServiceReport")->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return written; }, 30000));
    EXPECT_TRUE(QFile::exists(path));

    bench.unit().unplug();
    ASSERT_TRUE(EngineBench::waitFor([&] { return form.workerEnded == 1; }));
    EXPECT_FALSE(bench.ui().BatteryService->isEnabled());
}

}  // namespace
}  // namespace morlen::test
