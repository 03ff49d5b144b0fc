#pragma once

#include <QDialog>
#include <QList>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "JournalEntry.h"
#include "PagedReport.h"
#include "Requests.h"
#include "View.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace morlen {

// The battery service report: identity, battery dates, readings before and after, the
// self-test, the calibration's start, course and end, the connection's changes from the journal
// and room for the technician's name and signature. Built from copies: fit for a worker thread.
PagedReport BatteryServiceReport(const ServiceState& state, const QList<journal::Entry>& changes);

namespace journal {
class Journal;
}
// The service's connection's changes, oldest first, read a page at a time back to the
// connection's first entry; nothing once `cancel` is set (checked before each page): a shared
// journal far away may take seconds a page.
std::optional<QList<journal::Entry>> ServiceChanges(journal::Journal& source,
                                                    const ServiceState& state,
                                                    const std::atomic<bool>& cancel);

// The guided battery service: one step at a time, each carried out by the poll thread through
// the queue; the technician may stop at any step and resume there (also after closing it). It
// shows what the engine reports through the view; it reads nothing from the unit itself.
class BatteryServiceDialog : public QDialog {
    Q_OBJECT
public:
    // Posts a request (with the text it writes, for the date); false when the connection ended.
    using Post = std::function<bool(Request, std::optional<std::string>)>;
    BatteryServiceDialog(QWidget* owner, Post post, std::function<void()> report);

    void showState(const ServiceState& state);
    void stop();
    void resume();
    bool stopped() const { return stopped_; }

private:
    void run();
    void skip();
    void update();
    QString summary() const;

    Post post_;
    ServiceState state_;
    bool stopped_ = false;
    // A step posted whose end has not yet been shown.
    bool busy_ = false;
    QListWidget* steps_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QLabel* message_ = nullptr;
    QLineEdit* date_ = nullptr;
    QPushButton *run_ = nullptr, *skip_ = nullptr, *stop_ = nullptr, *resume_ = nullptr,
                *abort_ = nullptr, *report_ = nullptr;
};

}  // namespace morlen
