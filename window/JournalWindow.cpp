// The service journal as the window sees it: the Options menu's "Service journal..." window
// and its export, and the entries the window itself records (connections and their ends).
#include "JournalWindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
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

JournalWindow::JournalWindow(journal::Journal& journal, QString connectedSerial,
                             std::function<QString()> readingsNow, QWidget* parent)
    : QDialog(parent),
      journal_(journal),
      connectedSerial_(std::move(connectedSerial)),
      readingsNow_(std::move(readingsNow)) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Service journal"));
    resize(820, 480);

    unit_ = new QComboBox(this);
    unit_->setObjectName(QStringLiteral("JournalUnit"));
    if (!connectedSerial_.isEmpty())
        unit_->addItem(QStringLiteral("Connected unit (%1)").arg(connectedSerial_),
                       connectedSerial_);
    unit_->addItem(QStringLiteral("All units"), QString());
    for (const QString& serial : journal_.SerialNumbers()) {
        if (serial != connectedSerial_)
            unit_->addItem(serial, serial);
    }
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("JournalSearch"));
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("JournalEntries"));
    table_->setColumnCount(8);
    table_->setHorizontalHeaderLabels({QStringLiteral("When"), QStringLiteral("Model"),
                                       QStringLiteral("Serial number"), QStringLiteral("Port"),
                                       QStringLiteral("What"), QStringLiteral("Before"),
                                       QStringLiteral("After"), QStringLiteral("Outcome")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("JournalStatus"));

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
    connect(unit_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(search_, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClicked(); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    refresh();
}

void JournalWindow::refresh() {
    shown_ = journal_.Entries(unit_->currentData().toString(), search_->text());
    table_->setRowCount(int(shown_.size()));
    for (int row = 0; row < shown_.size(); ++row) {
        const journal::Entry& e = shown_[row];
        const QString what = e.kind == journal::Kind::Change
                                 ? e.what
                                 : journal::KindText(e.kind) + QStringLiteral(": ") + e.what;
        const QString cells[] = {e.when, e.model,           e.serialNumber,   e.port,
                                 what,   oneLine(e.before), oneLine(e.after), outcomeOf(e)};
        for (int column = 0; column < 8; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            // The whole of a reset's ten values, one a line, where the cell shows them in one.
            if (column == 5 || column == 6)
                item->setToolTip(column == 5 ? e.before : e.after);
            table_->setItem(row, column, item);
        }
    }
    table_->resizeColumnsToContents();
    const QString failure = journal_.failure();
    showStatus(failure.isEmpty()
                   ? QStringLiteral("%1 entries").arg(shown_.size())
                   : QStringLiteral("The service journal cannot be written: %1").arg(failure));
}

void JournalWindow::showStatus(const QString& text) {
    status_->setText(text);
}

bool JournalWindow::exportTo(const QString& path) {
    bool written = false;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        const bool connected =
            !connectedSerial_.isEmpty() && unit_->currentData().toString() == connectedSerial_;
        const journal::Entry unit = shown_.isEmpty() ? journal::Entry() : shown_.front();
        written = WritePdf(ServiceReportHtml(shown_, connected ? readingsNow_() : QString()), path,
                           unit.model, unit.serialNumber);
    } else {
        QSaveFile file(path);
        written = file.open(QIODevice::WriteOnly) &&
                  file.write(journal::EntriesCsv(shown_).toUtf8()) >= 0 && file.commit();
    }
    showStatus(written ? QStringLiteral("Exported %1 entries to %2").arg(shown_.size()).arg(path)
                       : QStringLiteral("Could not write %1").arg(path));
    return written;
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
