#pragma once

#include <QRect>
#include <QStatusBar>
#include <QString>
#include <functional>
#include <vector>

class QPainter;

// A status bar of fixed-width panels, numbered from the left. Panels hold a text, or are
// owner-drawn through `onDrawPanel` (the link lamp). It only displays: there are no
// temporary messages and no size grip.
class TStatusBar : public QStatusBar {
    Q_OBJECT

public:
    struct Panel {
        int width = 50;
        QString text;
        bool bevel = true;       // lowered frame around the panel
        bool ownerDraw = false;  // painted by onDrawPanel instead of showing text
    };

    explicit TStatusBar(QWidget* parent = nullptr);

    void setPanels(std::vector<Panel> panels);
    int panelCount() const { return static_cast<int>(panels_.size()); }
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);
    // The area a panel's content is drawn into, inside its frame.
    QRect panelRect(int index) const;

    // Called for every owner-drawn panel whenever it is painted.
    std::function<void(QPainter& painter, int index, const QRect& rect)> onDrawPanel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Panel> panels_;
};
