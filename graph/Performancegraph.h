#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

// Strip chart: a Width x Height picture with a grid. Each UpdateData scrolls the picture one
// pixel to the left and draws the new value (a pixel height above the bottom edge) at the
// right edge. The control does no scaling.
//
// Drawing follows the classic raster canvas the chart was designed for: a pen position that
// survives between calls (and does not scroll with the picture), a LineTo that leaves out its
// end point with one-pixel pens, and wide pens with round ends. See ChartCanvas.h.
class KPerformanceGraph : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int GridWidth READ GridWidth WRITE SetGridWidth)
    Q_PROPERTY(int GridPenWidth READ GridPenWidth WRITE SetGridPenWidth)
    Q_PROPERTY(int DataPenWidth READ DataPenWidth WRITE SetDataPenWidth)
    Q_PROPERTY(QColor GridFonColor READ GridFonColor WRITE SetGridFonColor)
    Q_PROPERTY(QColor GridColor READ GridColor WRITE SetGridColor)
    Q_PROPERTY(QColor DataColor READ DataColor WRITE SetDataColor)

public:
    explicit KPerformanceGraph(QWidget* parent = nullptr);
    ~KPerformanceGraph() override;

    // Clears the chart and draws the grid; the next value starts a new line.
    void DrawGrid();
    // Scrolls one pixel left, adds a vertical grid line when due, draws the value.
    void UpdateData(int value);
    // Draws the value at the right edge without scrolling.
    void DrawData(int value);

    void SetGridWidth(int width);
    void SetGridPenWidth(int width);
    void SetGridCount(int count);
    void SetGridFonColor(const QColor& color);
    void SetGridColor(const QColor& color);
    void SetDataColor(const QColor& color);
    // Takes effect with the next drawn value.
    void SetDataPenWidth(int width) { dataPenWidth = width; }
    void SetHeight(int newHeight);
    void SetWidth(int newWidth);

    int GridWidth() const { return gridWidth; }
    int GridPenWidth() const { return gridPenWidth; }
    int DataPenWidth() const { return dataPenWidth; }
    QColor GridFonColor() const { return gridFonColor; }
    QColor GridColor() const { return gridColor; }
    QColor DataColor() const { return dataColor; }
    int Width() const { return width(); }
    int Height() const { return height(); }

    // The chart's picture as it is painted, at the widget's current size.
    const QImage& picture();
    // Columns left until the next vertical grid line enters at the right edge.
    int gridCount() const { return gridPhase; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void resizePicture();
    // The pen position is the picture's, not the trace's: it stays put while the picture
    // scrolls, which is what makes each value a vertical step at the same column.
    void moveTo(QPoint point);
    void lineTo(QPoint point, const QColor& color, int width);
    bool adoptWidgetSize();

    int gridWidth = 10;
    int gridPenWidth = 1;
    int dataPenWidth = 2;
    QColor gridFonColor{0, 0, 0};
    QColor gridColor{0, 128, 0};
    QColor dataColor{255, 0, 0};
    int chartWidth = 0;
    int chartHeight = 0;

    QImage image;
    QPoint penPos;
    QPoint savedPenPos;
    bool firstPoint = true;
    int gridPhase = 0;
};
