#include "GraphPage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>

#include "Apcups.h"
#include "Performancegraph.h"
#include "Tag.h"

namespace morlen {

namespace {

// The whole number at the start of a reply text: leading blanks skipped, digits up to the first
// other character, 0 when there are none.
long leadingNumber(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    long number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (number < 100000000L) {  // replies are a few digits; this only stops an overflow
            number = number * 10 + (*text - '0');
        }
    }
    return number;
}

// Truncated as the readings are, so "nan" or "1e99" gives a defined point.
int halfOfTruncated(float value) {
    return static_cast<int>(Truncate(value) / 2);
}

int timesOneAndAHalf(float value) {
    return static_cast<int>(Truncate(value * 1.5f));
}

struct Mark {
    const char* text;
    int labelTop;
    int tickTop;
};

struct FrameLayout {
    const char* caption;
    std::array<Mark, 4> marks;
};

constexpr std::array<const char*, 4> kUpperLabels{"Label7", "Label3", "Label8", "Label12"};
constexpr std::array<const char*, 4> kUpperTicks{"Bevel2", "Bevel3", "Bevel4", "Bevel8"};
constexpr std::array<const char*, 4> kLowerLabels{"Label9", "Label10", "Label11", "Label13"};
constexpr std::array<const char*, 4> kLowerTicks{"Bevel5", "Bevel6", "Bevel7", "Bevel9"};

// The marks sit level with the plotted height of their value in the 150-pixel charts.
constexpr FrameLayout kInputVoltage{
    " Input Voltage ", {{{"253v", 27, 32}, {"220v", 43, 47}, {"188v", 58, 62}, {"160v", 73, 78}}}};
constexpr FrameLayout kRunTime{
    " Run Time ", {{{"45m", 19, 24}, {"25m", 77, 81}, {"10m", 126, 130}, {" 3m", 145, 150}}}};
constexpr std::array<Mark, 4> kPercentMarks{
    {{"75%", 34, 40}, {"50%", 76, 79}, {"35%", 98, 104}, {"25%", 114, 119}}};
constexpr FrameLayout kBatteryCharged{" Battery Charged ", kPercentMarks};
constexpr FrameLayout kLoad{" Load ", kPercentMarks};
constexpr FrameLayout kOutputVoltage{
    " Output Voltage ", {{{"253v", 27, 31}, {"220v", 42, 45}, {"188v", 57, 61}, {"160v", 72, 77}}}};

constexpr std::array<const FrameLayout*, 4> kUpperLayout{&kInputVoltage, &kRunTime, &kRunTime,
                                                         &kInputVoltage};
constexpr std::array<const FrameLayout*, 4> kLowerLayout{&kBatteryCharged, &kBatteryCharged, &kLoad,
                                                         &kOutputVoltage};

constexpr int kClearUpper = 1;
constexpr int kClearLower = 2;
constexpr int kClearBoth = kClearUpper | kClearLower;

// Which charts to clear, by new choice (row) and previous choice -1..3 (column). The table is
// the established behaviour and is not symmetric: going from "Input & Battery" to "Run Time &
// Load" keeps the lower trace.
constexpr std::array<std::array<int, 5>, 4> kClearTable{{
    {kClearBoth, 0, kClearUpper, kClearBoth, kClearLower},
    {kClearBoth, kClearUpper, 0, kClearLower, kClearBoth},
    {kClearBoth, kClearUpper, kClearLower, 0, kClearBoth},
    {kClearBoth, kClearLower, kClearBoth, kClearBoth, 0},
}};

void moveTop(QWidget* widget, int top) {
    if (widget != nullptr) {
        widget->move(widget->x(), top);
    }
}

void applyFrame(QWidget* window, const char* frameName, const FrameLayout& layout,
                const std::array<const char*, 4>& labels, const std::array<const char*, 4>& ticks) {
    if (auto* frame = window->findChild<QGroupBox*>(frameName)) {
        frame->setTitle(QString::fromLatin1(layout.caption));
    }
    for (size_t i = 0; i < layout.marks.size(); ++i) {
        const Mark& mark = layout.marks[i];
        if (auto* label = window->findChild<QLabel*>(labels[i])) {
            label->setText(QString::fromLatin1(mark.text));
            moveTop(label, mark.labelTop);
        }
        moveTop(window->findChild<QWidget*>(ticks[i]), mark.tickTop);
    }
}

void clearChart(QWidget* window, const char* name) {
    if (auto* chart = window->findChild<KPerformanceGraph*>(name)) {
        chart->DrawGrid();
    }
}

}  // namespace

GraphPoints pointsFor(int choice, float inputVoltage, const char* batteryCapacityText,
                      unsigned runTimeMinutes, float loadPercent, float outputVoltage) {
    GraphPoints points;
    const int runTime = static_cast<int>(runTimeMinutes) * 3;
    const int battery = timesOneAndAHalf(static_cast<float>(leadingNumber(batteryCapacityText)));
    switch (choice) {
        case GraphInputBattery:
            points = {true, halfOfTruncated(inputVoltage), battery};
            break;
        case GraphRunTimeBattery:
            points = {true, runTime, battery};
            break;
        case GraphRunTimeLoad:
            points = {true, runTime, timesOneAndAHalf(loadPercent)};
            break;
        case GraphInputOutput:
            points = {true, halfOfTruncated(inputVoltage), halfOfTruncated(outputVoltage)};
            break;
        default:
            break;
    }
    return points;
}

void graphicsChange(QWidget* window) {
    if (window == nullptr) {
        return;
    }
    auto* list = window->findChild<QComboBox*>("Graphics");
    if (list == nullptr) {
        return;
    }
    const int choice = list->currentIndex();
    if (choice >= 0 && choice < 4) {
        applyFrame(window, "GroupBox26", *kUpperLayout[choice], kUpperLabels, kUpperTicks);
        applyFrame(window, "GroupBox27", *kLowerLayout[choice], kLowerLabels, kLowerTicks);

        // A previous choice that is not one of the items counts as none: both charts restart.
        const int previous = tagOf(list);
        const int column = (previous >= 0 && previous < 4) ? previous + 1 : 0;
        const int clear = kClearTable[choice][column];
        if (clear & kClearUpper) {
            clearChart(window, "KPerformanceGraph1");
        }
        if (clear & kClearLower) {
            clearChart(window, "KPerformanceGraph2");
        }
    }
    setTag(list, choice);
    setTag(window->findChild<QWidget*>("GroupBox26"), choice);
}

}  // namespace morlen
