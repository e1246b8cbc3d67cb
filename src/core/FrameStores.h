#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillon {

// The image buffers of the frame path, allocated once at their largest size when the main
// window is made and never reallocated, so no frame ever allocates. (The frames kept for a
// recording live in the ring's own store, sized when a recording is prepared.)
class FrameStores {
public:
    static constexpr size_t kMaxRawFrame = 3161088; // 2048 x 1536 raw bytes, the largest frame
    static constexpr size_t kMaxRgbFrame = 9483264; // the largest frame at 24 bits

    // False when the memory could not be had; the program then ends.
    bool Allocate();

    uint8_t* RgbBuffer() { return m_rgb.get(); }
    uint8_t* ReducedBuffer() { return m_reduced.get(); }
    uint8_t* FrameCopy() { return m_frameCopy.get(); }

private:
    std::unique_ptr<uint8_t[]> m_rgb;
    std::unique_ptr<uint8_t[]> m_reduced;
    std::unique_ptr<uint8_t[]> m_frameCopy;
};

} // namespace quillon
