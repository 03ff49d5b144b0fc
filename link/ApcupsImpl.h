#pragma once

// Shared helpers of the APCUPS operation files.

#include "Apcups.h"

namespace morlen {

template <std::size_t N>
const char* APCUPS::ReadInto(char command, int replyLength, FixedText<N>& field) {
    field = Transact(command, replyLength);
    return field.c_str();
}

// Select the setting, ask for its next value, read it back.
inline const char* APCUPS::StepSetting(char command, int replyLength, int stepReplyLength,
                                       ValueForm form, const char* what,
                                       const char* (APCUPS::*read)()) {
    if (Select(command, replyLength, form, what))
        Follow('-', stepReplyLength);
    return (this->*read)();
}

}  // namespace morlen
