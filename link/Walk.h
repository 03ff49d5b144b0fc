#pragma once

#include <functional>
#include <string>

namespace morlen {

// Upper bounds on the steps of one tuning walk. A unit steps each value one notch per call, so
// a target it cannot reach (a constant outside the values it accepts, a load on a unit with no
// rating) would otherwise be stepped for as long as the unit answers.
//   two hex digits: every value once, plus the overshoot and the step back;
//   meters: 1 V, 0.5 % or 0.15 V a step over their whole scale (300 V, 130 %, 60 V).
constexpr int kConstantWalkBound = 258;
constexpr int kModelCodeWalkBound = 258;
constexpr int kMeterWalkBound = 512;
// A value that has not moved for this many steps in a row has reached an end stop, or the
// unit ignores the step: stepping it on cannot reach the target.
constexpr int kStillWalkBound = 16;

enum class WalkEnd {
    Reached,   // the tuning step said the walk is over
    NoAnswer,  // the value came back empty (or not as a value at all)
    Bound,     // the step bound was reached
    Still,     // the compared value did not change for kStillWalkBound steps
};

struct WalkResult {
    WalkEnd end;
    int steps;
};

// Runs one walk: `step` makes one tuning step and says whether the walk is over; after a step
// that is not the last, `showIntermediate` runs and `valueEmpty` tells whether the unit still
// answers. `compared`, when given, is the value the step compares with its target: the walk
// also ends when it stays the same for kStillWalkBound steps in a row.
inline WalkResult RunWalk(int bound, const std::function<bool()>& step,
                          const std::function<bool()>& valueEmpty,
                          const std::function<void()>& showIntermediate,
                          const std::function<std::string()>& compared = nullptr) {
    std::string last = compared ? compared() : std::string();
    int unchanged = 0;
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
        if (compared) {
            std::string now = compared();
            unchanged = now == last ? unchanged + 1 : 0;
            if (unchanged >= kStillWalkBound)
                return {WalkEnd::Still, steps};
            last = std::move(now);
        }
    }
    return {WalkEnd::Bound, steps};
}

}  // namespace morlen
