#include "ChartCanvas.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <utility>

#include "Pixels.h"

using namespace graphtest;
using Pixels = std::set<std::pair<int, int>>;

namespace {

QImage blank(int width = 16, int height = 16) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kBlack);
    return image;
}

struct ThinLineCase {
    const char* name;
    QPoint from;
    QPoint to;
    int penWidth;
    Pixels painted;
};

void PrintTo(const ThinLineCase& c, std::ostream* out) {
    *out << c.name;
}

class ChartCanvasThinLine : public ::testing::TestWithParam<ThinLineCase> {};

// A one-pixel line covers its start and leaves out its end point.
TEST_P(ChartCanvasThinLine, PaintsFromStartUpToButNotIncludingTheEnd) {
    const ThinLineCase& c = GetParam();
    QImage image = blank();
    morlen::canvas::lineTo(image, c.from, c.to, kRed, c.penWidth);
    EXPECT_EQ(pixelsOf(image, kRed), c.painted);
    EXPECT_EQ(countOf(image, kBlack), 16 * 16 - static_cast<int>(c.painted.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChartCanvasThinLine,
    ::testing::Values(
        ThinLineCase{"Down", {3, 2}, {3, 6}, 1, {{3, 2}, {3, 3}, {3, 4}, {3, 5}}},
        ThinLineCase{"Up", {3, 6}, {3, 2}, 1, {{3, 6}, {3, 5}, {3, 4}, {3, 3}}},
        ThinLineCase{"Right", {2, 4}, {6, 4}, 1, {{2, 4}, {3, 4}, {4, 4}, {5, 4}}},
        ThinLineCase{"Left", {6, 4}, {2, 4}, 1, {{6, 4}, {5, 4}, {4, 4}, {3, 4}}},
        ThinLineCase{"Diagonal", {1, 1}, {5, 5}, 1, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}},
        ThinLineCase{"OnePixelLong", {7, 7}, {7, 8}, 1, {{7, 7}}},
        ThinLineCase{"ZeroLength", {7, 7}, {7, 7}, 1, {}},
        ThinLineCase{"ZeroWidthPenIsOnePixel", {3, 2}, {3, 6}, 0, {{3, 2}, {3, 3}, {3, 4}, {3, 5}}},
        ThinLineCase{"ZeroLengthZeroWidth", {7, 7}, {7, 7}, 0, {}},
        ThinLineCase{"ClippedAtTheEdges",
                     {14, -3},
                     {14, 40},
                     1,
                     [] {
                         Pixels column;
                         for (int y = 0; y < 16; ++y) {
                             column.emplace(14, y);
                         }
                         return column;
                     }()}),
    [](const ::testing::TestParamInfo<ThinLineCase>& info) { return info.param.name; });

TEST(ChartCanvasWideLine, VerticalLineIsPenWideAroundItsAxis) {
    QImage image = blank(20, 20);
    morlen::canvas::lineTo(image, {8, 3}, {8, 14}, kRed, 3);
    for (int y = 4; y <= 13; ++y) {
        for (int x = 7; x <= 9; ++x) {
            EXPECT_TRUE(isColor(image, x, y, kRed)) << x << "," << y;
        }
    }
    for (const auto& [x, y] : pixelsOf(image, kRed)) {
        EXPECT_GE(x, 7);
        EXPECT_LE(x, 9);
        // Round ends reach at most half the pen width beyond the end points.
        EXPECT_GE(y, 2);
        EXPECT_LE(y, 15);
    }
}

TEST(ChartCanvasWideLine, ZeroLengthPaintsARoundDot) {
    for (int width : {2, 3, 5}) {
        QImage image = blank(20, 20);
        morlen::canvas::lineTo(image, {10, 10}, {10, 10}, kRed, width);
        const Pixels dot = pixelsOf(image, kRed);
        EXPECT_FALSE(dot.empty()) << "pen width " << width;
        EXPECT_TRUE(isColor(image, 10, 10, kRed)) << "pen width " << width;
        for (const auto& [x, y] : dot) {
            EXPECT_LE(std::abs(x - 10), width / 2 + 1) << "pen width " << width;
            EXPECT_LE(std::abs(y - 10), width / 2 + 1) << "pen width " << width;
        }
    }
}

TEST(ChartCanvasRectangle, FillsWithTheBrushAndOutlinesTheOutermostPixels) {
    QImage image(10, 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    morlen::canvas::rectangle(image, QRect(1, 1, 6, 5), kBlue, kBlack, 1);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 1 && x <= 6 && y >= 1 && y <= 5;
            const bool outline = inside && (x == 1 || x == 6 || y == 1 || y == 5);
            const QColor expected = !inside ? QColor(Qt::white) : outline ? kBlack : kBlue;
            EXPECT_TRUE(isColor(image, x, y, expected)) << x << "," << y;
        }
    }
}

TEST(ChartCanvasScroll, EveryColumnTakesItsRightNeighbourAndTheLastKeepsItsOwn) {
    QImage image(6, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x) {
            image.setPixel(x, y, qRgb(10 * x, 50 * y, 7));
        }
    }
    morlen::canvas::scrollLeftOnePixel(image);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(image.pixel(x, y), qRgb(10 * (x + 1), 50 * y, 7)) << x << "," << y;
        }
        EXPECT_EQ(image.pixel(5, y), qRgb(50, 50 * y, 7));
    }
}

TEST(ChartCanvasScroll, DegenerateImagesAreLeftAlone) {
    QImage narrow(1, 4, QImage::Format_RGB32);
    narrow.fill(kRed);
    morlen::canvas::scrollLeftOnePixel(narrow);
    EXPECT_EQ(countOf(narrow, kRed), 4);

    QImage null;
    morlen::canvas::scrollLeftOnePixel(null);
    morlen::canvas::lineTo(null, {0, 0}, {5, 5}, kRed, 3);
    morlen::canvas::rectangle(null, QRect(0, 0, 5, 5), kRed, kBlack, 1);
    EXPECT_TRUE(null.isNull());
}

}  // namespace
