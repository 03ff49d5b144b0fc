#pragma once

class QWidget;

namespace morlen {

// The pair of quantities the two charts plot, as the item index of the "Graphics" list.
enum GraphChoice : int {
    GraphInputBattery = 0,
    GraphRunTimeBattery = 1,
    GraphRunTimeLoad = 2,
    GraphInputOutput = 3,
};

// One refresh's points for the two charts, in pixels above the bottom of a 150-pixel chart.
struct GraphPoints {
    bool add = false;  // false for a choice outside 0..3: no chart gets a point
    int graph1 = 0;    // for KPerformanceGraph1
    int graph2 = 0;    // for KPerformanceGraph2
};

// Scales the readings for the chosen pair. Voltages are truncated, then halved; the battery
// charge is the whole number at the start of `batteryCapacityText` times 1.5, the load
// percent times 1.5 (both truncated); the run time is three pixels per minute.
GraphPoints pointsFor(int choice, float inputVoltage, const char* batteryCapacityText,
                      unsigned runTimeMinutes, float loadPercent, float outputVoltage);

// Applies the item chosen in `Graphics` to the graph page found under `window`: relabels the
// two chart frames and their scale marks, clears the charts whose quantity changed since the
// previous choice (the "Tag" of `Graphics`), then stores the choice as the "Tag" of both
// `Graphics` and `GroupBox26`. With no item chosen only the tags change (to -1).
void graphicsChange(QWidget* window);

}  // namespace morlen
