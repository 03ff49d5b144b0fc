#pragma once

#include "Clock.h"
#include "Tone.h"
#include "WireLog.h"

namespace morlen::test {

// A tone that goes into the wire log and holds its caller for its length in virtual time.
class LoggedTone final : public Tone {
public:
    LoggedTone(WireLog& log, Clock& clock) : log_(log), clock_(clock) {}
    void Beep(int hertz, int milliseconds) override {
        log_.tone(hertz, milliseconds);
        clock_.sleepMs(milliseconds);
    }

private:
    WireLog& log_;
    Clock& clock_;
};

}  // namespace morlen::test
