#include "StatusBar.h"

#include <qdrawutil.h>
#include <QPainter>

namespace {
constexpr int kBarHeight = 21;
constexpr int kPanelGap = 2;
}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    setFixedHeight(kBarHeight);
}

void TStatusBar::setPanels(std::vector<Panel> panels) {
    panels_ = std::move(panels);
    update();
}

QString TStatusBar::panelText(int index) const {
    if (index < 0 || index >= panelCount()) {
        return {};
    }
    return panels_[static_cast<size_t>(index)].text;
}

void TStatusBar::setPanelText(int index, const QString& text) {
    if (index < 0 || index >= panelCount()) {
        return;
    }
    panels_[static_cast<size_t>(index)].text = text;
    update(panelRect(index).adjusted(-1, -1, 1, 1));
}

QRect TStatusBar::panelRect(int index) const {
    int left = 0;
    for (int i = 0; i < index && i < panelCount(); ++i) {
        left += panels_[static_cast<size_t>(i)].width;
    }
    if (index < 0 || index >= panelCount()) {
        return {};
    }
    const int width = panels_[static_cast<size_t>(index)].width - kPanelGap;
    return QRect(left + 1, 3, width - 2, height() - 5);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // The bar is disabled (display only) but its texts stay fully legible.
    const QColor textColor = palette().color(QPalette::Active, QPalette::WindowText);
    for (int i = 0; i < panelCount(); ++i) {
        const Panel& panel = panels_[static_cast<size_t>(i)];
        const QRect content = panelRect(i);
        if (panel.bevel) {
            qDrawShadePanel(&painter, content.adjusted(-1, -1, 1, 1), palette(), true, 1);
        }
        painter.save();
        painter.setClipRect(content);
        if (panel.ownerDraw) {
            if (onDrawPanel) {
                onDrawPanel(painter, i, content);
            }
        } else {
            painter.setPen(textColor);
            painter.drawText(content.adjusted(2, 0, -1, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             panel.text);
        }
        painter.restore();
    }
}
