#include "Apcups.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "TermiosPort.h"

namespace morlen {

namespace {

// Characters a unit sends unprompted; Transact drops them wherever they arrive.
bool IsAlert(char c) {
    switch (c) {
        case '!':
        case '$':
        case '?':
        case '%':
        case '+':
        case '=':
        case '*':
        case '#':
        case '|':
        case '&':
            return true;
        default:
            return false;
    }
}

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

bool HexByte(const char* text, std::uint8_t& out) {
    const auto c1 = static_cast<unsigned char>(text[0]);
    if (c1 < '0' || c1 > 'f')
        return false;
    const auto c2 = static_cast<unsigned char>(text[1]);
    if (c2 < '0' || c2 > 'f')
        return false;
    out = static_cast<std::uint8_t>((16 * HexDigit(c1) + HexDigit(c2)) & 0xFF);
    return true;
}

bool IsHexByte(const char* text) {
    return HexDigit(static_cast<unsigned char>(text[0])) >= 0 &&
           HexDigit(static_cast<unsigned char>(text[1])) >= 0 && text[2] == '\0';
}

bool IsValueOf(ValueForm form, const char* reply, int width) {
    if (reply[0] == '\0' || std::strcmp(reply, "NA") == 0)
        return false;
    std::size_t length = 0, dots = 0, blanks = 0;
    for (const char* c = reply; *c != '\0'; ++c, ++length) {
        if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) > 0x7E)
            return false;
        dots += *c == '.';
        blanks += *c == ' ';
    }
    const auto digit = [reply](std::size_t i) { return reply[i] >= '0' && reply[i] <= '9'; };
    const auto allDigits = [&] {
        for (std::size_t i = 0; i < length; ++i)
            if (!digit(i))
                return false;
        return true;
    };
    const auto oneOf = [&](const char* letters) {
        return length == 1 && std::strchr(letters, reply[0]) != nullptr;
    };
    // A reply of the wrong shape may be another command's, left on the line, or a refusal cut
    // short ("N" of "NA"): taken for a selection, it would let a sign or a text's characters
    // through to whatever the unit had selected.
    switch (form) {
        case ValueForm::Digits:
            return static_cast<int>(length) == width && allDigits();
        case ValueForm::SelfTestInterval:
            return (length == 3 && allDigits()) || std::strcmp(reply, "ON ") == 0 ||
                   std::strcmp(reply, "OFF") == 0;
        case ValueForm::AlarmDelay:
            return oneOf("0TLN");
        case ValueForm::Sensitivity:
            return oneOf("HMLA");
        case ValueForm::Field8:
            return length == 8;
        case ValueForm::Date:
            return length == 8 && digit(0) && digit(1) && reply[2] == '/' && digit(3) && digit(4) &&
                   reply[5] == '/' && digit(6) && digit(7);
        case ValueForm::Serial:
            return length >= 8 && length <= 14 && blanks == 0;
        case ValueForm::Firmware:
            return dots == 2;
        case ValueForm::Number:
            return digit(0) || ((reply[0] == '-' || reply[0] == '+') && digit(1));
        case ValueForm::HexByte:
            return IsHexByte(reply);
        case ValueForm::SelfTestResult:
            return length == 2 && (std::strcmp(reply, "OK") == 0 || std::strcmp(reply, "BT") == 0 ||
                                   std::strcmp(reply, "NG") == 0 || std::strcmp(reply, "NO") == 0);
        case ValueForm::TransferCause:
            return oneOf("RHLTOSK");
        case ValueForm::LineQuality:
            return std::strcmp(reply, "FF") == 0 || std::strcmp(reply, "00") == 0;
    }
    return false;
}

float NumberOf(const char* text) {
    return static_cast<float>(std::atof(text));
}

long IntegerOf(const char* text) {
    return std::atol(text);
}

long Truncate(float value) {
    if (std::isnan(value))
        return 0;
    constexpr float kMax = 2147483520.0f;  // largest float below 2^31
    if (value >= kMax)
        return 2147483520L;
    if (value <= -kMax)
        return -2147483520L;
    return static_cast<long>(value);
}

APCUPS::APCUPS() : APCUPS(std::make_unique<TermiosPort>(systemClock()), systemClock()) {}

APCUPS::APCUPS(std::unique_ptr<SerialPort> port, Clock& clock)
    : port_(std::move(port)), clock_(clock) {}

APCUPS::~APCUPS() = default;

bool APCUPS::OpenPort(const std::string& name) {
    // Open and release once before the real open, as the port driver expects a clean start.
    if (port_->open(name))
        port_->close();
    if (!port_->open(name)) {
        portHandle = PortHandle::Invalid;
        return false;
    }
    portHandle = PortHandle::Open;
    if (!port_->configure())
        return false;  // the port stays open; the window closes it
    portTimeouts = PortTimeouts{600, 22, 60, 0, 0};
    port_->setTimeouts(portTimeouts);
    return true;
}

bool APCUPS::ClosePortHandle() {
    if (portHandle != PortHandle::Open)
        return false;
    if (!port_->close())
        return false;
    portHandle = PortHandle::Null;
    return true;
}

void APCUPS::SetReadTotalMultiplier(std::uint32_t ms) {
    portTimeouts.readTotalMultiplier = ms;
    port_->setTimeouts(portTimeouts);
}

const char* APCUPS::Transact(char command, int replyLength) {
    return TransactImpl(command, replyLength, true);
}

const char* APCUPS::TransactRaw(char command, int replyLength) {
    return TransactImpl(command, replyLength, false);
}

const char* APCUPS::TransactImpl(char command, int replyLength, bool filterAlerts, bool follower) {
    // A sign means "step what is selected": whoever sends it, it follows a selection.
    follower = follower || command == '+' || command == '-';
    if (follower && !selected_) {
        rawBuffer[0] = '\0';
        replyBuffer[0] = '\0';
        return replyBuffer;
    }
    if (!follower)
        selected_ = false;
    if (observer_)
        observer_(command, replyLength, !filterAlerts);
    rawBuffer[0] = '\0';
    port_->writeByte(static_cast<std::uint8_t>(command));
    if (replyLength <= 0)
        return replyBuffer;

    port_->purgeReceive();
    // Room for the reply, its CR LF, up to 3 continuation bytes and the terminator.
    constexpr std::size_t kMaxFirstRead = sizeof(rawBuffer) - 4;
    std::size_t want = static_cast<std::size_t>(replyLength) + 2;
    if (want > kMaxFirstRead)
        want = kMaxFirstRead;
    auto* raw = reinterpret_cast<std::uint8_t*>(rawBuffer);
    std::size_t total = port_->read(raw, want);
    if (total == 0) {
        rawBuffer[0] = '\0';
        replyBuffer[0] = '\0';
        return replyBuffer;
    }
    rawBuffer[total] = '\0';
    if (rawBuffer[total - 1] != '\n') {
        // A reply one or two characters longer than asked for: one short continuation.
        std::uint8_t extra[3];
        const std::size_t more = port_->read(extra, sizeof extra);
        std::memcpy(rawBuffer + total, extra, more);
        total += more;
        rawBuffer[total] = '\0';
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < total && rawBuffer[i] != '\r'; ++i) {
        if (filterAlerts && IsAlert(rawBuffer[i]))
            continue;
        if (out >= sizeof(replyBuffer) - 1)
            break;  // cut at 511 characters
        replyBuffer[out++] = rawBuffer[i];
    }
    replyBuffer[out] = '\0';
    return replyBuffer;
}

bool APCUPS::Select(char command, int replyLength, ValueForm form, const char* what) {
    const char* reply = Transact(command, replyLength);
    selected_ = IsValueOf(form, reply, replyLength);
    if (!selected_) {
        refusedWhat_ = what;
        refusedReply_ = reply;
    }
    return selected_;
}

const char* APCUPS::Follow(char byte, int replyLength) {
    return TransactImpl(byte, replyLength, true, true);
}

bool APCUPS::CheckSmartMode() {
    if (Transact('Y', 2)[0] == 'S') {
        smartModeOk = true;
        return true;
    }
    if (Transact('Y', 2)[0] == 'S') {
        smartModeOk = true;
        return true;
    }
    smartModeOk = false;
    return false;
}

const char* APCUPS::StartSelfTest() {
    return Transact('W', 3);
}
const char* APCUPS::FrontPanelTest() {
    return Transact('A', 2);
}
const char* APCUPS::SendBypassToggle() {
    return Transact('^', 3);
}
const char* APCUPS::LeaveSmartMode() {
    return Transact('R', 3);
}
const char* APCUPS::EepromBegin() {
    Select('#', 2, ValueForm::HexByte, "the EEPROM");
    return replyBuffer;
}
const char* APCUPS::EepromNext() {
    return Follow('+', 2);
}

void APCUPS::SendZPair() {
    Transact('Z', 1);
    clock_.sleepMs(1500);
    Transact('Z', 1);
}

}  // namespace morlen
