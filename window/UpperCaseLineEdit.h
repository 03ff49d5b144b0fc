#pragma once

#include <QLineEdit>

// An entry field that holds its text in upper case, whether typed or set by the program
// ("a2" set by code reads back as "A2"), as the hexadecimal code fields show it.
class UpperCaseLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit UpperCaseLineEdit(QWidget* parent = nullptr);

private:
    void convert(const QString& text);
};
