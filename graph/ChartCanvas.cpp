#include "ChartCanvas.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace morlen::canvas {

namespace {

QPen widePen(const QColor& color, int width) {
    QPen pen(color);
    pen.setWidth(width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void plot(QImage& image, int x, int y, QRgb color) {
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height()) {
        image.setPixel(x, y, color);
    }
}

// One-pixel lines are stepped here rather than left to QPainter: its one-pixel flat-cap lines
// leave out whichever end has the larger coordinate, not the end point, so a line drawn
// upwards or leftwards would lose its start and keep its end.
void thinLine(QImage& image, QPoint from, QPoint to, QRgb color) {
    if (from.x() == to.x() || from.y() == to.y()) {
        // Straight lines, the chart's only kind: clip the span to the picture first.
        const bool vertical = from.x() == to.x();
        const int start = vertical ? from.y() : from.x();
        const int end = vertical ? to.y() : to.x();
        const int limit = (vertical ? image.height() : image.width()) - 1;
        const int last = end > start ? end - 1 : end + 1;  // the end point is left out
        if (start == end) {
            return;
        }
        const int low = std::max(std::min(start, last), 0);
        const int high = std::min(std::max(start, last), limit);
        for (int i = low; i <= high; ++i) {
            if (vertical) {
                plot(image, from.x(), i, color);
            } else {
                plot(image, i, from.y(), color);
            }
        }
        return;
    }
    // Bresenham from the start point, stopping before the end point.
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    int error = dx + dy;
    int x = from.x();
    int y = from.y();
    while (x != to.x() || y != to.y()) {
        plot(image, x, y, color);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

}  // namespace

void rectangle(QImage& image, const QRect& area, const QColor& brush, const QColor& penColor,
               int penWidth) {
    if (image.isNull() || area.isEmpty()) {
        return;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(area, brush);
    QPen pen(penColor);
    pen.setWidth(std::max(penWidth, 1));
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // QRect's right() and bottom() are the last covered pixels, which is where the outline goes.
    painter.drawRect(QRect(area.topLeft(), QSize(area.width() - 1, area.height() - 1)));
}

void lineTo(QImage& image, QPoint from, QPoint to, const QColor& penColor, int penWidth) {
    if (image.isNull()) {
        return;
    }
    if (penWidth <= 1) {
        thinLine(image, from, to, penColor.rgb());
        return;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(widePen(penColor, penWidth));
    if (from == to) {
        painter.drawPoint(to);
    } else {
        painter.drawLine(from, to);
    }
}

void scrollLeftOnePixel(QImage& image) {
    if (image.isNull() || image.width() < 2) {
        return;
    }
    const int bytesPerPixel = image.depth() / 8;
    const size_t moved = static_cast<size_t>(image.width() - 1) * bytesPerPixel;
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        std::memmove(row, row + bytesPerPixel, moved);
    }
}

}  // namespace morlen::canvas
