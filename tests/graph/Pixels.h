// Pixel helpers shared by the chart tests.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <set>
#include <utility>

namespace graphtest {

inline const QColor kBlack(0, 0, 0);
inline const QColor kGreen(0, 128, 0);
inline const QColor kRed(255, 0, 0);
inline const QColor kBlue(0, 0, 255);

inline bool isColor(const QImage& image, int x, int y, const QColor& color) {
    return image.pixel(x, y) == color.rgb();
}

// Every pixel of `color`, as (x, y).
inline std::set<std::pair<int, int>> pixelsOf(const QImage& image, const QColor& color) {
    std::set<std::pair<int, int>> found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isColor(image, x, y, color)) {
                found.emplace(x, y);
            }
        }
    }
    return found;
}

inline int countOf(const QImage& image, const QColor& color) {
    return static_cast<int>(pixelsOf(image, color).size());
}

// The picture one scroll step later, before anything new is drawn: every column takes the
// pixels of its right neighbour, the last column keeps its own.
inline QImage scrolledLeft(const QImage& before) {
    QImage after = before.copy();
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x + 1 < before.width(); ++x) {
            after.setPixel(x, y, before.pixel(x + 1, y));
        }
    }
    return after;
}

// A freshly cleared chart: grid lines on every multiple of `step` in both directions, the
// frame's black outline on the last column and row where no grid line crosses it, and the
// background everywhere else.
inline QImage freshGrid(int width, int height, int step, const QColor& background,
                        const QColor& grid) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            QColor color = background;
            if (x % step == 0 || y % step == 0) {
                color = grid;
            } else if (x == width - 1 || y == height - 1) {
                color = kBlack;
            }
            image.setPixel(x, y, color.rgb());
        }
    }
    return image;
}

// Where two pictures of the same size differ, as (x, y).
inline std::set<std::pair<int, int>> differences(const QImage& a, const QImage& b) {
    std::set<std::pair<int, int>> found;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                found.emplace(x, y);
            }
        }
    }
    return found;
}

}  // namespace graphtest
