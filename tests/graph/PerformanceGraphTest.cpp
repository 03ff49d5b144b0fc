#include "Performancegraph.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <climits>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Pixels.h"

using namespace graphtest;

namespace {

// A chart that draws its values with a one-pixel pen, so each segment is exactly the pixels
// from the previous height up to, not including, the new one.
struct ThinChart {
    ThinChart() { chart.SetDataPenWidth(1); }
    KPerformanceGraph chart;
};

// Red pixels expected in column `x` for a segment from `fromValue` to `toValue` in a chart of
// `height`: from the previous point, not including the new one.
std::set<std::pair<int, int>> segment(int x, int height, int fromValue, int toValue) {
    std::set<std::pair<int, int>> pixels;
    const int from = height - fromValue;
    const int to = height - toValue;
    const int step = to > from ? 1 : -1;
    for (int y = from; y != to; y += step) {
        if (y >= 0 && y < height) {
            pixels.emplace(x, y);
        }
    }
    return pixels;
}

// Columns 0..width-2 that are the grid colour over the full height.
std::set<int> fullHeightColumns(const QImage& image, const QColor& color) {
    std::set<int> columns;
    for (int x = 0; x + 1 < image.width(); ++x) {
        bool full = true;
        for (int y = 0; y < image.height() && full; ++y) {
            full = isColor(image, x, y, color);
        }
        if (full) {
            columns.insert(x);
        }
    }
    return columns;
}

TEST(PerformanceGraph, StartsWithTheDefaults) {
    KPerformanceGraph chart;
    EXPECT_EQ(chart.Width(), 200);
    EXPECT_EQ(chart.Height(), 200);
    EXPECT_EQ(chart.size(), QSize(200, 200));
    EXPECT_EQ(chart.GridWidth(), 10);
    EXPECT_EQ(chart.GridPenWidth(), 1);
    EXPECT_EQ(chart.DataPenWidth(), 2);
    EXPECT_EQ(chart.GridFonColor(), kBlack);
    EXPECT_EQ(chart.GridColor(), kGreen);
    EXPECT_EQ(chart.DataColor(), kRed);
}

TEST(PerformanceGraph, FreshChartIsBlackWithAGreenGridEveryTenPixels) {
    KPerformanceGraph chart;
    const QImage& picture = chart.picture();
    ASSERT_EQ(picture.size(), QSize(200, 200));
    EXPECT_EQ(differences(picture, freshGrid(200, 200, 10, kBlack, kGreen)).size(), 0u);
    EXPECT_TRUE(isColor(picture, 190, 57, kGreen));
    EXPECT_TRUE(isColor(picture, 57, 190, kGreen));
    EXPECT_TRUE(isColor(picture, 195, 195, kBlack));
}

TEST(PerformanceGraph, FrameOutlineIsBlackOverTheBackground) {
    KPerformanceGraph chart;
    chart.SetGridFonColor(kBlue);
    const QImage& picture = chart.picture();
    EXPECT_EQ(differences(picture, freshGrid(200, 200, 10, kBlue, kGreen)).size(), 0u);
    EXPECT_TRUE(isColor(picture, 199, 55, kBlack));
    EXPECT_TRUE(isColor(picture, 55, 199, kBlack));
    EXPECT_TRUE(isColor(picture, 199, 50, kGreen));
}

TEST(PerformanceGraph, PaintShowsThePicture) {
    KPerformanceGraph chart;
    chart.UpdateData(40);
    chart.UpdateData(120);
    QImage shown(chart.size(), QImage::Format_RGB32);
    shown.fill(Qt::white);
    chart.render(&shown);
    EXPECT_EQ(differences(shown, chart.picture()).size(), 0u);
    EXPECT_GT(countOf(shown, kRed), 0);
}

TEST(PerformanceGraph, FirstValueAfterClearingOnlyPlacesThePen) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    const QImage before = chart.picture().copy();
    chart.UpdateData(50);
    // A 200-wide chart has its next grid column due one call later: only the scroll is seen.
    EXPECT_EQ(differences(chart.picture(), scrolledLeft(before)).size(), 0u);
    EXPECT_EQ(countOf(chart.picture(), kRed), 0);
}

TEST(PerformanceGraph, SecondValueDrawsAVerticalSegmentFourPixelsFromTheRightEdge) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.UpdateData(50);
    const QImage before = chart.picture().copy();
    chart.UpdateData(80);

    QImage expected = scrolledLeft(before);
    for (int y = 0; y < 200; ++y) {
        expected.setPixel(198, y, kGreen.rgb());  // the grid column due on this call
    }
    for (int y = 121; y <= 150; ++y) {
        expected.setPixel(196, y, kRed.rgb());
    }
    EXPECT_EQ(differences(chart.picture(), expected).size(), 0u);
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(196, 200, 50, 80));
}

TEST(PerformanceGraph, TraceMovesOneColumnLeftPerValue) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.UpdateData(50);
    chart.UpdateData(80);
    for (int calls = 1; calls <= 25; ++calls) {
        chart.UpdateData(80);  // same height: no new pixels with a one-pixel pen
        EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(196 - calls, 200, 50, 80))
            << "after " << calls << " more values";
    }
}

TEST(PerformanceGraph, SteppedTraceFollowsTheValues) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    const std::vector<int> values{10, 60, 30, 30, 90, 5};
    for (int value : values) {
        chart.UpdateData(value);
    }
    // The segment ending at value i sits (values.size() - 1 - i) columns left of x = 196.
    std::set<std::pair<int, int>> expected;
    for (size_t i = 1; i < values.size(); ++i) {
        const int x = 196 - static_cast<int>(values.size() - 1 - i);
        const auto part = segment(x, 200, values[i - 1], values[i]);
        expected.insert(part.begin(), part.end());
    }
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), expected);
}

struct GridEntryCase {
    int width;
    int height;
    int gridWidth;
    int firstEntry;  // the call that draws the first new grid column
};

void PrintTo(const GridEntryCase& c, std::ostream* out) {
    *out << c.width << "x" << c.height << " grid " << c.gridWidth;
}

class PerformanceGraphGridEntry : public ::testing::TestWithParam<GridEntryCase> {};

TEST_P(PerformanceGraphGridEntry, NewGridColumnEntersEveryGridWidthValues) {
    const GridEntryCase& c = GetParam();
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.SetGridColor(kBlue);
    chart.SetWidth(c.width);
    chart.SetHeight(c.height);
    chart.SetGridWidth(c.gridWidth);
    for (int call = 1; call <= c.firstEntry + 3 * c.gridWidth; ++call) {
        chart.UpdateData(c.height / 2);
        const bool due = call >= c.firstEntry && (call - c.firstEntry) % c.gridWidth == 0;
        const bool entered = fullHeightColumns(chart.picture(), kBlue).count(c.width - 2) == 1;
        EXPECT_EQ(entered, due) << "call " << call;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PerformanceGraphGridEntry,
                         ::testing::Values(GridEntryCase{200, 200, 10, 2},
                                           GridEntryCase{300, 150, 10, 2},
                                           GridEntryCase{200, 200, 7, 6},
                                           GridEntryCase{157, 100, 10, 9}));

// When the width is a multiple of the grid width the entering columns continue the grid.
TEST(PerformanceGraph, GridKeepsItsSpacingWhileScrolling) {
    for (const QSize size : {QSize(200, 200), QSize(300, 150)}) {
        ThinChart thin;
        KPerformanceGraph& chart = thin.chart;
        chart.SetWidth(size.width());
        chart.SetHeight(size.height());
        for (int calls = 1; calls <= 45; ++calls) {
            chart.UpdateData(20);
            std::set<int> expected;
            for (int x = 0; x <= size.width() - 2; ++x) {
                if ((x + calls) % 10 == 0) {
                    expected.insert(x);
                }
            }
            EXPECT_EQ(fullHeightColumns(chart.picture(), kGreen), expected)
                << size.width() << " wide, after " << calls << " values";
        }
    }
}

TEST(PerformanceGraph, DataColourChangesOnlyTheNextSegment) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.UpdateData(50);
    chart.UpdateData(80);
    chart.SetDataColor(kBlue);
    EXPECT_EQ(chart.DataColor(), kBlue);
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(196, 200, 50, 80));
    chart.UpdateData(20);
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(195, 200, 50, 80));
    // Blue also marks nothing else: the grid stays green.
    EXPECT_EQ(pixelsOf(chart.picture(), kBlue), segment(196, 200, 80, 20));
}

struct ClearingCase {
    const char* name;
    std::function<void(KPerformanceGraph&)> apply;
    bool clears;
};

void PrintTo(const ClearingCase& c, std::ostream* out) {
    *out << c.name;
}

class PerformanceGraphClearing : public ::testing::TestWithParam<ClearingCase> {};

TEST_P(PerformanceGraphClearing, SettersThatRedrawTheGridClearTheTrace) {
    const ClearingCase& c = GetParam();
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    for (int value : {50, 80, 30, 120}) {
        chart.UpdateData(value);
    }
    const int traced = countOf(chart.picture(), kRed);
    ASSERT_GT(traced, 0);
    c.apply(chart);
    if (!c.clears) {
        EXPECT_EQ(countOf(chart.picture(), kRed), traced);
        return;
    }
    const QImage expected = freshGrid(chart.Width(), chart.Height(), chart.GridWidth(),
                                      chart.GridFonColor(), chart.GridColor());
    ASSERT_EQ(chart.picture().size(), expected.size());
    EXPECT_EQ(differences(chart.picture(), expected).size(), 0u);
    // The next value starts a new line instead of joining the old pen position.
    chart.UpdateData(60);
    EXPECT_EQ(countOf(chart.picture(), kRed), 0);
    chart.UpdateData(70);
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(chart.Width() - 4, chart.Height(), 60, 70));
}

INSTANTIATE_TEST_SUITE_P(
    Setters, PerformanceGraphClearing,
    ::testing::Values(
        ClearingCase{"DrawGrid", [](KPerformanceGraph& g) { g.DrawGrid(); }, true},
        ClearingCase{"SetHeight", [](KPerformanceGraph& g) { g.SetHeight(120); }, true},
        ClearingCase{"SetWidth", [](KPerformanceGraph& g) { g.SetWidth(250); }, true},
        ClearingCase{"SetSameWidth", [](KPerformanceGraph& g) { g.SetWidth(200); }, true},
        ClearingCase{"SetGridWidth", [](KPerformanceGraph& g) { g.SetGridWidth(20); }, true},
        ClearingCase{"SetGridPenWidth", [](KPerformanceGraph& g) { g.SetGridPenWidth(1); }, true},
        ClearingCase{"SetGridCount", [](KPerformanceGraph& g) { g.SetGridCount(4); }, true},
        ClearingCase{"SetGridColor", [](KPerformanceGraph& g) { g.SetGridColor(kBlue); }, true},
        ClearingCase{"SetGridFonColor",
                     [](KPerformanceGraph& g) { g.SetGridFonColor(QColor(40, 40, 40)); }, true},
        ClearingCase{"SetDataColor", [](KPerformanceGraph& g) { g.SetDataColor(kRed); }, false},
        ClearingCase{"SetDataPenWidth", [](KPerformanceGraph& g) { g.SetDataPenWidth(3); }, false}),
    [](const ::testing::TestParamInfo<ClearingCase>& info) { return info.param.name; });

TEST(PerformanceGraph, SizeSettersResizeWidgetAndPicture) {
    KPerformanceGraph chart;
    chart.SetHeight(120);
    chart.SetWidth(250);
    EXPECT_EQ(chart.size(), QSize(250, 120));
    EXPECT_EQ(chart.picture().size(), QSize(250, 120));
    EXPECT_EQ(differences(chart.picture(), freshGrid(250, 120, 10, kBlack, kGreen)).size(), 0u);
}

TEST(PerformanceGraph, GeometryFromTheFormResizesAndClearsAHiddenChart) {
    QWidget frame;
    auto* chart = new KPerformanceGraph(&frame);
    chart->SetDataPenWidth(1);
    chart->UpdateData(10);
    chart->UpdateData(90);
    chart->setGeometry(32, 16, 300, 150);
    EXPECT_EQ(chart->Width(), 300);
    EXPECT_EQ(chart->Height(), 150);
    EXPECT_EQ(differences(chart->picture(), freshGrid(300, 150, 10, kBlack, kGreen)).size(), 0u);
    chart->UpdateData(30);
    chart->UpdateData(60);
    EXPECT_EQ(pixelsOf(chart->picture(), kRed), segment(296, 150, 30, 60));
}

TEST(PerformanceGraph, ResizingAShownChartClearsIt) {
    QWidget frame;
    frame.resize(400, 300);
    auto* chart = new KPerformanceGraph(&frame);
    frame.show();
    chart->UpdateData(10);
    chart->UpdateData(90);
    ASSERT_GT(countOf(chart->picture(), kRed), 0);
    chart->resize(260, 140);
    // Rendered before anything else asks for the picture: the resize itself cleared it.
    QImage shown(chart->size(), QImage::Format_RGB32);
    chart->render(&shown);
    EXPECT_EQ(differences(shown, freshGrid(260, 140, 10, kBlack, kGreen)).size(), 0u);
}

TEST(PerformanceGraph, DrawDataDrawsWithoutScrolling) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.DrawData(50);
    EXPECT_EQ(differences(chart.picture(), freshGrid(200, 200, 10, kBlack, kGreen)).size(), 0u);
    chart.DrawData(80);
    chart.DrawData(20);
    auto expected = segment(196, 200, 50, 80);
    const auto second = segment(196, 200, 80, 20);
    expected.insert(second.begin(), second.end());
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), expected);
    EXPECT_EQ(fullHeightColumns(chart.picture(), kGreen).count(190), 1u);
}

struct OutOfRangeCase {
    const char* name;
    int previous;
    int value;
};

void PrintTo(const OutOfRangeCase& c, std::ostream* out) {
    *out << c.name;
}

class PerformanceGraphOutOfRange : public ::testing::TestWithParam<OutOfRangeCase> {};

TEST_P(PerformanceGraphOutOfRange, ValuesBeyondTheChartAreClipped) {
    const OutOfRangeCase& c = GetParam();
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.UpdateData(c.previous);
    chart.UpdateData(c.value);
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), segment(196, 200, c.previous, c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Values, PerformanceGraphOutOfRange,
    ::testing::Values(OutOfRangeCase{"BelowBottom", 50, -500}, OutOfRangeCase{"AboveTop", 50, 1000},
                      OutOfRangeCase{"FromBelowToAbove", -300, 900},
                      OutOfRangeCase{"BothBelow", -10, -400}, OutOfRangeCase{"TopEdge", 150, 200},
                      OutOfRangeCase{"BottomEdge", 40, 0}),
    [](const ::testing::TestParamInfo<OutOfRangeCase>& info) { return info.param.name; });

TEST(PerformanceGraph, ExtremeValuesAreClippedWithoutOverflow) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.UpdateData(INT_MIN);
    chart.UpdateData(INT_MAX);
    std::set<std::pair<int, int>> column;
    for (int y = 0; y < 200; ++y) {
        column.emplace(196, y);
    }
    EXPECT_EQ(pixelsOf(chart.picture(), kRed), column);
    chart.UpdateData(INT_MIN);
    EXPECT_EQ(countOf(chart.picture(), kRed), 400);
}

// The window's charts: 300 x 150 with a three-pixel data pen.
TEST(PerformanceGraph, WidePenDrawsAThreePixelTraceWithRoundEnds) {
    KPerformanceGraph chart;
    chart.SetWidth(300);
    chart.SetHeight(150);
    chart.setProperty("DataPenWidth", 3);
    ASSERT_EQ(chart.DataPenWidth(), 3);

    // The first value places the pen; the wide pen leaves a round dot there, no line.
    chart.UpdateData(30);
    for (const auto& [x, y] : pixelsOf(chart.picture(), kRed)) {
        EXPECT_LE(std::abs(x - 296), 2) << x << "," << y;
        EXPECT_LE(std::abs(y - 120), 2) << x << "," << y;
    }
    EXPECT_TRUE(isColor(chart.picture(), 296, 120, kRed));

    chart.UpdateData(90);
    for (int y = 62; y <= 118; ++y) {
        for (int x = 295; x <= 297; ++x) {
            EXPECT_TRUE(isColor(chart.picture(), x, y, kRed)) << x << "," << y;
        }
        EXPECT_FALSE(isColor(chart.picture(), 298, y, kRed)) << y;
    }
    for (const auto& [x, y] : pixelsOf(chart.picture(), kRed)) {
        EXPECT_GE(x, 293);
        EXPECT_LE(x, 298);
        EXPECT_GE(y, 58);
        EXPECT_LE(y, 122);
    }

    // A steady value keeps a visible trace: each call adds a dot at the same height.
    for (int i = 0; i < 20; ++i) {
        chart.UpdateData(90);
    }
    for (int x = 277; x <= 296; ++x) {
        EXPECT_TRUE(isColor(chart.picture(), x, 60, kRed)) << x;
    }
}

TEST(PerformanceGraph, PropertiesAreSettableByName) {
    KPerformanceGraph chart;
    chart.UpdateData(10);
    chart.UpdateData(90);
    EXPECT_TRUE(chart.setProperty("GridWidth", 25));
    EXPECT_TRUE(chart.setProperty("GridPenWidth", 1));
    EXPECT_TRUE(chart.setProperty("DataPenWidth", 4));
    EXPECT_TRUE(chart.setProperty("GridFonColor", QColor(20, 20, 60)));
    EXPECT_TRUE(chart.setProperty("GridColor", QColor(200, 200, 0)));
    EXPECT_TRUE(chart.setProperty("DataColor", kBlue));
    EXPECT_EQ(chart.property("GridWidth").toInt(), 25);
    EXPECT_EQ(chart.property("DataPenWidth").toInt(), 4);
    EXPECT_EQ(chart.property("GridColor").value<QColor>(), QColor(200, 200, 0));
    EXPECT_EQ(chart.property("DataColor").value<QColor>(), kBlue);
    EXPECT_EQ(differences(chart.picture(),
                          freshGrid(200, 200, 25, QColor(20, 20, 60), QColor(200, 200, 0)))
                  .size(),
              0u);
}

TEST(PerformanceGraph, GridWidthBelowOneShowsOnlyTheBackground) {
    ThinChart thin;
    KPerformanceGraph& chart = thin.chart;
    chart.SetGridFonColor(kBlue);
    chart.SetGridWidth(0);
    EXPECT_EQ(countOf(chart.picture(), kGreen), 0);
    EXPECT_GT(countOf(chart.picture(), kBlue), 0);
    for (int i = 0; i < 30; ++i) {
        chart.UpdateData(i);
    }
    EXPECT_EQ(countOf(chart.picture(), kGreen), 0);
    EXPECT_GT(countOf(chart.picture(), kRed), 0);
}

}  // namespace
