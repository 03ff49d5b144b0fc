#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Clock.h"
#include "SerialPort.h"

namespace morlen::sim {

// One byte on its way to the host, and the time its last bit arrives.
struct TimedByte {
    std::uint8_t byte;
    Micros arrival;
};

// At 2400 baud with 10 bits a byte, one byte takes 4166.7 microseconds on the line.
constexpr Micros kByteTime{4167};

// An in-process serial line in virtual time: a SerialPort whose far end is a callback. Every
// byte the host writes is logged and handed to the far end, which schedules the bytes it
// sends back with their arrival times. read() reproduces the port's timeout rules exactly,
// moving the virtual clock forward as it waits.
class SimLine final : public SerialPort {
public:
    // Called with each byte the host writes and the time its last bit reached the far end.
    using FarEnd = std::function<void(std::uint8_t byte, Micros received, SimLine& line)>;

    // Called before the line looks at its queue, with the time up to which it is about to
    // look: a far end that talks unprompted (alerts) queues what it sends up to then.
    using Pump = std::function<void(Micros upTo, SimLine& line)>;

    explicit SimLine(VirtualClock& clock, FarEnd farEnd = nullptr);

    void setFarEnd(FarEnd farEnd) { farEnd_ = std::move(farEnd); }
    void setPump(Pump pump) { pump_ = std::move(pump); }
    VirtualClock& clock() { return clock_; }

    // The far end sends bytes: the first arrives at `start` + kByteTime, each next one a byte
    // time later (a gap can be added between bytes).
    void send(std::string_view bytes, Micros start, Micros extraGap = Micros(0));
    void sendAt(std::uint8_t byte, Micros arrival);

    // Names that open() accepts; empty means any name.
    void setOpenableNames(std::vector<std::string> names) { openable_ = std::move(names); }
    // A failed device: reads and writes fail at once, as a pulled USB adapter.
    void setFailed(bool failed) { failed_ = failed; }

    // Every byte the host wrote, in order.
    const std::string& written() const { return written_; }
    void clearWritten() { written_.clear(); }
    const PortTimeouts& timeouts() const { return timeouts_; }
    int openCount() const { return openCount_; }
    int closeCount() const { return closeCount_; }
    const std::string& lastOpenedName() const { return lastName_; }
    std::size_t pending() const { return queue_.size(); }

    bool open(const std::string& name) override;
    bool close() override;
    bool isOpen() const override { return open_; }
    bool configure() override { return open_; }
    void setTimeouts(const PortTimeouts& timeouts) override { timeouts_ = timeouts; }
    bool writeByte(std::uint8_t byte) override;
    void purgeReceive() override;
    std::size_t read(std::uint8_t* buffer, std::size_t count) override;

private:
    VirtualClock& clock_;
    FarEnd farEnd_;
    Pump pump_;
    std::deque<TimedByte> queue_;  // sorted by arrival
    std::vector<std::string> openable_;
    std::string written_;
    std::string lastName_;
    PortTimeouts timeouts_;
    bool open_ = false;
    bool failed_ = false;
    bool lastWasCR_ = false;
    int openCount_ = 0;
    int closeCount_ = 0;
};

}  // namespace morlen::sim
