#pragma once

#include <chrono>
#include <functional>
#include <memory>

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

// Plays each tone on a player thread while the caller waits on the clock, so a machine without
// sound keeps the same timing. There is one player at most, as a device without mixing takes
// one tone at a time: a tone asked for while it plays waits for it and gets what is left of its
// own length; one whose length is over by then is skipped, so a stalled device holds nobody and
// piles up nothing. The player owns all it uses: the close waits for a playing tone only until
// its length is over and leaves a stuck player behind; the process's end waits a little for it.
class SystemTone final : public Tone {
public:
    explicit SystemTone(Clock& clock, TonePlayer player = PlayOnSoundDevice);
    ~SystemTone() override;
    void Beep(int hertz, int milliseconds) override;

private:
    struct Shared;

    Clock& clock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace morlen
