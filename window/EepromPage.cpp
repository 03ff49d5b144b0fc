// The EEPROM page: its buttons, the hex dump of a buffer, the comparison of the two buffers
// and the save dialog with its two file formats. Buffer1 is bytes 0 to 255 of the UPS object's
// EEPROM image, Buffer2 bytes 256 to 511; the poll thread fills them.
#include <QAbstractButton>
#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QTabWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "Unit1.h"

namespace {

constexpr int kBufferSize = 256;
// A read takes the start address and 255 bytes from the unit.
constexpr int kRepliesPerRead = 256;

QString incompleteReadText(int unread) {
    return QStringLiteral("EEPROM read incomplete: %1 of %2 bytes could not be read.")
        .arg(unread)
        .arg(kRepliesPerRead);
}

QString unreadText(int unread) {
    return QStringLiteral("%1 of %2 bytes could not be read from the unit.")
        .arg(unread)
        .arg(kRepliesPerRead);
}

// Writes all of `content` or fails with the file's error set. The system may take part of it
// (a disk that fills up); writing the rest then fails with the system's reason.
bool writeAll(QSaveFile& file, const QByteArray& content) {
    qint64 done = 0;
    while (done < content.size()) {
        const qint64 written = file.write(content.constData() + done, content.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Column headers and addresses in one colour, byte values in another.
QColor frameColour() {
    return QColor(112, 47, 208);
}
QColor dataColour() {
    return QColor(187, 68, 104);
}

// Clears a pane and appends coloured text to it.
class PaneWriter {
public:
    explicit PaneWriter(QTextEdit* pane) {
        pane->clear();
        cursor_ = QTextCursor(pane->document());
        cursor_.movePosition(QTextCursor::End);
    }
    void write(const QString& text, const QColor& colour) {
        QTextCharFormat format;
        format.setForeground(colour);
        cursor_.insertText(text, format);
    }

private:
    QTextCursor cursor_;
};

// A byte as two hex digits, a space and its eight bits, most significant first.
QString byteForms(std::uint8_t value) {
    QString text = QString::asprintf("%02X ", value);
    for (int bit = 7; bit >= 0; --bit)
        text += QLatin1Char((value >> bit) & 1 ? '1' : '0');
    return text;
}

}  // namespace

void TForm1::ConnectEepromPage() {
    connect(ui->ReadEE, &QAbstractButton::clicked, this, &TForm1::ReadEEClick);
    connect(ui->SaveEE, &QAbstractButton::clicked, this, &TForm1::SaveEEClick);
    connect(ui->CompareEE, &QAbstractButton::clicked, this, &TForm1::CompareEEClick);
    runSaveDialog = [this] {
        if (SaveDialog1->exec() != QDialog::Accepted)
            return QString();
        return SaveDialog1->selectedFiles().value(0);
    };
}

void TForm1::ReadEEClick() {
    post(morlen::Request::ReadEeprom, '-');
}

void TForm1::SaveEEClick() {
    post(morlen::Request::SaveEeprom, '-');
}

void TForm1::CompareEEClick() {
    post(morlen::Request::CompareEeprom, '-');
}

void TForm1::DumpEepromBuffer() {
    // The pane of the buffer just read. The page control stays disabled during a read, so this
    // is also the buffer page shown.
    PaneWriter out(bufferOffset == 0 ? ui->RichEdit1 : ui->RichEdit2);
    QString header = QStringLiteral("     ");
    for (int column = 0; column < 16; ++column)
        header += QString::asprintf(" %02X", column);
    out.write(header + QLatin1Char('\n'), frameColour());
    const std::uint8_t* buffer = ups->eepromImage + bufferOffset;
    for (int row = 0; row < kBufferSize; row += 16) {
        out.write(QString::asprintf("%04X:", row), frameColour());
        QString bytes;
        for (int column = 0; column < 16; ++column)
            bytes += QString::asprintf(" %02X", buffer[row + column]);
        out.write(bytes + QLatin1Char('\n'), dataColour());
    }
}

void TForm1::EepromBufferRead(int unread) {
    unreadBytes[bufferOffset == 0 ? 0 : 1] = unread;
    if (unread > 0)
        showRequestNote(incompleteReadText(unread));
    DumpEepromBuffer();
}

bool TForm1::askQuestion(const QString& text) {
    if (questionBox)
        return questionBox(text);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    openQuestion = &box;
    return box.exec() == QMessageBox::Yes;
}

void TForm1::CompareEepromBuffers() {
    // The pane keeps this comparison until the next one, whatever is read meanwhile.
    comparedUnreadBytes[0] = unreadBytes[0];
    comparedUnreadBytes[1] = unreadBytes[1];
    PaneWriter out(ui->RichEdit6);
    const std::uint8_t* buffer1 = ups->eepromImage;
    const std::uint8_t* buffer2 = ups->eepromImage + kBufferSize;
    bool differs = false;
    for (int address = 0; address < kBufferSize; ++address) {
        const std::uint8_t x = buffer1[address];
        const std::uint8_t y = buffer2[address];
        if (x == y)
            continue;
        differs = true;
        out.write(QString::asprintf("Address: %04X", address), frameColour());
        out.write(QStringLiteral("\r\n Buffer1 = ") + byteForms(x) +
                      QStringLiteral("\r\n Buffer2 = ") + byteForms(y) + QStringLiteral("\r\n"),
                  dataColour());
    }
    if (!differs)
        out.write(QStringLiteral("NO Difference found!\r\n"), dataColour());
}

void TForm1::SaveEepromDialog() {
    const bool comparison = ui->PageControl2->currentWidget() == ui->Compare;
    // A buffer that lost replies holds repeated bytes where the unit's were: not a backup to
    // keep unless the technician says so.
    QString question;
    if (comparison) {
        for (int buffer = 0; buffer < 2; ++buffer) {
            if (comparedUnreadBytes[buffer] > 0)
                question += QStringLiteral("Buffer%1: ").arg(buffer + 1) +
                            unreadText(comparedUnreadBytes[buffer]) + QLatin1Char('\n');
        }
        if (!question.isEmpty())
            question.prepend(
                QStringLiteral("The comparison was made from an incomplete buffer.\n"));
    } else {
        const int buffer = bufferOffset == 0 ? 0 : 1;
        if (unreadBytes[buffer] > 0)
            question = QStringLiteral("Buffer%1 is incomplete: ").arg(buffer + 1) +
                       unreadText(unreadBytes[buffer]) + QLatin1Char('\n');
    }
    if (!question.isEmpty() && !askQuestion(question + QStringLiteral("Save it anyway?")))
        return;

    SaveDialog1->setWindowTitle(QStringLiteral("Save EEPROM as"));
    SaveDialog1->selectFile(QString::fromLatin1(ups->modelName.c_str()) +
                            QString::fromLatin1(ups->serialNumber.c_str()));
    // Dump files first, text files third.
    SaveDialog1->selectNameFilter(SaveDialog1->nameFilters().value(comparison ? 2 : 0));
    // The pane keeps its lines apart with bare line feeds; the file ends them with CR LF.
    // The page decides what is written, not the file type picked in the dialog.
    const QByteArray content =
        comparison ? ui->RichEdit6->toPlainText()
                         .replace(QLatin1Char('\n'), QLatin1String("\r\n"))
                         .toLatin1()
                   : QByteArray(reinterpret_cast<const char*>(ups->eepromImage + bufferOffset),
                                kBufferSize);

    const QString name = runSaveDialog();
    if (name.isEmpty())
        return;
    // Written beside the file and put in its place only once complete and on the medium, so a
    // failed save leaves an earlier file as it was. A technician who saw nothing would take
    // the backup for made.
    QSaveFile file(name);
    bool saved = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, content);
    QString reason = file.errorString();
    if (saved && ::fsync(file.handle()) != 0) {
        saved = false;
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (saved) {
        saved = file.commit();
        reason = file.errorString();
    }
    if (!saved)
        showErrorBox(QStringLiteral("Could not save \"%1\": %2")
                         .arg(QDir::toNativeSeparators(name), reason));
}
