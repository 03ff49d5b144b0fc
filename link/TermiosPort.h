#pragma once

#include <string>

#include "Clock.h"
#include "SerialPort.h"

namespace morlen {

// Resolves a port name: "COM1".."COM4" go to $XDG_CONFIG_HOME/Pelloran/ports/COMn when that
// exists (a link the technician or the simulator made), else to /dev/ttyS0../dev/ttyS3; a name
// starting with "/" is a device path. Returns an empty text for any other name.
std::string ResolvePortName(const std::string& name);

// Folder of the COMn links ($XDG_CONFIG_HOME/Pelloran/ports, XDG_CONFIG_HOME defaulting to
// ~/.config).
std::string PortLinkFolder();

// A serial port on a termios device. The open is exclusive: flock on the descriptor plus the
// UUCP lock file /run/lock/LCK..<device> that other serial programs honour.
class TermiosPort final : public SerialPort {
public:
    explicit TermiosPort(Clock& clock);
    ~TermiosPort() override;

    bool open(const std::string& name) override;
    bool close() override;
    OpenFailure lastOpenFailure() const override { return failure_; }
    bool isOpen() const override { return fd_ >= 0; }
    bool configure() override;
    void setTimeouts(const PortTimeouts& timeouts) override { timeouts_ = timeouts; }
    bool writeByte(std::uint8_t byte) override;
    void purgeReceive() override;
    std::size_t read(std::uint8_t* buffer, std::size_t count) override;

    // Where UUCP lock files go; tests point it elsewhere.
    static void setLockDirectory(const std::string& dir);

private:
    void releaseLockFile();
    // Records why an open of `device` failed with the system error `error`.
    void failed(const std::string& device, int error);
    // Records that another program, `pid` when known (else 0), holds `device`.
    void heldBy(const std::string& device, long pid);

    Clock& clock_;
    int fd_ = -1;
    PortTimeouts timeouts_;
    std::string lockFile_;
    OpenFailure failure_;
    bool lastWasCR_ = false;
};

}  // namespace morlen
