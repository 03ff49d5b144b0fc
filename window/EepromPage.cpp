// The EEPROM page: its buttons, the hex dump of a buffer, the comparison of the two buffers
// and the save dialog with its two file formats. Buffer1 is bytes 0 to 255 of the UPS object's
// EEPROM image, Buffer2 bytes 256 to 511; the poll thread fills them.
#include <QAbstractButton>
#include <QColor>
#include <QFile>
#include <QFileDialog>
#include <QTabWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "Unit1.h"

namespace {

constexpr int kBufferSize = 256;

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
    requestQueue->Push('W', '-');
}

void TForm1::SaveEEClick() {
    requestQueue->Push('X', '-');
}

void TForm1::CompareEEClick() {
    requestQueue->Push('Y', '-');
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

void TForm1::CompareEepromBuffers() {
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
    SaveDialog1->setWindowTitle(QStringLiteral("Save EEPROM as"));
    SaveDialog1->selectFile(QString::fromLatin1(ups->modelName.c_str()) +
                            QString::fromLatin1(ups->serialNumber.c_str()));
    // Dump files first, text files third.
    SaveDialog1->selectNameFilter(SaveDialog1->nameFilters().value(comparison ? 2 : 0));
    // The pane keeps its lines apart with bare line feeds; the file ends them with CR LF.
    QByteArray text;
    if (comparison)
        text = ui->RichEdit6->toPlainText()
                   .replace(QLatin1Char('\n'), QLatin1String("\r\n"))
                   .toLatin1();

    const QString name = runSaveDialog();
    if (name.isEmpty())
        return;
    QFile file(name);
    // A file that cannot be created is passed over in silence.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    // The page decides what is written, not the file type picked in the dialog.
    if (comparison)
        file.write(text);
    else
        file.write(reinterpret_cast<const char*>(ups->eepromImage + bufferOffset), kBufferSize);
    file.close();
}
