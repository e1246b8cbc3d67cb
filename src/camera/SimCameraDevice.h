#pragma once

#include "camera/CameraApi.h"
#include "camera/SimScene.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {

// One simulated camera: sensor 2048 x 1536, 8-bit Bayer RGGB, the fixed frame-rate list, and a
// streaming thread that renders the SimScene at the set rate and hands each frame to the
// registered callbacks. The first two bytes of every frame hold a 16-bit big-endian frame
// counter, so consecutive frames always differ there. Those two bytes do not survive the
// conversion to colour, so the frame's number in the stream's schedule is also drawn as a strip
// of black and white blocks near the top-left corner, which does: a recording can then be
// checked frame by frame for missing frames. A frame the stream dropped after a stall keeps its
// number, so the strip jumps where frames never came.
//
// Threads: every public call may come from any thread; the state below m_mutex is guarded by
// it. The scene's prepared state, the frame buffer and the frame counter belong to the streaming
// thread. While it is inside the callbacks it sets m_delivering; Stop, RemoveCallback and Close
// wait for it to clear, so afterwards no callback runs any more.
class SimCameraDevice {
public:
    static constexpr uint32_t kSensorWidth = SimScene::kSensorWidth;
    static constexpr uint32_t kSensorHeight = SimScene::kSensorHeight;
    static constexpr std::array<float, 10> kFrameRates{3.75f, 7.5f,  15.0f,  25.0f,  29.97f,
                                                       50.0f, 60.0f, 100.0f, 200.0f, 500.0f};
    static constexpr float kDefaultFrameRate = 25.0f;
    static constexpr float kDefaultExposureMs = 10.0f;
    static constexpr float kDefaultGain = 1.0f;
    static constexpr float kMinExposureMs = 0.01f;
    static constexpr float kMaxExposureMs = 1000.0f;
    static constexpr float kMinGain = 0.25f;
    static constexpr float kMaxGain = 7.75f;
    static constexpr uint32_t kMinRegionSide = 8;
    static constexpr size_t kMaxCallbacks = 4;

    // The frame-number strip: kStripBits square blocks of kStripBlock pixels, side by side from
    // (kStripLeft, kStripTop), most significant bit first; white for 1, black for 0. Regions too
    // small to hold it go without.
    static constexpr uint32_t kStripLeft = 4;
    static constexpr uint32_t kStripTop = 4;
    static constexpr uint32_t kStripBlock = 4;
    static constexpr uint32_t kStripBits = 16;
    static void DrawFrameNumberStrip(uint16_t number, uint32_t width, uint32_t height,
                                     uint8_t* frame);
    // The number drawn at the strip's block centres of an 8-bit picture; 0 where there is none.
    static uint16_t ReadFrameNumberStrip(const uint8_t* frame, uint32_t width, uint32_t height);

    explicit SimCameraDevice(uint32_t serialNumber);
    ~SimCameraDevice();
    SimCameraDevice(const SimCameraDevice&) = delete;
    SimCameraDevice& operator=(const SimCameraDevice&) = delete;

    // Opening resets the camera to its power-on state and starts its (idle) streaming thread.
    bool Open();
    bool Close();
    bool IsOpen() const;

    bool SetProperty(uint32_t property, float value, uint32_t flags);
    bool GetProperty(uint32_t property, float& value, uint32_t& flags) const;
    bool GetFormat(FrameFormat& format, float& frameRate) const;
    bool SetFormat(const FrameFormat& format, float frameRate);
    bool Stream(StreamMode mode);
    int32_t AddCallback(StreamingCallback callback, void* context);
    bool RemoveCallback(int32_t callbackId);
    uint32_t FrameRates(uint32_t count, float* rates) const;
    bool QueryVersion(VersionInfo& version) const;
    bool OneShotWhiteBalance(uint32_t x, uint32_t y, uint32_t width, uint32_t height);
    bool GpoSelect(uint8_t outputMask);
    bool GpioWrite(uint8_t outputValues);

    // The frame rate of the list nearest to `requested`.
    static float SnapFrameRate(float requested);

private:
    using Clock = std::chrono::steady_clock;

    // Gains by the order of their property numbers 40..44.
    enum GainIndex { kGainMaster = 0, kGainRed, kGainBlue, kGainGreen1, kGainGreen2, kGainCount };

    struct CallbackSlot {
        StreamingCallback callback = nullptr;
        void* context = nullptr;
    };
    using CallbackList = std::array<CallbackSlot, kMaxCallbacks>;

    void Run();
    void DeliverFrame(std::unique_lock<std::mutex>& lock, Clock::time_point frameTime,
                      uint16_t frameNumber);
    void WaitUntilIdle(std::unique_lock<std::mutex>& lock);
    bool OnStreamingThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
    void ResetToPowerOn();
    SimScene::PlaneFactors PlaneFactorsLocked() const;
    bool FormatFits(const FrameFormat& format) const;

    const uint32_t m_serialNumber;
    std::mutex m_openCloseMutex; // one Open or Close at a time (Close joins the thread)

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // streaming state changed
    std::condition_variable m_idle; // m_delivering went false
    bool m_open = false;
    bool m_quit = false;
    bool m_streaming = false;
    bool m_delivering = false;
    FrameFormat m_format;
    float m_frameRate = kDefaultFrameRate;
    float m_exposureMs = kDefaultExposureMs;
    std::array<float, kGainCount> m_gains{};
    float m_distinctValue = 0.0f;
    uint32_t m_distinctFlags = 0;
    uint8_t m_gpoMask = 0;
    uint8_t m_gpoValues = 0;
    CallbackList m_callbacks{};
    uint64_t m_settingsGeneration = 0; // bumped whenever the picture must be prepared again
    Clock::time_point m_epoch;

    std::unique_ptr<SimScene> m_scene; // made at the first Open, kept
    std::vector<uint8_t> m_frame;      // streaming thread
    uint16_t m_frameCounter = 0;       // streaming thread; 1 for the first frame
    uint64_t m_preparedGeneration = 0; // streaming thread
    std::thread m_thread;
};

} // namespace quillon
