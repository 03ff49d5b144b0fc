#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>

// The few raster primitives the strip chart is drawn with, kept to the rules of the classic
// canvas the chart was designed on, so the picture is pixel-exact and predictable:
//
// - Lines are aliased. A pen of width 0 or 1 is a one-pixel pen: the line covers its start
//   point and leaves out its end point, whichever way it runs, and a line of zero length
//   paints nothing. These lines are stepped pixel by pixel (QPainter's one-pixel lines leave
//   out the end with the larger coordinate and paint zero-length lines as a dot).
// - A wider pen strokes a line of that width with round ends through QPainter, aliased, so a
//   line of zero length paints a round dot of the pen's width (drawPoint with Qt::RoundCap).
// - The frame rectangle from (0, 0) to (w, h) covers columns 0..w-1 and rows 0..h-1: it is
//   filled with the brush and outlined with the pen on its outermost pixels.
namespace morlen::canvas {

// Fills the rectangle (left, top)-(right, bottom), right and bottom exclusive, with `brush`
// and outlines it with a pen of `penColor` and `penWidth`.
void rectangle(QImage& image, const QRect& area, const QColor& brush, const QColor& penColor,
               int penWidth);

// Draws from `from` to `to` with the rules above.
void lineTo(QImage& image, QPoint from, QPoint to, const QColor& penColor, int penWidth);

// Copies columns 1..width-1 onto 0..width-2 over the full height; the last column keeps its
// pixels.
void scrollLeftOnePixel(QImage& image);

}  // namespace morlen::canvas
