#include "ChartCanvas.h"

#include <QPainter>
#include <QPen>
#include <cstring>

namespace morlen::canvas {

namespace {

QPen penOf(const QColor& color, int width) {
    QPen pen(color);
    if (width <= 1) {
        pen.setWidth(1);
        pen.setCapStyle(Qt::FlatCap);
    } else {
        pen.setWidth(width);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
    }
    return pen;
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
    QPen pen = penOf(penColor, penWidth);
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
    if (from == to && penWidth <= 1) {
        return;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(penOf(penColor, penWidth));
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
