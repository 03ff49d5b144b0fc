#include "Clock.h"

#include <ctime>
#include <thread>

namespace morlen {

std::chrono::year_month_day Clock::today() const {
    // The technician's local day, as the unit's date is meant.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::chrono::year(local.tm_year + 1900) /
           std::chrono::month(unsigned(local.tm_mon + 1)) /
           std::chrono::day(unsigned(local.tm_mday));
}

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
