#pragma once

#include <QString>

#include "SerialPort.h"

namespace morlen {

// Why the port did not open, in words the technician can act on: the informative text under
// the error box's own text. Empty when the port gave no reason.
QString OpenFailureText(const OpenFailure& failure);

}  // namespace morlen
