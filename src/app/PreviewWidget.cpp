#include "PreviewWidget.h"

#include <QPainter>

namespace quillon {

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName("Preview window");
}

void PreviewWidget::SetImageSize(uint32_t width, uint32_t height) {
    m_frame = nullptr;
    m_display = QImage(int(width), int(height), QImage::Format_RGB32);
    m_display.fill(Qt::black);
    setFixedSize(int(width), int(height));
    update();
}

void PreviewWidget::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    if (m_display.width() != int(width) || m_display.height() != int(height))
        return;
    m_frame = bgr;
    ++m_framesShown;
    update();
}

QImage PreviewWidget::CurrentImage() const {
    if (m_frame == nullptr)
        return m_display.copy();
    return QImage(m_frame, m_display.width(), m_display.height(), m_display.width() * 3,
                  QImage::Format_BGR888)
        .copy();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_frame != nullptr) {
        const int width = m_display.width();
        for (int y = 0; y < m_display.height(); ++y) {
            const uint8_t* in = m_frame + size_t(y) * size_t(width) * 3;
            auto* out = reinterpret_cast<uint32_t*>(m_display.scanLine(y));
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = 0xFF000000u | uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
            }
        }
    }
    painter.drawImage(QPoint(0, 0), m_display);
}

} // namespace quillon
