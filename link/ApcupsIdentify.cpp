#include <cctype>
#include <cstring>
#include <string>

#include "ApcupsImpl.h"

namespace morlen {

namespace {

// Sum of the codes of a reply's first two characters (a missing character counts 0).
int SumOfFirstTwo(const char* reply) {
    const auto c1 = static_cast<unsigned char>(reply[0]);
    if (c1 == 0)
        return 0;
    return c1 + static_cast<unsigned char>(reply[1]);
}

// True when `text` holds `needle` at `pos`; positions past the end never match.
bool At(std::string_view text, std::size_t pos, std::string_view needle) {
    return pos <= text.size() && text.substr(pos, needle.size()) == needle;
}

char CharAt(std::string_view text, std::size_t pos) {
    return pos < text.size() ? text[pos] : '\0';
}

}  // namespace

bool APCUPS::Identify() {
    isThirdGen = false;
    hasHL8Marker = false;
    s411FlagB = false;
    s411FlagA = false;
    usesCtrlB = false;
    monitorOnly = false;
    family = FamilyUnknown;
    capabilities.clear();

    if (SumOfFirstTwo(Transact('Y', 2)) != 'S' + 'M')
        return false;

    // A SmartSlot card answering for the unit gives itself away in the model name reply.
    const char* reply = Transact(cmd::CtrlA, 22);
    if (SumOfFirstTwo(reply) == 204) {
        monitorOnly = true;
    } else {
        // Programming mode: "1", a pause, "1" again.
        Transact('1', 0);
        clock_.sleepMs(1500);
        reply = Transact('1', 4);
    }

    const bool programmable =
        std::strcmp(reply, "PROG") == 0 || std::strcmp(reply, "APROG") == 0 || monitorOnly;
    if (programmable) {
        if (reply[0] == 'A')
            monitorOnly = true;
        reply = Transact('F', 2);
        if (std::isdigit(static_cast<unsigned char>(reply[0]))) {
            serialNumber = Transact('n', 14);
            if (SumOfFirstTwo(serialNumber.c_str()) == 'N' + 'A') {
                family = FamilySmartNoSerial;
            } else {
                family = FamilySmart;
                capabilities = TransactRaw(cmd::CtrlZ, 1000);
                const std::string_view s(capabilities);
                for (std::size_t i = 0; i < s.size(); ++i) {
                    if (At(s, i, "e472")) {
                        isThirdGen = true;
                        break;
                    }
                    if (At(s, i, "s411")) {
                        isThirdGen = true;
                        s411FlagB = true;
                        s411FlagA = true;
                        break;
                    }
                    if (At(s, i, "s431")) {
                        isThirdGen = true;
                        break;
                    }
                    if (s[i] == 'H' && CharAt(s, i + 3) == 'L' && CharAt(s, i + 6) == '8')
                        hasHL8Marker = true;
                }
                if (isThirdGen) {
                    usesCtrlB = true;
                    ReadConstPercent();
                    if (!(constPercentText == "NA")) {
                        ReadConstCtrlD();
                        if (!(constCtrlDText == "NA"))
                            usesCtrlB = false;
                    }
                }
            }
        } else {
            reply = Transact('P', 5);
            family =
                std::isdigit(static_cast<unsigned char>(reply[0])) ? FamilyBackPro : FamilyBackCS;
        }
        if (family != FamilySmartNoSerial)
            serialNumber = Transact('n', 14);
    }

    // Carriage-return probe for units without programming mode.
    if (replyBuffer[0] == '\0' && !isThirdGen) {
        reply = Transact(cmd::CR, 10);
        if (reply[0] == '\n') {
            Transact('Y', 2);
            monitorOnly = true;
        } else {
            family = FamilySmart2ndGen;
            SetReadTotalMultiplier(30);
            std::uint8_t dip = 0;  // stays 0 when the answer is not two hex digits
            HexByte(Transact('7', 2), dip);
            if (dip != 0) {
                secondGenVariant = 0;
            } else {
                secondGenVariant = IntegerOf(Transact('C', 3)) != 0 ? 1 : 2;
            }
            serialNumber = Transact('n', 8);
        }
    }

    if (family == FamilyUnknown)
        return true;
    ReadModelName();
    if (usesConstHash) {
        if (ratingVA >= 1000) {
            ReadConstHash();
        } else {
            usesConstHash = false;
        }
    }
    noTemperature =
        family == FamilySmart && (ratingVA == 420 || ratingVA == 620 || ratingVA == 650);
    ReadAllSettings();
    return true;
}

const char* APCUPS::ReadModelName() {
    isXL = false;
    isStack = false;
    usesConstHash = false;
    hashConstantLine = false;
    if (family != FamilySmart2ndGen) {
        modelName = Transact(cmd::CtrlA, 22);
    } else {
        const std::string reply = Transact('V', 3);
        const char* name = nullptr;
        switch (reply.empty() ? '\0' : reply[0]) {
            case '0':
                name = "Matrix 3000";
                break;
            case '2':
                name = "Smart-UPS 250";
                break;
            case '3':
            case '4':
                name = "Smart-UPS 400";
                break;
            case '5':
                name = "Matrix 5000";
                break;
            case '6':
                name = "Smart-UPS 600";
                break;
            case '7':
                name = "Smart-UPS 900";
                break;
            case '8':
                name = "Smart-UPS 1250";
                break;
            case '9':
                name = "Smart-UPS 2000";
                break;
            default:
                break;
        }
        // An unknown code keeps the name; appending to it would grow it on every reconnect.
        if (name != nullptr) {
            std::string full = name;
            if (reply.size() >= 3)
                full += reply[2];
            modelName = full;
        }
    }

    const std::string_view s = modelName.view();
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == 'S' || c == 's') {
            if (At(s, i + 1, "tack"))
                isStack = true;
            if (CharAt(s, i + 1) == 'C') {
                usesConstHash = true;
                hashConstantLine = true;
                isThirdGen = true;
            }
        }
        if ((c == 'X' || c == 'x') && (CharAt(s, i + 1) == 'L' || CharAt(s, i + 1) == 'l'))
            isXL = true;
    }

    int digits = 0;
    int value = 0;
    for (char c : s) {
        if (c >= '0' && c <= '9' && digits < 4) {
            value = value * 10 + (c - '0');
            ++digits;
        }
    }
    if (digits < 3) {
        ratingVA = 0;
        ratingDigits = 0;
    } else {
        ratingVA = static_cast<float>(value);
        ratingDigits = ratingVA >= 1000 ? 4 : 3;
    }
    wattsPerPercent = static_cast<float>(ratingVA * 0.007);

    if (isThirdGen) {
        ReadConstDollar();
        ReadConstPercent();
        if (!s411FlagB)
            ReadConstCaret();
    }
    return modelName.c_str();
}

void APCUPS::ReadAllSettings() {
    if (family != FamilyBackCS) {
        ReadOutputVoltage();
        ReadInputVoltage();
        if (family != FamilySmartNoSerial)
            ReadLoad();
        if (family == FamilyBackPro) {
            ReadFloatVoltage();
            ReadRatio();
            ReadEutVoltage();
            ReadBbdVoltage();
            ReadCapacitorLoad();
            ReadDcOffset();
        } else {
            if (family == FamilySmart) {
                ReadBatteryNominal();
                ReadConst4();
                ReadBatteryPacks();
            }
            if (!noTemperature)
                ReadTemperature();
            ReadUpsId();
            ReadLowTransfer();
            ReadHighTransfer();
            ReadConst0();
            ReadConst5();
            ReadConst6();
            ReadOutputSetting();
            ReadSelfTestInterval();
            ReadShutdownDelay();
            ReadTurnOnDelay();
            ReadLowBatteryWarning();
            ReadAlarmDelay();
            ReadReturnThreshold();
            ReadSensitivity();
            ReadLineFrequency();
            ReadRunTime();
            ReadBatteryCapacity();
        }
    }
    ReadFirmware();
    ReadManufactureDate();
    ReadBatteryReplaceDate();
    ReadBatteryVoltage();
}

}  // namespace morlen
