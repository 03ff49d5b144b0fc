#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class TForm1;

namespace morlen {

class RequestHandler;

// The poll thread: owns all traffic with the unit once it is connected. Each pass reads the
// live values (or the status registers), carries out the queued requests, hands the display
// refresh to the window thread and checks the link. When the unit stops answering it puts the
// window back into its disconnected look and ends.
//
// Created running by the connection step; destroys itself after its end handler
// (TForm1::WorkerTerminated) has run on the window thread.
class APCDynamicData : public QThread {
    Q_OBJECT

public:
    explicit APCDynamicData(TForm1& form);
    ~APCDynamicData() override;

    // Asks the pass loop to stop; does not wait.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_; }

    // Runs `callback` on the window thread and waits until it has run. Called on the window
    // thread itself it just runs it.
    void RunOnWindowThread(const std::function<void()>& callback);

    // The end handler has run (or the thread was finished off by the window): from now on
    // the window must not use this object.
    bool Ended() const { return ended_; }

    // Called on the window thread when the thread has returned: the end handler, then the
    // object's own deletion. Safe to call more than once.
    void FinishOnWindowThread();

protected:
    void run() override { Execute(); }

private:
    void Execute();
    void LostConnection();

    TForm1& form_;
    std::unique_ptr<RequestHandler> requests_;
    std::atomic<bool> stopRequested_{false};
    bool ended_ = false;
};

}  // namespace morlen
