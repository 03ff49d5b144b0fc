#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <utility>

namespace morlen {

// A report a technician prints and signs: A4 pages, body text at 10.5 pt, tables across the
// printable width, a header with the title and the unit (model, serial number) and a footer
// with "Page N of M" on every page; long content runs over as many pages as it needs, table
// headers repeated.
//
// It uses no widgets, so it can be built and written on a worker thread (a QGuiApplication
// must exist, as for any use of fonts). Texts are plain text: they are escaped, and a line
// break in them starts a new line.
//
//     PagedReport report(QStringLiteral("Battery service report"));
//     report.setUnit(model, serialNumber);
//     report.addSection(QStringLiteral("Before"));
//     report.addKeyValues({{QStringLiteral("Charge"), QStringLiteral("100.0 %")}});
//     report.addTable({QStringLiteral("When"), QStringLiteral("What")}, rows);
//     report.addSignatureBlock(technicianName);
//     if (!report.writePdf(path)) ...  // not writable, or cancelled
class PagedReport {
public:
    using KeyValue = std::pair<QString, QString>;

    // Where the title goes: every page's header, and the head of the first page unless the
    // body brings its own heading.
    enum class Title { InHeaderAndOnFirstPage, InHeaderOnly };
    explicit PagedReport(QString title = {}, Title placement = Title::InHeaderAndOnFirstPage);

    // The unit named in every page's header.
    void setUnit(const QString& model, const QString& serialNumber);
    // A section heading.
    void addSection(const QString& heading);
    // A paragraph.
    void addParagraph(const QString& text);
    // A two-column table of labels and values across the width; no rows: "None recorded.".
    void addKeyValues(const QList<KeyValue>& rows);
    // A table with a header row (repeated on each page it spans) across the width. Rows
    // shorter than the header are filled with empty cells.
    void addTable(const QStringList& header, const QList<QStringList>& rows);
    // Lines for the technician's name (filled in when given), signature and date.
    void addSignatureBlock(const QString& technicianName = {});
    // Ready-made rich text (Qt's HTML subset), laid out like the rest: its tables are
    // stretched across the width, and a first row of "th" cells repeats on each page.
    void addHtml(const QString& html);

    // What the body is, as Qt rich text (the header and footer are drawn on each page).
    QString html() const;

    struct WriteOptions {
        // After each page is written: pages done, pages in all.
        std::function<void(int done, int total)> progress;
        // Checked before each page; when it turns true the writing stops and no file is left.
        const std::atomic<bool>* cancel = nullptr;
    };
    // Writes the PDF file (replacing one at `path` only once complete). False when the file
    // cannot be written or the writing was cancelled.
    bool writePdf(const QString& path, const WriteOptions& options) const;
    bool writePdf(const QString& path) const { return writePdf(path, WriteOptions()); }
    // The number of pages the last writePdf wrote.
    int pageCount() const { return pages_; }

    // The body text's font and size.
    static QFont bodyFont();
    static constexpr double kBodyPointSize = 10.5;

private:
    QString title_;
    QString model_, serialNumber_;
    QString body_;
    mutable int pages_ = 0;
};

}  // namespace morlen
