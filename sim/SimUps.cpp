#include "SimUps.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace morlen::sim {

namespace {

const Profile& Named(std::string_view name) {
    const Profile* p = FindProfile(name);
    if (p == nullptr)
        throw std::invalid_argument("unknown profile: " + std::string(name));
    return *p;
}

}  // namespace

SimUps::SimUps(VirtualClock& clock, const Profile& profile)
    : clock_(clock), model_(profile), link_(std::make_shared<Link>(Link{this})) {}

SimUps::SimUps(VirtualClock& clock, std::string_view profileName)
    : SimUps(clock, Named(profileName)) {}

SimUps::~SimUps() {
    link_->unit = nullptr;
}

std::unique_ptr<SimLine> SimUps::makeLine() {
    auto line = std::make_unique<SimLine>(clock_);
    attach(*line);
    return line;
}

void SimUps::attach(SimLine& line) {
    std::shared_ptr<Link> link = link_;
    line.setFarEnd([link](std::uint8_t byte, Micros received, SimLine& l) {
        if (link->unit != nullptr)
            link->unit->onByte(byte, received, l);
    });
    line.setPump([link](Micros upTo, SimLine& l) {
        if (link->unit != nullptr)
            link->unit->pump(upTo, l);
    });
}

void SimUps::dropReplyByte(std::size_t index) {
    faults_.push_back({Fault::Drop, index, 0});
}

void SimUps::garbleReplyByte(std::size_t index, std::uint8_t replacement) {
    faults_.push_back({Fault::Garble, index, replacement});
}

void SimUps::insertAlertInReply(std::size_t index, char alert) {
    faults_.push_back({Fault::Insert, index, static_cast<std::uint8_t>(alert)});
}

std::string SimUps::applyFaults(std::string reply) {
    // Indexes refer to the reply as the unit meant it; apply from the back so that an
    // insertion or a drop does not shift the others.
    std::stable_sort(faults_.begin(), faults_.end(),
                     [](const Fault& a, const Fault& b) { return a.index > b.index; });
    for (const Fault& f : faults_) {
        switch (f.kind) {
            case Fault::Drop:
                if (f.index < reply.size())
                    reply.erase(f.index, 1);
                break;
            case Fault::Garble:
                if (f.index < reply.size())
                    reply[f.index] = static_cast<char>(f.byte);
                break;
            case Fault::Insert:
                reply.insert(std::min(f.index, reply.size()), 1, static_cast<char>(f.byte));
                break;
        }
    }
    faults_.clear();
    return reply;
}

void SimUps::clearFaults() {
    faults_.clear();
    pending_.clear();
    override_.reset();
    refuseStep_ = false;
}

void SimUps::onByte(std::uint8_t byte, Micros received, SimLine& line) {
    // The faults due at this byte, in the order they were asked for.
    bool lose = false, refuse = false;
    std::uint8_t hit = 0;
    std::optional<std::string> replacement;
    const bool asCommand = !model_.inText();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->command && (*it->command != byte || !asCommand)) {
            ++it;
            continue;
        }
        if (it->skip-- > 0) {
            ++it;
            continue;
        }
        switch (it->kind) {
            case Pending::Lose:
                lose = true;
                hit |= HitLost;
                break;
            case Pending::Refuse:
                refuse = true;
                hit |= HitRefused;
                break;
            case Pending::Replace:
                replacement = it->bytes;
                break;
            case Pending::Restart:
                model_.restart(received);
                hit |= HitRestart;
                break;
            case Pending::Unplug:
                plugged_ = false;
                hit |= HitUnplugged;
                break;
        }
        it = pending_.erase(it);
    }
    if (!plugged_ || lose) {
        log_.push_back({received, byte, std::nullopt, plugged_, Taken::Ignored, 0, hit});
        return;
    }
    // A step is a step only where the unit is not in the middle of a text.
    if (refuseStep_ && (byte == '+' || byte == '-') && model_.smartMode() && !model_.inText()) {
        refuseStep_ = false;
        refuse = true;
        hit |= HitRefused;
    }
    if (refuse) {
        const std::string na = "NA\r\n";
        log_.push_back({received, byte, na, true, Taken::Refused, 0, hit});
        send(na, received, line);
        return;
    }
    std::optional<std::string> reply = model_.receive(byte, received);
    // Garbage stands for a reply spoiled on its way: a refusal is no answer to spoil into one.
    if (replacement && reply && !model_.lastRefused()) {
        reply = replacement;
        hit |= HitReplaced;
    }
    if (override_ && override_->command == byte && override_->skip-- == 0) {
        reply = override_->reply + "\r\n";
        override_.reset();
    }
    log_.push_back({received, byte, reply, true, model_.lastTaken(), model_.lastTarget(), hit});
    if (!reply || reply->empty())
        return;
    send(applyFaults(*reply), received, line);
}

void SimUps::send(const std::string& bytes, Micros received, SimLine& line) {
    Micros t = std::max(received + latency_, busyUntil_);
    replyStart_ = t;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            t += gap_;
        t += kByteTime;
        line.sendAt(static_cast<std::uint8_t>(bytes[i]), t);
    }
    busyUntil_ = t;
}

void SimUps::pump(Micros upTo, SimLine& line) {
    // One alert time at a time, so the model never runs ahead of what the line delivers.
    for (;;) {
        const auto next = model_.nextAlertTime(clock_.now());
        if (!next || *next > upTo)
            return;
        for (const Alert& a : model_.takeAlerts(*next)) {
            if (!plugged_)
                continue;  // sent into a pulled cable
            // The line carries one byte at a time: an alert that would collide with the
            // reply being sent waits for its end.
            Micros start = a.at;
            if (start < busyUntil_ && start + kByteTime > replyStart_)
                start = busyUntil_;
            line.sendAt(static_cast<std::uint8_t>(a.byte), start + kByteTime);
            if (start >= replyStart_)
                busyUntil_ = std::max(busyUntil_, start + kByteTime);
        }
    }
}

std::string Escape(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string TraceLine(Micros at, std::uint8_t command, const std::optional<std::string>& reply) {
    char head[64];
    std::snprintf(head, sizeof head, "%10.6f ", static_cast<double>(at.count()) / 1e6);
    std::string line = head;
    line += Escape(std::string(1, static_cast<char>(command)));
    line += reply ? " -> \"" + Escape(*reply) + "\"" : std::string(" -> (silent)");
    return line;
}

}  // namespace morlen::sim
