#include "Performancegraph.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

#include "ChartCanvas.h"

namespace canvas = morlen::canvas;

KPerformanceGraph::KPerformanceGraph(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    DrawGrid();
    SetHeight(200);
    SetWidth(200);
}

KPerformanceGraph::~KPerformanceGraph() = default;

QSize KPerformanceGraph::sizeHint() const {
    return QSize(chartWidth, chartHeight);
}

const QImage& KPerformanceGraph::picture() {
    if (adoptWidgetSize()) {
        DrawGrid();
    }
    return image;
}

void KPerformanceGraph::DrawGrid() {
    adoptWidgetSize();
    firstPoint = true;
    const QColor black(0, 0, 0);
    canvas::rectangle(image, QRect(0, 0, chartWidth, chartHeight), gridFonColor, black,
                      gridPenWidth);

    // A grid step below 1 would never finish: the chart then shows the background only and no
    // grid line enters while it scrolls (a negative phase).
    gridPhase = -1;
    if (gridWidth >= 1) {
        int lastX = 0;
        for (int x = 0; x <= chartWidth; x += gridWidth) {
            moveTo(QPoint(x, 0));
            lineTo(QPoint(x, chartHeight), gridColor, gridPenWidth);
            lastX = x;
        }
        gridPhase = chartWidth - (lastX - 1);
        for (int y = 0; y <= chartHeight; y += gridWidth) {
            moveTo(QPoint(0, y));
            lineTo(QPoint(chartWidth, y), gridColor, gridPenWidth);
        }
    }
    update();
}

void KPerformanceGraph::UpdateData(int value) {
    if (adoptWidgetSize()) {
        DrawGrid();
    }
    canvas::scrollLeftOnePixel(image);
    if (gridPhase > 0) {
        --gridPhase;
    } else if (gridPhase == 0) {
        savedPenPos = penPos;
        moveTo(QPoint(chartWidth - 2, 0));
        lineTo(QPoint(chartWidth - 2, chartHeight), gridColor, gridPenWidth);
        moveTo(savedPenPos);
        gridPhase = gridWidth - 1;
    }
    DrawData(value);
}

void KPerformanceGraph::DrawData(int value) {
    if (adoptWidgetSize()) {
        DrawGrid();
    }
    // Values far outside the chart are clipped anyway; bounding them keeps the arithmetic and
    // the painter's coordinates in range.
    constexpr long long kFar = 1 << 20;
    const long long y = std::clamp(static_cast<long long>(chartHeight) - value, -kFar, kFar);
    const QPoint target(chartWidth - 4, static_cast<int>(y));
    if (firstPoint) {
        moveTo(target);
        firstPoint = false;
    }
    lineTo(target, dataColor, dataPenWidth);
    update();
}

void KPerformanceGraph::moveTo(QPoint point) {
    penPos = point;
}

void KPerformanceGraph::lineTo(QPoint point, const QColor& color, int width) {
    canvas::lineTo(image, penPos, point, color, width);
    penPos = point;
}

void KPerformanceGraph::SetGridWidth(int width) {
    gridWidth = width;
    DrawGrid();
}

void KPerformanceGraph::SetGridPenWidth(int width) {
    gridPenWidth = width;
    DrawGrid();
}

void KPerformanceGraph::SetGridCount(int count) {
    gridPhase = count;
    DrawGrid();
}

void KPerformanceGraph::SetGridFonColor(const QColor& color) {
    gridFonColor = color;
    DrawGrid();
}

void KPerformanceGraph::SetGridColor(const QColor& color) {
    gridColor = color;
    DrawGrid();
}

void KPerformanceGraph::SetDataColor(const QColor& color) {
    dataColor = color;
}

void KPerformanceGraph::SetHeight(int newHeight) {
    resize(width(), newHeight);
    chartHeight = height();
    resizePicture();
    DrawGrid();
}

void KPerformanceGraph::SetWidth(int newWidth) {
    resize(newWidth, height());
    chartWidth = width();
    resizePicture();
    DrawGrid();
}

void KPerformanceGraph::resizePicture() {
    const QSize wanted(qMax(chartWidth, 0), qMax(chartHeight, 0));
    if (image.size() != wanted) {
        image = QImage(wanted, QImage::Format_RGB32);
    }
}

void KPerformanceGraph::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    painter.drawImage(0, 0, image);
}

void KPerformanceGraph::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (adoptWidgetSize()) {
        DrawGrid();
    }
}

bool KPerformanceGraph::adoptWidgetSize() {
    // A layout or a stored geometry sizes the chart like SetWidth and SetHeight do, which
    // clears it. A hidden widget gets its resize event only when shown, so the drawing calls
    // check as well.
    if (size() == QSize(chartWidth, chartHeight) && image.size() == size()) {
        return false;
    }
    chartWidth = width();
    chartHeight = height();
    resizePicture();
    return true;
}
