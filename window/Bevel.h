#pragma once

#include <QFrame>

// An etched line along the bottom edge of its rectangle: the separators and the short scale
// ticks beside the charts. Only the bottom edge is drawn, so a tick's top can be placed above
// its line the way the scale marks are laid out.
class TBevel : public QFrame {
    Q_OBJECT

public:
    explicit TBevel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
