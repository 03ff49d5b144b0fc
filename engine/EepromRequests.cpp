// The EEPROM page's requests on the poll thread: "W" reads the unit's EEPROM into the buffer
// the page shows, "X" and "Y" run the save dialog and the comparison on the window thread.
#include <cstdint>

#include "Apcups.h"
#include "RequestHandling.h"

namespace morlen {
namespace {

const QString kEepromHashConstantText =
    QStringLiteral("The EEPROM cannot be read on this UPS: \"#\" is a calibration constant here.");

// One round of the unit's address: 255 steps, each answering the byte at the next address.
constexpr int kEepromSteps = 255;

}  // namespace

void RequestHandler::AddEepromRows() {
    add(Request::ReadEeprom, [this](char) {
        // On these units "#" is a calibration constant: 255 "+" would step it round.
        // Also on the line's smaller units, which show no "#" constant: nothing says their "#"
        // is not one.
        if (ups_.usesConstHash || ups_.hashConstantLine) {
            onWindow([](View& view) { view.showRequestNote(kEepromHashConstantText); });
            return;
        }
        // The buffer is chosen once; the view holds the choice until the request ends.
        std::uint16_t offset = 0;
        onWindow([&offset](View& view) { offset = view.beginEepromRead(kEepromSteps); });

        // The unit reports the address it stands at ("#"); each "+" moves it on by one and
        // answers the byte there. One round stores every byte at its own address in the buffer
        // at `offset`, except the byte at the start address, which keeps what the buffer held.
        //
        // Only a reply of exactly two hex digits is a byte read. Every other reply to a step
        // ("NA", "NO", one digit, three characters, nothing) is counted, so that the buffer is
        // not taken for a whole image; what is stored is still what the conversion makes of it.
        // A unit that lost its cable halfway still gets all 255 steps, and the buffer then
        // holds the last byte read over and over.
        int unread = 0;
        std::uint8_t start = 0;
        const char* begin = ups_.EepromBegin();
        if (!IsHexByte(begin)) {
            // The unit did not take "#" (no answer, "NA", no address): each "+" would step
            // whatever it had selected before. The request says which selection failed.
            return;
        }
        HexByte(begin, start);

        std::uint8_t byte = start;
        auto i = static_cast<std::uint8_t>(start + 1);
        do {
            const int position = i > start ? i - start : i + kEepromSteps - start;
            onWindow([position](View& view) { view.showEepromProgress(position); });
            // A reply the conversion cannot read repeats the byte before it.
            const char* reply = ups_.EepromNext();
            if (!IsHexByte(reply))
                ++unread;
            HexByte(reply, byte);
            ups_.eepromImage[offset + i] = byte;
            ++i;
        } while (i != start);

        onWindow([unread](View& view) { view.endEepromRead(unread); });
    });
    // The poll thread waits for the dialog and the file, so the unit hears nothing meanwhile.
    add(Request::SaveEeprom, [this](char) { onWindow([](View& view) { view.saveEeprom(); }); });
    add(Request::CompareEeprom,
        [this](char) { onWindow([](View& view) { view.compareEeprom(); }); });
}

}  // namespace morlen
