#pragma once

#include <QProxyStyle>

// The application's style with narrower tab margins, so that the six tabs a connected unit
// can bring up fit the page control in one row.
class CompactTabStyle : public QProxyStyle {
    Q_OBJECT

public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};
