// The EEPROM page: reading the unit's EEPROM into a buffer on the poll thread, the hex dump,
// the comparison of the two buffers and the save dialog with its files, driving the real
// window against the simulated unit in virtual time.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>
#include <vector>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

#include "EngineBench.h"

// Texts in failure messages as text.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace morlen::test {
namespace {

const QColor kFrame(112, 47, 208);
const QColor kData(187, 68, 104);

// The pane's text with every character replaced by the colour it was written in: 'f' frame,
// 'd' data, '?' anything else; lines are kept apart by '\n' as in toPlainText().
QString colourMap(QTextEdit* pane) {
    QString map;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        if (block != pane->document()->begin())
            map += QLatin1Char('\n');
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QColor colour = fragment.charFormat().foreground().color();
            const QChar mark = colour == kFrame ? 'f' : colour == kData ? 'd' : '?';
            map += QString(fragment.length(), mark);
        }
    }
    return map;
}

QString repeated(const char* piece, int times) {
    QString out;
    for (int i = 0; i < times; ++i)
        out += QLatin1String(piece);
    return out;
}

// The unit's EEPROM as it stands, read from the simulated unit itself.
std::array<std::uint8_t, 256> unitImage(EngineBench& bench) {
    std::array<std::uint8_t, 256> image{};
    for (int a = 0; a < 256; ++a)
        image[a] = bench.unit().model().eepromByte(static_cast<std::uint8_t>(a));
    return image;
}

// What one read showed and sent.
struct Read {
    int start = -1;                      // the unit's address when the read began
    std::array<std::uint8_t, 256> unit;  // the unit's EEPROM at that moment
    std::string wire;                    // command bytes of the pass that read
    std::vector<int> positions;          // the progress bar's values as they changed
    bool barShownThroughout = true;
    bool tabsDisabledThroughout = true;
    int maximum = -1;
    bool barHiddenAfter = false;
    bool tabsEnabledAfter = false;
    QString statusAfter;  // the status text at the refresh after the read
};

// Clicks "Read EEPROM" at a display refresh, after `prepare` (which may choose the page),
// and follows the read until the next refresh.
Read readEeprom(EngineBench& bench, const std::function<void()>& prepare = {}) {
    Ui::TForm1& ui = bench.ui();
    Read read;
    const auto tracking =
        QObject::connect(ui.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
            read.positions.push_back(value);
            read.barShownThroughout = read.barShownThroughout && !ui.ProgressBar1->isHidden();
            read.tabsDisabledThroughout =
                read.tabsDisabledThroughout && !ui.PageControl2->isEnabled();
            read.maximum = ui.ProgressBar1->maximum();
        });
    const bool refreshed = bench.atRefreshes({
        [&] {
            ui.ReadEE->click();
            if (prepare)
                prepare();
            read.start = bench.unit().model().eepromAddress();
            read.unit = unitImage(bench);
            bench.takeCommands();
        },
        [&] {
            read.wire = bench.takeCommands();
            read.barHiddenAfter = ui.ProgressBar1->isHidden();
            read.tabsEnabledAfter = ui.PageControl2->isEnabled();
            read.statusAfter = bench.form().statusText();
        },
    });
    QObject::disconnect(tracking);
    EXPECT_TRUE(refreshed);
    return read;
}

// Runs `change` at the next display refresh, while the poll thread waits.
void atRefresh(EngineBench& bench, const std::function<void()>& change) {
    ASSERT_TRUE(bench.atRefresh(change));
}

void fill(EngineBench& bench, int from, int count, std::uint8_t value) {
    std::memset(bench.form().ups->eepromImage + from, value, static_cast<std::size_t>(count));
}

TEST(EepromButtons, EachPostsItsRequestWithAFillerArgument) {
    EngineBench bench("su1000");
    Ui::TForm1& ui = bench.ui();
    // Before any connection Buffer1 is shown and every button can be used.
    ASSERT_TRUE(ui.ReadEE->isEnabled());
    ASSERT_TRUE(ui.CompareEE->isEnabled());
    ASSERT_TRUE(ui.SaveEE->isEnabled());
    ui.ReadEE->click();
    ui.SaveEE->click();
    ui.CompareEE->click();
    ui.ReadEE->click();
    Queue& queue = *bench.form().requestQueue;
    for (const char code : {'W', 'X', 'Y', 'W'}) {
        ASSERT_FALSE(queue.IsEmpty());
        EXPECT_EQ(queue.Front().code, code);
        EXPECT_EQ(queue.Front().argument, '-');
        queue.Pop();
    }
    EXPECT_TRUE(queue.IsEmpty());
}

struct StartRow {
    const char* profile;
    int readsBefore;
    int start;  // the unit's address when the read begins
    int firstPosition, lastPosition;
};

TEST(EepromRead, OneRoundFromTheUnitsAddressFillsEveryOtherPositionAndMovesTheBar) {
    const StartRow rows[] = {
        {"su1000", 0, 0x00, 1, 255},
        // A round leaves the unit one address before where it began.
        {"su1000", 1, 0xFF, 0, 254},
        {"su1000", 2, 0xFE, 1, 254},
        {"su1000-3g", 0, 0x40, 1, 254},
    };
    for (const StartRow& row : rows) {
        SCOPED_TRACE(std::string(row.profile) + " start " + std::to_string(row.start));
        EngineBench bench(row.profile);
        bench.connectUnit();
        for (int i = 0; i < row.readsBefore; ++i)
            readEeprom(bench);
        const Read read = readEeprom(bench, [&] {
            fill(bench, 0, 256, 0xA5);
            fill(bench, 256, 256, 0x5A);
        });
        ASSERT_EQ(read.start, row.start);
        EXPECT_EQ(std::count(read.wire.begin(), read.wire.end(), '#'), 1) << read.wire;
        EXPECT_EQ(std::count(read.wire.begin(), read.wire.end(), '+'), 255) << read.wire;

        const std::uint8_t* image = bench.form().ups->eepromImage;
        for (int p = 0; p < 256; ++p) {
            const int expected = p == row.start ? 0xA5 : read.unit[p];
            EXPECT_EQ(image[p], expected) << "position " << p;
        }
        EXPECT_TRUE(std::all_of(image + 256, image + 512, [](auto b) { return b == 0x5A; }))
            << "Buffer2 untouched";

        // The bar climbs one step per byte; in between it shows 255 - start twice in a row,
        // which is one value to watch.
        std::vector<int> climb(static_cast<std::size_t>(row.lastPosition - row.firstPosition + 1));
        std::iota(climb.begin(), climb.end(), row.firstPosition);
        EXPECT_EQ(read.positions, climb);
        EXPECT_EQ(read.maximum, 255);
        EXPECT_TRUE(read.barShownThroughout);
        EXPECT_TRUE(read.tabsDisabledThroughout);
        EXPECT_TRUE(read.barHiddenAfter);
        EXPECT_TRUE(read.tabsEnabledAfter);
    }
}

// A reply garbled on its way: the byte at each index replaced.
struct Garble {
    int position;  // the progress position whose "+" reply is garbled
    const char* bytes;
};

TEST(EepromRead, AReplyThatIsNoHexByteRepeatsTheByteBeforeIt) {
    EngineBench bench("su1000");
    bench.connectUnit();
    // The bar moves on the window thread just before each "+", while the poll thread waits:
    // the moment to spoil the reply to come.
    const Garble garbles[] = {{1, "z"}, {10, "zz"}, {11, "0g"}, {20, "NA"}};
    const auto spoil =
        QObject::connect(bench.ui().ProgressBar1, &QProgressBar::valueChanged, [&](int position) {
            for (const Garble& g : garbles) {
                if (g.position != position)
                    continue;
                for (std::size_t i = 0; g.bytes[i]; ++i)
                    bench.unit().garbleReplyByte(i, static_cast<std::uint8_t>(g.bytes[i]));
            }
        });
    const Read read = readEeprom(bench);
    QObject::disconnect(spoil);
    ASSERT_EQ(read.start, 0);
    const std::uint8_t* image = bench.form().ups->eepromImage;
    EXPECT_EQ(image[1], 0x00) << "the first step repeats the start mark";
    EXPECT_EQ(image[2], read.unit[2]);
    EXPECT_EQ(image[10], read.unit[9]);
    EXPECT_EQ(image[11], read.unit[9]) << "one bad reply after another";
    EXPECT_EQ(image[12], read.unit[12]);
    // Inside '0'..'f' a character that is no hex digit counts -1: 16 x -1 + 10.
    EXPECT_EQ(image[20], 250);
    EXPECT_EQ(image[21], read.unit[21]);
    // None of "z", "zz", "0g" and "NA" is a byte the unit holds.
    EXPECT_EQ(bench.form().unreadBytes[0], 4);
    EXPECT_EQ(read.statusAfter,
              QStringLiteral("EEPROM read incomplete: 4 of 256 bytes could not be read."));
}

// A garbled start address is no selection the unit took: a "+" would step whatever it had
// selected before. Nothing follows the "#", the buffer keeps what it held, the status says why.
TEST(EepromRead, AStartReplyThatIsNoAddressSendsNoStepAndSaysSo) {
    EngineBench bench("su1000-3g");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    // The page control is disabled on the window thread just before the "#" goes out.
    struct Spoiler : QObject {
        EngineBench* bench;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::EnabledChange && !bench->ui().PageControl2->isEnabled())
                bench->unit().garbleReplyByte(0, 'z');
            return false;
        }
    } spoiler;
    spoiler.bench = &bench;
    ui.PageControl2->installEventFilter(&spoiler);
    const Read read = readEeprom(bench, [&] { fill(bench, 0, 256, 0xA5); });
    ui.PageControl2->removeEventFilter(&spoiler);
    EXPECT_EQ(read.wire.find('+'), std::string::npos) << read.wire;
    EXPECT_NE(read.wire.find('#'), std::string::npos) << read.wire;
    EXPECT_EQ(bench.unit().model().eepromAddress(), read.start) << "the unit did not move";
    const std::uint8_t* image = bench.form().ups->eepromImage;
    for (int p = 0; p < 256; ++p)
        EXPECT_EQ(image[p], 0xA5) << "position " << p;
    EXPECT_TRUE(read.positions.empty());
    EXPECT_EQ(read.statusAfter,
              QStringLiteral("The UPS did not take the selection of the EEPROM (it answered "
                             "\"z0\"): nothing was sent after it."));
}

struct BufferRow {
    const char* clickedOn;  // page shown when ReadEE is clicked
    const char* handledOn;  // page shown when the poll thread takes the request
    int offset;             // where the bytes must land
};

TEST(EepromRead, GoesToTheBufferShownWhenTheRequestIsHandledAndDumpsIt) {
    const BufferRow rows[] = {
        {"Buffer1", "Buffer1", 0},
        {"Buffer2", "Buffer2", 256},
        {"Buffer1", "Buffer2", 256},
        {"Buffer2", "Buffer1", 0},
    };
    for (const BufferRow& row : rows) {
        SCOPED_TRACE(std::string(row.clickedOn) + " -> " + row.handledOn);
        EngineBench bench("su1000");
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        auto* clicked = bench.form().control<QWidget>(row.clickedOn);
        auto* handled = bench.form().control<QWidget>(row.handledOn);
        atRefresh(bench, [&] { ui.PageControl2->setCurrentWidget(clicked); });
        const Read read = readEeprom(bench, [&] {
            ui.PageControl2->setCurrentWidget(handled);
            fill(bench, 0, 512, 0xA5);
        });
        ASSERT_EQ(read.start, 0);
        const int other = 256 - row.offset;
        const std::uint8_t* image = bench.form().ups->eepromImage;
        EXPECT_EQ(image[row.offset], 0xA5) << "the start position is not read";
        for (int p = 1; p < 256; ++p)
            EXPECT_EQ(image[row.offset + p], read.unit[p]) << "position " << p;
        EXPECT_TRUE(std::all_of(image + other, image + other + 256, [](auto b) {
            return b == 0xA5;
        })) << "the other buffer is untouched";
        EXPECT_TRUE(std::all_of(image + 512, image + 1280, [](auto b) { return b == 0; }));

        // The dump goes to the pane of the buffer read; the other pane stays as it was.
        QTextEdit* pane = row.offset == 0 ? ui.RichEdit1 : ui.RichEdit2;
        QTextEdit* otherPane = row.offset == 0 ? ui.RichEdit2 : ui.RichEdit1;
        EXPECT_TRUE(otherPane->toPlainText().isEmpty());
        const QStringList lines = pane->toPlainText().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 18);
        QString first = QStringLiteral("0000: A5");
        for (int p = 1; p < 16; ++p)
            first += QString::asprintf(" %02X", read.unit[p]);
        EXPECT_EQ(lines[1], first);
        QString last = QStringLiteral("00F0:");
        for (int p = 240; p < 256; ++p)
            last += QString::asprintf(" %02X", read.unit[p]);
        EXPECT_EQ(lines[16], last);
    }
}

TEST(EepromDump, AllZeroBufferShowsSixteenRowsInTheTwoColours) {
    EngineBench bench("su1000");
    bench.form().DumpEepromBuffer();
    QTextEdit* pane = bench.ui().RichEdit1;
    QString expected = QStringLiteral("      00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n");
    QString colours = repeated("f", 53) + QLatin1Char('\n');
    const char* rows[] = {"0000:", "0010:", "0020:", "0030:", "0040:", "0050:", "0060:", "0070:",
                          "0080:", "0090:", "00A0:", "00B0:", "00C0:", "00D0:", "00E0:", "00F0:"};
    for (const char* row : rows) {
        expected += QLatin1String(row) + repeated(" 00", 16) + QLatin1Char('\n');
        colours += repeated("f", 5) + repeated("d", 48) + QLatin1Char('\n');
    }
    EXPECT_EQ(pane->toPlainText(), expected);
    EXPECT_EQ(colourMap(pane), colours);
    EXPECT_TRUE(bench.ui().RichEdit2->toPlainText().isEmpty());
}

struct Difference {
    int address;
    std::uint8_t buffer1, buffer2;
};

struct CompareRow {
    const char* name;
    std::uint8_t fill;  // both buffers, before the differences
    std::vector<Difference> differences;
    int bufferOffset;
    const char* text;     // the pane's text
    const char* colours;  // per line: f frame, d data
};

TEST(EepromCompare, ListsEachDifferingByteOrSaysThereIsNone) {
    const CompareRow rows[] = {
        {"zero buffers", 0x00, {}, 0, "NO Difference found!\n", "d"},
        {"equal buffers", 0x5A, {}, 256, "NO Difference found!\n", "d"},
        {"one byte",
         0x00,
         {{165, 63, 127}},
         0,
         "Address: 00A5\n Buffer1 = 3F 00111111\n Buffer2 = 7F 01111111\n",
         "fdd"},
        // Buffer1 against Buffer2 whichever buffer is shown.
        {"first and last",
         0x11,
         {{0, 0x00, 0xFF}, {255, 0x80, 0x01}},
         256,
         "Address: 0000\n Buffer1 = 00 00000000\n Buffer2 = FF 11111111\n"
         "Address: 00FF\n Buffer1 = 80 10000000\n Buffer2 = 01 00000001\n",
         "fddfdd"},
    };
    for (const CompareRow& row : rows) {
        SCOPED_TRACE(row.name);
        EngineBench bench("su1000");
        std::uint8_t* image = bench.form().ups->eepromImage;
        std::memset(image, row.fill, 512);
        for (const Difference& d : row.differences) {
            image[d.address] = d.buffer1;
            image[256 + d.address] = d.buffer2;
        }
        bench.form().bufferOffset = static_cast<std::uint16_t>(row.bufferOffset);
        // A second compare replaces the first.
        bench.form().CompareEepromBuffers();
        bench.form().CompareEepromBuffers();
        QTextEdit* pane = bench.ui().RichEdit6;
        EXPECT_EQ(pane->toPlainText(), QLatin1String(row.text));

        QString colours;
        const QStringList lines = QString::fromLatin1(row.text).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                colours += QLatin1Char('\n');
            if (i < static_cast<int>(std::strlen(row.colours)))
                colours += QString(lines[i].size(), QLatin1Char(row.colours[i]));
        }
        EXPECT_EQ(colourMap(pane), colours);
    }
}

TEST(EepromCompare, TwoReadsAroundASettingChangeShowTheChangedByte) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    const Read first = readEeprom(bench);
    ASSERT_EQ(first.start, 0);
    // The self-test interval is kept at address 14; step it while the poll thread waits.
    atRefresh(bench, [&] {
        bench.form().ups->StepSelfTestInterval();
        ui.PageControl2->setCurrentWidget(ui.Buffer2);
    });
    const Read second = readEeprom(bench);
    ASSERT_EQ(second.start, 0xFF);
    ASSERT_NE(first.unit[0x14], second.unit[0x14]);
    atRefresh(bench, [&] {
        ui.PageControl2->setCurrentWidget(ui.Compare);
        ui.CompareEE->click();
    });
    atRefresh(bench, [] {});
    const QString text = ui.RichEdit6->toPlainText();
    const QString changed = QString::asprintf("Address: 0014\n Buffer1 = %02X ", first.unit[0x14]);
    EXPECT_TRUE(text.contains(changed)) << text.toStdString();
    // Besides it only the bytes each read left alone can differ: 00 (Buffer1's start) and FF
    // (Buffer2's start).
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("Address: ")))
            continue;
        EXPECT_TRUE(line == QLatin1String("Address: 0000") ||
                    line == QLatin1String("Address: 0014") ||
                    line == QLatin1String("Address: 00FF"))
            << line.toStdString();
    }
}

// The file name entry of the dialog (Qt's own dialog names it so).
QLineEdit* nameEntry(QFileDialog& dialog) {
    auto* entry = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    EXPECT_NE(entry, nullptr);
    return entry;
}

// What the save dialog looked like when it was run.
struct DialogSeen {
    int runs = 0;
    QString title;
    QString filter;
    QString proposedName;
    bool unitSilent = true;
};

// Replaces the modal dialog: records how it was set up and "chooses" `path` (empty: cancel),
// after `pick` has had its say on the dialog.
void chooseFile(EngineBench& bench, DialogSeen& seen, const QString& path,
                const std::function<void(QFileDialog&)>& pick = {}) {
    bench.form().runSaveDialog = [&bench, &seen, path, pick] {
        QFileDialog& dialog = *bench.form().SaveDialog1;
        ++seen.runs;
        seen.title = dialog.windowTitle();
        seen.filter = dialog.selectedNameFilter();
        seen.proposedName = nameEntry(dialog)->text();
        // The poll thread waits for the dialog: the unit hears nothing while it is open.
        const std::size_t before = bench.unit().log().size();
        QThread::msleep(20);
        seen.unitSilent = bench.unit().log().size() == before;
        if (pick)
            pick(dialog);
        return path;
    };
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

TEST(EepromSave, WritesExactlyTheShownBuffer) {
    for (const char* page : {"Buffer1", "Buffer2"}) {
        SCOPED_TRACE(page);
        EngineBench bench("su1000");
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("dump.bin"));
        DialogSeen seen;
        chooseFile(bench, seen, path, [](QFileDialog& dialog) {
            // Whatever type the technician picks, a buffer page writes the buffer.
            dialog.selectNameFilter(dialog.nameFilters().value(2));
        });
        std::uint8_t* image = bench.form().ups->eepromImage;
        atRefresh(bench, [&] {
            ui.PageControl2->setCurrentWidget(bench.form().control<QWidget>(page));
            for (int i = 0; i < 1280; ++i)
                image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
            ui.SaveEE->click();
        });
        atRefresh(bench, [] {});
        const int offset = std::strcmp(page, "Buffer1") == 0 ? 0 : 256;
        const QByteArray written = fileContent(path);
        ASSERT_EQ(written.size(), 256);
        EXPECT_EQ(std::memcmp(written.constData(), image + offset, 256), 0);

        EXPECT_EQ(seen.runs, 1);
        EXPECT_EQ(seen.title, QStringLiteral("Save EEPROM as"));
        EXPECT_EQ(seen.filter, QStringLiteral("Morlen EEPROM Dump File (*.bin)"));
        const APCUPS& ups = *bench.form().ups;
        ASSERT_FALSE(ups.serialNumber.str().empty());
        EXPECT_EQ(seen.proposedName.toStdString(), ups.modelName.str() + ups.serialNumber.str());
        EXPECT_TRUE(seen.unitSilent);
    }
}

TEST(EepromSave, ComparisonReplacesALongerFileWithItsTextInCrLfLines) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("compare.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(1000, 'x'));
    }
    DialogSeen seen;
    chooseFile(bench, seen, path, [](QFileDialog& dialog) {
        // Picking the dump type does not make a comparison a dump.
        dialog.selectNameFilter(dialog.nameFilters().value(0));
    });
    atRefresh(bench, [&] {
        std::uint8_t* image = bench.form().ups->eepromImage;
        std::memset(image, 0, 512);
        image[165] = 63;
        image[256 + 165] = 127;
        ui.PageControl2->setCurrentWidget(ui.Compare);
        ui.CompareEE->click();
        ui.SaveEE->click();
    });
    atRefresh(bench, [] {});
    EXPECT_EQ(fileContent(path),
              QByteArray("Address: 00A5\r\n Buffer1 = 3F 00111111\r\n Buffer2 = 7F 01111111\r\n"));
    EXPECT_EQ(seen.filter, QStringLiteral("Text File (*.txt)"));
    EXPECT_EQ(seen.title, QStringLiteral("Save EEPROM as"));
}

TEST(EepromSave, CancelWritesNothingAndSaysNothing) {
    EngineBench bench("su1000");
    QTemporaryDir folder;
    const QString existing = folder.filePath(QStringLiteral("kept.bin"));
    {
        QFile old(existing);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    std::memset(bench.form().ups->eepromImage, 0x33, 512);
    bench.form().setStatusText(QStringLiteral("before"));
    for (QWidget* page : {bench.ui().Buffer1, bench.ui().Compare}) {
        bench.ui().PageControl2->setCurrentWidget(page);
        DialogSeen seen;
        chooseFile(bench, seen, QString());
        bench.form().SaveEepromDialog();
        EXPECT_EQ(seen.runs, 1);
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("kept.bin")});
    EXPECT_EQ(fileContent(existing), QByteArray("old"));
    EXPECT_TRUE(bench.errors().empty());
    EXPECT_EQ(bench.form().statusText(), QStringLiteral("before"));
}

// A folder this thread cannot write to. Root may write anywhere, so as root the thread takes
// an ordinary user's file-system identity while the condition holds (Linux keeps it per
// thread, and the save runs on this thread).
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString& path) : path_(path) {
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner);
        if (::geteuid() == 0)
            ::setfsuid(65534);
    }
    ~UnwritableFolder() {
        if (::geteuid() == 0)
            ::setfsuid(0);
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Whether the condition really holds here.
    bool holds() const {
        const QByteArray probe = QFile::encodeName(path_ + QStringLiteral("/probe"));
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return errno == EACCES;
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }

private:
    QString path_;
};

// Files of this process can grow to `bytes` only: a write beyond fails as on a full disk
// (with "File too large" as the reason), instead of the signal that would end the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        signalBefore_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, signalBefore_);
    }

private:
    rlimit before_{};
    void (*signalBefore_)(int) = nullptr;
};

enum class Failure { UnwritableFolder, MissingFolder, DiskFull };

struct FailedSaveRow {
    const char* name;
    Failure failure;
    int reason;  // the errno whose text the box gives
};

TEST(EepromSave, AFailedSaveNamesTheFileAndTheReasonAndKeepsTheEarlierFile) {
    const FailedSaveRow rows[] = {
        {"missing folder", Failure::MissingFolder, ENOENT},
        {"disk full", Failure::DiskFull, EFBIG},
        // Last: where it cannot be brought about, the test ends here.
        {"unwritable folder", Failure::UnwritableFolder, EACCES},
    };
    EngineBench bench("su1000");
    std::uint8_t* image = bench.form().ups->eepromImage;
    for (int i = 0; i < 512; ++i)
        image[i] = static_cast<std::uint8_t>(i);
    // A comparison long enough not to fit under the size limit.
    image[256] = 0xFF;
    image[300] = 0xFF;
    image[400] = 0xFF;
    bench.form().CompareEepromBuffers();
    for (const FailedSaveRow& row : rows) {
        for (QWidget* page : {bench.ui().Buffer1, bench.ui().Buffer2, bench.ui().Compare}) {
            SCOPED_TRACE(std::string(row.name) + " on " + page->objectName().toStdString());
            QTemporaryDir temporary;
            const QString folder = temporary.filePath(QStringLiteral("backup"));
            ASSERT_TRUE(QDir().mkdir(folder));
            const QString path = row.failure == Failure::MissingFolder
                                     ? temporary.filePath(QStringLiteral("missing/dump.bin"))
                                     : folder + QStringLiteral("/dump.bin");
            const QByteArray earlier(100, 'e');
            if (row.failure != Failure::MissingFolder) {
                QFile old(path);
                ASSERT_TRUE(old.open(QIODevice::WriteOnly));
                old.write(earlier);
            }
            bench.ui().PageControl2->setCurrentWidget(page);
            DialogSeen seen;
            chooseFile(bench, seen, path);
            const std::size_t errorsBefore = bench.errors().size();
            if (row.failure == Failure::UnwritableFolder) {
                UnwritableFolder locked(folder);
                if (!locked.holds())
                    GTEST_SKIP() << "this process can write to a folder it may only read";
                bench.form().SaveEepromDialog();
            } else if (row.failure == Failure::DiskFull) {
                FileSizeLimit full(120);
                bench.form().SaveEepromDialog();
            } else {
                bench.form().SaveEepromDialog();
            }
            EXPECT_EQ(seen.runs, 1);
            ASSERT_EQ(bench.errors().size(), errorsBefore + 1);
            const QString& error = bench.errors().back();
            EXPECT_TRUE(error.contains(path)) << error.toStdString();
            EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(row.reason))))
                << error.toStdString();
            if (row.failure == Failure::MissingFolder) {
                EXPECT_FALSE(QFile::exists(path));
            } else {
                EXPECT_EQ(fileContent(path), earlier) << "the earlier file is kept as it was";
                EXPECT_EQ(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                          QStringList{QStringLiteral("dump.bin")})
                    << "no half-written file is left behind";
            }
        }
    }
}

TEST(EepromSave, TheWindowsOwnDialogProposesTheNameAndIsAnsweredByKeys) {
    EngineBench bench("su1000");
    QTemporaryDir folder;
    APCUPS& ups = *bench.form().ups;
    ups.modelName = "SMART-UPS 1000";
    ups.serialNumber = "WS123";
    std::memset(ups.eepromImage, 0x42, 256);
    QFileDialog* dialog = bench.form().SaveDialog1;
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save ? "save" : "cancel");
        QString proposed;
        bool answered = false;
        int waited = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!dialog->isVisible())
                return;
            if (answered) {
                // Still open long after the answer: close it so the test can report.
                if (++waited > 200)
                    static_cast<QDialog*>(dialog)->done(QDialog::Rejected);
                return;
            }
            answered = true;
            QLineEdit* name = nameEntry(*dialog);
            proposed = name->text();
            if (save) {
                // A name typed without an extension gets the dump's.
                dialog->setDirectory(folder.path());
                name->clear();
                QTest::keyClicks(name, QStringLiteral("typed"));
                QTest::keyClick(name, Qt::Key_Return);
            } else {
                QTest::keyClick(dialog, Qt::Key_Escape);
            }
        });
        timer.start(5);
        bench.form().SaveEepromDialog();
        EXPECT_TRUE(answered);
        EXPECT_LE(waited, 200) << "the dialog did not take the answer";
        EXPECT_EQ(proposed, QStringLiteral("SMART-UPS 1000WS123"));
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("typed.bin")});
    EXPECT_EQ(fileContent(folder.filePath(QStringLiteral("typed.bin"))), QByteArray(256, 0x42));
}

// Pulls the cable when the bar reaches `step`, just before that step's "+" goes out.
QMetaObject::Connection pullCableAt(EngineBench& bench, int step) {
    return QObject::connect(bench.ui().ProgressBar1, &QProgressBar::valueChanged,
                            [&bench, step](int position) {
                                if (position == step)
                                    bench.unit().unplug();
                            });
}

// Replaces the question box: records each question and gives `answer`.
void answerQuestions(EngineBench& bench, std::vector<QString>& asked, bool answer) {
    bench.form().questionBox = [&asked, answer](const QString& text) {
        asked.push_back(text);
        return answer;
    };
}

std::size_t countOf(const std::string& wire, char command) {
    return static_cast<std::size_t>(std::count(wire.begin(), wire.end(), command));
}

TEST(EepromIncomplete, ACablePulledAtStep100IsCountedShownAndAskedAboutBeforeSaving) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    const auto pull = pullCableAt(bench, 100);
    // Put back at the refresh after the read, before the link check: the connection goes on.
    const auto plug = QObject::connect(&bench.form(), &TForm1::displayRefreshed,
                                       [&bench] { bench.unit().plug(); });
    const Read read = readEeprom(bench);
    QObject::disconnect(pull);
    QObject::disconnect(plug);
    ASSERT_EQ(read.start, 0);
    // The walk is the same whatever the replies.
    EXPECT_EQ(countOf(read.wire, '#'), 1u) << read.wire;
    EXPECT_EQ(countOf(read.wire, '+'), 255u) << read.wire;
    const std::uint8_t* image = bench.form().ups->eepromImage;
    EXPECT_EQ(image[99], read.unit[99]);
    EXPECT_EQ(image[255], read.unit[99]) << "each unanswered step repeats the last byte read";

    // Steps 100 to 255 went unanswered.
    EXPECT_EQ(bench.form().unreadBytes[0], 156);
    EXPECT_EQ(bench.form().unreadBytes[1], 0);
    const QString incomplete =
        QStringLiteral("EEPROM read incomplete: 156 of 256 bytes could not be read.");
    EXPECT_EQ(read.statusAfter, incomplete);
    EXPECT_EQ(ui.RichEdit1->toPlainText().split(QLatin1Char('\n')).size(), 18)
        << "the dump is still shown";
    atRefresh(bench, [] {});
    EXPECT_EQ(bench.form().statusText(), incomplete) << "the connection went on";

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("dump.bin"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    DialogSeen seen;
    chooseFile(bench, seen, path);
    const QString question = QStringLiteral(
        "Buffer1 is incomplete: 156 of 256 bytes could not be read from the unit.\n"
        "Save it anyway?");
    std::vector<QString> asked;
    answerQuestions(bench, asked, false);
    atRefresh(bench, [&] { ui.SaveEE->click(); });
    atRefresh(bench, [] {});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], question);
    EXPECT_EQ(seen.runs, 0) << "\"No\" asks for no file";
    EXPECT_EQ(fileContent(path), QByteArray("old"));

    answerQuestions(bench, asked, true);
    atRefresh(bench, [&] { ui.SaveEE->click(); });
    atRefresh(bench, [] {});
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], question);
    EXPECT_EQ(seen.runs, 1);
    EXPECT_EQ(fileContent(path),
              QByteArray(reinterpret_cast<const char*>(bench.form().ups->eepromImage), 256));
}

TEST(EepromIncomplete, AGarbledReplyCountsOneAndTheWalkGoesOn) {
    EngineBench bench("su1000");
    bench.connectUnit();
    const auto spoil = QObject::connect(bench.ui().ProgressBar1, &QProgressBar::valueChanged,
                                        [&bench](int position) {
                                            if (position == 50) {
                                                bench.unit().garbleReplyByte(0, 'z');
                                                bench.unit().garbleReplyByte(1, 'z');
                                            }
                                        });
    const Read read = readEeprom(bench);
    QObject::disconnect(spoil);
    ASSERT_EQ(read.start, 0);
    EXPECT_EQ(countOf(read.wire, '+'), 255u);
    const std::uint8_t* image = bench.form().ups->eepromImage;
    EXPECT_EQ(image[50], read.unit[49]);
    for (int p = 51; p < 256; ++p)
        EXPECT_EQ(image[p], read.unit[p]) << "position " << p;
    EXPECT_EQ(bench.form().unreadBytes[0], 1);
    EXPECT_EQ(read.statusAfter,
              QStringLiteral("EEPROM read incomplete: 1 of 256 bytes could not be read."));
}

// One "+" reply at position 40 changed on its way; the byte stored there and whether the
// buffer counts as whole.
struct ReplyKindRow {
    const char* name;
    std::vector<std::pair<std::size_t, char>> garbles;  // reply byte index, replacement
    bool dropSecond;                                    // the reply loses its second digit
    int stored;  // the byte stored at 40, or one of the two marks below
    int unread;
};
constexpr int kUnitsByte = 0x100;  // the unit's own byte at 40
constexpr int kByteBefore = -1;    // the byte stored at 39, repeated

// Only a reply of exactly two hex digits is a byte read; one bad reply is enough for the save
// to ask first, and none leaves it asking nothing.
TEST(EepromIncomplete, EveryReplyThatIsNotTwoHexDigitsCountsAndOneIsEnoughToAsk) {
    const ReplyKindRow rows[] = {
        {"two digits", {}, false, kUnitsByte, 0},
        {"NA", {{0, 'N'}, {1, 'A'}}, false, 250, 1},
        {"NO", {{0, 'N'}, {1, 'O'}}, false, 0xEF, 1},
        {"lower case", {{0, 'a'}, {1, 'b'}}, false, 0xAB, 0},
        {"one digit", {}, true, kByteBefore, 1},
        {"three characters", {{0, 'A'}, {1, '5'}, {2, '7'}, {3, '\r'}}, false, 0xA5, 1},
        {"no hex at all", {{0, 'z'}, {1, 'z'}}, false, kByteBefore, 1},
    };
    for (const ReplyKindRow& row : rows) {
        SCOPED_TRACE(row.name);
        EngineBench bench("su1000");
        bench.connectUnit();
        const auto spoil = QObject::connect(
            bench.ui().ProgressBar1, &QProgressBar::valueChanged, [&bench, &row](int position) {
                if (position != 40)
                    return;
                for (const auto& [index, byte] : row.garbles)
                    bench.unit().garbleReplyByte(index, static_cast<std::uint8_t>(byte));
                if (row.dropSecond)
                    bench.unit().dropReplyByte(1);
            });
        const Read read = readEeprom(bench);
        QObject::disconnect(spoil);
        ASSERT_EQ(read.start, 0);
        EXPECT_EQ(countOf(read.wire, '+'), 255u);
        const std::uint8_t* image = bench.form().ups->eepromImage;
        const int expected = row.stored == kUnitsByte    ? read.unit[40]
                             : row.stored == kByteBefore ? read.unit[39]
                                                         : row.stored;
        EXPECT_EQ(image[40], expected);
        EXPECT_EQ(image[41], read.unit[41]) << "the walk goes on";
        EXPECT_EQ(bench.form().unreadBytes[0], row.unread);

        QTemporaryDir folder;
        DialogSeen seen;
        chooseFile(bench, seen, folder.filePath(QStringLiteral("dump.bin")));
        std::vector<QString> asked;
        answerQuestions(bench, asked, false);
        atRefresh(bench, [&] { bench.ui().SaveEE->click(); });
        atRefresh(bench, [] {});
        if (row.unread == 0) {
            EXPECT_TRUE(asked.empty());
            EXPECT_EQ(seen.runs, 1);
        } else {
            ASSERT_EQ(asked.size(), 1u);
            EXPECT_EQ(asked[0], QStringLiteral("Buffer1 is incomplete: 1 of 256 bytes could not "
                                               "be read from the unit.\nSave it anyway?"));
            EXPECT_EQ(seen.runs, 0);
        }
    }
}

struct WholeReadRow {
    const char* name;
    bool incompleteBefore;  // a read that lost its unit went into the buffer first
    const char* statusAfter;
};

TEST(EepromIncomplete, AWholeReadLeavesNoMarkAndSavesWithoutAsking) {
    const WholeReadRow rows[] = {
        {"first read", false, "Connection to UPS established."},
        // The complete read clears the mark and the text that told of it.
        {"after an incomplete read", true, ""},
    };
    for (const WholeReadRow& row : rows) {
        SCOPED_TRACE(row.name);
        EngineBench bench("su1000");
        bench.connectUnit();
        Ui::TForm1& ui = bench.ui();
        if (row.incompleteBefore) {
            const auto pull = pullCableAt(bench, 200);
            const auto plug = QObject::connect(&bench.form(), &TForm1::displayRefreshed,
                                               [&bench] { bench.unit().plug(); });
            readEeprom(bench);
            QObject::disconnect(pull);
            QObject::disconnect(plug);
            ASSERT_EQ(bench.form().unreadBytes[0], 56);
        }
        const Read read = readEeprom(bench);
        EXPECT_EQ(countOf(read.wire, '+'), 255u);
        EXPECT_EQ(bench.form().unreadBytes[0], 0);
        EXPECT_EQ(read.statusAfter, QLatin1String(row.statusAfter));

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("dump.bin"));
        DialogSeen seen;
        chooseFile(bench, seen, path);
        std::vector<QString> asked;
        answerQuestions(bench, asked, false);
        atRefresh(bench, [&] { ui.SaveEE->click(); });
        atRefresh(bench, [] {});
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(seen.runs, 1);
        EXPECT_EQ(fileContent(path).size(), 256);
    }
}

TEST(EepromIncomplete, TheMarkIsPerBufferAndOutlivesTheLostConnection) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    TForm1& form = bench.form();
    // The cable stays out: after the read the link check loses the unit.
    const auto pull = pullCableAt(bench, 100);
    ui.ReadEE->click();
    ASSERT_TRUE(EngineBench::waitFor([&] { return form.statusText() == form.textNoConnection; }));
    QObject::disconnect(pull);
    EXPECT_EQ(form.unreadBytes[0], 156);

    bench.unit().plug();
    bench.connectUnit();
    const Read read = readEeprom(bench, [&] { ui.PageControl2->setCurrentWidget(ui.Buffer2); });
    EXPECT_EQ(form.unreadBytes[0], 156);
    EXPECT_EQ(form.unreadBytes[1], 0);

    QTemporaryDir folder;
    std::vector<QString> asked;
    answerQuestions(bench, asked, false);
    DialogSeen seen;
    chooseFile(bench, seen, folder.filePath(QStringLiteral("buffer2.bin")));
    atRefresh(bench, [&] { ui.SaveEE->click(); });
    atRefresh(bench, [] {});
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(seen.runs, 1);

    chooseFile(bench, seen, folder.filePath(QStringLiteral("buffer1.bin")));
    atRefresh(bench, [&] {
        ui.PageControl2->setCurrentWidget(ui.Buffer1);
        ui.SaveEE->click();
    });
    atRefresh(bench, [] {});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QStringLiteral("Buffer1 is incomplete: 156 of 256 bytes could not be "
                                       "read from the unit.\nSave it anyway?"));
    EXPECT_EQ(seen.runs, 1);
    EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("buffer1.bin"))));
}

struct ComparisonRow {
    const char* name;
    int unreadWhenCompared[2];
    int unreadWhenSaved[2];
    const char* question;  // null: none
};

TEST(EepromIncomplete, SavingAComparisonMadeFromAnIncompleteBufferAsksFirst) {
    const ComparisonRow rows[] = {
        {"both complete", {0, 0}, {0, 0}, nullptr},
        {"Buffer2 incomplete",
         {0, 7},
         {0, 7},
         "The comparison was made from an incomplete buffer.\n"
         "Buffer2: 7 of 256 bytes could not be read from the unit.\nSave it anyway?"},
        {"both incomplete",
         {256, 1},
         {256, 1},
         "The comparison was made from an incomplete buffer.\n"
         "Buffer1: 256 of 256 bytes could not be read from the unit.\n"
         "Buffer2: 1 of 256 bytes could not be read from the unit.\nSave it anyway?"},
        // The pane still shows the comparison of the incomplete buffer.
        {"re-read whole since",
         {3, 0},
         {0, 0},
         "The comparison was made from an incomplete buffer.\n"
         "Buffer1: 3 of 256 bytes could not be read from the unit.\nSave it anyway?"},
        // The pane shows a comparison of two complete buffers.
        {"read incomplete since", {0, 0}, {3, 0}, nullptr},
    };
    for (const ComparisonRow& row : rows) {
        SCOPED_TRACE(row.name);
        EngineBench bench("su1000");
        TForm1& form = bench.form();
        form.ui->PageControl2->setCurrentWidget(form.ui->Compare);
        std::copy_n(row.unreadWhenCompared, 2, form.unreadBytes);
        form.CompareEepromBuffers();
        std::copy_n(row.unreadWhenSaved, 2, form.unreadBytes);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("compare.txt"));
        for (const bool answer : {false, true}) {
            std::vector<QString> asked;
            answerQuestions(bench, asked, answer);
            DialogSeen seen;
            chooseFile(bench, seen, path);
            form.SaveEepromDialog();
            if (row.question == nullptr) {
                EXPECT_TRUE(asked.empty());
            } else {
                ASSERT_EQ(asked.size(), 1u);
                EXPECT_EQ(asked[0], QLatin1String(row.question));
            }
            const bool saved = row.question == nullptr || answer;
            EXPECT_EQ(seen.runs, saved ? 1 : 0);
            EXPECT_EQ(QFile::exists(path), saved);
        }
        EXPECT_EQ(fileContent(path), QByteArray("NO Difference found!\r\n"));
    }
}

}  // namespace
}  // namespace morlen::test
