#pragma once

// Decisions of the connection step that depend only on what identification found.

#include <cstdint>
#include <string>

namespace morlen {

class APCUPS;

// The "0" calibration constant a Smart-UPS of this rating and kind should hold, from the
// reference table of battery constants (160, "a0", when the table names no value).
int BatteryConstantValue(const APCUPS& ups);

// The model code that follows `code` (two hex digits, either case), written as two lower-case
// hex digits into `out` (room for 3). False, with `out` untouched, when `code` is not two hex
// digits.
bool NextModelCode(const char* code, char* out);

// The self-test switch-off gives up when eight steps have not brought the interval to "OFF",
// and then steps on at most as many again to the interval the unit had.
constexpr int kSelfTestStepBound = 8;

// How the self-test switch-off of the connection step ended.
struct SelfTestSwitchOff {
    enum class End : std::uint8_t {
        AlreadyOff,   // it read "OFF": nothing was sent
        SwitchedOff,  // stepped to "OFF"
        NoAnswer,     // "E" went unanswered, before the first step or after one: no more "-"
        CameRound,    // the interval came back to where it was without reading "OFF"
        SetBack,      // no "OFF" within the bound; stepped on to the interval it had
        LeftMoved,    // neither: the interval stands where the last step left it
    };
    End end = End::AlreadyOff;
    int steps = 0;       // "-" sent
    std::string before;  // the interval before the first step
};

// What the journal calls the restart that makes a second-generation unit store its interval.
inline constexpr const char* kRestartWhat = "Restart to store the self-test interval";
// What it calls the read of an older unit's model code, which steps it up and back down.
inline constexpr const char* kModelCodeReadWhat = "Hex Code (read by a step up and back)";

// Steps the unit's self-test interval until it reads "OFF", within the bound; a unit whose
// interval does not get there is stepped on to the interval it had. Reads nothing first: the
// interval is the one identification read.
SelfTestSwitchOff SwitchSelfTestOff(APCUPS& ups);
// What the status text says about a switch-off; empty when it succeeded or had nothing to do.
std::string SelfTestSwitchOffText(const SelfTestSwitchOff& off, const std::string& now);

}  // namespace morlen
