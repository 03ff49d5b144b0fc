#include "AppLook.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

namespace morlen {

void applyApplicationLook() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    QApplication::setFont(font);
}

}  // namespace morlen
