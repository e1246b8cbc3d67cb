#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

namespace quillon {

// The live preview: paints the latest processed frame from the pipeline's buffer (rows packed
// at width x 3 bytes, BGR). Painting happens on the user-interface thread between frames, so it
// always sees a whole frame; it converts the frame into a display image made once per size, so
// neither a frame nor a repaint allocates, and Qt never converts the format in its own threads.
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
    QImage CurrentImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const uint8_t* m_frame = nullptr;
    QImage m_display; // Format_RGB32, the preview's size
    uint64_t m_framesShown = 0;
};

} // namespace quillon
