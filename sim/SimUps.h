#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Profile.h"
#include "SimLine.h"
#include "UpsModel.h"

namespace morlen::sim {

// The injected faults that hit a byte (bits of Exchange::hit).
enum FaultHit : std::uint8_t {
    HitLost = 1,        // lost on the line
    HitRefused = 2,     // answered "NA" by the front end (a refused byte or step)
    HitReplaced = 4,    // its reply replaced
    HitRestart = 8,     // the unit restarted just before it
    HitUnplugged = 16,  // the cable pulled just before it
};

// One command the unit received and what it answered (nothing when it stayed silent).
struct Exchange {
    Micros at;  // when the command byte had fully arrived
    std::uint8_t command;
    std::optional<std::string> reply;
    bool plugged = true;           // false: the cable was out, the unit never saw the byte
    Taken taken = Taken::Ignored;  // how the unit took it
    char target = 0;               // for a change or a text write: whose value
    std::uint8_t hit = 0;          // the faults that hit it (FaultHit bits)
};

// The in-process front end: a UpsModel at the far end of a SimLine, in virtual time. Replies
// start after the reply latency and go out at line speed; faults can be injected.
//
// The unit may be destroyed before or after its line: a line that outlives it just stops
// getting answers.
//
//     VirtualClock clock;
//     SimUps unit(clock, "su1000");
//     APCUPS ups(unit.makeLine(), clock);
class SimUps {
public:
    SimUps(VirtualClock& clock, const Profile& profile);
    // Throws std::invalid_argument for an unknown profile name.
    SimUps(VirtualClock& clock, std::string_view profileName);
    ~SimUps();
    SimUps(const SimUps&) = delete;
    SimUps& operator=(const SimUps&) = delete;

    // A new line wired to this unit, to hand to APCUPS.
    std::unique_ptr<SimLine> makeLine();
    // Wires an existing line to this unit (replacing its far end).
    void attach(SimLine& line);

    UpsModel& model() { return model_; }
    VirtualClock& clock() { return clock_; }

    // Processing time before the first byte of a reply (40 ms by default).
    void setLatency(Micros latency) { latency_ = latency; }
    Micros latency() const { return latency_; }

    // ---- Faults ----
    // Cable pulled: the unit hears nothing and nothing it sends arrives.
    void unplug() { plugged_ = false; }
    void plug() { plugged_ = true; }
    bool plugged() const { return plugged_; }
    // A slow unit: this much extra time between the bytes of every reply.
    void setByteGap(Micros gap) { gap_ = gap; }
    // The next reply loses its byte at `index` (counting the bytes of the reply, CR LF
    // included).
    void dropReplyByte(std::size_t index);
    // The next reply carries `replacement` instead of its byte at `index`.
    void garbleReplyByte(std::size_t index, std::uint8_t replacement);
    // The next reply has an alert character before its byte at `index`.
    void insertAlertInReply(std::size_t index, char alert);
    // A later `command` is answered `reply` (CR LF added) instead, once: the one after `skip`
    // more of it have been answered as usual. The unit's state moves as for the usual reply.
    void answerOnce(char command, std::string reply, int skip = 0) {
        override_ = Override{static_cast<std::uint8_t>(command), std::move(reply), skip};
    }
    // Faults on a coming byte, after `skip` bytes have passed untouched:
    //   loseByte: the byte is lost on the line; the unit neither hears nor answers it;
    //   refuseByte: the unit answers "NA" and does nothing else (it does not even select);
    //   replaceReply: the unit acts on the byte, but `bytes` go out instead of its reply (a
    //     command the unit refuses keeps its "NA": the fault is used up);
    //   restartBefore: the unit restarts just before the byte reaches it;
    //   unplugBefore: the cable is pulled just before the byte.
    void loseByte(int skip = 0) { pend(Pending::Lose, skip); }
    void refuseByte(int skip = 0) { pend(Pending::Refuse, skip); }
    void replaceReply(std::string bytes, int skip = 0) {
        pend(Pending::Replace, skip, std::move(bytes));
    }
    void restartBefore(int skip = 0) { pend(Pending::Restart, skip); }
    void unplugBefore(int skip = 0) { pend(Pending::Unplug, skip); }
    // The same faults aimed at a command rather than a position: they hit a coming `command`
    // the unit takes as a command (not as a character of a text), the one after `skip` more of
    // it have passed untouched. A refused or lost selection leaves the earlier one in place.
    void refuseCommand(char command, int skip = 0) { pendOn(command, Pending::Refuse, skip); }
    void loseCommand(char command, int skip = 0) { pendOn(command, Pending::Lose, skip); }
    void replaceReplyTo(char command, std::string bytes, int skip = 0) {
        pendOn(command, Pending::Replace, skip, std::move(bytes));
    }
    void restartBeforeCommand(char command, int skip = 0) {
        pendOn(command, Pending::Restart, skip);
    }
    // The next "+" or "-" taken as a step (not as a character of a text) is refused: a unit
    // that does not take that setting, constant or text answers "NA".
    void refuseNextStep() { refuseStep_ = true; }
    // Restarts the unit now.
    void restart() { model_.restart(clock_.now()); }
    // Drops every fault not yet applied.
    void clearFaults();

    // An unsolicited alert character sent at `at`.
    void scheduleAlert(char alert, Micros at) { model_.scheduleAlert(alert, at); }
    // The mains fail (`cause`: what "G" names afterwards) or come back.
    void powerFail(char cause = 'L') { model_.powerFail(clock_.now(), cause); }
    void powerRestore() { model_.powerRestore(clock_.now()); }
    // The load in percent of the rating, and the line voltage, from now on.
    void setLoad(double percent) { model_.setLoad(percent, clock_.now()); }
    void setLineVoltage(double volts) { model_.setLineVoltage(volts, clock_.now()); }

    // Every command byte that reached the far end, in order.
    const std::vector<Exchange>& log() const { return log_; }
    void clearLog() { log_.clear(); }

private:
    struct Fault {
        enum Kind : std::uint8_t { Drop, Garble, Insert } kind;
        std::size_t index;
        std::uint8_t byte;
    };
    struct Link {
        SimUps* unit;
    };
    struct Override {
        std::uint8_t command;
        std::string reply;
        int skip;
    };
    struct Pending {
        enum Kind : std::uint8_t { Lose, Refuse, Replace, Restart, Unplug } kind;
        int skip;
        std::string bytes;
        std::optional<std::uint8_t> command;  // counts only this command; else every byte
    };
    void pend(Pending::Kind kind, int skip, std::string bytes = {}) {
        pending_.push_back({kind, skip, std::move(bytes), std::nullopt});
    }
    void pendOn(char command, Pending::Kind kind, int skip, std::string bytes = {}) {
        pending_.push_back({kind, skip, std::move(bytes), static_cast<std::uint8_t>(command)});
    }
    void send(const std::string& reply, Micros received, SimLine& line);

    void onByte(std::uint8_t byte, Micros received, SimLine& line);
    void pump(Micros upTo, SimLine& line);
    std::string applyFaults(std::string reply);

    VirtualClock& clock_;
    UpsModel model_;
    std::shared_ptr<Link> link_;
    Micros latency_{40'000};
    Micros gap_{0};
    Micros replyStart_{0};  // the last reply occupies the line from here
    Micros busyUntil_{0};   // to here
    bool plugged_ = true;
    std::vector<Fault> faults_;
    std::optional<Override> override_;
    std::vector<Pending> pending_;
    bool refuseStep_ = false;
    std::vector<Exchange> log_;
};

// One line of a trace: seconds, the command byte (printable or as a hex escape) and the
// reply with control characters escaped.
std::string TraceLine(Micros at, std::uint8_t command, const std::optional<std::string>& reply);
// Bytes with control characters and non-ASCII bytes written as \r, \n, \xNN.
std::string Escape(std::string_view bytes);

}  // namespace morlen::sim
