#include "PreviewWidget.h"

#include <QPainter>

namespace quillon {

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName("Preview window");
}

void PreviewWidget::SetImageSize(uint32_t width, uint32_t height) {
    m_image = QImage();
    setFixedSize(int(width), int(height));
    update();
}

void PreviewWidget::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    const qsizetype rowBytes = qsizetype(width) * 3;
    if (m_image.constBits() != bgr || m_image.width() != int(width) ||
        m_image.height() != int(height)) {
        m_image = QImage(bgr, int(width), int(height), rowBytes, QImage::Format_BGR888);
    }
    ++m_framesShown;
    update();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(QPoint(0, 0), m_image);
}

}  // namespace quillon
