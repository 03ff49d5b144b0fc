// Lays a report out on A4 pages for print: the body through a QTextDocument paginated to the
// printable area, the header and footer painted on each page around it.
#include "PagedReport.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextOption>
#include <QTextTable>

namespace morlen {

namespace {

// The PDF's own resolution: fine enough to place text within a few hundredths of a mm.
constexpr int kDpi = 300;
// Page margins and the bands of the header and footer, in mm.
constexpr double kSideMm = 18, kTopMm = 12, kBottomMm = 12, kHeaderMm = 12, kFooterMm = 10;
// The header's and footer's text, in pt.
constexpr double kBandPointSize = 8.5;

double Mm(double mm) {
    return mm / 25.4 * kDpi;
}

// Lengths in tables and frames are CSS pixels (1/96 in), which the layout scales to the device.
double CssPx(double points) {
    return points * 96.0 / 72.0;
}

QString Escaped(const QString& text) {
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return escaped;
}

bool IsHeaderRow(const QTextTable& table) {
    for (int c = 0; c < table.columns(); ++c) {
        const QTextTableCell cell = table.cellAt(0, c);
        if (cell.firstPosition() == cell.lastPosition() ||
            cell.firstCursorPosition().blockCharFormat().fontWeight() < QFont::Bold)
            return false;
    }
    return true;
}

// Every table across the printable width, with thin rules and room around the text.
void StretchTables(QTextFrame* frame) {
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            QTextTableFormat format = table->format();
            format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            format.setCellSpacing(0);
            format.setCellPadding(CssPx(3));
            format.setBorder(CssPx(0.5));
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderBrush(QBrush(QColor(0x80, 0x80, 0x80)));
            format.setTopMargin(CssPx(3));
            format.setBottomMargin(CssPx(6));
            // A first row of header cells (bold, as "th" makes them) heads every page.
            if (format.headerRowCount() == 0 && table->rows() > 1 && IsHeaderRow(*table))
                format.setHeaderRowCount(1);
            table->setFormat(format);
        }
        StretchTables(child);
    }
}

QFont BandFont() {
    QFont font = PagedReport::bodyFont();
    font.setPointSizeF(kBandPointSize);
    return font;
}

}  // namespace

PagedReport::PagedReport(QString title, Title placement) : title_(std::move(title)) {
    if (!title_.isEmpty() && placement == Title::InHeaderAndOnFirstPage)
        body_ += QStringLiteral("<h2>%1</h2>").arg(Escaped(title_));
}

QFont PagedReport::bodyFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kBodyPointSize);
    return font;
}

void PagedReport::setUnit(const QString& model, const QString& serialNumber) {
    model_ = model;
    serialNumber_ = serialNumber;
}

void PagedReport::addSection(const QString& heading) {
    body_ += QStringLiteral("<h3>%1</h3>").arg(Escaped(heading));
}

void PagedReport::addParagraph(const QString& text) {
    body_ += QStringLiteral("<p>%1</p>").arg(Escaped(text));
}

void PagedReport::addKeyValues(const QList<KeyValue>& rows) {
    if (rows.isEmpty()) {
        addParagraph(QStringLiteral("None recorded."));
        return;
    }
    QString text = QStringLiteral("<table>");
    bool first = true;
    for (const KeyValue& row : rows) {
        // The first row's width sets the label column for all.
        text += QStringLiteral("<tr><td%3>%1</td><td>%2</td></tr>")
                    .arg(Escaped(row.first), Escaped(row.second),
                         first ? QStringLiteral(" width=\"35%\"") : QString());
        first = false;
    }
    body_ += text + QStringLiteral("</table>");
}

void PagedReport::addTable(const QStringList& header, const QList<QStringList>& rows) {
    QString text = QStringLiteral("<table><thead><tr>");
    for (const QString& h : header)
        text += QStringLiteral("<th>%1</th>").arg(Escaped(h));
    text += QStringLiteral("</tr></thead>");
    for (const QStringList& row : rows) {
        text += QStringLiteral("<tr>");
        for (qsizetype i = 0; i < std::max(header.size(), row.size()); ++i)
            text += QStringLiteral("<td>%1</td>").arg(i < row.size() ? Escaped(row[i]) : QString());
        text += QStringLiteral("</tr>");
    }
    body_ += text + QStringLiteral("</table>");
}

void PagedReport::addSignatureBlock(const QString& technicianName) {
    const QString blank = QStringLiteral("&nbsp;").repeated(60);
    const QString line = QStringLiteral("_").repeated(40);
    body_ += QStringLiteral(
                 "<h3>Technician</h3>"
                 "<p>Name: <u>%1</u></p>"
                 "<p style=\"margin-top:28px\">Signature: %2&nbsp;&nbsp;&nbsp;&nbsp;Date: %3</p>")
                 .arg(technicianName.isEmpty() ? blank : Escaped(technicianName), line,
                      QStringLiteral("_").repeated(20));
}

void PagedReport::addHtml(const QString& html) {
    body_ += html;
}

QString PagedReport::html() const {
    return body_;
}

bool PagedReport::writePdf(const QString& path, const WriteOptions& options) const {
    pages_ = 0;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kDpi);
    writer.setTitle(title_);
    writer.setCreator(QStringLiteral("Morlen"));

    const QRectF page(0, 0, writer.width(), writer.height());
    const QRectF body(Mm(kSideMm), Mm(kTopMm + kHeaderMm), page.width() - 2 * Mm(kSideMm),
                      page.height() - Mm(kTopMm + kHeaderMm + kBottomMm + kFooterMm));

    QTextDocument document;
    // Laid out in the PDF's own units, so that a point is a point on paper.
    document.documentLayout()->setPaintDevice(&writer);
    document.setDefaultFont(bodyFont());
    document.setDocumentMargin(0);
    // Lines break between words only: a time stamp or a serial number stays whole, and a
    // column is at least as wide as its longest word.
    QTextOption wrap = document.defaultTextOption();
    wrap.setWrapMode(QTextOption::WordWrap);
    document.setDefaultTextOption(wrap);
    document.setDefaultStyleSheet(
        QStringLiteral("th { text-align: left; background-color: #e8e8e8; }"
                       "h2 { margin-bottom: 6px; } h3 { margin-top: 14px; margin-bottom: 4px; }"));
    document.setHtml(body_);
    StretchTables(document.rootFrame());
    document.setPageSize(body.size());
    const int total = document.pageCount();

    QPainter painter;
    if (!painter.begin(&writer)) {
        file.cancelWriting();
        return false;
    }
    const QFont band = BandFont();
    const double bandHeight = QFontMetricsF(band, &writer).height();
    QString unit = model_;
    if (!serialNumber_.isEmpty())
        unit += (unit.isEmpty() ? QString() : QStringLiteral("    ")) +
                QStringLiteral("Serial number %1").arg(serialNumber_);
    for (int i = 0; i < total; ++i) {
        if (options.cancel != nullptr && options.cancel->load()) {
            painter.end();
            file.cancelWriting();
            return false;
        }
        if (i > 0)
            writer.newPage();

        painter.setFont(band);
        painter.setPen(Qt::black);
        const QRectF header(body.left(), Mm(kTopMm), body.width(), bandHeight);
        painter.drawText(header, Qt::AlignLeft | Qt::AlignVCenter, title_);
        painter.drawText(header, Qt::AlignRight | Qt::AlignVCenter, unit);
        painter.setPen(QPen(QColor(0x80, 0x80, 0x80), Mm(0.2)));
        painter.drawLine(QPointF(body.left(), header.bottom() + Mm(1.5)),
                         QPointF(body.right(), header.bottom() + Mm(1.5)));
        painter.setPen(Qt::black);
        const QRectF footer(body.left(), page.height() - Mm(kBottomMm) - bandHeight, body.width(),
                            bandHeight);
        painter.drawText(footer, Qt::AlignHCenter | Qt::AlignVCenter,
                         QStringLiteral("Page %1 of %2").arg(i + 1).arg(total));

        // This page's slice of the laid-out body.
        painter.save();
        painter.translate(body.left(), body.top() - i * body.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * body.height(), body.width(), body.height());
        painter.setClipRect(context.clip);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        if (options.progress)
            options.progress(i + 1, total);
    }
    if (!painter.end()) {
        file.cancelWriting();
        return false;
    }
    pages_ = total;
    return file.commit();
}

}  // namespace morlen
