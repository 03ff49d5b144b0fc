#include "WireLog.h"

namespace morlen::test {

void WireLog::attach(APCUPS& ups) {
    ups.SetTransactObserver([this](char command, int replyLength, bool raw) {
        add({Transaction(command, replyLength, raw), command, true});
    });
}

void WireLog::tone(int hertz, int milliseconds) {
    add({"tone" + std::to_string(hertz) + "/" + std::to_string(milliseconds), 0, false});
}

void WireLog::note(const std::string& event) {
    add({event, 0, false});
}

std::string WireLog::take() {
    std::lock_guard lock(mutex_);
    const std::string out = Join(events_, taken_, events_.size());
    taken_ = events_.size();
    return out;
}

std::size_t WireLog::size() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

std::string WireLog::since(std::size_t from) const {
    std::lock_guard lock(mutex_);
    return Join(events_, from, events_.size());
}

std::string WireLog::commandsSince(std::size_t from) const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (std::size_t i = from; i < events_.size(); ++i)
        if (events_[i].transaction)
            out.push_back(events_[i].command);
    return out;
}

std::string WireLog::Transaction(char command, int replyLength, bool raw) {
    std::string out;
    const auto c = static_cast<unsigned char>(command);
    if (c < 32) {
        out = "^";
        out.push_back(static_cast<char>(c + 64));
    } else if (c == ' ') {
        out = "SP";
    } else {
        out.push_back(command);
    }
    out += "/" + std::to_string(replyLength);
    if (raw)
        out += "r";
    return out;
}

void WireLog::RecordingClock::sleep(Micros duration) {
    const auto ms = std::chrono::duration_cast<Millis>(duration).count();
    log_.add({"~" + std::to_string(ms), 0, false});
    inner_.sleep(duration);
}

void WireLog::add(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

std::string WireLog::Join(const std::vector<Event>& events, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (!out.empty())
            out += ' ';
        out += events[i].text;
    }
    return out;
}

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        if (!out.empty())
            out += ' ';
        out += part;
    }
    return out;
}

}  // namespace morlen::test
