// The service journal as the window sees it: the Options menu's "Service journal..." window
// and its export, and the entries the window itself records (connections and their ends).
#include "JournalWindow.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QSignalBlocker>
#include <QTableView>
#include <QTextDocument>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "Journal.h"
#include "PagedReport.h"
#include "Unit1.h"

namespace morlen {

namespace {

QString oneLine(const QString& values) {
    QString text = values.trimmed();
    text.replace(QLatin1Char('\n'), QLatin1String("; "));
    return text;
}

QString html(const QString& text) {
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return escaped;
}

QString valuesTable(const QString& values) {
    const QList<journal::LabelledValue> list = journal::ParseValues(values);
    if (list.isEmpty())
        return QStringLiteral("<p>None recorded.</p>");
    QString text = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">");
    for (const journal::LabelledValue& v : list)
        text += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(html(v.label), html(v.value));
    return text + QStringLiteral("</table>");
}

QString outcomeOf(const journal::Entry& e) {
    const QString outcome = journal::OutcomeText(e.outcome);
    return e.reason.isEmpty() ? outcome : outcome + QStringLiteral(": ") + e.reason;
}

}  // namespace

QString ServiceReportHtml(const QList<journal::Entry>& entries, const QString& readingsNow) {
    // Entries come newest first: the unit is as the newest one knew it.
    const journal::Entry* newest = entries.isEmpty() ? nullptr : &entries.front();
    const journal::Entry* begin = nullptr;
    for (const journal::Entry& e : entries) {
        if (e.kind == journal::Kind::ConnectionBegin) {
            begin = &e;
            break;
        }
    }
    QString text = QStringLiteral("<h2>Service report</h2>");
    text += QStringLiteral("<p>Model: %1<br>Serial number: %2<br>Firmware: %3</p>")
                .arg(html(newest ? newest->model : QString()),
                     html(newest ? newest->serialNumber : QString()),
                     html(newest ? newest->firmware : QString()));
    text += QStringLiteral("<h3>Readings when the connection began</h3>");
    text += begin ? QStringLiteral("<p>%1 on %2</p>").arg(html(begin->when), html(begin->port)) +
                        valuesTable(begin->after)
                  : QStringLiteral("<p>None recorded.</p>");
    text += QStringLiteral("<h3>Readings at the export</h3>");
    text += readingsNow.isEmpty() ? QStringLiteral("<p>The unit is not connected.</p>")
                                  : valuesTable(readingsNow);
    text += QStringLiteral("<h3>Changes</h3>");
    text += QStringLiteral(
        "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\"><tr><th>When</th><th>What</th>"
        "<th>Before</th><th>After</th><th>Outcome</th></tr>");
    for (const journal::Entry& e : entries) {
        if (e.kind != journal::Kind::Change)
            continue;
        text +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>")
                .arg(html(e.when), html(e.what), html(e.before), html(e.after), html(outcomeOf(e)));
    }
    return text + QStringLiteral("</table>");
}

bool WritePdf(const QString& htmlText, const QString& path, const QString& model,
              const QString& serialNumber) {
    // The HTML brings its own heading.
    PagedReport report(QStringLiteral("Service report"), PagedReport::Title::InHeaderOnly);
    report.setUnit(model, serialNumber);
    report.addHtml(htmlText);
    return report.writePdf(path);
}

// The entries read so far, as the table shows them; asks for the next page as it scrolls.
class EntryModel final : public QAbstractTableModel {
public:
    explicit EntryModel(std::function<void()> fetch, QObject* parent)
        : QAbstractTableModel(parent), fetch_(std::move(fetch)) {}

    QList<journal::Entry> rows;
    bool atEnd = false;

    void reset() {
        beginResetModel();
        rows.clear();
        atEnd = false;
        endResetModel();
    }
    void append(QList<journal::Entry> page, bool last) {
        atEnd = last;
        if (page.isEmpty())
            return;
        beginInsertRows({}, int(rows.size()), int(rows.size() + page.size() - 1));
        rows.append(std::move(page));
        endInsertRows();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : int(rows.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 8; }
    bool canFetchMore(const QModelIndex& parent) const override {
        return !parent.isValid() && !atEnd;
    }
    void fetchMore(const QModelIndex& parent) override {
        if (!parent.isValid())
            fetch_();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const names[] = {"When", "Model",  "Serial number", "Port",
                                            "What", "Before", "After",         "Outcome"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 8)
            return QString::fromLatin1(names[section]);
        return {};
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rows.size())
            return {};
        const journal::Entry& e = rows[index.row()];
        // The whole of a reset's ten values, one a line, where the cell shows them in one.
        if (role == Qt::ToolTipRole && (index.column() == 5 || index.column() == 6))
            return index.column() == 5 ? e.before : e.after;
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
            case 0:
                return e.when;
            case 1:
                return e.model;
            case 2:
                return e.serialNumber;
            case 3:
                return e.port;
            case 4:
                return e.kind == journal::Kind::Change
                           ? e.what
                           : journal::KindText(e.kind) + QStringLiteral(": ") + e.what;
            case 5:
                return oneLine(e.before);
            case 6:
                return oneLine(e.after);
            default:
                return outcomeOf(e);
        }
    }

private:
    std::function<void()> fetch_;
};

JournalWindow::JournalWindow(journal::Journal& journal, QString connectedSerial,
                             std::function<QString()> readingsNow, QWidget* parent)
    : QDialog(parent),
      journal_(journal),
      connectedSerial_(std::move(connectedSerial)),
      readingsNow_(std::move(readingsNow)),
      cancelExport_(std::make_shared<std::atomic<bool>>(false)) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Service journal"));
    resize(820, 480);

    tasks_ = std::make_shared<Tasks>();
    tasks_->window = this;

    unit_ = new QComboBox(this);
    unit_->setObjectName(QStringLiteral("JournalUnit"));
    if (!connectedSerial_.isEmpty())
        unit_->addItem(QStringLiteral("Connected unit (%1)").arg(connectedSerial_),
                       connectedSerial_);
    unit_->addItem(QStringLiteral("All units"), QString());
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("JournalSearch"));
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);

    model_ = new EntryModel([this] { fetchPage(); }, this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("JournalEntries"));
    table_->setModel(model_);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Every row one line high: the table never measures the rows it has not shown.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setStretchLastSection(true);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("JournalStatus"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("JournalExportProgress"));
    progress_->hide();
    cancel_ = new QPushButton(QStringLiteral("Cancel export"), this);
    cancel_->setObjectName(QStringLiteral("JournalExportCancel"));
    cancel_->hide();

    auto* exportButton = new QPushButton(QStringLiteral("Export..."), this);
    exportButton->setObjectName(QStringLiteral("JournalExport"));
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("JournalClose"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Unit:"), this));
    top->addWidget(unit_, 1);
    top->addWidget(search_, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(progress_);
    bottom->addWidget(cancel_);
    bottom->addWidget(exportButton);
    bottom->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);

    chooseExportFile = [this] {
        return QFileDialog::getSaveFileName(
            this, QStringLiteral("Export"), QString(),
            QStringLiteral("Service report (*.pdf);;Spreadsheet (*.csv)"));
    };
    searchDelay_ = new QTimer(this);
    searchDelay_->setSingleShot(true);
    searchDelay_->setInterval(kSearchDelayMs);
    connect(searchDelay_, &QTimer::timeout, this, [this] { refresh(); });
    connect(unit_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(search_, &QLineEdit::textChanged, searchDelay_, qOverload<>(&QTimer::start));
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { *cancelExport_ = true; });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    // The units the journal knows, read once; they follow the connected one and "All units".
    ++pending_;
    run([this] {
        const QStringList serials = journal_.SerialNumbers();
        post([this, serials] {
            --pending_;
            const QSignalBlocker quiet(unit_);
            for (const QString& serial : serials) {
                if (serial != connectedSerial_)
                    unit_->addItem(serial, serial);
            }
        });
    });
    refresh();
}

JournalWindow::~JournalWindow() {
    // Nothing more reaches the window; a read under way ends (an export at its next page) before
    // the journal may go. The pool's threads stay: ending one is not the window thread's wait.
    *cancelExport_ = true;
    std::unique_lock lock(tasks_->mutex);
    tasks_->window = nullptr;
    tasks_->idle.wait(lock, [this] { return tasks_->running == 0; });
}

void JournalWindow::run(std::function<void()> work) {
    {
        std::lock_guard lock(tasks_->mutex);
        ++tasks_->running;
    }
    // One thread for every journal window, in order, for the program's life: no window waits
    // for a thread to start or to end, and the reads keep to one core.
    static QThreadPool* const reader = [] {
        auto* pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        return pool;
    }();
    reader->start([tasks = tasks_, work = std::move(work)] {
        work();
        std::lock_guard lock(tasks->mutex);
        --tasks->running;
        tasks->idle.notify_all();
    });
}

void JournalWindow::post(std::function<void()> toWindow) {
    std::lock_guard lock(tasks_->mutex);
    if (tasks_->window != nullptr)
        QMetaObject::invokeMethod(tasks_->window, std::move(toWindow), Qt::QueuedConnection);
}

template <typename Work, typename Done>
void JournalWindow::read(Work work, Done done) {
    ++pending_;
    const int generation = generation_;
    run([this, generation, work, done] {
        auto result = work();
        post([this, generation, done, result = std::move(result)] {
            --pending_;
            if (generation == generation_)
                done(result);
        });
    });
}

const QList<journal::Entry>& JournalWindow::shown() const {
    return model_->rows;
}

bool JournalWindow::loading() const {
    return pending_ > 0;
}

void JournalWindow::refresh() {
    searchDelay_->stop();
    ++generation_;
    fetching_ = false;
    model_->reset();
    showStatus(QStringLiteral("Reading the journal..."));
    fetchPage();
    const QString serial = unit_->currentData().toString(), search = search_->text();
    read([this, serial,
          search] { return std::pair(journal_.Count(serial, search), journal_.failure()); },
         [this](const std::pair<int, QString>& counted) {
             showStatus(counted.second.isEmpty()
                            ? QStringLiteral("%1 entries").arg(counted.first)
                            : QStringLiteral("The service journal cannot be written: %1")
                                  .arg(counted.second));
         });
}

void JournalWindow::fetchPage() {
    if (fetching_ || model_->atEnd)
        return;
    fetching_ = true;
    const QString serial = unit_->currentData().toString(), search = search_->text();
    const qint64 before = model_->rows.isEmpty() ? 0 : model_->rows.back().id;
    const bool first = model_->rows.isEmpty();
    read(
        [this, serial, search, before] { return journal_.Page(serial, search, before, kPageSize); },
        [this, first](const QList<journal::Entry>& page) {
            fetching_ = false;
            model_->append(page, page.size() < kPageSize);
            // Sized to the first page only: the rest are never measured.
            if (first)
                table_->resizeColumnsToContents();
        });
}

void JournalWindow::showStatus(const QString& text) {
    status_->setText(text);
}

bool JournalWindow::exportTo(const QString& path) {
    if (exporting_)
        return false;
    exporting_ = true;
    *cancelExport_ = false;
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->show();
    cancel_->show();
    showStatus(QStringLiteral("Exporting to %1...").arg(path));
    const QString serial = unit_->currentData().toString(), search = search_->text();
    const bool pdf = path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    const bool connected = !connectedSerial_.isEmpty() && serial == connectedSerial_;
    const QString readings = pdf && connected ? readingsNow_() : QString();
    const auto cancelled = cancelExport_;
    // Its own task, whatever the window reads meanwhile.
    run([=, this] {
        const auto progress = [this](int percent) {
            post([this, percent] {
                if (percent < 0)
                    progress_->setRange(0, 0);  // the printing: no steps to count
                else
                    progress_->setValue(percent);
            });
        };
        const int total = std::max(1, journal_.Count(serial, search));
        QList<journal::Entry> entries;
        for (qint64 before = 0; !*cancelled;) {
            const QList<journal::Entry> page = journal_.Page(serial, search, before, 2000);
            entries.append(page);
            progress(int(90 * qMin<qsizetype>(entries.size(), total) / total));
            if (page.size() < 2000)
                break;
            before = page.back().id;
        }
        bool written = false;
        if (!*cancelled && pdf) {
            const QString htmlText = ServiceReportHtml(entries, readings);
            progress(-1);
            if (!*cancelled)
                written =
                    WritePdf(htmlText, path, entries.isEmpty() ? QString() : entries.front().model,
                             entries.isEmpty() ? QString() : entries.front().serialNumber);
        } else if (!*cancelled) {
            QSaveFile file(path);
            written = file.open(QIODevice::WriteOnly) &&
                      file.write(journal::EntriesCsv(entries).toUtf8()) >= 0 && !*cancelled &&
                      file.commit();
        }
        // A cancel that came while the report was printed takes its file away.
        if (written && *cancelled) {
            QFile::remove(path);
            written = false;
        }
        const QString text =
            *cancelled ? QStringLiteral("Export cancelled.")
            : written  ? QStringLiteral("Exported %1 entries to %2").arg(entries.size()).arg(path)
                       : QStringLiteral("Could not write %1").arg(path);
        post([this, written, text] { endExport(written, text); });
    });
    return true;
}

void JournalWindow::endExport(bool written, const QString& text) {
    exporting_ = false;
    progress_->hide();
    cancel_->hide();
    showStatus(text);
    emit exportEnded(written);
}

void JournalWindow::exportClicked() {
    const QString path = chooseExportFile();
    if (!path.isEmpty())
        exportTo(path);
}

}  // namespace morlen

// ---- What the window shows of the unit ----

QString TForm1::shownReadings() const {
    // The fields of the unit information and of the unit's page that show now, top to bottom.
    struct Shown {
        QPoint at;
        QString label, value;
    };
    std::vector<Shown> shown;
    for (auto it = fieldLabels.cbegin(); it != fieldLabels.cend(); ++it) {
        const auto* field = qobject_cast<const QLineEdit*>(it.key());
        if (field == nullptr || field->text().isEmpty())
            continue;
        // A field on the unit's page counts while another tab is in front.
        const QWidget* page = field->parentWidget();
        while (page != nullptr && ui->PageControl1->indexOf(const_cast<QWidget*>(page)) < 0)
            page = page->parentWidget();
        if (page ? !page->isEnabled() || !field->isVisibleTo(page) : !field->isVisibleTo(this))
            continue;
        QString label = it.value()->text().simplified();
        if (label.endsWith(QLatin1Char(':')))
            label = label.chopped(1).trimmed();
        if (const auto* group = qobject_cast<const QGroupBox*>(field->parentWidget());
            group && !group->title().isEmpty() && label.size() <= 4)
            label = group->title() + QLatin1Char(' ') + label;  // "Load %", "Run Time Min."
        shown.push_back({field->mapTo(this, QPoint()), label, field->text()});
    }
    std::sort(shown.begin(), shown.end(), [](const Shown& a, const Shown& b) {
        return a.at.x() != b.at.x() ? a.at.x() < b.at.x() : a.at.y() < b.at.y();
    });
    QList<morlen::journal::LabelledValue> values;
    for (const Shown& s : shown)
        values.append({s.label, s.value});
    return morlen::journal::FormatValues(values);
}

void TForm1::ServiceJournalClick() {
    if (!journal) {
        setStatusText(QStringLiteral("The service journal is turned off."));
        return;
    }
    static QPointer<morlen::JournalWindow> open;
    if (open) {
        open->refresh();
        open->raise();
        open->activateWindow();
        return;
    }
    const bool connected = worker != nullptr && workerEnded != 1;
    const QString serial =
        connected ? QString::fromLatin1(unitValues().serialNumber.toLatin1()).trimmed() : QString();
    auto* window = new morlen::JournalWindow(
        *journal, serial, [this] { return shownReadings(); }, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    open = window;
    window->show();
}

void TForm1::SharedJournalClick() {
    // The poll thread records into the journal: it is not swapped under a connection.
    if (worker != nullptr && workerEnded != 1) {
        setStatusText(QStringLiteral("Disconnect the unit to change the shared journal."));
        return;
    }
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("SharedJournalDialog"));
    dialog->setWindowTitle(QStringLiteral("Shared journal"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(
        QStringLiteral("PostgreSQL connection string of the journal server (for example "
                       "\"host=workshop dbname=morlen user=bench\"); empty: this computer's "
                       "file only."),
        dialog));
    auto* server =
        new QLineEdit(settingsStore->value(QStringLiteral("JournalServer")).toString(), dialog);
    server->setObjectName(QStringLiteral("JournalServer"));
    server->setMinimumWidth(360);
    layout->addWidget(server);
    if (journalServer() != server->text()) {
        auto* note = new QLabel(
            QStringLiteral("The command line's --journal-server is in force while Morlen runs."),
            dialog);
        note->setObjectName(QStringLiteral("JournalServerNote"));
        layout->addWidget(note);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->setObjectName(QStringLiteral("SharedJournalButtons"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, server] {
        const QString text = server->text().trimmed();
        const QString before = journalServer();
        settingsStore->setValue(QStringLiteral("JournalServer"), text);
        settingsStore->sync();
        if (journalServer() == before)
            return;
        reopenJournal();
        if (journalServer().isEmpty())
            setStatusText(
                QStringLiteral("The service journal is kept in this computer's file only."));
    });
    dialog->open();
}
