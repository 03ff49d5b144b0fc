// The Options menu's "Battery service...": the guided dialog, its report, and the form's part
// (the menu entry, the view operation, the report on a worker thread).
#include "BatteryService.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "Journal.h"
#include "Unit1.h"

namespace morlen {

namespace {

// The steps as the dialog lists them, and what its run button says at each.
struct StepRow {
    ServiceStep step;
    const char* title;
    const char* run;
    bool optional;
};
constexpr StepRow kSteps[] = {
    {ServiceStep::Before, "1. Before: readings", "Read the UPS", false},
    {ServiceStep::Date, "2. New battery date", "Write the date", true},
    {ServiceStep::SelfTest, "3. Self-test", "Start the self-test", true},
    {ServiceStep::Calibration, "4. Runtime calibration (optional)", "Calibrate...", true},
    {ServiceStep::After, "5. After: summary and report", "Read the UPS again", false},
};

const StepRow* RowOf(ServiceStep step) {
    for (const StepRow& row : kSteps)
        if (row.step == step)
            return &row;
    return nullptr;
}

QList<PagedReport::KeyValue> Pairs(const QString& values) {
    QList<PagedReport::KeyValue> pairs;
    for (const journal::LabelledValue& v : journal::ParseValues(values))
        pairs.append({v.label, v.value});
    return pairs;
}

QString Or(const QString& text, const char* otherwise) {
    return text.isEmpty() ? QString::fromLatin1(otherwise) : text;
}

}  // namespace

PagedReport BatteryServiceReport(const ServiceState& s, const QList<journal::Entry>& changes) {
    PagedReport report(QStringLiteral("Battery service report"));
    report.setUnit(s.model, s.serialNumber);
    report.addSection(QStringLiteral("Unit"));
    report.addKeyValues({{QStringLiteral("Model"), s.model},
                         {QStringLiteral("Serial number"), s.serialNumber},
                         {QStringLiteral("Firmware"), s.firmware},
                         {QStringLiteral("Connection"), s.connection}});
    report.addSection(QStringLiteral("Battery date"));
    report.addKeyValues({{QStringLiteral("Old"), s.oldDate},
                         {QStringLiteral("New"), Or(s.newDate, "Not written")},
                         {QStringLiteral("Outcome"), Or(s.dateOutcome, "Not done")}});
    report.addSection(QStringLiteral("Readings before"));
    report.addKeyValues(Pairs(s.before));
    report.addSection(QStringLiteral("Self-test"));
    report.addParagraph(Or(s.selfTestResult, "Not done"));
    report.addSection(QStringLiteral("Runtime calibration"));
    report.addKeyValues({{QStringLiteral("Start conditions"), Or(s.calibrationStart, "Not asked")},
                         {QStringLiteral("End"), Or(s.calibrationEnd, "Not done")}});
    if (!s.calibrationCourse.isEmpty()) {
        QList<QStringList> rows;
        for (const QString& line : s.calibrationCourse)
            rows.append({line});
        report.addTable({QStringLiteral("Course")}, rows);
    }
    report.addSection(QStringLiteral("Readings after"));
    report.addKeyValues(Pairs(s.after));
    report.addSection(QStringLiteral("Settings changed during the connection"));
    QList<QStringList> rows;
    for (const journal::Entry& e : changes)
        rows.append({e.when, e.what, e.before, e.after, journal::OutcomeText(e.outcome)});
    if (rows.isEmpty())
        report.addParagraph(QStringLiteral("None recorded."));
    else
        report.addTable({QStringLiteral("When"), QStringLiteral("What"), QStringLiteral("Before"),
                         QStringLiteral("After"), QStringLiteral("Outcome")},
                        rows);
    report.addSignatureBlock();
    return report;
}

BatteryServiceDialog::BatteryServiceDialog(QWidget* owner, Post post, std::function<void()> report)
    : QDialog(owner), post_(std::move(post)) {
    setObjectName(QStringLiteral("BatteryService"));
    setWindowTitle(QStringLiteral("Battery service"));
    setModal(false);
    resize(560, 420);
    steps_ = new QListWidget(this);
    steps_->setObjectName(QStringLiteral("ServiceSteps"));
    steps_->setSelectionMode(QAbstractItemView::NoSelection);
    for (const StepRow& row : kSteps)
        steps_->addItem(QString::fromLatin1(row.title));
    steps_->setMaximumWidth(220);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("ServiceSummary"));
    text_->setReadOnly(true);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("ServiceMessage"));
    message_->setWordWrap(true);
    date_ = new QLineEdit(this);
    date_->setObjectName(QStringLiteral("ServiceDate"));
    date_->setMaxLength(8);
    const auto button = [this](const char* name, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    run_ = button("ServiceRun", "Read the UPS");
    skip_ = button("ServiceSkip", "Leave out");
    stop_ = button("ServiceStop", "Stop");
    resume_ = button("ServiceResume", "Resume");
    abort_ = button("ServiceAbort", "Abort calibration");
    report_ = button("ServiceReport", "Report...");

    auto* right = new QVBoxLayout;
    right->addWidget(message_);
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(new QLabel(QStringLiteral("New battery date:"), this));
    dateRow->addWidget(date_);
    right->addLayout(dateRow);
    right->addWidget(text_, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(steps_);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {run_, skip_, stop_, resume_, abort_, report_})
        buttons->addWidget(b);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addLayout(buttons);

    connect(run_, &QPushButton::clicked, this, &BatteryServiceDialog::run);
    connect(skip_, &QPushButton::clicked, this, &BatteryServiceDialog::skip);
    connect(stop_, &QPushButton::clicked, this, &BatteryServiceDialog::stop);
    connect(resume_, &QPushButton::clicked, this, &BatteryServiceDialog::resume);
    connect(abort_, &QPushButton::clicked, this, [this] {
        if (state_.linkLost || !post_(Request::CalibrationAbort, std::nullopt))
            message_->setText(
                QStringLiteral("The connection to the UPS has ended: no abort was sent."));
    });
    connect(report_, &QPushButton::clicked, this, std::move(report));
    update();
}

void BatteryServiceDialog::showState(const ServiceState& state) {
    const bool dateDue = state.next == ServiceStep::Date && state_.next != ServiceStep::Date;
    state_ = state;
    busy_ = false;
    if (dateDue || date_->text().isEmpty())
        date_->setText(state.proposedDate);
    update();
}

void BatteryServiceDialog::stop() {
    stopped_ = true;
    update();
}

void BatteryServiceDialog::resume() {
    stopped_ = false;
    update();
}

void BatteryServiceDialog::run() {
    if (stopped_ || busy_ || state_.waiting || state_.linkLost)
        return;
    std::optional<std::string> text;
    Request request = Request::ServiceBefore;
    switch (state_.next) {
        case ServiceStep::Before:
        case ServiceStep::Done:
            request = Request::ServiceBefore;
            break;
        case ServiceStep::Date:
            if (const QString problem = ServiceDateProblem(date_->text(), state_.oldDate);
                !problem.isEmpty()) {
                message_->setText(problem);
                return;
            }
            request = Request::ReplaceDateWrite;
            text = date_->text().toLatin1().toStdString();
            break;
        case ServiceStep::SelfTest:
            request = Request::SelfTest;
            break;
        case ServiceStep::Calibration:
            request = Request::CalibrationStart;
            break;
        case ServiceStep::After:
            request = Request::ServiceAfter;
            break;
    }
    if (!post_(request, text)) {
        message_->setText(QStringLiteral("The connection to the UPS has ended: nothing was sent."));
        return;
    }
    busy_ = true;
    update();
}

void BatteryServiceDialog::skip() {
    if (stopped_ || busy_ || state_.waiting || state_.linkLost)
        return;
    if (post_(Request::ServiceSkip, std::nullopt)) {
        busy_ = true;
        update();
    }
}

void BatteryServiceDialog::update() {
    const StepRow* row = RowOf(state_.next);
    for (int i = 0; i < steps_->count(); ++i) {
        QFont font = steps_->item(i)->font();
        font.setBold(row != nullptr && kSteps[i].step == row->step);
        steps_->item(i)->setFont(font);
    }
    const bool free = !stopped_ && !busy_ && !state_.waiting && !state_.linkLost;
    run_->setText(state_.next == ServiceStep::Done ? QStringLiteral("Start again")
                                                   : QString::fromLatin1(row ? row->run : ""));
    run_->setEnabled(free);
    skip_->setEnabled(free && row != nullptr && row->optional);
    date_->setEnabled(free && state_.next == ServiceStep::Date);
    stop_->setEnabled(!stopped_);
    resume_->setEnabled(stopped_);
    abort_->setEnabled(state_.waiting && state_.next == ServiceStep::Calibration &&
                       !state_.linkLost);
    report_->setEnabled(state_.next == ServiceStep::Done || state_.linkLost);
    message_->setText(stopped_ ? QStringLiteral("Stopped at \"%1\": Resume carries on from there.")
                                     .arg(QString::fromLatin1(row ? row->title : ""))
                               : state_.message);
    text_->setPlainText(summary());
}

QString BatteryServiceDialog::summary() const {
    QStringList lines;
    if (!state_.model.isEmpty())
        lines << QStringLiteral("%1, serial number %2, firmware %3")
                     .arg(state_.model, state_.serialNumber, state_.firmware);
    if (!state_.before.isEmpty())
        lines << QString() << QStringLiteral("Before:") << state_.before;
    if (!state_.dateOutcome.isEmpty())
        lines << QString() << QStringLiteral("Battery date: ") + state_.dateOutcome;
    if (!state_.selfTestResult.isEmpty())
        lines << QStringLiteral("Self-test: ") + state_.selfTestResult;
    if (!state_.calibrationStart.isEmpty())
        lines << QStringLiteral("Calibration start: ") + state_.calibrationStart;
    if (!state_.calibrationCourse.isEmpty())
        lines << QStringLiteral("Calibration: ") + state_.calibrationCourse.back();
    if (!state_.calibrationEnd.isEmpty())
        lines << QStringLiteral("Calibration end: ") + state_.calibrationEnd;
    if (!state_.after.isEmpty())
        lines << QString() << QStringLiteral("After:") << state_.after;
    return lines.join(QLatin1Char('\n'));
}

}  // namespace morlen

// ---- The form's part ----

void TForm1::showService(const morlen::ServiceState& state) {
    serviceState = state;
    if (serviceDialog)
        serviceDialog->showState(state);
}

void TForm1::BatteryServiceClick() {
    if (worker == nullptr || workerEnded != 0) {
        setStatusText(QStringLiteral("No unit is connected."));
        return;
    }
    if (!serviceDialog) {
        serviceDialog = new morlen::BatteryServiceDialog(
            this,
            [this](morlen::Request request, std::optional<std::string> text) {
                return worker != nullptr && workerEnded == 0 && post(request, '-', std::move(text));
            },
            [this] { BatteryReportClick(); });
        serviceDialog->showState(serviceState);
    }
    serviceDialog->show();
    serviceDialog->raise();
}

namespace morlen {

std::optional<QList<journal::Entry>> ServiceChanges(journal::Journal& source,
                                                    const ServiceState& state,
                                                    const std::atomic<bool>& cancel) {
    constexpr int kPage = 200;
    source.Flush();
    QList<journal::Entry> changes;
    qint64 beforeId = 0;
    while (!cancel) {
        const QList<journal::Entry> page = source.Page(state.serialNumber, {}, beforeId, kPage);
        for (const journal::Entry& e : page) {
            if (e.connection != state.connection)
                continue;
            if (e.kind == journal::Kind::ConnectionBegin)
                return changes;
            if (e.kind == journal::Kind::Change)
                changes.prepend(e);
        }
        if (page.size() < kPage)
            return changes;
        beforeId = page.back().id;
    }
    return std::nullopt;
}

}  // namespace morlen

void TForm1::BatteryReportClick() {
    if (reportWriter && reportWriter->isRunning()) {
        setStatusText(QStringLiteral("The battery service report is still being written."));
        return;
    }
    const morlen::ServiceState state = serviceState;
    QString path = runReportDialog
                       ? runReportDialog()
                       : QFileDialog::getSaveFileName(
                             this, QStringLiteral("Battery service report"),
                             QStringLiteral("battery-service-%1.pdf").arg(state.serialNumber),
                             QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    endReportWriter();  // the last one, ended: its thread is joined
    setStatusText(QStringLiteral("Writing the battery service report..."));
    // The journal read, the layout and the writing off the window thread: a long journal (or a
    // shared one far away) takes its time. The window waits for the thread only when it closes.
    cancelReport = std::make_shared<std::atomic<bool>>(false);
    reportWriter.reset(QThread::create([form = QPointer<TForm1>(this), source = journal.get(),
                                        cancel = cancelReport, state, path] {
        std::optional<QList<morlen::journal::Entry>> changes;
        if (source != nullptr)
            changes = morlen::ServiceChanges(*source, state, *cancel);
        else
            changes.emplace();
        morlen::PagedReport::WriteOptions options;
        options.cancel = cancel.get();
        const bool written = changes && !*cancel &&
                             morlen::BatteryServiceReport(state, *changes).writePdf(path, options);
        const bool cancelled = !written && *cancel;
        QMetaObject::invokeMethod(qApp, [form, written, cancelled, path] {
            if (!form)
                return;
            form->setStatusText(
                written     ? QStringLiteral("Battery service report written to %1.").arg(path)
                : cancelled ? QStringLiteral("The battery service report was cancelled.")
                            : QStringLiteral("Could not write %1.").arg(path));
            emit form->reportWritten(written);
        });
    }));
    reportWriter->start();
}

void TForm1::endReportWriter() {
    if (!reportWriter)
        return;
    *cancelReport = true;
    reportWriter->wait();
    reportWriter.reset();
}
