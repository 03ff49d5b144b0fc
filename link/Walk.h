#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <utility>

namespace morlen {

// Upper bounds on the steps of one tuning walk. A unit steps each value one notch per call, so
// a target it cannot reach (a constant outside the values it accepts, a load on a unit with no
// rating) would otherwise be stepped for as long as the unit answers.
//   two hex digits: every value once, plus the overshoot and the step back;
//   meters: 1 V, 0.5 % or 0.15 V a step over their whole scale (300 V, 130 %, 60 V).
constexpr int kConstantWalkBound = 258;
constexpr int kModelCodeWalkBound = 258;
constexpr int kMeterWalkBound = 512;
// A walk that has got nowhere for this many steps in a row has reached an end stop, or the
// unit ignores the step: stepping it on cannot reach the target.
constexpr int kStillWalkBound = 16;

// How far a meter reading wanders by itself between two steps (mains, load, charge): a move
// smaller than this is no progress. One step moves a meter by about a third of it (1 V,
// 0.5 %, 0.15 V), so a working meter still makes progress well within kStillWalkBound steps.
constexpr double kInputWander = 3.0;    // volts
constexpr double kLoadWander = 2.0;     // percent of the load, in watts of the unit's rating
constexpr double kBatteryWander = 0.3;  // volts

enum class WalkEnd {
    Reached,   // the tuning step said the walk is over
    NoAnswer,  // the value came back empty (or not as a value at all)
    Bound,     // the step bound was reached
    Still,     // no step got the walk anywhere for kStillWalkBound steps in a row
    Jumped,    // a meter reading jumped in one step: a glitch or the mains, not an arrival
    Crossed,   // the value passed over its target without ever showing it
    Unmoved,   // the unit answered a step with the value it had
    Stopped,   // the window closed: the walk gave up before its end
};

struct WalkResult {
    WalkEnd end;
    int steps;
};

// After each step of a walk: did it get the walk anywhere? Each is made at the start of its
// walk, from where the value stands then.
using WalkProgress = std::function<bool()>;

// An exact value (a constant, a model code): any change is progress.
inline WalkProgress ValueChanges(std::function<std::string()> value) {
    std::string first = value();
    return [value = std::move(value), last = std::move(first)]() mutable {
        std::string now = value();
        const bool changed = now != last;
        last = std::move(now);
        return changed;
    };
}

// A meter reading walked toward a target: progress is a reading closer to the target than
// every one before by more than `wander`, so that a reading that only wanders about a meter
// standing still is no progress.
inline WalkProgress ComesCloser(std::function<double()> distance, double wander) {
    const double first = distance();
    return [distance = std::move(distance), wander, best = first]() mutable {
        const double now = distance();
        if (!(now < best - wander))
            return false;
        best = now;
        return true;
    };
}

// A reading the unit moves in its own direction, wrapping round: progress is a move of more
// than `wander` from where it stood at the last progress.
inline WalkProgress Moves(std::function<double()> reading, double wander) {
    const double first = reading();
    return [reading = std::move(reading), wander, from = first]() mutable {
        const double now = reading();
        if (!(std::fabs(now - from) > wander))
            return false;
        from = now;
        return true;
    };
}

// Runs one walk: `step` makes one tuning step and says whether the walk is over; after a step
// that is not the last, `showIntermediate` runs and `valueEmpty` tells whether the unit still
// answers. `progress`, when given, judges each such step: the walk also ends when no step has
// made progress for kStillWalkBound steps in a row. `stopped`, when given, is asked after each
// step: a close must not wait for a walk that may run hundreds of steps.
inline WalkResult RunWalk(int bound, const std::function<bool()>& step,
                          const std::function<bool()>& valueEmpty,
                          const std::function<void()>& showIntermediate,
                          const WalkProgress& progress = nullptr,
                          const std::function<bool()>& stopped = nullptr) {
    int still = 0;
    int steps = 0;
    while (steps < bound) {
        ++steps;
        // A value that came back empty ends the walk unanswered, even where the step took
        // the empty reading for a jump past its target.
        if (step())
            return {valueEmpty() ? WalkEnd::NoAnswer : WalkEnd::Reached, steps};
        if (showIntermediate)
            showIntermediate();
        if (valueEmpty())
            return {WalkEnd::NoAnswer, steps};
        if (progress) {
            still = progress() ? 0 : still + 1;
            if (still >= kStillWalkBound)
                return {WalkEnd::Still, steps};
        }
        if (stopped && stopped())
            return {WalkEnd::Stopped, steps};
    }
    return {WalkEnd::Bound, steps};
}

}  // namespace morlen
