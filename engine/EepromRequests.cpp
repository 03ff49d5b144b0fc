// The EEPROM page's requests on the poll thread: "W" reads the unit's EEPROM into the buffer
// the page shows, "X" and "Y" run the save dialog and the comparison on the window thread.
#include <QProgressBar>
#include <QTabWidget>
#include <cstdint>

#include "Apcdynamicdata.h"
#include "Apcups.h"
#include "RequestHandling.h"
#include "Unit1.h"

namespace morlen {
namespace {

const QString kEepromHashConstantText =
    QStringLiteral("The EEPROM cannot be read on this UPS: \"#\" is a calibration constant here.");

// The unit reports the address it stands at ("#"); each "+" moves it on by one and answers the
// byte there. One round of 255 steps stores every byte at its own address in the buffer at
// `offset`, except the byte at the start address, which keeps what the buffer held.
void ReadEepromBuffer(TForm1& form, APCDynamicData& thread, std::uint16_t offset) {
    APCUPS& ups = *form.ups;
    QProgressBar* bar = form.ui->ProgressBar1;
    thread.RunOnWindowThread([bar] { bar->setMaximum(255); });

    // Only a reply of exactly two hex digits is a byte read. Every other reply to a step
    // ("NA", "NO", one digit, three characters, nothing) is counted, so that the buffer is not
    // taken for a whole image; what is stored is still what the conversion makes of it. A unit
    // that lost its cable halfway still gets all 255 steps, and the buffer then holds the last
    // byte read over and over.
    int unread = 0;
    std::uint8_t start = 0;
    const char* begin = ups.EepromBegin();
    if (!IsHexByte(begin)) {
        // The unit did not take "#" (no answer, "NA", no address): each "+" would step whatever
        // it had selected before. The request says which selection failed.
        return;
    }
    HexByte(begin, start);
    thread.RunOnWindowThread([bar] { bar->show(); });

    std::uint8_t byte = start;
    auto i = static_cast<std::uint8_t>(start + 1);
    do {
        const int position = i > start ? i - start : i + 255 - start;
        thread.RunOnWindowThread([bar, position] { bar->setValue(position); });
        // A reply the conversion cannot read repeats the byte before it.
        const char* reply = ups.EepromNext();
        if (!IsHexByte(reply))
            ++unread;
        HexByte(reply, byte);
        ups.eepromImage[offset + i] = byte;
        ++i;
    } while (i != start);

    thread.RunOnWindowThread([bar] { bar->hide(); });
    thread.RunOnWindowThread([&form, unread] { form.EepromBufferRead(unread); });
}

}  // namespace

void RequestHandler::AddEepromRows() {
    add('W', [this](char) {
        // On these units "#" is a calibration constant: 255 "+" would step it round.
        // Also on the line's smaller units, which show no "#" constant: nothing says their "#"
        // is not one.
        if (ups_.usesConstHash || ups_.hashConstantLine) {
            thread_.RunOnWindowThread([this] { form_.showRequestNote(kEepromHashConstantText); });
            return;
        }
        // The buffer is chosen once; with the page control disabled it cannot change under the
        // read. The poll loop enables it again after every request.
        std::uint16_t offset = 0;
        thread_.RunOnWindowThread([this, &offset] {
            form_.ui->PageControl2->setEnabled(false);
            offset = form_.bufferOffset;
        });
        ReadEepromBuffer(form_, thread_, offset);
    });
    // The poll thread waits for the dialog and the file, so the unit hears nothing meanwhile.
    add('X', [this](char) { thread_.RunOnWindowThread([this] { form_.SaveEepromDialog(); }); });
    add('Y', [this](char) { thread_.RunOnWindowThread([this] { form_.CompareEepromBuffers(); }); });
}

}  // namespace morlen
