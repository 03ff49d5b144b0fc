#include "Clock.h"

#include <thread>

namespace morlen {

Micros SystemClock::now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleep(Micros duration) {
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace morlen
