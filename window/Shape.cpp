#include "Shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent) : QWidget(parent) {
    // Decoration only: let the group box underneath show its hint.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TShape::setBrushColor(const QColor& color) {
    brush = color;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), brush);
    painter.setPen(palette().color(QPalette::Button));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
