#include "Apcdynamicdata.h"

#include <QMetaObject>

#include "Apcups.h"
#include "DisplayRefresh.h"
#include "Queue.h"
#include "View.h"

namespace morlen {

APCDynamicData::APCDynamicData(const PollParts& parts)
    : parts_(parts),
      requests_(std::make_unique<RequestHandler>(parts.view, parts.ups, parts.tone, parts.journal,
                                                 *this)) {
    // `ended` is emitted on the window thread once the body has returned. The thread object
    // lives on the window thread and is the receiver, so a call still queued when the object
    // has already been finished off and deleted is dropped with it.
    connect(
        this, &QThread::finished, this, [this] { FinishOnWindowThread(); }, Qt::QueuedConnection);
}

APCDynamicData::~APCDynamicData() = default;

void APCDynamicData::FinishOnWindowThread() {
    if (ended_)
        return;
    ended_ = true;
    wait();  // the body has returned; this only collects the thread
    emit ended();
    deleteLater();
}

void APCDynamicData::RunOnWindowThread(const std::function<void()>& callback) {
    if (QThread::currentThread() == parts_.window.thread()) {
        callback();
        return;
    }
    QMetaObject::invokeMethod(
        &parts_.window, [&callback] { callback(); }, Qt::BlockingQueuedConnection);
}

void APCDynamicData::Execute() {
    APCUPS& ups = parts_.ups;
    Queue& queue = parts_.queue;
    View& view = parts_.view;
    for (;;) {
        if (StopRequested()) {
            // A close never leaves a calibration running unasked.
            requests_->battery().Stopping();
            return;
        }

        bool statusShown = false;
        RunOnWindowThread([&] {
            statusShown = view.statusPageShown();
            batteryShown_ = view.batteryPageShown();
        });
        if (statusShown) {
            ups.ReadStatusRegisters();
        } else {
            ups.ReadMeasurements();
        }

        while (!queue.IsEmpty()) {
            if (StopRequested())
                break;
            const APCommandToSend request = queue.Front();
            requests_->Handle(Request(request.code), request.argument, request.target,
                              request.restore);
            queue.Pop();
        }

        RunOnWindowThread([&] { RefreshDisplay(view, ups); });

        if (!ups.CheckSmartMode()) {
            requests_->battery().LinkLost();
            requests_->service().LinkLost();
            LostConnection();
            return;
        }
        // The battery service's reads, between passes so that a pass stays as it is.
        requests_->battery().Step(batteryShown_);
        requests_->service().Step();
    }
}

void APCDynamicData::LostConnection() {
    RunOnWindowThread([this] {
        parts_.journal.ConnectionEnded(parts_.ups, QStringLiteral("Connection lost"));
        // Nothing confirmed from now on, while the window still shows the unit, reaches the
        // next connection's unit.
        parts_.queue.Close();
        parts_.view.showLinkLamp(parts_.ups.smartModeOk);
        parts_.view.showLostConnection();
    });
}

}  // namespace morlen
