// Answers every command of the UPS object with arbitrary bytes (NULs, alert characters,
// overlong replies, no line end, silence, slow bytes) and runs every read operation.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "Apcups.h"
#include "SimLine.h"

using namespace morlen;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    VirtualClock clock;
    auto line =
        std::make_unique<sim::SimLine>(clock, [&input](std::uint8_t, Micros at, sim::SimLine& l) {
            if (input.remaining_bytes() == 0)
                return;  // silence
            const auto latency = Millis(input.ConsumeIntegralInRange<int>(0, 900));
            const auto gap = Millis(input.ConsumeIntegralInRange<int>(0, 3) == 0
                                        ? input.ConsumeIntegralInRange<int>(0, 800)
                                        : 0);
            const std::string reply = input.ConsumeRandomLengthString(1200);
            l.send(reply, at + latency, gap);
        });
    APCUPS ups(std::move(line), clock);
    ups.OpenPort("COM1");

    const int first = input.ConsumeIntegralInRange<int>(0, 5);
    ups.family = static_cast<std::int16_t>(first);
    ups.isThirdGen = input.ConsumeBool();
    ups.CheckSmartMode();
    ups.ReadMeasurements();
    ups.ReadStatusRegisters();
    ups.ReadFirmware();
    ups.TransactRaw(cmd::CtrlZ, 1000);
    ups.ReadModelName();
    ups.Identify();
    ups.ReadAllSettings();
    ups.ReadModelCode();
    ups.EepromBegin();
    ups.EepromNext();
    return 0;
}
