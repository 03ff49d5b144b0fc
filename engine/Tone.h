#pragma once

#include <chrono>
#include <functional>
#include <memory>
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

// Plays a tone on a sound device; it must return by `deadline`, giving up on a device that
// cannot play now.
using TonePlayer = std::function<void(int hertz, int milliseconds,
                                      std::chrono::steady_clock::time_point deadline)>;

// The default sound device, opened without blocking: a device held by another program, or
// none at all, means no sound.
void PlayOnSoundDevice(int hertz, int milliseconds, std::chrono::steady_clock::time_point deadline);

// Plays each tone on its own thread while the caller waits on the clock, so a machine without
// sound keeps the same timing. A tone never holds anyone longer than its own length: the next
// tone, and the destructor, wait for a playing one only until its length is over, and leave a
// player stuck in the sound system behind.
class SystemTone final : public Tone {
public:
    explicit SystemTone(Clock& clock, TonePlayer player = PlayOnSoundDevice);
    ~SystemTone() override;
    void Beep(int hertz, int milliseconds) override;

private:
    struct Playing;
    void finishPrevious();

    Clock& clock_;
    TonePlayer player_;
    std::mutex mutex_;
    std::shared_ptr<Playing> playing_;
    std::thread thread_;
};

}  // namespace morlen
