#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "Apcups.h"
#include "Clock.h"

namespace morlen::test {

// Everything an operation does on the line, in order, as one text a test compares against:
//   "Y/2"       a transaction: command byte "Y", reply length 2, filtered read
//   "^Z/1000r"  the same with a raw read (control bytes are written ^A, ^B, ..., ^M, and
//               a blank SP)
//   "1/0"       reply length 0: the byte is written, nothing is read
//   "~1500"     a pause of 1500 ms through the clock
//   "tone2000/500" a tone of 2000 Hz for 500 ms
// and any note a test adds (for example the colour of a flashed control). Events are
// separated by one space.
class WireLog {
public:
    // `inner` is the clock the program's pauses are passed on to.
    explicit WireLog(Clock& inner) : clock_(*this, inner) {}

    // The clock to give the UPS object: its pauses are logged, then taken on `inner`.
    Clock& clock() { return clock_; }
    // Logs every transaction of `ups` from now on.
    void attach(APCUPS& ups);

    void tone(int hertz, int milliseconds);
    void note(const std::string& event);

    // Every event since the last take, and forgets them.
    std::string take();
    // Events logged so far (an index to pass to since()).
    std::size_t size() const;
    std::string since(std::size_t from) const;
    // The same, command bytes only.
    std::string commandsSince(std::size_t from) const;

    // The text of one transaction, as logged.
    static std::string Transaction(char command, int replyLength, bool raw = false);

private:
    class RecordingClock final : public Clock {
    public:
        RecordingClock(WireLog& log, Clock& inner) : log_(log), inner_(inner) {}
        Micros now() const override { return inner_.now(); }
        std::chrono::year_month_day today() const override { return inner_.today(); }
        void sleep(Micros duration) override;

    private:
        WireLog& log_;
        Clock& inner_;
    };
    struct Event {
        std::string text;
        char command;  // 0 for anything but a transaction
        bool transaction;
    };
    void add(Event event);
    static std::string Join(const std::vector<Event>& events, std::size_t from, std::size_t to);

    RecordingClock clock_;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::size_t taken_ = 0;
};

// `part` `times` times, joined by single spaces: repeat("P/5 -/5 P/5", 3).
std::string Repeat(const std::string& part, int times);

}  // namespace morlen::test
