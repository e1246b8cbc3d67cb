#include "camera/AravisFrameDelivery.h"

#include "camera/AravisMapping.h"

#include <arv.h>

namespace quillon {

namespace {

// The grey-world balance samples every fourth pixel of every fourth row pair.
constexpr uint32_t kGreyWorldStep = 4;

} // namespace

bool AravisFrameDelivery::SetCallback(StreamingCallback callback, void* context) {
    if (callback == nullptr) {
        return false;
    }
    const std::lock_guard lock(m_callbackMutex);
    m_callback = callback;
    m_context = context;
    return true;
}

void AravisFrameDelivery::ClearCallback() {
    const std::lock_guard lock(m_callbackMutex);
    m_callback = nullptr;
    m_context = nullptr;
}

void AravisFrameDelivery::StreamStarting() {
    m_lastFrameId.store(0, std::memory_order_relaxed);
    m_lastBuffer.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

AravisFrameDelivery::Clock::time_point AravisFrameDelivery::LastBuffer() const {
    return Clock::time_point(Clock::duration(m_lastBuffer.load(std::memory_order_relaxed)));
}

void AravisFrameDelivery::Deliver(ArvBuffer* buffer) {
    m_lastBuffer.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    const uint64_t id = arv_buffer_get_frame_id(buffer);
    const uint64_t previous = m_lastFrameId.exchange(id, std::memory_order_relaxed);
    m_lost.fetch_add(FramesSkipped(previous, id), std::memory_order_relaxed);

    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS ||
        arv_buffer_get_payload_type(buffer) != ARV_BUFFER_PAYLOAD_TYPE_IMAGE) {
        m_lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const auto width = static_cast<uint32_t>(arv_buffer_get_image_width(buffer));
    const auto height = static_cast<uint32_t>(arv_buffer_get_image_height(buffer));
    const ArvPixelFormat format = arv_buffer_get_image_pixel_format(buffer);
    size_t size = 0;
    // The buffer's memory is ours (made by arv_buffer_new), so changing its first bytes is fine.
    auto* data = static_cast<uint8_t*>(const_cast<void*>(arv_buffer_get_image_data(buffer, &size)));
    const uint64_t length = uint64_t(width) * height;
    if (data == nullptr || ARV_PIXEL_FORMAT_BIT_PER_PIXEL(format) != 8 || length < 2 ||
        size < length || length > UINT32_MAX) {
        m_lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (m_distinct.load(std::memory_order_relaxed)) {
        data[0] = static_cast<uint8_t>(id >> 8);
        data[1] = static_cast<uint8_t>(id);
    }
    if (m_greyWorldWanted.exchange(false, std::memory_order_relaxed)) {
        MeasureGreyWorld(data, width, height);
    }
    m_delivered.fetch_add(1, std::memory_order_relaxed);
    const std::lock_guard lock(m_callbackMutex);
    if (m_callback != nullptr) {
        m_callback(m_context, data, static_cast<uint32_t>(length));
    }
}

// Grey world: the factors that bring the mean of the red and of the blue sites to the mean of
// the green ones make an average scene grey.
void AravisFrameDelivery::MeasureGreyWorld(const uint8_t* data, uint32_t width, uint32_t height) {
    const int pattern = m_pattern.load(std::memory_order_relaxed);
    if (pattern < 0) {
        return; // grey frames have nothing to balance
    }
    uint64_t sums[2][2] = {};
    for (uint32_t y = 0; y + 1 < height; y += 2 * kGreyWorldStep) {
        for (uint32_t x = 0; x + 1 < width; x += 2 * kGreyWorldStep) {
            for (uint32_t dy = 0; dy < 2; ++dy) {
                for (uint32_t dx = 0; dx < 2; ++dx) {
                    sums[dy][dx] += data[size_t(y + dy) * width + x + dx];
                }
            }
        }
    }
    // Where red sits in the tile; blue is diagonally across, green on the other diagonal.
    uint32_t redY = 0;
    uint32_t redX = 0;
    switch (static_cast<BayerPattern>(pattern)) {
    case BayerPattern::kRggb:
        break;
    case BayerPattern::kGrbg:
        redX = 1;
        break;
    case BayerPattern::kGbrg:
        redY = 1;
        break;
    case BayerPattern::kBggr:
        redY = 1;
        redX = 1;
        break;
    }
    const double red = double(sums[redY][redX]);
    const double blue = double(sums[1 - redY][1 - redX]);
    const double green = (double(sums[redY][1 - redX]) + double(sums[1 - redY][redX])) / 2.0;
    if (red <= 0.0 || blue <= 0.0 || green <= 0.0) {
        return;
    }
    m_greyWorldRed.store(static_cast<float>(green / red), std::memory_order_relaxed);
    m_greyWorldBlue.store(static_cast<float>(green / blue), std::memory_order_relaxed);
    m_greyWorldReady.store(true, std::memory_order_release);
}

bool AravisFrameDelivery::TakeGreyWorld(float& blue, float& red) {
    if (!m_greyWorldReady.exchange(false, std::memory_order_acquire)) {
        return false;
    }
    blue = m_greyWorldBlue.load(std::memory_order_relaxed);
    red = m_greyWorldRed.load(std::memory_order_relaxed);
    return true;
}

} // namespace quillon
