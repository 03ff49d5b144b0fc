// The adjust buttons. Each one posts one request and returns at once: the window thread never
// talks to the unit while the poll thread runs, and a button stays usable while its request
// waits in the queue.
#include <QAbstractButton>
#include <utility>

#include "Unit1.h"

void TForm1::ModelMinusClick() {
    requestQueue->Push('1', '-');
}
void TForm1::ModelPlusClick() {
    requestQueue->Push('1', '+');
}

// ---- Smart-UPS page ----

void TForm1::LoadPlusClick() {
    requestQueue->Push('2', '+');
}
void TForm1::LoadMinusClick() {
    requestQueue->Push('2', '-');
}
void TForm1::InputVoltagePlusClick() {
    requestQueue->Push('3', '+');
}
void TForm1::InputVoltageMinusClick() {
    requestQueue->Push('3', '-');
}
void TForm1::BatteryVoltagePlusClick() {
    requestQueue->Push('4', '+');
}
void TForm1::BatteryVoltageMinusClick() {
    requestQueue->Push('4', '-');
}
void TForm1::BatteryPacksPlusClick() {
    requestQueue->Push('5', '+');
}
void TForm1::BatteryPacksMinusClick() {
    requestQueue->Push('5', '-');
}
void TForm1::UpVoltageConstChangeClick() {
    requestQueue->Push('8', '-');
}
void TForm1::LowVoltageConstChangeClick() {
    requestQueue->Push('9', '-');
}
void TForm1::OutVoltageConstChangeClick() {
    requestQueue->Push('a', '-');
}

// ---- Back-PRO page ----

void TForm1::LoadBackProPlusClick() {
    requestQueue->Push('f', '+');
}
void TForm1::LoadBackProMinusClick() {
    requestQueue->Push('f', '-');
}
void TForm1::InputVoltageBackProPlusClick() {
    requestQueue->Push('g', '+');
}
void TForm1::InputVoltageBackProMinusClick() {
    requestQueue->Push('g', '-');
}
void TForm1::RatioPlusClick() {
    requestQueue->Push('A', '+');
}
void TForm1::RatioMinusClick() {
    requestQueue->Push('A', '-');
}

// The B.B.D. voltage moves the other way on units rated below 1000 VA (and on those whose name
// carries no rating): the buttons keep their meaning by swapping the step.
void TForm1::BBDVoltagePlusClick() {
    requestQueue->Push('B', unitValues().ratingDigits == 4 ? '+' : '-');
}
void TForm1::BBDVoltageMinusClick() {
    requestQueue->Push('B', unitValues().ratingDigits == 4 ? '-' : '+');
}

void TForm1::EUTVoltagePlusClick() {
    requestQueue->Push('C', '+');
}
void TForm1::EUTVoltageMinusClick() {
    requestQueue->Push('C', '-');
}
void TForm1::BatteryVoltageBackProPlusClick() {
    requestQueue->Push('D', '+');
}
void TForm1::BatteryVoltageBackProMinusClick() {
    requestQueue->Push('D', '-');
}

// The float voltage steps opposite to its sign on every unit.
void TForm1::FloatBackProPlusClick() {
    requestQueue->Push('E', '-');
}
void TForm1::FloatBackProMinusClick() {
    requestQueue->Push('E', '+');
}

void TForm1::DCOffsetPlusClick() {
    requestQueue->Push('F', '+');
}
void TForm1::DCOffsetMinusClick() {
    requestQueue->Push('F', '-');
}
void TForm1::CapasitorLoadPlusClick() {
    requestQueue->Push('G', '+');
}
void TForm1::CapasitorLoadMinusClick() {
    requestQueue->Push('G', '-');
}

// ---- Smart 2-nd Gen. page: these units step their meters in one direction only ----

void TForm1::Load2ndMinusClick() {
    requestQueue->Push('6', '-');
}
void TForm1::InputVoltage2ndMinusClick() {
    requestQueue->Push('7', '-');
}
void TForm1::Bat2ndMinusClick() {
    requestQueue->Push('R', '-');
}
void TForm1::UpVoltageChange2ndClick() {
    requestQueue->Push('b', '-');
}
void TForm1::LowVoltageChange2ndClick() {
    requestQueue->Push('c', '-');
}
void TForm1::OutVoltageChange2ndClick() {
    requestQueue->Push('d', '-');
}

// ---- Settings page ----

void TForm1::LowBatWarningChangeClick() {
    requestQueue->Push('S', '-');
}
void TForm1::ShutDownDelayChangeClick() {
    requestQueue->Push('u', '-');
}
void TForm1::WakeUpDelayChangeClick() {
    requestQueue->Push('v', '-');
}
void TForm1::SelfTestChangeClick() {
    requestQueue->Push('w', '-');
}
void TForm1::ThresholdChangeClick() {
    requestQueue->Push('M', '-');
}
void TForm1::SensitivityChangeClick() {
    requestQueue->Push('x', '-');
}
void TForm1::AlarmDelayChangeClick() {
    requestQueue->Push('y', '-');
}
void TForm1::ResetAllClick() {
    requestQueue->Push('N', 'z');
}

// ---- Left column ----

void TForm1::LedsClick() {
    requestQueue->Push('z', '-');
}
void TForm1::TestClick() {
    requestQueue->Push('P', '-');
}
void TForm1::ByPassClick() {
    requestQueue->Push('~', '-');
}

void TForm1::ConnectAdjustControls() {
    const std::pair<QAbstractButton*, void (TForm1::*)()> buttons[] = {
        {ui->ModelMinus, &TForm1::ModelMinusClick},
        {ui->ModelPlus, &TForm1::ModelPlusClick},
        {ui->LoadPlus, &TForm1::LoadPlusClick},
        {ui->LoadMinus, &TForm1::LoadMinusClick},
        {ui->InputVoltagePlus, &TForm1::InputVoltagePlusClick},
        {ui->InputVoltageMinus, &TForm1::InputVoltageMinusClick},
        {ui->BatteryVoltagePlus, &TForm1::BatteryVoltagePlusClick},
        {ui->BatteryVoltageMinus, &TForm1::BatteryVoltageMinusClick},
        {ui->BatteryPacksPlus, &TForm1::BatteryPacksPlusClick},
        {ui->BatteryPacksMinus, &TForm1::BatteryPacksMinusClick},
        {ui->UpVoltageConstChange, &TForm1::UpVoltageConstChangeClick},
        {ui->LowVoltageConstChange, &TForm1::LowVoltageConstChangeClick},
        {ui->OutVoltageConstChange, &TForm1::OutVoltageConstChangeClick},
        {ui->LoadBackProPlus, &TForm1::LoadBackProPlusClick},
        {ui->LoadBackProMinus, &TForm1::LoadBackProMinusClick},
        {ui->InputVoltageBackProPlus, &TForm1::InputVoltageBackProPlusClick},
        {ui->InputVoltageBackProMinus, &TForm1::InputVoltageBackProMinusClick},
        {ui->RatioPlus, &TForm1::RatioPlusClick},
        {ui->RatioMinus, &TForm1::RatioMinusClick},
        {ui->BBDVoltagePlus, &TForm1::BBDVoltagePlusClick},
        {ui->BBDVoltageMinus, &TForm1::BBDVoltageMinusClick},
        {ui->EUTVoltagePlus, &TForm1::EUTVoltagePlusClick},
        {ui->EUTVoltageMinus, &TForm1::EUTVoltageMinusClick},
        {ui->BatteryVoltageBackProPlus, &TForm1::BatteryVoltageBackProPlusClick},
        {ui->BatteryVoltageBackProMinus, &TForm1::BatteryVoltageBackProMinusClick},
        {ui->FloatBackProPlus, &TForm1::FloatBackProPlusClick},
        {ui->FloatBackProMinus, &TForm1::FloatBackProMinusClick},
        {ui->DCOffsetPlus, &TForm1::DCOffsetPlusClick},
        {ui->DCOffsetMinus, &TForm1::DCOffsetMinusClick},
        {ui->CapasitorLoadPlus, &TForm1::CapasitorLoadPlusClick},
        {ui->CapasitorLoadMinus, &TForm1::CapasitorLoadMinusClick},
        {ui->Load2ndMinus, &TForm1::Load2ndMinusClick},
        {ui->InputVoltage2ndMinus, &TForm1::InputVoltage2ndMinusClick},
        {ui->Bat2ndMinus, &TForm1::Bat2ndMinusClick},
        {ui->UpVoltageChange2nd, &TForm1::UpVoltageChange2ndClick},
        {ui->LowVoltageChange2nd, &TForm1::LowVoltageChange2ndClick},
        {ui->OutVoltageChange2nd, &TForm1::OutVoltageChange2ndClick},
        {ui->LowBatWarningChange, &TForm1::LowBatWarningChangeClick},
        {ui->ShutDownDelayChange, &TForm1::ShutDownDelayChangeClick},
        {ui->WakeUpDelayChange, &TForm1::WakeUpDelayChangeClick},
        {ui->SelfTestChange, &TForm1::SelfTestChangeClick},
        {ui->ThresholdChange, &TForm1::ThresholdChangeClick},
        {ui->SensitivityChange, &TForm1::SensitivityChangeClick},
        {ui->AlarmDelayChange, &TForm1::AlarmDelayChangeClick},
        {ui->ResetAll, &TForm1::ResetAllClick},
        {ui->Leds, &TForm1::LedsClick},
        {ui->Test, &TForm1::TestClick},
        {ui->ByPass, &TForm1::ByPassClick},
    };
    for (const auto& [button, handler] : buttons)
        connect(button, &QAbstractButton::clicked, this, handler);
    ConnectEntryFields();
}
