#include "CCISBitmap.h"

#include <QPainter>

namespace quillon {

bool CCISBitmap::LoadImageWithPalette(const QString& name) {
    if (!m_image.load(":/" + name + ".png") && !m_image.load(name))
        return false;
    m_masked = QImage();
    return true;
}

void CCISBitmap::DrawTransparent(QPainter& painter, int x, int y, QColor transparent) {
    if (m_image.isNull())
        return;
    const QRgb key = transparent.rgb() & RGB_MASK;
    if (m_masked.isNull() || m_maskedColour != key) {
        // Only the exact colour is cleared: a pixel one step off still shows.
        m_masked = m_image.convertToFormat(QImage::Format_ARGB32);
        for (int row = 0; row < m_masked.height(); ++row) {
            auto* pixel = reinterpret_cast<QRgb*>(m_masked.scanLine(row));
            for (int column = 0; column < m_masked.width(); ++column) {
                pixel[column] = (pixel[column] & RGB_MASK) == key ? 0 : qPremultiply(pixel[column]);
            }
        }
        // Premultiplied here, so that the painter converts nothing when it draws: a conversion
        // would go through Qt's thread pool at every paint.
        m_masked.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        m_maskedColour = key;
    }
    painter.drawImage(x, y, m_masked);
}

} // namespace quillon
