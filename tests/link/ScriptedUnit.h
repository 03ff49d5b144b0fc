#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Apcups.h"
#include "SimLine.h"

namespace morlen::test {

// A far end that answers from a script: per command byte, a queue of replies (the last one
// repeats), each sent after a latency at line speed. Unscripted commands get no answer.
class ScriptedUnit {
public:
    ScriptedUnit();

    // Reply text for a command; CR LF is appended unless `raw` is set.
    ScriptedUnit& on(char command, std::string reply, bool raw = false);
    // Several successive replies; the last one repeats.
    ScriptedUnit& sequence(char command, std::initializer_list<std::string> replies);
    ScriptedUnit& silent(char command);
    // Stateful answers: consulted first; a value is sent (with CR LF), nullopt falls back to
    // the script.
    using Handler = std::function<std::optional<std::string>(char command)>;
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    // A gap added between the bytes of every reply.
    void setGap(Micros gap) { gap_ = gap; }
    void setLatency(Micros latency) { latency_ = latency; }

    // An APCUPS whose port is this unit's line, already open on "COM1".
    APCUPS& ups() { return *ups_; }
    sim::SimLine& line() { return *line_; }
    VirtualClock& clock() { return clock_; }
    // Bytes the host wrote since the last call.
    std::string takeWritten();

private:
    void receive(std::uint8_t byte, Micros at, sim::SimLine& line);

    VirtualClock clock_;
    sim::SimLine* line_ = nullptr;
    std::unique_ptr<APCUPS> ups_;
    std::map<char, std::deque<std::string>> replies_;
    Handler handler_;
    Micros latency_{40000};
    Micros gap_{0};
};

}  // namespace morlen::test
