#include "SimLine.h"

#include <algorithm>

namespace morlen::sim {

SimLine::SimLine(VirtualClock& clock, FarEnd farEnd) : clock_(clock), farEnd_(std::move(farEnd)) {}

void SimLine::send(std::string_view bytes, Micros start, Micros extraGap) {
    Micros t = start;
    for (unsigned char c : bytes) {
        t += kByteTime;
        sendAt(c, t);
        t += extraGap;
    }
}

void SimLine::sendAt(std::uint8_t byte, Micros arrival) {
    // Keep the queue ordered by arrival; equal times keep their sending order.
    auto it = std::upper_bound(queue_.begin(), queue_.end(), arrival,
                               [](Micros t, const TimedByte& b) { return t < b.arrival; });
    queue_.insert(it, TimedByte{byte, arrival});
}

bool SimLine::open(const std::string& name) {
    lastName_ = name;
    if (open_ || failed_)
        return false;  // exclusive
    if (!openable_.empty() &&
        std::find(openable_.begin(), openable_.end(), name) == openable_.end())
        return false;
    open_ = true;
    ++openCount_;
    return true;
}

bool SimLine::close() {
    if (!open_)
        return false;
    open_ = false;
    ++closeCount_;
    return true;
}

bool SimLine::writeByte(std::uint8_t byte) {
    if (!open_ || failed_)
        return false;
    written_.push_back(static_cast<char>(byte));
    if (pump_)
        pump_(clock_.now(), *this);
    if (farEnd_)
        farEnd_(byte, clock_.now() + kByteTime, *this);
    return true;
}

void SimLine::purgeReceive() {
    const Micros now = clock_.now();
    if (pump_)
        pump_(now, *this);
    while (!queue_.empty() && queue_.front().arrival <= now)
        queue_.pop_front();
    lastWasCR_ = false;
}

std::size_t SimLine::read(std::uint8_t* buffer, std::size_t count) {
    if (!open_ || count == 0)
        return 0;
    if (failed_)
        return 0;
    ReadDeadline readDeadline(timeouts_, clock_.now(), count);
    std::size_t got = 0;
    while (got < count) {
        const Micros deadline = readDeadline.end();
        if (pump_) {
            // Only as far as the read is sure to get: the next queued byte or the deadline.
            Micros upTo = deadline;
            if (!queue_.empty() && queue_.front().arrival < upTo)
                upTo = queue_.front().arrival;
            pump_(upTo, *this);
        }
        if (queue_.empty() || queue_.front().arrival > deadline) {
            clock_.advanceTo(deadline);
            return got;
        }
        const TimedByte b = queue_.front();
        queue_.pop_front();
        clock_.advanceTo(b.arrival);
        readDeadline.byteArrived(b.arrival);
        if (b.byte == 0)
            continue;  // discard-NUL: never reaches the buffer
        buffer[got++] = b.byte;
        const bool crlf = lastWasCR_ && b.byte == '\n';
        lastWasCR_ = b.byte == '\r';
        if (crlf)
            break;
    }
    return got;
}

}  // namespace morlen::sim
