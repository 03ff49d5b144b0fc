#pragma once

#include <QGroupBox>

// A group box whose caption sits on the top edge of its frame, the frame line running through
// the middle of the caption. The controls of each group are placed for that: they start a few
// pixels below the group's top edge, which styles that put the caption above the frame would
// cover.
class TGroupBox : public QGroupBox {
    Q_OBJECT

public:
    explicit TGroupBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
