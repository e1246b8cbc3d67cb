#include "FramePipeline.h"

#include <algorithm>
#include <cmath>

#include "settings/CameraSettings.h"

namespace quillon {
namespace {

uint8_t Brighten(int32_t v, int32_t b) {
    if (b > 0) return v > 255 - b ? 255 : uint8_t(v + b);
    if (b < 0) return v < -b ? 0 : uint8_t(v + b);
    return uint8_t(v);
}

}  // namespace

ImageGeometry ReducedGeometry(const CameraSettings& camera) {
    const uint32_t r = std::max<uint32_t>(camera.Reduction, 1);
    return {camera.Width / r, camera.Height / r};
}

FramePipeline::FramePipeline(FrameStores& stores, CameraSettings& camera,
                             FrameConverter& converter, FrameOutput& output)
    : m_stores(stores), m_camera(camera), m_converter(converter), m_output(output) {
    BuildAdjustTable(0, 100, m_adjustTable);
}

bool FramePipeline::Drop() {
    ++m_dropped;
    return true;
}

bool FramePipeline::OnFrameReady(const uint8_t* data, size_t length) {
    StampNow(S0);
    const uint32_t width = m_camera.Width;
    const uint32_t height = m_camera.Height;
    const uint32_t r = std::max<uint32_t>(m_camera.Reduction, 1);
    const size_t rawSize = size_t(width) * height;
    const ImageGeometry image = ReducedGeometry(m_camera);
    // Only frames of one byte per pixel, of the current size, that fit the stores pass.
    if (data == nullptr || length != rawSize || rawSize > FrameStores::kMaxRawFrame) return Drop();

    StampNow(C0);
    if (m_converter.IsBusy()) return Drop();
    uint8_t* rgb = m_stores.RgbBuffer();
    if (!m_converter.ConvertToRgb24(data, rgb, width, height, m_camera.PixelFormat)) return Drop();
    StampNow(C1);

    StampNow(R0);
    uint8_t* picture = rgb;
    if (r > 1) {
        picture = m_stores.ReducedBuffer();
        Reduce(rgb, width, height, r, picture);
    }
    StampNow(R1);

    StampNow(A0);
    Adjust(picture, image.Bytes());
    StampNow(A1);

    StampNow(M0);
    if (m_autoBrightness) AutoBrightness(picture, image.Bytes());
    StampNow(M1);

    StampNow(D0);
    m_output.ShowFrame(picture, image.width, image.height);
    StampNow(D1);

    StampNow(W0);
    m_output.TakeFrame(data, length, picture, image.width, image.height);
    StampNow(W1);
    StampNow(S1);
    m_camera.FrameTimeMs = int32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(m_stamps[S1] - m_stamps[S0]).count());
    return false;
}

void FramePipeline::Reduce(const uint8_t* bgr, uint32_t width, uint32_t height,
                           uint32_t reduction, uint8_t* out) {
    // Plain subsampling: the pixels with x and y of 1, 1 + r, 1 + 2r, ...
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

void FramePipeline::BuildAdjustTable(int32_t brightness, int32_t contrastPercent,
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

void FramePipeline::Adjust(uint8_t* image, size_t bytes) {
    const int32_t b = m_camera.Brightnes;
    const int32_t p = m_camera.Contrast;
    if (b == 0 && p == 100) return;
    if (b != m_tableBrightness || p != m_tableContrast) {
        BuildAdjustTable(b, p, m_adjustTable);
        m_tableBrightness = b;
        m_tableContrast = p;
    }
    const uint8_t* table = m_adjustTable.data();
    for (size_t i = 0; i < bytes; ++i) image[i] = table[image[i]];
}

int32_t FramePipeline::SampledMean(const uint8_t* image, size_t bytes) {
    const int64_t size = int64_t(bytes);
    const int64_t stride = size / kAutoSamples;
    if (stride <= 0) return 0;  // images smaller than 100 bytes have nothing to sample
    int64_t sum = 0;
    for (int64_t at = 0; at < size; at += stride) {
        sum += image[at];
        if (at + 2 < size) sum += image[at + 1] + image[at + 2];
    }
    return int32_t(sum / (kAutoSamples * 3));
}

void FramePipeline::AutoBrightness(const uint8_t* image, size_t bytes) {
    if (m_autoCounter > kAutoInterval) {
        const int32_t mean = SampledMean(image, bytes);
        if (m_camera.MeanValue == -1) {
            m_camera.MeanValue = mean;
        } else {
            const auto tolerance =
                int32_t(double(m_camera.MeanValue) / 100.0 * kAutoTolerancePercent);
            const int32_t d = mean - m_camera.MeanValue;
            if (std::abs(d) > tolerance) {
                m_camera.Brightnes += d > 0 ? -kAutoStep : kAutoStep;
                m_camera.Brightnes = std::clamp(m_camera.Brightnes, -255, 255);
            }
            m_output.ShowBrightness(m_camera.Brightnes);
        }
        m_autoCounter = 0;
    }
    ++m_autoCounter;
}

}  // namespace quillon
