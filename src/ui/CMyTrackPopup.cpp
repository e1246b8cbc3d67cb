#include "CMyTrackPopup.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>

namespace quillon {

CMyTrackPopup::CMyTrackPopup(QWidget* owner) : QFrame(owner, Qt::Popup) {
    setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    setCursor(Qt::SizeHorCursor);
    // The slider follows the mouse whether or not a button is held.
    setMouseTracking(true);
}

void CMyTrackPopup::Popup(int x, int y, int minimum, int maximum, int position) {
    m_min = minimum;
    m_max = maximum;
    m_pos = position;
    resize(kWidth, style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * frameWidth());
    UpdateScale();
    const int thumbUnderCursor = int(std::trunc((double(position) - minimum) * m_scale + 0.5));
    move(x - thumbUnderCursor - frameWidth(), y);
    show();
    m_open = true;
    emit stateChanged(true);
}

void CMyTrackPopup::UpdateScale() {
    const double span = double(m_max) - double(m_min);
    const int travel = contentsRect().width() - kThumbWidth;
    // An empty range has nowhere to slide to; the thumb then stays at the left.
    m_scale = span > 0 ? travel / span : 0.0;
}

int CMyTrackPopup::ThumbOffset() const {
    return int(std::trunc((double(m_pos) - m_min) * m_scale));
}

void CMyTrackPopup::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    UpdateScale();
}

void CMyTrackPopup::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect client = contentsRect();
    const int thumb = ThumbOffset();
    const QBrush face = palette().brush(QPalette::Button);
    painter.fillRect(client.left(), client.top(), thumb, client.height(),
                     palette().brush(QPalette::Highlight));
    painter.fillRect(client.left() + thumb + 1, client.top(), client.width() - thumb - 1,
                     client.height(), face);
    qDrawShadePanel(&painter, client.left() + thumb, client.top(), kThumbWidth, client.height(),
                    palette(), false, 1, &face);
}

void CMyTrackPopup::mouseMoveEvent(QMouseEvent* event) {
    const QRect client = contentsRect();
    const int x = std::clamp(int(event->position().x()) - client.left(), 0,
                             std::max(0, client.width() - kThumbWidth));
    m_pos = m_scale > 0 ? int(std::trunc(x / m_scale) + m_min) : m_min;
    update();
    emit positionPicked(m_pos);
}

void CMyTrackPopup::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        close();
}

// Every way of closing ends here: the release, Escape, or a click elsewhere.
void CMyTrackPopup::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (!m_open)
        return;
    m_open = false;
    emit stateChanged(false);
    deleteLater();
}

} // namespace quillon
