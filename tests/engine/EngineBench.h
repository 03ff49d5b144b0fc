#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Apcups.h"
#include "SimUps.h"
#include "Tone.h"
#include "Unit1.h"
#include "UnitSettings.h"

namespace morlen::test {

// A tone that only counts and holds its caller in virtual time.
class CountingTone final : public Tone {
public:
    explicit CountingTone(Clock& clock) : clock_(clock) {}
    void Beep(int, int ms) override {
        ++beeps;
        clock_.sleepMs(ms);
    }
    std::atomic<int> beeps{0};

private:
    Clock& clock_;
};

// Posts a request as the window does: a walk carries the text of its entry as it stands now,
// as Enter confirms it.
void PostRequest(TForm1& form, char code, char argument);

// Posts a restore of these settings as the restore dialog's OK does. How a restore's plan
// travels to the poll thread is known here and in RequeueRequests only.
void PostRestore(TForm1& form, std::vector<RestoreTarget> plan);

// Takes every request off the window's queue and puts each back whole, walk target included:
// what the next poll pass will carry out, in order.
std::vector<APCommandToSend> RequeueRequests(Queue& queue);

// The real window wired to a simulated unit in virtual time, with its own settings folder.
class EngineBench {
public:
    explicit EngineBench(const std::string& profile);
    ~EngineBench();

    TForm1& form() { return *form_; }
    Ui::TForm1& ui() { return *form_->ui; }
    sim::SimUps& unit() { return *unit_; }
    sim::SimLine& line() { return *line_; }
    VirtualClock& clock() { return clock_; }
    CountingTone& tone() { return *tone_; }
    const std::vector<QString>& errors() const { return errors_; }
    bool formGone() const { return form_.isNull(); }
    QString settingsFile() const;

    // Chooses COM1, as a technician does.
    void connectUnit();
    // Processes window events until `done` holds or the time runs out; true if it held.
    static bool waitFor(const std::function<bool()>& done, int ms = 10000);
    // Runs `look` at the end of a display refresh, while the poll thread waits; returns
    // false when no refresh came in time.
    bool atRefresh(const std::function<void()>& look, int ms = 10000);
    // The same for consecutive refreshes: looks[i] runs at the i-th refresh from now on, with
    // no pass missed in between.
    bool atRefreshes(const std::vector<std::function<void()>>& looks, int ms = 10000);
    // The command bytes the unit received since the last call.
    std::string takeCommands();

private:
    QTemporaryDir config_;
    VirtualClock clock_;
    std::unique_ptr<sim::SimUps> unit_;
    sim::SimLine* line_ = nullptr;
    QPointer<TForm1> form_;
    CountingTone* tone_ = nullptr;
    std::vector<QString> errors_;
    std::size_t seen_ = 0;
};

}  // namespace morlen::test
