#include "ScriptedUnit.h"

namespace morlen::test {

ScriptedUnit::ScriptedUnit() {
    auto line = std::make_unique<sim::SimLine>(
        clock_, [this](std::uint8_t b, Micros at, sim::SimLine& l) { receive(b, at, l); });
    line_ = line.get();
    ups_ = std::make_unique<APCUPS>(std::move(line), clock_);
    ups_->OpenPort("COM1");
}

ScriptedUnit& ScriptedUnit::on(char command, std::string reply, bool raw) {
    if (!raw)
        reply += "\r\n";
    replies_[command] = {std::move(reply)};
    return *this;
}

ScriptedUnit& ScriptedUnit::sequence(char command, std::initializer_list<std::string> replies) {
    auto& q = replies_[command];
    q.clear();
    for (const auto& r : replies)
        q.push_back(r + "\r\n");
    return *this;
}

ScriptedUnit& ScriptedUnit::silent(char command) {
    replies_.erase(command);
    return *this;
}

std::string ScriptedUnit::takeWritten() {
    std::string w = line_->written();
    line_->clearWritten();
    return w;
}

void ScriptedUnit::receive(std::uint8_t byte, Micros at, sim::SimLine& line) {
    if (handler_) {
        if (auto reply = handler_(static_cast<char>(byte))) {
            line.send(*reply + "\r\n", at + latency_, gap_);
            return;
        }
    }
    auto it = replies_.find(static_cast<char>(byte));
    if (it == replies_.end() || it->second.empty())
        return;
    const std::string reply = it->second.front();
    if (it->second.size() > 1)
        it->second.pop_front();
    line.send(reply, at + latency_, gap_);
}

}  // namespace morlen::test
