#include "UpperCaseLineEdit.h"

UpperCaseLineEdit::UpperCaseLineEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, &UpperCaseLineEdit::convert);
}

void UpperCaseLineEdit::convert(const QString& text) {
    const QString upper = text.toUpper();
    if (upper == text) {
        return;
    }
    // setText emits textChanged again; the second call finds nothing to convert.
    const int cursor = cursorPosition();
    setText(upper);
    setCursorPosition(cursor);
}
