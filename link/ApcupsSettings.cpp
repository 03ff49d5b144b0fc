#include "ApcupsImpl.h"

#include <cstring>

namespace morlen {

// ---- Cycled settings: the unit keeps the list; "-" moves to the next value ----

const char* APCUPS::ReadLowTransfer() {
    return ReadInto('l', 3, lowTransferText);
}
const char* APCUPS::StepLowTransfer() {
    return StepSetting('l', 3, 2, ValueForm::Digits, "the low transfer voltage",
                       &APCUPS::ReadLowTransfer);
}
const char* APCUPS::ReadHighTransfer() {
    return ReadInto('u', 3, highTransferText);
}
const char* APCUPS::StepHighTransfer() {
    return StepSetting('u', 3, 2, ValueForm::Digits, "the high transfer voltage",
                       &APCUPS::ReadHighTransfer);
}
const char* APCUPS::ReadOutputSetting() {
    return ReadInto('o', 3, outputSettingText);
}
const char* APCUPS::StepOutputSetting() {
    return StepSetting('o', 3, 2, ValueForm::Digits, "the output voltage",
                       &APCUPS::ReadOutputSetting);
}
const char* APCUPS::ReadSelfTestInterval() {
    return ReadInto('E', 3, selfTestIntervalText);
}
const char* APCUPS::StepSelfTestInterval() {
    return StepSetting('E', 3, 2, ValueForm::SelfTestInterval, "the self-test interval",
                       &APCUPS::ReadSelfTestInterval);
}
const char* APCUPS::ReadShutdownDelay() {
    return ReadInto('p', 3, shutdownDelayText);
}
const char* APCUPS::StepShutdownDelay() {
    return StepSetting('p', 3, 2, ValueForm::Digits, "the shutdown delay",
                       &APCUPS::ReadShutdownDelay);
}
const char* APCUPS::ReadTurnOnDelay() {
    return ReadInto('r', 3, turnOnDelayText);
}
const char* APCUPS::StepTurnOnDelay() {
    return StepSetting('r', 3, 2, ValueForm::Digits, "the wake-up delay", &APCUPS::ReadTurnOnDelay);
}
const char* APCUPS::ReadLowBatteryWarning() {
    return ReadInto('q', 2, lowBatteryWarningText);
}
const char* APCUPS::StepLowBatteryWarning() {
    return StepSetting('q', 2, 2, ValueForm::Digits, "the low-battery warning",
                       &APCUPS::ReadLowBatteryWarning);
}
const char* APCUPS::ReadReturnThreshold() {
    return ReadInto('e', 2, returnThresholdText);
}
const char* APCUPS::StepReturnThreshold() {
    return StepSetting('e', 2, 2, ValueForm::Digits, "the return threshold",
                       &APCUPS::ReadReturnThreshold);
}

const char* APCUPS::ReadAlarmDelay() {
    switch (Transact('k', 1)[0]) {
        case '0':
            alarmDelayText = " 5 Seconds";
            break;
        case 'T':
            alarmDelayText = "30 Seconds";
            break;
        case 'L':
            alarmDelayText = "Low Battery";
            break;
        case 'N':
            alarmDelayText = " Disabled";
            break;
        default:
            break;  // unknown answer: keep what was shown
    }
    return alarmDelayText.c_str();
}
const char* APCUPS::StepAlarmDelay() {
    return StepSetting('k', 1, 1, ValueForm::AlarmDelay, "the alarm delay",
                       &APCUPS::ReadAlarmDelay);
}

const char* APCUPS::ReadSensitivity() {
    switch (Transact('s', 1)[0]) {
        case 'H':
            sensitivityText = " High ";
            break;
        case 'L':
            sensitivityText = " Low ";
            break;
        case 'M':
            sensitivityText = " Medium";
            break;
        case 'A':
            sensitivityText = " Auto ";
            break;
        default:
            break;
    }
    return sensitivityText.c_str();
}
const char* APCUPS::StepSensitivity() {
    return StepSetting('s', 1, 1, ValueForm::Sensitivity, "the sensitivity",
                       &APCUPS::ReadSensitivity);
}

const char* APCUPS::ReadBatteryPacks() {
    ReadInto('>', 3, batteryPacksText);
    batteryPacks = static_cast<std::int16_t>(Truncate(NumberOf(batteryPacksText.c_str())));
    return batteryPacksText.c_str();
}

const char* APCUPS::StepBatteryPacks(char sign) {
    if (Select('>', 3, ValueForm::Number, "the battery packs"))
        Follow(sign, 3);
    return ReadBatteryPacks();
}

// ---- Identity texts: selected with their command, then "-", then one character at a time ----

const char* APCUPS::WriteText(char command, int replyLength, int width, std::int64_t pauseMs,
                              const std::string& text, ValueForm form, const char* what,
                              const char* (APCUPS::*read)()) {
    // The unit takes exactly `width` characters; anything beyond would reach it as commands.
    std::string field = text.substr(0, static_cast<std::size_t>(width));
    field.resize(static_cast<std::size_t>(width), ' ');
    // A unit taking a text is silent after the "-" and after every character but the last,
    // which it answers "OK". Any other answer means it is not taking the text, and each
    // further character would reach it as a command ("W" a self-test, "K" a shutdown...).
    lastTextWrite = TextWrite::Refused;
    int sent = 0;
    if (Select(command, replyLength, form, what) && Follow('-', 1)[0] == '\0') {
        lastTextWrite = TextWrite::Unconfirmed;
        for (char c : field) {
            const char* reply = Follow(c, 2);
            if (++sent == width) {
                if (std::strcmp(reply, "OK") == 0)
                    lastTextWrite = TextWrite::Accepted;
            } else if (reply[0] != '\0') {
                lastTextWrite = TextWrite::Refused;
                break;
            }
        }
    }
    if (sent > 0 && pauseMs > 0)
        clock_.sleepMs(pauseMs);
    return (this->*read)();
}

const char* APCUPS::ReadManufactureDate() {
    return ReadInto('m', 8, manufactureDate);
}
const char* APCUPS::WriteManufactureDate(const std::string& text) {
    return WriteText('m', 8, 8, 1000, text, ValueForm::Date, "the manufacture date",
                     &APCUPS::ReadManufactureDate);
}
const char* APCUPS::ReadBatteryReplaceDate() {
    return ReadInto('x', 8, batteryReplaceDate);
}
// Past the unit's "|" alert, a few seconds after the "OK", once it has stored the date.
constexpr std::int64_t kDateStoreMs = 4000;
const char* APCUPS::WriteBatteryReplaceDate(const std::string& text) {
    // The unit stores the date a few seconds after its "OK" (the alert "|" says so, and the
    // reply filter drops it): a read before then shows the old one.
    return WriteText('x', 8, 8, kDateStoreMs, text, ValueForm::Date, "the battery replacement date",
                     &APCUPS::ReadBatteryReplaceDate);
}
const char* APCUPS::ReadUpsId() {
    return ReadInto('c', 8, upsId);
}
const char* APCUPS::WriteUpsId(const std::string& text) {
    return WriteText('c', 8, 8, 0, text, ValueForm::Field8, "the UPS id", &APCUPS::ReadUpsId);
}
const char* APCUPS::ReadSerialNumber() {
    return ReadInto('n', family == FamilySmart2ndGen ? 8 : 14, serialNumber);
}
const char* APCUPS::WriteSerialNumber(const std::string& text) {
    const int width = family == FamilySmart2ndGen ? 8 : 14;
    return WriteText('n', width, width, 1000, text, ValueForm::Serial, "the serial number",
                     &APCUPS::ReadSerialNumber);
}
const char* APCUPS::WriteFirmwareHead(const std::string& text) {
    WriteText('b', 8, 3, 1500, text, ValueForm::Firmware, "the firmware", &APCUPS::ReadFirmware);
    return firmwareHead.c_str();
}

// ---- Commands ----

void APCUPS::ResetToDefaults() {
    Transact('z', 5);
    clock_.sleepMs(1500);
    ReadLowTransfer();
    ReadHighTransfer();
    ReadOutputSetting();
    ReadSelfTestInterval();
    ReadShutdownDelay();
    ReadTurnOnDelay();
    ReadAlarmDelay();
    ReadReturnThreshold();
    ReadSensitivity();
    ReadLowBatteryWarning();
}

}  // namespace morlen
