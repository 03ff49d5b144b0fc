// The adjust buttons. Each one posts one request and returns at once: the window thread never
// talks to the unit while the poll thread runs, and a button stays usable while its request
// waits in the queue.
#include <QAbstractButton>

#include "Unit1.h"

namespace {

using morlen::Request;

// The buttons that post one request with an argument of their own. The stored settings'
// buttons come from the settings' table.
struct Post {
    const char* button;
    Request request;
    char argument;
};
constexpr Post kPosts[] = {
    // Unit information and Smart-UPS page.
    {.button = "ModelMinus", .request = Request::ModelStep, .argument = '-'},
    {.button = "ModelPlus", .request = Request::ModelStep, .argument = '+'},
    {.button = "LoadPlus", .request = Request::LoadStep, .argument = '+'},
    {.button = "LoadMinus", .request = Request::LoadStep, .argument = '-'},
    {.button = "InputVoltagePlus", .request = Request::InputStep, .argument = '+'},
    {.button = "InputVoltageMinus", .request = Request::InputStep, .argument = '-'},
    {.button = "BatteryVoltagePlus", .request = Request::BatteryVoltageStep, .argument = '+'},
    {.button = "BatteryVoltageMinus", .request = Request::BatteryVoltageStep, .argument = '-'},
    // Back-UPS Pro page.
    {.button = "LoadBackProPlus", .request = Request::LoadBackProStep, .argument = '+'},
    {.button = "LoadBackProMinus", .request = Request::LoadBackProStep, .argument = '-'},
    {.button = "InputVoltageBackProPlus", .request = Request::InputBackProStep, .argument = '+'},
    {.button = "InputVoltageBackProMinus", .request = Request::InputBackProStep, .argument = '-'},
    {.button = "RatioPlus", .request = Request::RatioStep, .argument = '+'},
    {.button = "RatioMinus", .request = Request::RatioStep, .argument = '-'},
    {.button = "EUTVoltagePlus", .request = Request::EutVoltageStep, .argument = '+'},
    {.button = "EUTVoltageMinus", .request = Request::EutVoltageStep, .argument = '-'},
    {.button = "BatteryVoltageBackProPlus",
     .request = Request::BatteryBackProStep,
     .argument = '+'},
    {.button = "BatteryVoltageBackProMinus",
     .request = Request::BatteryBackProStep,
     .argument = '-'},
    // The float voltage steps opposite to its sign on every unit.
    {.button = "FloatBackProPlus", .request = Request::FloatStep, .argument = '-'},
    {.button = "FloatBackProMinus", .request = Request::FloatStep, .argument = '+'},
    {.button = "DCOffsetPlus", .request = Request::DcOffsetStep, .argument = '+'},
    {.button = "DCOffsetMinus", .request = Request::DcOffsetStep, .argument = '-'},
    {.button = "CapasitorLoadPlus", .request = Request::CapacitorLoadStep, .argument = '+'},
    {.button = "CapasitorLoadMinus", .request = Request::CapacitorLoadStep, .argument = '-'},
    // Second-generation page: these units step their meters in one direction only.
    {.button = "Load2ndMinus", .request = Request::Load2ndStep, .argument = '-'},
    {.button = "InputVoltage2ndMinus", .request = Request::Input2ndStep, .argument = '-'},
    {.button = "Bat2ndMinus", .request = Request::Battery2ndStep, .argument = '-'},
    // The settings page's reset and the left column's commands.
    {.button = "ResetAll", .request = Request::ResetAll, .argument = 'z'},
    {.button = "Leds", .request = Request::PanelTest, .argument = '-'},
    {.button = "Test", .request = Request::SelfTest, .argument = '-'},
    {.button = "ByPass", .request = Request::Bypass, .argument = '-'},
    // The battery page: the guarded calibration.
    {.button = "Calibrate", .request = Request::CalibrationStart, .argument = '-'},
    {.button = "AbortCalibration", .request = Request::CalibrationAbort, .argument = '-'},
};

}  // namespace

bool TForm1::post(Request request, char argument, std::optional<std::string> target,
                  std::vector<morlen::RestoreTarget> restore) {
    return requestQueue->Push(static_cast<char>(request), argument, std::move(target),
                              std::move(restore));
}

void TForm1::ConnectAdjustControls() {
    const auto bind = [this](const char* name, auto clicked) {
        connect(control<QAbstractButton>(name), &QAbstractButton::clicked, this, clicked);
    };
    for (const Post& p : kPosts)
        bind(p.button, [this, p] { post(p.request, p.argument); });
    // The B.B.D. voltage moves the other way on units rated below 1000 VA (and on those whose
    // name carries no rating): the buttons keep their meaning by swapping the step.
    bind("BBDVoltagePlus",
         [this] { post(Request::BbdVoltageStep, unitValues().ratingDigits == 4 ? '+' : '-'); });
    bind("BBDVoltageMinus",
         [this] { post(Request::BbdVoltageStep, unitValues().ratingDigits == 4 ? '-' : '+'); });
    // A "Change" steps its setting on to the next value; the packs count both ways.
    for (const morlen::StoredSetting& setting : morlen::StoredSettings()) {
        for (const morlen::SettingPlace& place : setting.places) {
            if (place.button != nullptr)
                bind(place.button, [this, &place] { post(place.request, '-'); });
            if (place.buttonUp != nullptr)
                bind(place.buttonUp, [this, &place] { post(place.request, '+'); });
        }
    }
    ConnectEntryFields();
}
