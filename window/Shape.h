#pragma once

#include <QColor>
#include <QWidget>

// A filled rectangle with a one-pixel outline in the button-face colour. The colour scales
// beside the bars are made of these, placed under the bar so that a strip of colour shows.
class TShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColor READ brushColor WRITE setBrushColor)

public:
    explicit TShape(QWidget* parent = nullptr);

    QColor brushColor() const { return brush; }
    void setBrushColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brush{Qt::white};
};
