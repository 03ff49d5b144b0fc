#include "GroupBox.h"

#include <QPainter>
#include <QStyle>

namespace {
constexpr int kCaptionLeft = 6;
constexpr int kCaptionPadding = 2;
}  // namespace

TGroupBox::TGroupBox(QWidget* parent) : QGroupBox(parent) {}

void TGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;

    // An etched frame: a dark line with a light one inside it.
    const QRect outer = rect().adjusted(0, lineY, -2, -2);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(outer);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(outer.translated(1, 1));

    if (title().isEmpty()) {
        return;
    }
    const QRect caption(kCaptionLeft, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionPadding,
                        metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}
