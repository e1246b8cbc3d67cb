#include "FrameImage.h"

#include <algorithm>
#include <new>

namespace quillon {
namespace image {
namespace {

uint8_t Brighten(int32_t v, int32_t b) {
    if (b > 0)
        return v > 255 - b ? 255 : uint8_t(v + b);
    if (b < 0)
        return v < -b ? 0 : uint8_t(v + b);
    return uint8_t(v);
}

} // namespace

void Reduce(const uint8_t* bgr, uint32_t width, uint32_t height, uint32_t reduction, uint8_t* out) {
    for (uint32_t y = 1; y < height; y += reduction) {
        const uint8_t* row = bgr + (size_t(width) * y) * 3;
        for (uint32_t x = 1; x < width; x += reduction) {
            const uint8_t* pixel = row + size_t(x) * 3;
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
            out += 3;
        }
    }
}

void BuildAdjustTable(int32_t brightness, int32_t contrastPercent,
                      std::array<uint8_t, 256>& table) {
    const auto factor = float(double(contrastPercent) / 100.0);
    for (int32_t i = 0; i < 256; ++i) {
        int32_t v = Brighten(i, brightness);
        if (contrastPercent != 100) {
            const double w = ((double(v) / 255.0 - 0.5) * double(factor) + 0.5) * 255.0;
            v = int32_t(std::clamp(w, 0.0, 255.0));
        }
        table[size_t(i)] = uint8_t(v);
    }
}

void ApplyTable(const std::array<uint8_t, 256>& table, uint8_t* bytes, size_t count) {
    const uint8_t* t = table.data();
    size_t i = 0;
    // Eight lookups per step: the loads are independent, so they overlap.
    for (; i + 8 <= count; i += 8) {
        const uint8_t a = t[bytes[i]], b = t[bytes[i + 1]], c = t[bytes[i + 2]],
                      d = t[bytes[i + 3]], e = t[bytes[i + 4]], f = t[bytes[i + 5]],
                      g = t[bytes[i + 6]], h = t[bytes[i + 7]];
        bytes[i] = a, bytes[i + 1] = b, bytes[i + 2] = c, bytes[i + 3] = d;
        bytes[i + 4] = e, bytes[i + 5] = f, bytes[i + 6] = g, bytes[i + 7] = h;
    }
    for (; i < count; ++i)
        bytes[i] = t[bytes[i]];
}

int32_t SampledMean(const uint8_t* image, size_t bytes) {
    constexpr int64_t kSamples = 100;
    const int64_t size = int64_t(bytes);
    const int64_t stride = size / kSamples;
    if (stride <= 0)
        return 0; // images smaller than 100 bytes have nothing to sample
    int64_t sum = 0;
    for (int64_t at = 0; at < size; at += stride) {
        sum += image[at];
        if (at + 2 < size)
            sum += image[at + 1] + image[at + 2];
    }
    return int32_t(sum / (kSamples * 3));
}

} // namespace image

RecordingImageMaker::RecordingImageMaker(uint32_t rawWidth, uint32_t rawHeight,
                                         uint32_t pixelFormat, RawConverter convert)
    : m_width(rawWidth), m_height(rawHeight), m_pixelFormat(pixelFormat),
      m_convert(std::move(convert)) {
    const size_t bytes = size_t(rawWidth) * rawHeight * 3;
    m_rgb.reset(new (std::nothrow) uint8_t[bytes]);
    m_reduced.reset(new (std::nothrow) uint8_t[bytes / 4 + 3]);
    if (!m_reduced)
        m_rgb.reset();
    image::BuildAdjustTable(0, 100, m_table);
}

const uint8_t* RecordingImageMaker::Make(const uint8_t* raw, const FrameAdjustment& adjustment) {
    if (!m_rgb || !m_convert || !m_convert(raw, m_rgb.get(), m_width, m_height, m_pixelFormat)) {
        return nullptr;
    }
    const uint32_t r = std::max<uint32_t>(adjustment.reduction, 1);
    uint8_t* picture = m_rgb.get();
    if (r > 1) {
        picture = m_reduced.get();
        image::Reduce(m_rgb.get(), m_width, m_height, r, picture);
    }
    const int32_t b = adjustment.brightness;
    const int32_t c = adjustment.contrast;
    if (b == 0 && c == 100)
        return picture;
    if (b != m_tableBrightness || c != m_tableContrast) {
        image::BuildAdjustTable(b, c, m_table);
        m_tableBrightness = b;
        m_tableContrast = c;
    }
    image::ApplyTable(m_table, picture, size_t(m_width / r) * (m_height / r) * 3);
    return picture;
}

} // namespace quillon
