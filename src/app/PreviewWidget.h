#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

namespace quillon {

// The live preview: paints the latest processed frame straight from the pipeline's buffer.
// The image wraps that buffer (rows packed at width x 3 bytes, BGR) without copying; painting
// happens on the user-interface thread between frames, so it always sees a whole frame.
class PreviewWidget final : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    // Takes the size of the reduced camera image; nothing is shown until the next frame.
    void SetImageSize(uint32_t width, uint32_t height);
    // Shows an image of the size set; `bgr` must stay valid until the next call.
    void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height);

    uint64_t FramesShown() const { return m_framesShown; }
    // The latest frame as shown (a deep copy), for tests and screenshots.
    QImage CurrentImage() const { return m_image.copy(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    uint64_t m_framesShown = 0;
};

}  // namespace quillon
