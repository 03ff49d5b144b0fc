#pragma once

#include <functional>

namespace morlen {

// Upper bounds on the steps of one tuning walk. A unit steps each value one notch per call, so
// a target it cannot reach (a constant outside the values it accepts, a load on a unit with no
// rating) would otherwise be stepped for as long as the unit answers.
//   two hex digits: every value once, plus the overshoot and the step back;
//   meters: 1 V, 0.5 % or 0.15 V a step over their whole scale (300 V, 130 %, 60 V).
constexpr int kConstantWalkBound = 258;
constexpr int kModelCodeWalkBound = 258;
constexpr int kMeterWalkBound = 512;

enum class WalkEnd {
    Reached,   // the tuning step said the walk is over
    NoAnswer,  // the value came back empty
    Bound,     // the step bound was reached
};

struct WalkResult {
    WalkEnd end;
    int steps;
};

// Runs one walk: `step` makes one tuning step and says whether the walk is over; after a step
// that is not the last, `showIntermediate` runs and `valueEmpty` tells whether the unit still
// answers.
inline WalkResult RunWalk(int bound, const std::function<bool()>& step,
                          const std::function<bool()>& valueEmpty,
                          const std::function<void()>& showIntermediate) {
    int steps = 0;
    while (steps < bound) {
        ++steps;
        if (step())
            return {WalkEnd::Reached, steps};
        if (showIntermediate)
            showIntermediate();
        if (valueEmpty())
            return {WalkEnd::NoAnswer, steps};
    }
    return {WalkEnd::Bound, steps};
}

}  // namespace morlen
