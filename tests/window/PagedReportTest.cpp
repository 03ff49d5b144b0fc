// Reports on paper: the PDF is read back with poppler's pdftotext, whose word boxes say how
// big the text is and where it stands on the page. A report whose text is all there but too
// small to read, or squeezed into a strip, fails here.
#include <gtest/gtest.h>

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "BatteryService.h"
#include "JournalEntry.h"
#include "JournalWindow.h"
#include "PagedReport.h"

namespace morlen::test {
namespace {

constexpr double kMmPerPt = 25.4 / 72.0;

struct Word {
    int page = 0;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;  // pt from the page's top left
    QString text;
    double height() const { return yMax - yMin; }
};

struct Document {
    bool read = false;
    double width = 0, height = 0;  // of the first page, pt
    int pages = 0;
    std::vector<Word> words;
    // The words of one page, in reading order, joined by spaces.
    QString pageText(int page) const {
        QStringList out;
        for (const Word& w : words)
            if (w.page == page)
                out << w.text;
        return out.join(QLatin1Char(' '));
    }
};

// The words of a PDF with their boxes, as pdftotext -bbox finds them.
Document Read(const QString& pdf) {
    Document doc;
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return doc;
    QXmlStreamReader xml(p.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("page")) {
            ++doc.pages;
            if (doc.pages == 1) {
                doc.width = a.value(QLatin1String("width")).toDouble();
                doc.height = a.value(QLatin1String("height")).toDouble();
            }
        } else if (xml.name() == QLatin1String("word")) {
            Word w;
            w.page = doc.pages;
            w.xMin = a.value(QLatin1String("xMin")).toDouble();
            w.yMin = a.value(QLatin1String("yMin")).toDouble();
            w.xMax = a.value(QLatin1String("xMax")).toDouble();
            w.yMax = a.value(QLatin1String("yMax")).toDouble();
            w.text = xml.readElementText();
            doc.words.push_back(w);
        }
    }
    doc.read = !xml.hasError() && doc.pages > 0;
    return doc;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The word-box height pdftotext gives the body font at `points`: the box spans the font's
// ascent and descent, so it is measured rather than assumed.
double BoxHeightAt(double points) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ruler.pdf"));
    {
        QPdfWriter writer(path);
        writer.setResolution(300);
        QPainter painter(&writer);
        QFont font = PagedReport::bodyFont();
        font.setPointSizeF(points);
        painter.setFont(font);
        painter.drawText(QPointF(300, 600), QStringLiteral("Ruler Readings Ample"));
    }
    std::vector<double> heights;
    for (const Word& w : Read(path).words)
        heights.push_back(w.height());
    return Median(heights);
}

// How the body text of a document sits on its pages.
struct Layout {
    double bodyHeight = 0;    // median word-box height, pt
    double columnsMm = 0;     // from the leftmost to the rightmost start of a word
    double leftMm = 0;        // the leftmost word's distance from the page's edge
    bool numbered = false;    // "Page N of M" on every page
    bool unitOnEach = false;  // the unit's serial number in every page's header
    QStringList pageStarts;   // the first words of each page's body after the first
};

// The body lies between the header band (the top 22 mm) and the footer band (the bottom
// 22 mm). Word starts, not ends, measure the spread: a tiny font's word boxes can run long.
Layout Measure(const Document& doc, const QString& serial) {
    Layout l;
    std::vector<double> heights;
    double left = doc.width, right = 0;
    for (const Word& w : doc.words) {
        if (w.yMin * kMmPerPt < 22 || w.yMax * kMmPerPt > 275)
            continue;
        heights.push_back(w.height());
        left = std::min(left, w.xMin);
        right = std::max(right, w.xMin);
    }
    l.bodyHeight = Median(heights);
    l.columnsMm = (right - left) * kMmPerPt;
    l.leftMm = left * kMmPerPt;
    l.numbered = doc.pages > 0;
    l.unitOnEach = doc.pages > 0;
    for (int p = 1; p <= doc.pages; ++p) {
        QStringList header, footer;
        for (const Word& w : doc.words) {
            if (w.page == p && w.yMax * kMmPerPt < 22)
                header << w.text;
            if (w.page == p && w.yMin * kMmPerPt > 275)
                footer << w.text;
        }
        l.numbered = l.numbered && footer.join(QLatin1Char(' ')) ==
                                       QStringLiteral("Page %1 of %2").arg(p).arg(doc.pages);
        l.unitOnEach = l.unitOnEach && header.contains(serial);
        // The body's first words, line by line from the top, left to right.
        std::vector<Word> body;
        for (const Word& w : doc.words)
            if (p > 1 && w.page == p && w.yMin * kMmPerPt >= 22)
                body.push_back(w);
        std::sort(body.begin(), body.end(), [](const Word& a, const Word& b) {
            return std::lround(a.yMax) != std::lround(b.yMax) ? a.yMax < b.yMax : a.xMin < b.xMin;
        });
        QStringList first;
        for (std::size_t i = 0; i < body.size() && i < 6; ++i)
            first << body[i].text;
        if (p > 1)
            l.pageStarts << first.join(QLatin1Char(' '));
    }
    return l;
}

QList<journal::Entry> Journal(int changes) {
    QList<journal::Entry> entries;
    for (int i = changes; i >= 1; --i) {
        journal::Entry e;
        e.when = QStringLiteral("2026-12-08T15:%1:%2+01:00")
                     .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(i % 60, 2, 10, QLatin1Char('0'));
        e.model = QStringLiteral("SMART-UPS 1000");
        e.serialNumber = QStringLiteral("WS9643050926");
        e.firmware = QStringLiteral("60.11.I");
        e.what = i % 2 ? QStringLiteral("Up Voltage") : QStringLiteral("Alarm delay");
        e.before = QStringLiteral("253");
        e.after = QStringLiteral("257");
        e.outcome = i % 7 ? journal::Outcome::Confirmed : journal::Outcome::NotReached;
        if (i % 7 == 0)
            e.reason = QStringLiteral("the unit answered 253 after the step");
        entries << e;
    }
    journal::Entry begin;
    begin.when = QStringLiteral("2026-12-08T15:00:00+01:00");
    begin.kind = journal::Kind::ConnectionBegin;
    begin.model = QStringLiteral("SMART-UPS 1000");
    begin.serialNumber = QStringLiteral("WS9643050926");
    begin.port = QStringLiteral("COM1");
    begin.after =
        journal::FormatValues({{QStringLiteral("Input voltage"), QStringLiteral("230.0")},
                               {QStringLiteral("Load"), QStringLiteral("23.5")},
                               {QStringLiteral("Battery charge"), QStringLiteral("100.0")}});
    entries << begin;
    return entries;
}

// A service's state as the battery service leaves it, its calibration's course `course` lines.
ServiceState ServiceSample(int course) {
    ServiceState s;
    s.model = QStringLiteral("Smart-UPS 1000");
    s.serialNumber = QStringLiteral("WS9643");
    s.firmware = QStringLiteral("60.11.I");
    s.before = QStringLiteral("Battery date=11/29/96\nCharge=100.0 %\nRun time=45 min");
    s.after = QStringLiteral("Battery date=12/09/26\nCharge=31.0 %\nRun time=38 min");
    s.oldDate = QStringLiteral("11/29/96");
    s.newDate = QStringLiteral("12/09/26");
    s.selfTestResult = QStringLiteral("Passed: battery good");
    s.calibrationStart = QStringLiteral("Run time 45 min, charge 100.0 %, load 42.0 %.");
    for (int i = 0; i < course; ++i)
        s.calibrationCourse
            << QStringLiteral("On battery %1 min: charge %2.0 %").arg(12 + i).arg(61 - i);
    s.calibrationEnd = QStringLiteral("The UPS ended the calibration.");
    return s;
}

PagedReport Sample(int rows) {
    PagedReport r(QStringLiteral("Battery service report"));
    r.setUnit(QStringLiteral("Smart-UPS 1000"), QStringLiteral("AS0319120145"));
    r.addSection(QStringLiteral("Before"));
    r.addParagraph(QStringLiteral("The unit was on line with a steady load during the service."));
    r.addKeyValues({{QStringLiteral("Battery date"), QStringLiteral("07/15/03")},
                    {QStringLiteral("Run time"), QStringLiteral("44 min")}});
    r.addSection(QStringLiteral("Course of the calibration"));
    QList<QStringList> course;
    for (int i = 0; i < rows; ++i)
        course << QStringList{QStringLiteral("%1 min").arg(i),
                              QStringLiteral("%1.0 %").arg(100 - i % 75),
                              QStringLiteral("%1 min").arg(44 - i % 40), QStringLiteral("40.5 %")};
    r.addTable({QStringLiteral("Time"), QStringLiteral("Charge"), QStringLiteral("Run time"),
                QStringLiteral("Load")},
               course);
    r.addSignatureBlock(QStringLiteral("Ada Technician"));
    return r;
}

TEST(PagedReport, ReportsReadAtTheirSizeAcrossTheWidthOnNumberedPages) {
    const double low = BoxHeightAt(10.0), high = BoxHeightAt(11.0);
    ASSERT_GT(low, 5.0);
    ASSERT_GT(high, low);
    QTemporaryDir dir;
    const struct {
        const char* name;
        std::function<bool(const QString&)> write;
        QString serial;
        int minPages, maxPages;
        QString tableHeader;  // what each page after the first begins with
    } rows[] = {
        {"the journal's service report, a few changes",
         [](const QString& path) {
             const auto entries = Journal(3);
             return WritePdf(ServiceReportHtml(entries, QString()), path, entries.front().model,
                             entries.front().serialNumber);
         },
         QStringLiteral("WS9643050926"),
         1,
         1,
         {}},
        {"the journal's service report, a long journal",
         [](const QString& path) {
             const auto entries = Journal(300);
             return WritePdf(ServiceReportHtml(entries, QStringLiteral("Load=23.5\n")), path,
                             entries.front().model, entries.front().serialNumber);
         },
         QStringLiteral("WS9643050926"), 5, 20, QStringLiteral("When What Before After Outcome")},
        {"a battery report with a short course",
         [](const QString& path) { return Sample(5).writePdf(path); },
         QStringLiteral("AS0319120145"),
         1,
         1,
         {}},
        {"a battery report with a long course",
         [](const QString& path) { return Sample(150).writePdf(path); },
         QStringLiteral("AS0319120145"), 3, 10, QStringLiteral("Time Charge Run time Load")},
        // The battery service's own report, as the dialog's "Report..." writes it.
        {"the battery service report",
         [](const QString& path) {
             return BatteryServiceReport(ServiceSample(1), {}).writePdf(path);
         },
         QStringLiteral("WS9643"),
         1,
         2,
         {}},
        {"the battery service report, a long course and many changes",
         [](const QString& path) {
             QList<journal::Entry> changes = Journal(120);
             changes.removeLast();  // the connection's begin is no change
             return BatteryServiceReport(ServiceSample(40), changes).writePdf(path);
         },
         QStringLiteral("WS9643"),
         3,
         12,
         {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const QString path = dir.filePath(QString::fromLatin1(r.name).replace(' ', '_') + ".pdf");
        ASSERT_TRUE(r.write(path));
        const Document doc = Read(path);
        ASSERT_TRUE(doc.read) << "pdftotext could not read " << path.toStdString();
        EXPECT_NEAR(doc.width * kMmPerPt, 210, 1);  // A4
        EXPECT_NEAR(doc.height * kMmPerPt, 297, 1);
        EXPECT_GE(doc.pages, r.minPages);
        EXPECT_LE(doc.pages, r.maxPages);
        const Layout l = Measure(doc, r.serial);
        EXPECT_GE(l.bodyHeight, low * 0.98) << "text smaller than 10 pt";
        EXPECT_LE(l.bodyHeight, high * 1.02) << "text larger than 11 pt";
        // The printable width is about 174 mm: the last column starts well over to the right.
        EXPECT_GT(l.columnsMm, 100) << "text squeezed into a strip";
        EXPECT_GT(l.leftMm, 12) << "text off the margin";
        EXPECT_TRUE(l.numbered);
        EXPECT_TRUE(l.unitOnEach);
        for (const QString& start : l.pageStarts)
            EXPECT_TRUE(start.startsWith(r.tableHeader)) << start.toStdString();
    }
}

TEST(PagedReport, HoldsWhatItWasGivenAndTheSignatureLines) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sample.pdf"));
    PagedReport report = Sample(3);
    ASSERT_TRUE(report.writePdf(path));
    EXPECT_EQ(report.pageCount(), 1);
    const QString text = Read(path).pageText(1);
    for (const char* expected :
         {"Battery service report", "Smart-UPS 1000", "Course of the calibration", "Battery date",
          "07/15/03", "Time Charge Run time Load", "1 min 99.0 % 43 min 40.5 %", "Ada Technician",
          "Signature:", "Date:"})
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected << "\n"
                                                            << text.toStdString();
    // Texts are text, not markup.
    PagedReport odd;
    odd.addParagraph(QStringLiteral("<b>x</b> & y"));
    odd.addKeyValues({});
    EXPECT_TRUE(odd.html().contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt; &amp; y")));
    EXPECT_TRUE(odd.html().contains(QStringLiteral("None recorded.")));
}

// The battery service report: every part the technician signs for, from the service's state
// and the connection's changes in the journal.
TEST(PagedReport, TheBatteryServiceReportHoldsEachStepAndTheConnectionsChanges) {
    const ServiceState s = ServiceSample(1);
    journal::Entry change;
    change.when = QStringLiteral("2026-12-09T19:00:00+00:00");
    change.what = QStringLiteral("Batteries Replaced Date");
    change.before = QStringLiteral("11/29/96");
    change.after = QStringLiteral("12/09/26");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("service.pdf"));
    ASSERT_TRUE(BatteryServiceReport(s, {change}).writePdf(path));
    const Document doc = Read(path);
    ASSERT_TRUE(doc.read);
    QString text;
    for (int page = 1; page <= doc.pages; ++page)
        text += doc.pageText(page) + QLatin1Char(' ');
    for (const char* expected :
         {"Battery service report", "Smart-UPS 1000", "WS9643", "Old 11/29/96", "New 12/09/26",
          "Readings before", "Charge 100.0 %", "Readings after", "Run time 38 min",
          "Passed: battery good", "load 42.0 %", "On battery 12 min", "ended the calibration",
          "Settings changed during the connection", "Batteries Replaced Date", "Signature:"})
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected << "\n"
                                                            << text.toStdString();
}

TEST(PagedReport, ReportsProgressAndStopsWhenCancelledLeavingNoFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.pdf"));
    PagedReport report = Sample(400);
    std::vector<std::pair<int, int>> calls;
    PagedReport::WriteOptions options;
    options.progress = [&](int done, int total) { calls.emplace_back(done, total); };
    // Written on a worker thread, as an export in the background does.
    bool written = false;
    std::thread worker([&] { written = report.writePdf(path, options); });
    worker.join();
    ASSERT_TRUE(written);
    EXPECT_EQ(Read(path).pages, report.pageCount());
    ASSERT_GE(calls.size(), 5u);
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], std::make_pair(static_cast<int>(i) + 1, report.pageCount()));

    // Cancelled after the second page: false, and the earlier complete file is left as it was.
    const QByteArray before = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    std::atomic<bool> cancel{false};
    options.cancel = &cancel;
    int pagesDone = 0;
    options.progress = [&](int done, int) {
        pagesDone = done;
        if (done == 2)
            cancel = true;
    };
    EXPECT_FALSE(report.writePdf(path, options));
    EXPECT_EQ(pagesDone, 2);
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
    const QString fresh = dir.filePath(QStringLiteral("fresh.pdf"));
    cancel = true;
    EXPECT_FALSE(report.writePdf(fresh, options));
    EXPECT_FALSE(QFile::exists(fresh));

    EXPECT_FALSE(report.writePdf(dir.filePath(QStringLiteral("no/such/folder/x.pdf"))));
}

}  // namespace
}  // namespace morlen::test
