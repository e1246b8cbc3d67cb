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
    m_nMin = minimum;
    m_nMax = maximum;
    m_nPos = position;
    resize(kWidth, style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * frameWidth());
    UpdateScale();
    const int thumbUnderCursor = int(std::trunc((double(position) - minimum) * m_dScale + 0.5));
    move(x - thumbUnderCursor - frameWidth(), y);
    show();
    m_bOpen = true;
    emit stateChanged(true);
}

void CMyTrackPopup::UpdateScale() {
    const double span = double(m_nMax) - double(m_nMin);
    const int travel = contentsRect().width() - kThumbWidth;
    // An empty range has nowhere to slide to; the thumb then stays at the left.
    m_dScale = span > 0 ? travel / span : 0.0;
}

int CMyTrackPopup::ThumbOffset() const {
    return int(std::trunc((double(m_nPos) - m_nMin) * m_dScale));
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
    m_nPos = m_dScale > 0 ? int(std::trunc(x / m_dScale) + m_nMin) : m_nMin;
    update();
    emit positionPicked(m_nPos);
}

void CMyTrackPopup::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        close();
}

// Every way of closing ends here: the release, Escape, or a click elsewhere.
void CMyTrackPopup::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (!m_bOpen)
        return;
    m_bOpen = false;
    emit stateChanged(false);
    deleteLater();
}

} // namespace quillon
