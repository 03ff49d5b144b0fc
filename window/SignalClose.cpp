#include "SignalClose.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cerrno>

namespace morlen {

namespace {

// The handler only writes the signal's number into this pair; the window thread reads it.
int signalPair[2] = {-1, -1};
volatile sig_atomic_t closing = 0;
QPointer<QWidget> target;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int sig) {
    if (closing != 0) {
        // The close already runs and another signal came: stop now, as the signal would
        // without a handler. It is delivered as soon as this handler returns.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        ::sigaction(sig, &byDefault, nullptr);
        ::raise(sig);
        return;
    }
    closing = 1;
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(sig);
    (void)!::write(signalPair[1], &number, 1);
    errno = saved;
}

void closeTarget() {
    if (target.isNull())
        return;
    // An open menu (the Options menu, a context menu) is put away first, so that nothing of
    // the window is left holding the input while it closes.
    for (int i = 0; i < 8; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (popup == nullptr)
            break;
        popup->close();
    }
    // A modal box (an error, the save dialog) runs its own loop inside a window handler: end
    // it, and close the window once that handler has returned.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
        QTimer::singleShot(50, qApp, closeTarget);
        return;
    }
    if (QThread::currentThread()->loopLevel() > 1) {
        QTimer::singleShot(50, qApp, closeTarget);
        return;
    }
    target->close();
}

void installHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        unsigned char number = 0;
        while (::read(signalPair[0], &number, 1) == 1) {
        }
        closeTarget();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        sigaddset(&action.sa_mask, sig);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}

}  // namespace

void CloseOnSignals(QWidget* window) {
    if (signalPair[0] < 0)
        installHandlers();
    target = window;
    closing = 0;
}

}  // namespace morlen
