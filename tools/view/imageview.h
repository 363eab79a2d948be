// The live image: fitted to the widget, or at a zoom of its own (1:1 to
// start) that the wheel changes about the cursor and a drag pans. Reports
// the frame pixel under the cursor.
#ifndef KWVIEW_IMAGEVIEW_H
#define KWVIEW_IMAGEVIEW_H

#include <QtCore/QPoint>
#include <QtCore/QPointF>
#include <QtGui/QImage>
#include <QtWidgets/QWidget>

namespace kwview {

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return m_image; }

    bool fitted() const { return m_fit; }
    void setFitted(bool fit);
    // Widget pixels per image pixel.
    double scale() const;
    void setZoom(double zoom);  // leaves fit mode; 1.0 is 1:1
    // The image pixel under a widget position; false outside the image.
    bool imagePixelAt(const QPoint& position, QPoint* pixel) const;
    // The widget position of an image pixel's top-left corner.
    QPointF widgetPosition(const QPointF& imagePoint) const;

Q_SIGNALS:
    // (-1, -1) when the cursor leaves the image.
    void hovered(const QPoint& pixel);
    void fittedChanged(bool fit);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPointF origin() const;  // widget position of the image's top-left corner
    void reportHover(const QPoint& position);

    QImage m_image;
    bool m_fit = true;
    double m_zoom = 1.0;
    QPointF m_pan;  // the image's top-left corner when not fitted
    bool m_dragging = false;
    QPoint m_dragStart;
    QPointF m_panStart;
};

}  // namespace kwview

#endif  // KWVIEW_IMAGEVIEW_H
