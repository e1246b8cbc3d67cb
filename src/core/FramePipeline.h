#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "FrameStores.h"

namespace quillon {

struct AppSettings;
struct CameraSettings;

// Turns a raw camera frame into 24-bit BGR; the camera device provides it.
class FrameConverter {
public:
    virtual ~FrameConverter() = default;
    // True while the camera applies new settings: frames in flight have the old geometry.
    virtual bool IsBusy() const = 0;
    virtual bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t width, uint32_t height,
                                uint32_t pixelFormat) = 0;
};

// Where a processed frame goes: the preview, and (while a race runs) the save path.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) = 0;
    // The automatic brightness moved the offset; the brightness edit shows it.
    virtual void ShowBrightness(int32_t) {}
    // The raw frame (sequence number in its first four bytes) and the processed image.
    virtual void TakeFrame(const uint8_t* raw, size_t rawLength, const uint8_t* image,
                           uint32_t imageWidth, uint32_t imageHeight) = 0;
};

// Geometry of the image the pipeline makes from the camera's frames.
struct ImageGeometry {
    uint32_t width = 0;   // camera width / reduction
    uint32_t height = 0;  // camera height / reduction
    size_t Bytes() const { return size_t(width) * height * 3; }
};
ImageGeometry ReducedGeometry(const CameraSettings& camera);

// The per-frame work on the user-interface thread: size and busy checks, conversion,
// reduction, brightness and contrast, automatic brightness, preview, intake, timing.
class FramePipeline {
public:
    // Automatic brightness: a correction every sixth frame from 100 samples, allowed to differ
    // by 10 % from its target, moving the offset by 5.
    static constexpr int32_t kAutoInterval = 5;
    static constexpr int32_t kAutoSamples = 100;
    static constexpr int32_t kAutoTolerancePercent = 10;
    static constexpr int32_t kAutoStep = 5;

    enum Stamp { S0, C0, C1, R0, R1, A0, A1, M0, M1, D0, D1, W0, W1, S1, kStampCount };
    using Clock = std::chrono::steady_clock;

    FramePipeline(FrameStores& stores, CameraSettings& camera, FrameConverter& converter,
                  FrameOutput& output);

    // Processes one handed-over frame. Returns true when it was dropped (wrong size, camera
    // busy, conversion failed).
    bool OnFrameReady(const uint8_t* data, size_t length);

    // The state of the window's "Auto" box, read for every frame.
    void SetAutoBrightness(bool on) { m_autoBrightness = on; }

    uint32_t DroppedFrames() const { return m_dropped; }
    const std::array<Clock::time_point, kStampCount>& Stamps() const { return m_stamps; }

    // The pixel operations, exposed for tests and benchmarks.
    static void Reduce(const uint8_t* bgr, uint32_t width, uint32_t height, uint32_t reduction,
                       uint8_t* out);
    static void BuildAdjustTable(int32_t brightness, int32_t contrastPercent,
                                 std::array<uint8_t, 256>& table);
    // The mean of 100 samples of three bytes, as the automatic brightness measures it.
    static int32_t SampledMean(const uint8_t* image, size_t bytes);

private:
    bool Drop();
    void Adjust(uint8_t* image, size_t bytes);
    void AutoBrightness(const uint8_t* image, size_t bytes);
    void StampNow(Stamp s) { m_stamps[s] = Clock::now(); }

    FrameStores& m_stores;
    CameraSettings& m_camera;
    FrameConverter& m_converter;
    FrameOutput& m_output;

    bool m_autoBrightness = false;
    int32_t m_autoCounter = 0;
    // Brightness and contrast as one byte table, rebuilt only when either changes.
    std::array<uint8_t, 256> m_adjustTable{};
    int32_t m_tableBrightness = 0;
    int32_t m_tableContrast = 100;
    uint32_t m_dropped = 0;
    std::array<Clock::time_point, kStampCount> m_stamps{};
};

}  // namespace quillon
