#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace morlen {

using Micros = std::chrono::microseconds;
using Millis = std::chrono::milliseconds;

// Every wait in the program (serial deadlines, pauses, tones) goes through a Clock, so that
// tests can run the same code in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time since an arbitrary origin.
    virtual Micros now() const = 0;
    virtual void sleep(Micros duration) = 0;
    // Today as the calendar has it: the dates written to a unit start from it.
    virtual std::chrono::year_month_day today() const;

    void sleepMs(std::int64_t ms) { sleep(Millis(ms)); }
};

// Wall-clock implementation backed by std::chrono::steady_clock.
class SystemClock final : public Clock {
public:
    Micros now() const override;
    void sleep(Micros duration) override;
};

// The process-wide real clock.
Clock& systemClock();

// Time that only moves when somebody sleeps or advances it. Sleeping returns at once.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(Micros start = Micros(0)) : now_(start.count()) {}
    Micros now() const override { return Micros(now_.load()); }
    void sleep(Micros duration) override { advance(duration); }
    void advance(Micros duration) {
        if (duration.count() > 0)
            now_ += duration.count();
    }
    std::chrono::year_month_day today() const override {
        return std::chrono::year_month_day(std::chrono::sys_days(std::chrono::days(today_.load())));
    }
    void setToday(std::chrono::year_month_day day) {
        today_ = std::chrono::sys_days(day).time_since_epoch().count();
    }
    // Moves time forward to t; never backwards.
    void advanceTo(Micros t) {
        std::int64_t cur = now_.load();
        while (t.count() > cur && !now_.compare_exchange_weak(cur, t.count())) {
        }
    }

private:
    std::atomic<std::int64_t> now_;
    // A fixed day, so that nothing a test compares depends on when it runs.
    std::atomic<std::int64_t> today_{
        std::chrono::sys_days(std::chrono::year(2026) / 1 / 15).time_since_epoch().count()};
};

}  // namespace morlen
