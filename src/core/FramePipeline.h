#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "FrameStores.h"

namespace quillon {

struct AppSettings;
struct CameraSettings;

// How the preview may read a raw frame by itself when it scales it down.
enum class RawLayout {
    kConvert,   // only through the camera's conversion
    kBayerRggb, // 8-bit Bayer, red at (0, 0)
    kGrey,      // 8-bit grey
};

// Turns a raw camera frame into 24-bit BGR; the camera device provides it.
class FrameConverter {
public:
    virtual ~FrameConverter() = default;
    // True while the camera applies new settings: frames in flight have the old geometry.
    virtual bool IsBusy() const = 0;
    virtual bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t width, uint32_t height,
                                uint32_t pixelFormat) = 0;
    virtual RawLayout Layout(uint32_t /*pixelFormat*/) const { return RawLayout::kConvert; }
};

// Where the preview goes.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) = 0;
    // The automatic brightness moved the offset; the brightness edit shows it.
    virtual void ShowBrightness(int32_t) {}
};

// Geometry of an image made from the camera's frames.
struct ImageGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t Bytes() const { return size_t(width) * height * 3; }
};
// Every second pixel (2) or all of them (1); other values in the settings count as 1 or 2.
uint32_t ReductionOf(const CameraSettings& camera);
// The image recordings keep: camera size / reduction.
ImageGeometry ReducedGeometry(const CameraSettings& camera);
// The preview: the reduced image scaled down by `previewScale` more.
ImageGeometry PreviewGeometry(const CameraSettings& camera, uint32_t previewScale);
// The smallest whole scale at which `image` fits in `room` pixels (at most 8).
uint32_t PreviewScaleToFit(const ImageGeometry& image, uint32_t roomWidth, uint32_t roomHeight);

// The preview's work on the user-interface thread for the latest frame: size and busy checks,
// an image scaled to the preview, brightness and contrast, automatic brightness, display,
// timing. Recording does not pass here: the camera thread keeps every frame for it (FrameIntake)
// with the picture settings this class publishes.
class FramePipeline {
public:
    // Automatic brightness: a correction every sixth frame from 100 samples, allowed to differ
    // by 10 % from its target, moving the offset by 5.
    static constexpr int32_t kAutoInterval = 5;
    static constexpr int32_t kAutoTolerancePercent = 10;
    static constexpr int32_t kAutoStep = 5;

    enum Stamp { S0, C0, C1, R0, R1, A0, A1, M0, M1, D0, D1, W0, W1, S1, kStampCount };
    using Clock = std::chrono::steady_clock;

    // `adjustment` receives the picture settings in effect (FrameAdjustment::Pack) for the
    // camera thread.
    FramePipeline(FrameStores& stores, CameraSettings& camera, FrameConverter& converter,
                  FrameOutput& output, std::atomic<uint32_t>& adjustment);

    // Processes one handed-over frame. Returns true when it was dropped (wrong size, camera
    // busy, conversion failed).
    bool OnFrameReady(const uint8_t* data, size_t length);

    // The state of the window's "Auto" box, read for every frame.
    void SetAutoBrightness(bool on) { m_autoBrightness = on; }
    // The preview shows every `scale`-th pixel of the reduced image, so it fits the screen.
    void SetPreviewScale(uint32_t scale) { m_previewScale = scale < 1 ? 1 : scale; }
    uint32_t PreviewScale() const { return m_previewScale; }
    // Makes the current brightness, contrast and reduction the ones frames are recorded with.
    void PublishAdjustment();

    uint32_t DroppedFrames() const { return m_dropped; }
    const std::array<Clock::time_point, kStampCount>& Stamps() const { return m_stamps; }

    // The preview image straight from a raw frame, `factor` raw pixels per preview pixel (at
    // least 2) in both directions: one Bayer cell (or grey pixel) per preview pixel, through
    // the adjustment table.
    static void ScaledPreview(const uint8_t* raw, uint32_t width, uint32_t height, RawLayout layout,
                              uint32_t factor, const std::array<uint8_t, 256>& table, uint8_t* out);

private:
    bool Drop();
    const std::array<uint8_t, 256>& AdjustTable();
    void AutoBrightness(const uint8_t* image, size_t bytes);
    void StampNow(Stamp s) { m_stamps[s] = Clock::now(); }

    FrameStores& m_stores;
    CameraSettings& m_camera;
    FrameConverter& m_converter;
    FrameOutput& m_output;
    std::atomic<uint32_t>& m_adjustment;

    bool m_autoBrightness = false;
    uint32_t m_previewScale = 1;
    int32_t m_autoCounter = 0;
    // Brightness and contrast as one byte table, rebuilt only when either changes.
    std::array<uint8_t, 256> m_adjustTable{};
    int32_t m_tableBrightness = 0;
    int32_t m_tableContrast = 100;
    uint32_t m_dropped = 0;
    std::array<Clock::time_point, kStampCount> m_stamps{};
};

} // namespace quillon
