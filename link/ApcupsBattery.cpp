#include <cstring>
#include <iterator>

#include "ApcupsImpl.h"

namespace morlen {

namespace {

struct Words {
    const char* reply;
    const char* words;
};

const char* Lookup(const Words* table, std::size_t n, const char* reply) {
    if (reply[0] == '\0')
        return "Not answered";
    for (std::size_t i = 0; i < n; ++i)
        if (std::strcmp(table[i].reply, reply) == 0)
            return table[i].words;
    return "No answer from the UPS";
}

}  // namespace

const char* SelfTestResultWords(const char* reply) {
    static constexpr Words kWords[] = {
        {"OK", "Passed: battery good"},
        {"BT", "Failed: not enough battery capacity"},
        {"NG", "Failed: overload"},
        {"NO", "No result"},
    };
    return Lookup(kWords, std::size(kWords), reply);
}

const char* TransferCauseWords(const char* reply) {
    static constexpr Words kWords[] = {
        {"R", "Unacceptable rate of voltage change"},
        {"H", "High line voltage"},
        {"L", "Low line voltage"},
        {"T", "Notch or spike"},
        {"O", "None since switched on"},
        {"S", "Self-test or simulated power failure"},
        {"K", "Forced by software"},
    };
    return Lookup(kWords, std::size(kWords), reply);
}

bool APCUPS::AnswersBatteryReads() const {
    // A Back-UPS Pro is asked, but what it answers counts only in the forms above.
    return family == FamilySmart || family == FamilySmart2ndGen || family == FamilySmartNoSerial ||
           family == FamilyBackPro;
}

bool APCUPS::AnswersLineQuality() const {
    return AnswersBatteryReads() || family == FamilyBackCS;
}

bool APCUPS::OffersCalibration() const {
    return family == FamilySmart || family == FamilySmart2ndGen || family == FamilySmartNoSerial;
}

template <std::size_t N>
const char* APCUPS::ReadChecked(bool asked, char command, int replyLength, ValueForm form,
                                FixedText<N>& field) {
    if (!asked) {
        field.clear();
        return field.c_str();
    }
    const char* reply = Transact(command, replyLength);
    if (reply[0] == '\0')
        field.clear();
    else if (IsValueOf(form, reply, replyLength))
        field = reply;
    else
        field = "NA";
    return field.c_str();
}

const char* APCUPS::ReadSelfTestResult() {
    return ReadChecked(AnswersBatteryReads(), 'X', 2, ValueForm::SelfTestResult,
                       selfTestResultText);
}

const char* APCUPS::ReadTransferCause() {
    return ReadChecked(AnswersBatteryReads(), 'G', 1, ValueForm::TransferCause, transferCauseText);
}

const char* APCUPS::ReadHighestLine() {
    return ReadChecked(AnswersBatteryReads(), 'M', 5, ValueForm::Number, highestLineText);
}

const char* APCUPS::ReadLowestLine() {
    return ReadChecked(AnswersBatteryReads(), 'N', 5, ValueForm::Number, lowestLineText);
}

const char* APCUPS::ReadLineQuality() {
    return ReadChecked(AnswersLineQuality(), '9', 2, ValueForm::LineQuality, lineQualityText);
}

const char* APCUPS::SendCalibration() {
    if (!OffersCalibration()) {
        replyBuffer[0] = '\0';
        return replyBuffer;
    }
    return Transact('D', 2);
}

}  // namespace morlen
