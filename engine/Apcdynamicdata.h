#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "RequestHandling.h"

namespace morlen {

class APCUPS;
class JournalFeed;
class Queue;
class Tone;
class View;

// What the poll thread works with; all of it outlives the thread.
struct PollParts {
    // The window: hand-offs run on its thread, as calls it receives.
    QObject& window;
    View& view;
    APCUPS& ups;
    Queue& queue;
    Tone& tone;
    JournalFeed& journal;
};

// The poll thread: owns all traffic with the unit once it is connected. Each pass reads the
// live values (or the status registers), carries out the queued requests, hands the display
// refresh to the window thread and checks the link. When the unit stops answering it puts the
// window back into its disconnected look and ends.
//
// Created running by the connection step; destroys itself after `ended` has been emitted on
// the window thread.
class APCDynamicData : public QThread, public HandOff {
    Q_OBJECT

public:
    explicit APCDynamicData(const PollParts& parts);
    ~APCDynamicData() override;

    // Asks the pass loop to stop; does not wait.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const override { return stopRequested_; }

    // Runs `callback` on the window thread and waits until it has run. Called on the window
    // thread itself it just runs it.
    void RunOnWindowThread(const std::function<void()>& callback) override;

    // `ended` has been emitted (or the thread was finished off by the window): from now on the
    // window must not use this object.
    bool Ended() const { return ended_; }

    // Called on the window thread when the thread has returned: `ended`, then the object's own
    // deletion. Safe to call more than once.
    void FinishOnWindowThread();

    RequestHandler& requests() { return *requests_; }

signals:
    // The thread has returned; on the window thread, once.
    void ended();

protected:
    void run() override { Execute(); }

private:
    void Execute();
    void LostConnection();

    PollParts parts_;
    std::unique_ptr<RequestHandler> requests_;
    std::atomic<bool> stopRequested_{false};
    bool batteryShown_ = false;
    bool ended_ = false;
};

}  // namespace morlen
