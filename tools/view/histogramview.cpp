#include "histogramview.h"

#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QPen>

namespace kwview {

HistogramView::HistogramView(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(90);
}

void HistogramView::setHistogram(const Histogram& histogram)
{
    m_histogram = histogram;
    update();
}

void HistogramView::paintEvent(QPaintEvent* event)
{
    (void)event;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.fillRect(rect(), QColor(0x20, 0x22, 0x25));
    painter.setPen(QColor(0x3a, 0x3d, 0x42));
    for (int q = 1; q < 4; ++q) {
        const double x = area.left() + area.width() * q / 4;
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    }
    const quint32 peak = m_histogram.peak();
    if (peak == 0)
        return;

    static const QColor grey(0xd0, 0xd4, 0xd8);
    static const QColor colours[3] = {QColor(0xf0, 0x50, 0x50), QColor(0x50, 0xe0, 0x60), QColor(0x50, 0x90, 0xff)};
    for (int c = 0; c < m_histogram.channels; ++c) {
        const std::vector<quint32>& bins = m_histogram.bins[c];
        QPainterPath path(QPointF(area.left(), area.bottom()));
        for (size_t i = 0; i < bins.size(); ++i) {
            const double x =
                area.left() + area.width() * (static_cast<double>(i) + 0.5) / static_cast<double>(bins.size());
            // The tallest bin reaches nine tenths of the height, so that a
            // flat histogram still shows as a line below the frame.
            const double y = area.bottom() - 0.9 * area.height() * bins[i] / peak;
            path.lineTo(x, y);
        }
        path.lineTo(area.right(), area.bottom());
        path.closeSubpath();
        QColor colour = m_histogram.channels == 1 ? grey : colours[c];
        painter.setPen(QPen(colour, 1.5));
        colour.setAlpha(m_histogram.channels == 1 ? 110 : 70);
        painter.setBrush(colour);
        painter.drawPath(path);
    }
}

}  // namespace kwview
