#include "ApcupsImpl.h"

namespace morlen {

// ---- Calibration constants: two hex digits each, moved one step with "+" or "-" ----

const char* APCUPS::ReadConst0() {
    return ReadInto('0', 2, const0Text);
}
const char* APCUPS::ReadConst4() {
    return ReadInto('4', 2, const4Text);
}
const char* APCUPS::ReadConst5() {
    return ReadInto('5', 2, const5Text);
}
const char* APCUPS::ReadConst6() {
    return ReadInto('6', 2, const6Text);
}
const char* APCUPS::ReadConstHash() {
    return ReadInto('#', 2, constHashText);
}
const char* APCUPS::ReadConstDollar() {
    return ReadInto('$', 2, constDollarText);
}
const char* APCUPS::ReadConstPercent() {
    return ReadInto('%', 2, constPercentText);
}
const char* APCUPS::ReadConstCaret() {
    return ReadInto('^', 2, constCaretText);
}
const char* APCUPS::ReadConstCtrlD() {
    return ReadInto(cmd::CtrlD, 2, constCtrlDText);
}

// One step toward the target. The caller has selected the constant; a second-generation unit
// steps some constants with a byte of its own, in its own direction.
template <std::size_t N>
bool APCUPS::TuneConstant(char stepByte2nd, const char* target, FixedText<N>& field) {
    char sign = field.compare(target) <= 0 ? '+' : '-';
    if (family == FamilySmart2ndGen && stepByte2nd != 0)
        sign = stepByte2nd;
    field = Follow(sign, 2);
    return field == target;
}

bool APCUPS::TuneConst0(const char* t) {
    return TuneConstant('4', t, const0Text);
}
bool APCUPS::TuneConst4(const char* t) {
    return TuneConstant(0, t, const4Text);
}
bool APCUPS::TuneConst5(const char* t) {
    return TuneConstant('2', t, const5Text);
}
bool APCUPS::TuneConst6(const char* t) {
    return TuneConstant('3', t, const6Text);
}
bool APCUPS::TuneConstHash(const char* t) {
    return TuneConstant(0, t, constHashText);
}
bool APCUPS::TuneConstDollar(const char* t) {
    return TuneConstant(0, t, constDollarText);
}
bool APCUPS::TuneConstPercent(const char* t) {
    return TuneConstant(0, t, constPercentText);
}
bool APCUPS::TuneConstCaret(const char* t) {
    return TuneConstant(0, t, constCaretText);
}
bool APCUPS::TuneConstCtrlD(const char* t) {
    return TuneConstant(0, t, constCtrlDText);
}

// ---- Back-UPS Pro calibration values ----

const char* APCUPS::StepBackPro(char command, char sign, const char* what,
                                const char* (APCUPS::*read)()) {
    // Select the value first: a bare sign would step whatever was asked last.
    if (Select(command, 5, ValueForm::Number, what))
        Follow(sign, 2);
    return (this->*read)();
}

const char* APCUPS::ReadFloatVoltage() {
    return ReadInto('e', 5, floatVoltageText);
}
const char* APCUPS::StepFloatVoltage(char s) {
    return StepBackPro('e', s, "the float voltage", &APCUPS::ReadFloatVoltage);
}
const char* APCUPS::ReadRatio() {
    return ReadInto('w', 5, ratioText);
}
const char* APCUPS::StepRatio(char s) {
    return StepBackPro('w', s, "the ratio", &APCUPS::ReadRatio);
}
const char* APCUPS::ReadBbdVoltage() {
    return ReadInto('2', 5, bbdVoltageText);
}
const char* APCUPS::StepBbdVoltage(char s) {
    return StepBackPro('2', s, "the B.B.D. voltage", &APCUPS::ReadBbdVoltage);
}
const char* APCUPS::ReadEutVoltage() {
    return ReadInto('v', 5, eutVoltageText);
}
const char* APCUPS::StepEutVoltage(char s) {
    return StepBackPro('v', s, "the E.U.T. voltage", &APCUPS::ReadEutVoltage);
}
const char* APCUPS::ReadDcOffset() {
    return ReadInto('d', 5, dcOffsetText);
}
const char* APCUPS::StepDcOffset(char s) {
    return StepBackPro('d', s, "the DC offset", &APCUPS::ReadDcOffset);
}
const char* APCUPS::ReadCapacitorLoad() {
    return ReadInto('c', 5, capacitorLoadText);
}
const char* APCUPS::StepCapacitorLoad(char s) {
    return StepBackPro('c', s, "the capacitor load", &APCUPS::ReadCapacitorLoad);
}

// ---- Meters ----

const char* APCUPS::StepInputVoltage(char sign) {
    if (Select('L', 5, ValueForm::Number, "the input voltage meter"))
        Follow(sign, 5);
    return ReadInputVoltage();
}

const char* APCUPS::StepLoad(char sign) {
    if (Select('P', 5, ValueForm::Number, "the load meter"))
        Follow(sign, 5);
    return ReadLoad();
}

const char* APCUPS::StepBatteryVoltage(char sign) {
    if (family == FamilySmart2ndGen) {
        StepBatteryVoltage2nd();  // the unit picks the direction
    } else if (Select('B', 5, ValueForm::Number, "the battery voltage meter")) {
        Follow(sign, 2);
    }
    return ReadBatteryVoltage();
}

const char* APCUPS::StepInputVoltage2nd() {
    Transact('a', 2);
    return ReadInputVoltage();
}

const char* APCUPS::StepLoad2nd() {
    Transact('b', 2);
    return ReadLoad();
}

const char* APCUPS::StepBatteryVoltage2nd() {
    return ReadInto('d', 2, step2ndText);
}

// One step of a meter walk. A change of direction means the target was crossed: that last
// step is made and the walk ends. A jump of more than 30 in one call also ends it, marked in
// tuneJumped: a reading of 0 for an unanswered read ("NA"), a mains dip or a glitch is no
// arrival, and no further step is made on its strength.
bool APCUPS::TuneMeter(float& reading, const char* target, float stopWindow2nd,
                       const char* (APCUPS::*step)(char), const char* (APCUPS::*step2nd)()) {
    const float t = NumberOf(target);
    tuneStartValue = reading;
    tuneJumped = false;
    bool result = false;
    if (family != FamilySmart2ndGen) {
        if (reading > t) {
            if (steppedUp) {
                result = true;
            } else {
                steppedDown = true;
            }
            (this->*step)('-');
        } else {
            if (steppedDown) {
                result = true;
            } else {
                steppedUp = true;
            }
            (this->*step)('+');
        }
    } else {
        (this->*step2nd)();
        const float above = reading - t;
        result = above > 0 && above < stopWindow2nd;
    }
    // A second-generation meter wraps from the bottom of its range to the top: a jump up past
    // the target is its normal way round. Other meters never jump up on their own.
    const float moved = reading - tuneStartValue;
    const bool upJumpCounts = family != FamilySmart2ndGen || reading < t;
    if ((moved > kMeterJump && upJumpCounts) || moved < -kMeterJump) {
        tuneJumped = true;
        result = true;
    }
    return result;
}

bool APCUPS::TuneInputVoltage(const char* target) {
    return TuneMeter(inputVoltage, target, 3.0f, &APCUPS::StepInputVoltage,
                     &APCUPS::StepInputVoltage2nd);
}

bool APCUPS::TuneLoad(const char* target) {
    return TuneMeter(loadWatts, target, 10.0f, &APCUPS::StepLoad, &APCUPS::StepLoad2nd);
}

bool APCUPS::TuneBatteryVoltage2nd(const char* target) {
    const float t = NumberOf(target);
    tuneStartValue = batteryVoltage;
    tuneJumped = false;
    StepBatteryVoltage2nd();
    ReadBatteryVoltage();
    const float above = batteryVoltage - t;
    bool result = above > 0 && above < 0.3f;
    if (batteryVoltage - tuneStartValue > kBatteryJump && batteryVoltage < t) {
        tuneJumped = true;
        result = true;
    }
    return result;
}

// ---- Model code ----

const char* APCUPS::ReadModelCode() {
    if (isThirdGen)
        return ReadInto(cmd::CtrlB, 2, modelCodeText);
    if (family == FamilySmart2ndGen)
        return ReadModelCode2nd();
    // Older units tell their code only as the answer to a step: one up and back down.
    modelCodeReadSteps = 0;
    if (!Select('b', 8, ValueForm::Firmware, "the model code")) {
        modelCodeText.clear();
        return modelCodeText.c_str();
    }
    // A step up the unit did not take must not be followed by the step back: that would move
    // the code down one row.
    modelCodeReadSteps = 1;
    if (!IsHexByte(Follow('+', 2))) {
        modelCodeText = replyBuffer;
        return modelCodeText.c_str();
    }
    // A Back-UPS Pro is selected afresh before the step back; one that refuses it is left a
    // code up rather than sent a sign that would step something else.
    if (family == FamilyBackPro && !Select('b', 8, ValueForm::Firmware, "the model code")) {
        modelCodeText.clear();
        return modelCodeText.c_str();
    }
    modelCodeReadSteps = 2;
    return ReadInto('-', 2, modelCodeText);
}

const char* APCUPS::StepModel(char sign) {
    if (usesCtrlB) {
        if (Select(cmd::CtrlB, 2, ValueForm::HexByte, "the model code"))
            ReadInto(sign, 2, modelCodeText);
    } else if (Select('b', 8, ValueForm::Firmware, "the model code")) {
        ReadInto(sign, 4, modelCodeText);
    }
    ReadInto('b', 8, firmwareText);
    return ReadModelName();
}

const char* APCUPS::ReadModelCode2nd() {
    return ReadInto('H', 2, modelCode2ndText);
}

bool APCUPS::CheckModelCode2nd(const char* target) {
    ReadModelCode2nd();
    return modelCode2ndText == target;
}

bool APCUPS::TuneModelCode(const char* target) {
    previousModelCode = modelCodeText.view();
    bool result = false;
    // Its whole firmware reply is read: a tail left behind would land in the code's reply.
    if (family == FamilyBackPro && !Select('b', 8, ValueForm::Firmware, "the model code"))
        return true;  // not selected: no step, the walk ends where it stands
    if (family == FamilySmart2ndGen) {
        ReadInto('H', 2, modelCodeText);
    } else if (modelCodeText.compare(target) > 0) {
        if (steppedUp) {
            result = true;
        } else {
            steppedDown = true;
        }
        ReadInto('-', 2, modelCodeText);
    } else {
        if (steppedDown) {
            result = true;
        } else {
            steppedUp = true;
        }
        ReadInto('+', 2, modelCodeText);
    }
    if (modelCodeText == target || modelCodeText == previousModelCode.view())
        return true;
    return result;
}

}  // namespace morlen
