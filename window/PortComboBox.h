#pragma once

#include <QComboBox>

// The port choice: says when its list is about to open, so that the window can read the
// adapters present at that moment into it first.
class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PortComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}

    void showPopup() override {
        emit aboutToShowPopup();
        QComboBox::showPopup();
    }

signals:
    void aboutToShowPopup();
};
