#pragma once

// Decisions of the connection step that depend only on what identification found.

#include <cstdint>

namespace morlen {

class APCUPS;

// The "0" calibration constant a Smart-UPS of this rating and kind should hold, from the
// reference table of battery constants (160, "a0", when the table names no value).
int BatteryConstantValue(const APCUPS& ups);

// The model code that follows `code` (two hex digits, either case), written as two lower-case
// hex digits into `out` (room for 3). False, with `out` untouched, when `code` is not two hex
// digits.
bool NextModelCode(const char* code, char* out);

}  // namespace morlen
