#include <algorithm>
#include <cstdio>
#include <string_view>

#include "ApcupsImpl.h"

namespace morlen {

const char* APCUPS::ReadInputVoltage() {
    ReadInto('L', 5, inputVoltageText);
    inputVoltage = NumberOf(inputVoltageText.c_str());
    return inputVoltageText.c_str();
}

const char* APCUPS::ReadOutputVoltage() {
    ReadInto('O', 5, outputVoltageText);
    outputVoltage = NumberOf(outputVoltageText.c_str());
    return outputVoltageText.c_str();
}

const char* APCUPS::ReadLoad() {
    ReadInto('P', 5, loadPercentText);
    loadPercent = NumberOf(loadPercentText.c_str());
    loadWatts = wattsPerPercent * loadPercent;
    char text[16];
    std::snprintf(text, sizeof text, "%ld", Truncate(loadWatts));
    loadWattsText = text;
    return loadPercentText.c_str();
}

const char* APCUPS::ReadBatteryVoltage() {
    ReadInto('B', 5, batteryVoltageText);
    batteryVoltage = NumberOf(batteryVoltageText.c_str());
    return batteryVoltageText.c_str();
}

const char* APCUPS::ReadBatteryCapacity() {
    ReadInto('f', 5, batteryCapacityText);
    batteryCapacity = NumberOf(batteryCapacityText.c_str());
    return batteryCapacityText.c_str();
}

const char* APCUPS::ReadLineFrequency() {
    return ReadInto('F', 5, lineFrequencyText);
}

const char* APCUPS::ReadTemperature() {
    return ReadInto('C', 5, temperatureText);
}

const char* APCUPS::ReadRunTime() {
    const char* reply = Transact('j', 4);
    runTimeMinutes = static_cast<std::uint16_t>(IntegerOf(reply));
    const std::string_view minutes(reply);
    const std::size_t end = std::min(minutes.find_first_not_of("0123456789"), minutes.size());
    runTimeAnswered = end >= 1 && end <= 4 && (end == minutes.size() || minutes.substr(end) == ":");
    if (reply[0] == '\0') {
        // Nothing came back: show nothing rather than a made-up zero.
        runTimeText.clear();
    } else {
        char text[8];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(runTimeMinutes));
        runTimeText = text;
    }
    return runTimeText.c_str();
}

const char* APCUPS::ReadBatteryNominal() {
    return ReadInto('g', 3, batteryNominalText);
}

const char* APCUPS::ReadFirmware() {
    if (family == FamilySmart2ndGen) {
        ReadInto('V', 3, firmwareText);
    } else {
        ReadInto('b', 8, firmwareText);
    }
    if (!isThirdGen)
        return firmwareText.c_str();
    // Third generation: the first three characters are the head the technician may change.
    firmwareHead = firmwareText.view();
    if (firmwareText[0] == '.') {
        firmwareHead.clear();
    } else {
        firmwareHead = firmwareText.view().substr(0, 3);
        const std::string rest = firmwareText.size() > 3 ? firmwareText.str().substr(3) : "";
        firmwareText = rest;
    }
    return firmwareText.c_str();
}

std::uint8_t APCUPS::ReadRegister(char command, std::uint8_t& reg) {
    HexByte(Transact(command, 2), reg);
    return reg;
}

std::uint8_t APCUPS::ReadRegister1() {
    return ReadRegister('~', register1);
}
std::uint8_t APCUPS::ReadRegister2() {
    return ReadRegister('\'', register2);
}
std::uint8_t APCUPS::ReadRegister3() {
    return ReadRegister('8', register3);
}
std::uint8_t APCUPS::ReadStatusByte() {
    return ReadRegister('Q', statusByte);
}

std::uint8_t APCUPS::ReadStatusRegisters() {
    ReadRegister1();
    ReadRegister2();
    ReadRegister3();
    return ReadStatusByte();
}

void APCUPS::ReadMeasurements() {
    if (family != FamilyBackCS) {
        ReadOutputVoltage();
        ReadInputVoltage();
        if (family == FamilySmartNoSerial) {
            ReadLineFrequency();
        } else if (family == FamilyBackPro) {
            ReadLoad();
            ReadFloatVoltage();
            ReadRatio();
            ReadEutVoltage();
            ReadCapacitorLoad();
            ReadDcOffset();
        } else {
            ReadLoad();
            ReadTemperature();
            ReadLineFrequency();
            ReadRunTime();
            ReadBatteryCapacity();
        }
    }
    ReadBatteryVoltage();
}

}  // namespace morlen
