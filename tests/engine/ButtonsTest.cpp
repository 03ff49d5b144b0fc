// The adjust buttons: the request each one posts, the direction rules of the B.B.D. and float
// buttons, and clicks reaching the unit in the order they were made.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <string>
#include <utility>
#include <vector>

#include "EngineBench.h"

namespace morlen::test {
namespace {

using Request = std::pair<char, char>;

// Everything waiting in the queue, oldest first; the queue is left empty.
std::vector<Request> drain(Queue& queue) {
    std::vector<Request> out;
    while (!queue.IsEmpty()) {
        const APCommandToSend front = queue.Front();
        out.emplace_back(front.code, front.argument);
        queue.Pop();
    }
    return out;
}

// Clicks a button as the technician would, with whatever disabled it on the way enabled.
void click(TForm1& form, const char* name) {
    auto* button = form.control<QAbstractButton>(name);
    for (QWidget* w = button; w != nullptr; w = w->parentWidget())
        w->setEnabled(true);
    button->click();
}

TEST(AdjustButtons, EachPostsItsOwnRequestOnce) {
    struct Row {
        const char* button;
        char code, argument;
    };
    const Row rows[] = {
        {"ModelMinus", '1', '-'},
        {"ModelPlus", '1', '+'},
        {"LoadPlus", '2', '+'},
        {"LoadMinus", '2', '-'},
        {"InputVoltagePlus", '3', '+'},
        {"InputVoltageMinus", '3', '-'},
        {"BatteryVoltagePlus", '4', '+'},
        {"BatteryVoltageMinus", '4', '-'},
        {"BatteryPacksPlus", '5', '+'},
        {"BatteryPacksMinus", '5', '-'},
        {"UpVoltageConstChange", '8', '-'},
        {"LowVoltageConstChange", '9', '-'},
        {"OutVoltageConstChange", 'a', '-'},
        {"LoadBackProPlus", 'f', '+'},
        {"LoadBackProMinus", 'f', '-'},
        {"InputVoltageBackProPlus", 'g', '+'},
        {"InputVoltageBackProMinus", 'g', '-'},
        {"RatioPlus", 'A', '+'},
        {"RatioMinus", 'A', '-'},
        {"EUTVoltagePlus", 'C', '+'},
        {"EUTVoltageMinus", 'C', '-'},
        {"BatteryVoltageBackProPlus", 'D', '+'},
        {"BatteryVoltageBackProMinus", 'D', '-'},
        {"DCOffsetPlus", 'F', '+'},
        {"DCOffsetMinus", 'F', '-'},
        {"CapasitorLoadPlus", 'G', '+'},
        {"CapasitorLoadMinus", 'G', '-'},
        {"Load2ndMinus", '6', '-'},
        {"InputVoltage2ndMinus", '7', '-'},
        {"Bat2ndMinus", 'R', '-'},
        {"UpVoltageChange2nd", 'b', '-'},
        {"LowVoltageChange2nd", 'c', '-'},
        {"OutVoltageChange2nd", 'd', '-'},
        {"LowBatWarningChange", 'S', '-'},
        {"ShutDownDelayChange", 'u', '-'},
        {"WakeUpDelayChange", 'v', '-'},
        {"SelfTestChange", 'w', '-'},
        {"ThresholdChange", 'M', '-'},
        {"SensitivityChange", 'x', '-'},
        {"AlarmDelayChange", 'y', '-'},
        {"Leds", 'z', '-'},
        {"Test", 'P', '-'},
        {"ByPass", '~', '-'},
        // The one request whose argument is no direction.
        {"ResetAll", 'N', 'z'},
        // The float voltage steps against the button's sign on every unit.
        {"FloatBackProPlus", 'E', '-'},
        {"FloatBackProMinus", 'E', '+'},
    };
    EngineBench bench("su1000");
    TForm1& form = bench.form();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        click(form, row.button);
        EXPECT_EQ(drain(*form.requestQueue), (std::vector<Request>{{row.code, row.argument}}));
    }
}

TEST(AdjustButtons, BbdButtonsSwapTheirStepBelowAFourDigitRating) {
    struct Row {
        int ratingDigits;
        char plus, minus;
    };
    const Row rows[] = {{4, '+', '-'}, {3, '-', '+'}, {0, '-', '+'}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ratingDigits);
        EngineBench bench("su1000");
        TForm1& form = bench.form();
        form.ups->ratingDigits = static_cast<std::int16_t>(row.ratingDigits);
        click(form, "BBDVoltagePlus");
        click(form, "BBDVoltageMinus");
        EXPECT_EQ(drain(*form.requestQueue),
                  (std::vector<Request>{{'B', row.plus}, {'B', row.minus}}));
    }
}

TEST(AdjustButtons, BbdButtonsFollowTheConnectedUnitsRating) {
    // A Back-UPS Pro 650: three digits, so "+" steps down.
    EngineBench bench("backpro");
    bench.connectUnit();
    ASSERT_EQ(bench.form().ups->ratingDigits, 3);
    ASSERT_TRUE(bench.atRefresh([&] {
        click(bench.form(), "BBDVoltagePlus");
        bench.takeCommands();
    }));
    ASSERT_TRUE(bench.atRefresh([&] {
        const std::string wire = bench.takeCommands();
        EXPECT_NE(wire.find("2-2"), std::string::npos) << wire;
    }));
}

TEST(AdjustButtons, QuickClicksAreCarriedOutOneAfterAnotherInTheirOrder) {
    EngineBench bench("su1000");
    bench.connectUnit();
    Ui::TForm1& ui = bench.ui();
    std::string wire;
    ASSERT_TRUE(bench.atRefreshes({
        [&] {
            ui.PageControl1->setCurrentWidget(ui.TabSheet6);
            for (const char* name : {"LoadPlus", "LoadPlus", "LoadMinus", "LoadPlus", "LoadMinus"})
                click(bench.form(), name);
            bench.takeCommands();
        },
        [&] { wire = bench.takeCommands(); },
    }));
    EXPECT_EQ(wire, "Y~'8QP+PP+PP-PP+PP-P");
}

}  // namespace
}  // namespace morlen::test
