// The frame's histogram: one curve per channel (grey, or red, green and
// blue), scaled to the tallest bin.
#ifndef KWVIEW_HISTOGRAMVIEW_H
#define KWVIEW_HISTOGRAMVIEW_H

#include <QtWidgets/QWidget>

#include "frameconvert.h"

namespace kwview {

class HistogramView : public QWidget {
    Q_OBJECT
public:
    explicit HistogramView(QWidget* parent = nullptr);
    void setHistogram(const Histogram& histogram);
    const Histogram& histogram() const { return m_histogram; }
    QSize sizeHint() const override { return QSize(256, 110); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Histogram m_histogram;
};

}  // namespace kwview

#endif  // KWVIEW_HISTOGRAMVIEW_H
