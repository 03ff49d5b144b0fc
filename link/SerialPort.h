#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Clock.h"

namespace morlen {

// The five timeout values of the port, in milliseconds, in the order the link keeps them.
struct PortTimeouts {
    std::uint32_t readInterval = 600;        // longest gap between two received bytes
    std::uint32_t readTotalMultiplier = 22;  // per requested byte
    std::uint32_t readTotalConstant = 60;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

// When one read of `count` bytes started at `start` must end: the total timeout from its
// start, or the interval timeout after the last byte received, whichever comes first.
class ReadDeadline {
public:
    ReadDeadline(const PortTimeouts& t, Micros start, std::size_t count)
        : total_(start + Millis(std::int64_t(t.readTotalMultiplier) * std::int64_t(count) +
                                t.readTotalConstant)),
          interval_(Millis(t.readInterval)),
          end_(total_) {}
    // A byte (NUL included: it still arrived) came in at `at`.
    void byteArrived(Micros at) { end_ = std::min(total_, at + interval_); }
    Micros end() const { return end_; }

private:
    Micros total_;
    Micros interval_;
    Micros end_;
};

// Why the last open of a port failed, in terms a technician can act on. It only explains:
// the open's result and everything sent on the line stay as they are.
struct OpenFailure {
    enum class Reason : std::uint8_t {
        None,              // the last open succeeded, or the port cannot tell
        PermissionDenied,  // the user may not use the device
        HeldByOther,       // another program has the port (lock file or exclusive lock)
        NoDevice,          // nothing at that name: adapter not plugged in, name points nowhere
        Other,             // anything else; `message` is the system's text
    };
    Reason reason = Reason::None;
    std::string device;   // the device path the open was for (empty for an unknown name)
    std::string owner;    // PermissionDenied: the user that owns the device
    std::string group;    // PermissionDenied: the group that owns the device
    unsigned mode = 0;    // PermissionDenied: the device's permission bits (0660, ...)
    std::string holder;   // HeldByOther: the holding program's name, when known
    long holderPid = 0;   // HeldByOther: its process id, 0 when none is known to hold it now
    std::string message;  // Other: the system's message
};

// One serial port as the UPS link uses it. Implementations: the termios port, and the
// in-process simulated line used by tests.
//
// read(buf, n) returns when n bytes have arrived, when more than readInterval ms pass between
// two bytes (once the first has come), or when readTotalMultiplier * n + readTotalConstant ms
// have passed since the call began, whichever comes first. It also returns as soon as a
// CR LF pair has arrived (a pair split over two reads counts). A failed device ends the read
// at once with what arrived. NUL bytes received on the line are discarded.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the named port exclusively ("COM1".."COM4" or a device path).
    virtual bool open(const std::string& name) = 0;
    // Why the last open failed; Reason::None after a successful one.
    virtual OpenFailure lastOpenFailure() const { return {}; }
    // Releases the port; false if the release failed.
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;
    // 2400 baud, 8 data bits, no parity, 1 stop bit, raw, no flow control, discard NUL.
    virtual bool configure() = 0;
    virtual void setTimeouts(const PortTimeouts& timeouts) = 0;
    virtual bool writeByte(std::uint8_t byte) = 0;
    // Throws away every received byte not yet read.
    virtual void purgeReceive() = 0;
    virtual std::size_t read(std::uint8_t* buffer, std::size_t count) = 0;
};

}  // namespace morlen
