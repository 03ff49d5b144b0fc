#pragma once

#include <mutex>
#include <thread>

#include "Clock.h"

namespace morlen {

// The confirmation tone. The caller is held for the tone's whole length through the clock,
// so code that beeps runs in virtual time under test.
class Tone {
public:
    virtual ~Tone() = default;
    virtual void Beep(int hertz, int milliseconds) = 0;
};

// Plays a sine wave on the default sound device, when there is one; the caller waits on the
// clock either way, so a machine without sound keeps the same timing.
class SystemTone final : public Tone {
public:
    explicit SystemTone(Clock& clock) : clock_(clock) {}
    ~SystemTone() override;
    void Beep(int hertz, int milliseconds) override;

private:
    Clock& clock_;
    std::mutex mutex_;
    std::thread player_;
};

}  // namespace morlen
