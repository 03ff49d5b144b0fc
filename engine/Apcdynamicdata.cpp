#include "Apcdynamicdata.h"

#include <QColor>
#include <QMetaObject>

#include "DisplayRefresh.h"
#include "RequestHandling.h"
#include "Unit1.h"

namespace morlen {

APCDynamicData::APCDynamicData(TForm1& form)
    : form_(form), requests_(std::make_unique<RequestHandler>(form, *this)) {
    // The end handler runs on the window thread once the body has returned. The thread object
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
    form_.WorkerTerminated();
    // The window must not reach this object any more; leave it no dangling reference.
    if (form_.worker == this)
        form_.worker = nullptr;
    deleteLater();
}

void APCDynamicData::RunOnWindowThread(const std::function<void()>& callback) {
    if (QThread::currentThread() == form_.thread()) {
        callback();
        return;
    }
    QMetaObject::invokeMethod(
        &form_, [&callback] { callback(); }, Qt::BlockingQueuedConnection);
}

void APCDynamicData::Execute() {
    APCUPS& ups = *form_.ups;
    Queue& queue = *form_.requestQueue;
    for (;;) {
        if (StopRequested())
            return;

        bool statusShown = false;
        RunOnWindowThread([&] { statusShown = form_.activePage() == form_.ui->TabSheet6; });
        if (statusShown) {
            ups.ReadStatusRegisters();
        } else {
            ups.ReadMeasurements();
        }

        while (!queue.IsEmpty()) {
            if (StopRequested())
                break;
            const APCommandToSend request = queue.Front();
            requests_->Handle(request.code, request.argument, request.target, request.restore);
            RunOnWindowThread([&] { form_.ui->PageControl2->setEnabled(true); });
            queue.Pop();
        }

        RunOnWindowThread([&] { RefreshDisplay(form_); });

        if (!ups.CheckSmartMode()) {
            LostConnection();
            return;
        }
    }
}

void APCDynamicData::LostConnection() {
    RunOnWindowThread([this] {
        Ui::TForm1& ui = *form_.ui;
        form_.setStatusText(form_.textNoConnection);
        form_.recordConnectionEnd(QStringLiteral("Connection lost"));
        form_.lampOk = form_.ups->smartModeOk;
        // Nothing confirmed from now on, while the window still shows the unit, reaches the
        // next connection's unit.
        form_.requestQueue->Close();
        ui.ComboBox1->setEnabled(true);
        ui.Reconnect->setEnabled(true);
        TForm1::setFontColor(ui.Memo1, QColor(255, 0, 0));
        ui.PageControl1->hide();
        ui.GroupBox7->hide();
        ui.GroupBox7->setEnabled(false);
        for (QWidget* page :
             {ui.TabSheet1, ui.TabSheet2, ui.TabSheet3, ui.TabSheet4, ui.TabSheet5, ui.TabSheet7}) {
            form_.setPageShown(page, false);
        }
        ui.Leds->setEnabled(false);
        ui.Test->setEnabled(false);
        ui.ByPass->setEnabled(false);
    });
}

}  // namespace morlen
