#include "GraphPage.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>
#include <array>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>

#include "Performancegraph.h"
#include "Pixels.h"
#include "Tag.h"
#include "Unit1.h"

using namespace graphtest;
using morlen::graphicsChange;
using morlen::GraphPoints;
using morlen::pointsFor;

namespace {

// -------- scaling of the refresh's points --------

struct PointsCase {
    const char* name;
    int choice;
    float inputVoltage;
    const char* batteryCapacityText;
    unsigned runTimeMinutes;
    float loadPercent;
    float outputVoltage;
    GraphPoints expected;
};

void PrintTo(const PointsCase& c, std::ostream* out) {
    *out << c.name;
}

class GraphPointsScaling : public ::testing::TestWithParam<PointsCase> {};

TEST_P(GraphPointsScaling, ScaleTheReadingsForTheChosenPair) {
    const PointsCase& c = GetParam();
    const GraphPoints points = pointsFor(c.choice, c.inputVoltage, c.batteryCapacityText,
                                         c.runTimeMinutes, c.loadPercent, c.outputVoltage);
    EXPECT_EQ(points.add, c.expected.add);
    if (c.expected.add) {
        EXPECT_EQ(points.graph1, c.expected.graph1);
        EXPECT_EQ(points.graph2, c.expected.graph2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Choices, GraphPointsScaling,
    ::testing::Values(
        PointsCase{"InputAndFullBattery", 0, 231.4f, "100.0", 42, 50.0f, 229.0f, {true, 115, 150}},
        PointsCase{"InputAndBatteryWithLeadingZero",
                   0,
                   231.4f,
                   "099.0",
                   42,
                   50.0f,
                   229.0f,
                   {true, 115, 148}},
        PointsCase{"InputAt220", 0, 220.0f, "050.0", 0, 0.0f, 0.0f, {true, 110, 75}},
        PointsCase{
            "InputTruncatedBeforeHalving", 0, 253.9f, "075.0", 0, 0.0f, 0.0f, {true, 126, 112}},
        PointsCase{"RunTimeAndBattery", 1, 231.4f, "075.0", 42, 50.0f, 229.0f, {true, 126, 112}},
        PointsCase{"RunTimeAndLoad", 2, 231.4f, "075.0", 42, 33.3f, 229.0f, {true, 126, 49}},
        PointsCase{"ThreeMinutes", 2, 0.0f, "", 3, 100.0f, 0.0f, {true, 9, 150}},
        PointsCase{"InputAndOutput", 3, 231.4f, "075.0", 42, 50.0f, 229.9f, {true, 115, 114}},
        PointsCase{
            "BatteryTextWithBlanksAndTail", 1, 0.0f, "  42abc", 45, 0.0f, 0.0f, {true, 135, 63}},
        PointsCase{"BatteryTextWithoutDigits", 0, 0.0f, "NA", 0, 0.0f, 0.0f, {true, 0, 0}},
        PointsCase{"BatteryTextMissing", 0, 0.0f, nullptr, 0, 0.0f, 0.0f, {true, 0, 0}},
        PointsCase{"NegativeHalvesTowardZero", 3, -3.7f, "0", 0, 0.0f, -5.0f, {true, -1, -2}},
        // "nan" and "1e99" read as numbers: the points stay defined.
        PointsCase{"NanReadingsGiveZero", 3, NAN, "0", 0, NAN, NAN, {true, 0, 0}},
        PointsCase{"NanLoadGivesZero", 2, 0.0f, "0", 1, NAN, 0.0f, {true, 3, 0}},
        // Past the range a reading is cut to the largest float below 2^31, as everywhere.
        PointsCase{"HugeReadingsGiveTheEndsOfTheRange",
                   3,
                   INFINITY,
                   "0",
                   0,
                   0.0f,
                   -INFINITY,
                   {true, 1073741760, -1073741760}},
        PointsCase{"HugeLoad", 2, 0.0f, "0", 0, 1e30f, 0.0f, {true, 0, 2147483520}},
        PointsCase{"NoSelection", -1, 231.4f, "100.0", 42, 50.0f, 229.0f, {false, 0, 0}},
        PointsCase{"BeyondTheList", 4, 231.4f, "100.0", 42, 50.0f, 229.0f, {false, 0, 0}}),
    [](const ::testing::TestParamInfo<PointsCase>& info) { return info.param.name; });

// -------- the graph page --------

struct MarkNames {
    const char* label;
    const char* tick;
};

constexpr std::array<MarkNames, 4> kUpperMarks{
    {{"Label7", "Bevel2"}, {"Label3", "Bevel3"}, {"Label8", "Bevel4"}, {"Label12", "Bevel8"}}};
constexpr std::array<MarkNames, 4> kLowerMarks{
    {{"Label9", "Bevel5"}, {"Label10", "Bevel6"}, {"Label11", "Bevel7"}, {"Label13", "Bevel9"}}};

// The "Graphics" page of the real window, as its form lays it out, with its own settings
// folder.
class GraphPageFixture {
public:
    GraphPageFixture() {
        upper = form->ui->GroupBox26;
        lower = form->ui->GroupBox27;
        graph1 = form->ui->KPerformanceGraph1;
        graph2 = form->ui->KPerformanceGraph2;
        list = form->ui->Graphics;
    }

    // Applies `choice` from a page that showed `previous` (as the window would have).
    void choose(int previous, int choice) {
        list->setCurrentIndex(previous);
        setTag(list, previous);
        setTag(upper, previous);
        graphicsChange(&window);
        list->setCurrentIndex(choice);
        graphicsChange(&window);
    }

    static std::unique_ptr<TForm1> makeForm(const QTemporaryDir& config) {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        return std::make_unique<TForm1>();
    }

    static void trace(KPerformanceGraph* graph) {
        for (int value : {20, 100, 40}) {
            graph->UpdateData(value);
        }
    }

    static bool hasTrace(KPerformanceGraph* graph) {
        return countOf(graph->picture(), graph->DataColor()) > 0;
    }

    QLabel* label(const char* name) { return window.findChild<QLabel*>(name); }
    QFrame* tick(const char* name) { return window.findChild<QFrame*>(name); }

    QTemporaryDir config;
    std::unique_ptr<TForm1> form = makeForm(config);
    QWidget& window = *form;
    QGroupBox* upper = nullptr;
    QGroupBox* lower = nullptr;
    KPerformanceGraph* graph1 = nullptr;
    KPerformanceGraph* graph2 = nullptr;
    QComboBox* list = nullptr;
};

struct Mark {
    const char* text;
    int labelTop;
    int tickTop;
};

struct FrameExpectation {
    const char* caption;
    std::array<Mark, 4> marks;
};

const FrameExpectation kInput{
    " Input Voltage ", {{{"253v", 27, 32}, {"220v", 43, 47}, {"188v", 58, 62}, {"160v", 73, 78}}}};
const FrameExpectation kRunTime{
    " Run Time ", {{{"45m", 19, 24}, {"25m", 77, 81}, {"10m", 126, 130}, {" 3m", 145, 150}}}};
const std::array<Mark, 4> kPercent{
    {{"75%", 34, 40}, {"50%", 76, 79}, {"35%", 98, 104}, {"25%", 114, 119}}};
const FrameExpectation kBattery{" Battery Charged ", kPercent};
const FrameExpectation kLoad{" Load ", kPercent};
const FrameExpectation kOutput{
    " Output Voltage ", {{{"253v", 27, 31}, {"220v", 42, 45}, {"188v", 57, 61}, {"160v", 72, 77}}}};

const std::array<const FrameExpectation*, 4> kUpperByChoice{&kInput, &kRunTime, &kRunTime, &kInput};
const std::array<const FrameExpectation*, 4> kLowerByChoice{&kBattery, &kBattery, &kLoad, &kOutput};

void expectFrame(GraphPageFixture& page, QGroupBox* frame, const FrameExpectation& expected,
                 const std::array<MarkNames, 4>& names) {
    EXPECT_EQ(frame->title().toStdString(), expected.caption);
    for (size_t i = 0; i < names.size(); ++i) {
        QLabel* label = page.label(names[i].label);
        QFrame* tick = page.tick(names[i].tick);
        ASSERT_NE(label, nullptr);
        ASSERT_NE(tick, nullptr);
        EXPECT_EQ(label->text().toStdString(), expected.marks[i].text) << names[i].label;
        EXPECT_EQ(label->y(), expected.marks[i].labelTop) << names[i].label;
        EXPECT_EQ(label->x(), 5) << names[i].label;
        EXPECT_EQ(tick->y(), expected.marks[i].tickTop) << names[i].tick;
        EXPECT_EQ(tick->x(), 6) << names[i].tick;
        EXPECT_EQ(tick->width(), 26) << names[i].tick;
    }
}

struct ChangeCase {
    int previous;
    int choice;
    bool clearsUpper;
    bool clearsLower;
};

std::string changeName(const ::testing::TestParamInfo<ChangeCase>& info) {
    const auto from =
        info.param.previous < 0 ? std::string("None") : std::to_string(info.param.previous);
    return "From" + from + "To" + std::to_string(info.param.choice);
}

void PrintTo(const ChangeCase& c, std::ostream* out) {
    *out << "from " << c.previous << " to " << c.choice;
}

class GraphicsChangeMatrix : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(GraphicsChangeMatrix, ClearsTheChangedChartsRelabelsAndStoresTheChoice) {
    const ChangeCase& c = GetParam();
    GraphPageFixture page;
    page.list->setCurrentIndex(c.previous);
    graphicsChange(&page.window);  // the page as it looked under the previous choice
    ASSERT_EQ(tagOf(page.list), c.previous);
    GraphPageFixture::trace(page.graph1);
    GraphPageFixture::trace(page.graph2);
    ASSERT_TRUE(GraphPageFixture::hasTrace(page.graph1));
    ASSERT_TRUE(GraphPageFixture::hasTrace(page.graph2));

    page.list->setCurrentIndex(c.choice);
    graphicsChange(&page.window);

    EXPECT_EQ(GraphPageFixture::hasTrace(page.graph1), !c.clearsUpper);
    EXPECT_EQ(GraphPageFixture::hasTrace(page.graph2), !c.clearsLower);
    expectFrame(page, page.upper, *kUpperByChoice[c.choice], kUpperMarks);
    expectFrame(page, page.lower, *kLowerByChoice[c.choice], kLowerMarks);
    EXPECT_EQ(tagOf(page.list), c.choice);
    EXPECT_EQ(tagOf(page.upper), c.choice);
    EXPECT_EQ(tagOf(page.lower), 0);  // only the upper frame carries the plotted choice
}

INSTANTIATE_TEST_SUITE_P(
    EveryPair, GraphicsChangeMatrix,
    ::testing::Values(
        // new 0
        ChangeCase{-1, 0, true, true}, ChangeCase{0, 0, false, false},
        ChangeCase{1, 0, true, false}, ChangeCase{2, 0, true, true}, ChangeCase{3, 0, false, true},
        // new 1
        ChangeCase{-1, 1, true, true}, ChangeCase{0, 1, true, false},
        ChangeCase{1, 1, false, false}, ChangeCase{2, 1, false, true}, ChangeCase{3, 1, true, true},
        // new 2
        ChangeCase{-1, 2, true, true}, ChangeCase{0, 2, true, false}, ChangeCase{1, 2, false, true},
        ChangeCase{2, 2, false, false}, ChangeCase{3, 2, true, true},
        // new 3
        ChangeCase{-1, 3, true, true}, ChangeCase{0, 3, false, true}, ChangeCase{1, 3, true, true},
        ChangeCase{2, 3, true, true}, ChangeCase{3, 3, false, false}),
    changeName);

class GraphicsChangeNoSelection : public ::testing::TestWithParam<int> {};

TEST_P(GraphicsChangeNoSelection, OnlyTheTagsChange) {
    const int previous = GetParam();
    GraphPageFixture page;
    page.list->setCurrentIndex(previous);
    graphicsChange(&page.window);
    GraphPageFixture::trace(page.graph1);
    GraphPageFixture::trace(page.graph2);

    page.list->setCurrentIndex(-1);
    graphicsChange(&page.window);

    EXPECT_TRUE(GraphPageFixture::hasTrace(page.graph1));
    EXPECT_TRUE(GraphPageFixture::hasTrace(page.graph2));
    expectFrame(page, page.upper, *kUpperByChoice[previous], kUpperMarks);
    expectFrame(page, page.lower, *kLowerByChoice[previous], kLowerMarks);
    EXPECT_EQ(tagOf(page.list), -1);
    EXPECT_EQ(tagOf(page.upper), -1);
}

INSTANTIATE_TEST_SUITE_P(FromEachChoice, GraphicsChangeNoSelection, ::testing::Values(0, 1, 2, 3));

TEST(GraphicsChange, ClearingDecidesByTheStoredTagNotByTheListHistory) {
    GraphPageFixture page;
    page.list->setCurrentIndex(0);
    graphicsChange(&page.window);
    GraphPageFixture::trace(page.graph1);
    GraphPageFixture::trace(page.graph2);
    // The list moved on without the handler; the tag still says "Input & Battery".
    page.list->setCurrentIndex(2);
    page.list->setCurrentIndex(3);
    graphicsChange(&page.window);
    EXPECT_TRUE(GraphPageFixture::hasTrace(page.graph1));
    EXPECT_FALSE(GraphPageFixture::hasTrace(page.graph2));
}

TEST(GraphicsChange, PreviousTagOutsideTheListClearsBoth) {
    GraphPageFixture page;
    page.list->setCurrentIndex(1);
    GraphPageFixture::trace(page.graph1);
    GraphPageFixture::trace(page.graph2);
    setTag(page.list, 9);
    graphicsChange(&page.window);
    EXPECT_FALSE(GraphPageFixture::hasTrace(page.graph1));
    EXPECT_FALSE(GraphPageFixture::hasTrace(page.graph2));
    EXPECT_EQ(tagOf(page.list), 1);
}

TEST(GraphicsChange, KeptChartContinuesItsLine) {
    GraphPageFixture page;
    page.choose(-1, 0);
    page.graph1->SetDataPenWidth(1);
    page.graph1->UpdateData(10);
    page.graph1->UpdateData(50);
    page.list->setCurrentIndex(3);
    graphicsChange(&page.window);
    // Still the same line: the next value joins the last point instead of starting afresh.
    page.graph1->UpdateData(70);
    const QImage& picture = page.graph1->picture();
    for (int y = 81; y <= 100; ++y) {
        EXPECT_TRUE(isColor(picture, 296, y, kRed)) << y;
    }
}

TEST(GraphicsChange, ToleratesAPageWithoutSomeControls) {
    QWidget window;
    auto* list = new QComboBox(&window);
    list->setObjectName("Graphics");
    list->addItems({"Input & Battery", "Run Time & Battery", "Run Time & Load", "Input & Output"});
    list->setCurrentIndex(2);
    graphicsChange(&window);
    EXPECT_EQ(tagOf(list), 2);
    graphicsChange(nullptr);
}

}  // namespace
