#include "imageview.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kwview {

namespace {

const double kMinZoom = 1.0 / 32;
const double kMaxZoom = 64;

}  // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(160, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void ImageView::setFitted(bool fit)
{
    if (fit == m_fit)
        return;
    if (!fit) {
        // Leave fit mode at 1:1, centred on what was the middle.
        m_zoom = 1.0;
        m_pan = QPointF((width() - m_image.width()) / 2.0, (height() - m_image.height()) / 2.0);
    }
    m_fit = fit;
    update();
    Q_EMIT fittedChanged(fit);
}

double ImageView::scale() const
{
    if (!m_fit)
        return m_zoom;
    if (m_image.isNull())
        return 1.0;
    return std::min(static_cast<double>(width()) / m_image.width(), static_cast<double>(height()) / m_image.height());
}

void ImageView::setZoom(double zoom)
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double before = scale();
    const QPointF imageCentre = (centre - origin()) / before;
    const bool wasFitted = m_fit;
    m_fit = false;
    m_zoom = std::min(std::max(zoom, kMinZoom), kMaxZoom);
    m_pan = centre - imageCentre * m_zoom;
    update();
    if (wasFitted)
        Q_EMIT fittedChanged(false);
}

QPointF ImageView::origin() const
{
    if (!m_fit)
        return m_pan;
    const double s = scale();
    return QPointF((width() - m_image.width() * s) / 2.0, (height() - m_image.height() * s) / 2.0);
}

QPointF ImageView::widgetPosition(const QPointF& imagePoint) const
{
    return origin() + imagePoint * scale();
}

bool ImageView::imagePixelAt(const QPoint& position, QPoint* pixel) const
{
    if (m_image.isNull())
        return false;
    const QPointF p = (QPointF(position) + QPointF(0.5, 0.5) - origin()) / scale();
    const int x = static_cast<int>(std::floor(p.x()));
    const int y = static_cast<int>(std::floor(p.y()));
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return false;
    *pixel = QPoint(x, y);
    return true;
}

void ImageView::paintEvent(QPaintEvent* event)
{
    (void)event;
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x22, 0x25));
    if (m_image.isNull()) {
        painter.setPen(QColor(0x9a, 0xa0, 0xa6));
        painter.drawText(rect(), Qt::AlignCenter, tr("no image"));
        return;
    }
    const double s = scale();
    // No smoothing: magnified pixels stay sharp squares, so that single
    // samples can be told apart, and a reduced frame costs the display the
    // least (it paints at the screen's rate).
    const QRectF target(origin(), QSizeF(m_image.width() * s, m_image.height() * s));
    painter.drawImage(target, m_image);
}

void ImageView::wheelEvent(QWheelEvent* event)
{
    if (m_image.isNull())
        return;
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    const QPointF cursor = event->position();
#else
    const QPointF cursor = event->posF();
#endif
    // Zoom about the cursor: the image point under it stays under it.
    const double before = scale();
    const QPointF imagePoint = (cursor - origin()) / before;
    const double zoom = std::min(std::max(before * std::pow(1.25, steps), kMinZoom), kMaxZoom);
    const bool wasFitted = m_fit;
    m_fit = false;
    m_zoom = zoom;
    m_pan = cursor - imagePoint * zoom;
    update();
    if (wasFitted)
        Q_EMIT fittedChanged(false);
    event->accept();
}

void ImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_fit)
        return;
    m_dragging = true;
    m_dragStart = event->pos();
    m_panStart = m_pan;
    setCursor(Qt::ClosedHandCursor);
}

void ImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        m_pan = m_panStart + QPointF(event->pos() - m_dragStart);
        update();
    }
    reportHover(event->pos());
}

void ImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        unsetCursor();
    }
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event)
{
    (void)event;
    setFitted(!m_fit);
}

void ImageView::leaveEvent(QEvent* event)
{
    (void)event;
    Q_EMIT hovered(QPoint(-1, -1));
}

void ImageView::reportHover(const QPoint& position)
{
    QPoint pixel;
    Q_EMIT hovered(imagePixelAt(position, &pixel) ? pixel : QPoint(-1, -1));
}

}  // namespace kwview
