#pragma once

#include <QColor>
#include <QImage>
#include <QString>

class QPainter;

namespace quillon {

// A picture with its own colour table, drawn so that one colour of it lets the background
// show through.
class CCISBitmap {
public:
    // From the program's images (":/NAME.png"), else from a file of that name. False when
    // neither could be read.
    bool LoadImageWithPalette(const QString& name);
    // Draws the picture with its top-left corner at (x, y); pixels of exactly `transparent`
    // leave the target as it was.
    void DrawTransparent(QPainter& painter, int x, int y, QColor transparent);

    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }
    const QImage& Image() const { return m_image; }

private:
    QImage m_image;
    QImage m_masked; // the picture with the transparent colour cleared, made on first draw
    QRgb m_maskedColour = 0;
};

} // namespace quillon
