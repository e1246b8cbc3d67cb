#include "camera/BayerConversion.h"
#include "camera/SimCameraApi.h"
#include "camera/SimCameraDevice.h"

#include "FrameCatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

namespace quillon {
namespace {

using testing::FrameCatcher;

constexpr float kFastRate = 500.0f;
// Rows above the track: sky and stands, where no runner ever goes.
constexpr uint32_t kStaticRows = 520;
// Rows that hold the frame counter and the frame-number strip rather than the picture.
constexpr uint32_t kMarkedRows = SimCameraDevice::kStripTop + SimCameraDevice::kStripBlock;

class SimCameraTest : public ::testing::Test {
protected:
    bool SetRegion(uint32_t x, uint32_t y, uint32_t w, uint32_t h, float rate = kFastRate) {
        return api.SetFormat(handle, {x, y, w, h}, rate);
    }
    std::pair<FrameFormat, float> Format() { // and the rate
        std::pair<FrameFormat, float> f;
        api.GetFormat(handle, f.first, f.second);
        return f;
    }
    bool Stream(StreamMode mode) { return api.StreamVideoControl(handle, mode); }

    // Sets the region and streams into `catcher`.
    void Stream(FrameCatcher& catcher, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                float rate = kFastRate) {
        ASSERT_TRUE(SetRegion(x, y, w, h, rate));
        ASSERT_NE(api.AddStreamingCallback(handle, catcher.Function(), catcher.Context()),
                  kNoCallbackId);
        ASSERT_TRUE(Stream(StreamMode::kStart));
    }

    // A frame made after every change made so far.
    static std::vector<uint8_t> FreshFrame(FrameCatcher& catcher) {
        EXPECT_TRUE(catcher.WaitForFrames(3));
        return catcher.LastFrame();
    }

    // Sum of each Bayer plane (red, green 1, green 2, blue) of a fresh frame of the static rows,
    // the rows with the frame counter and the frame-number strip left out. Every plane has as
    // many pixels, so the sums compare as means do.
    static std::array<double, 4> PlaneSums(FrameCatcher& catcher) {
        const std::vector<uint8_t> frame = FreshFrame(catcher);
        std::array<double, 4> sum{};
        for (size_t i = kMarkedRows * 2048; i < frame.size(); ++i)
            sum[((i / 2048) & 1) * 2 + (i & 1)] += frame[i];
        return sum;
    }

    SimCameraApi api;
    CameraHandle handle = api.CameraOpen(1);
    std::atomic<int> calls{0}; // written by the stream's callback
    std::atomic<bool> stopped{false}, closed{true};
};

// A requested rate snaps to the nearest of the camera's list; a format that does not fit, or
// any format while streaming, is refused and the camera keeps its own.
TEST_F(SimCameraTest, SnapsTheRateToItsListAndRefusesFormatsThatDoNotFit) {
    const std::pair<float, float> cases[] = {{0.5f, 3.75f},  {4.0f, 3.75f},    {16.0f, 15.0f},
                                             {27.4f, 25.0f}, {28.0f, 29.97f},  {30.0f, 29.97f},
                                             {56.0f, 60.0f}, {151.0f, 200.0f}, {1e6f, 500.0f}};
    for (const auto& [requested, snapped] : cases) {
        ASSERT_TRUE(SetRegion(0, 0, 2048, 1536, requested));
        EXPECT_EQ(Format().second, snapped) << "requested " << requested;
    }

    ASSERT_TRUE(SetRegion(624, 568, 800, 400, 50.0f));
    // Past the right edge, past the bottom, an odd offset (it breaks the pattern), too narrow,
    // no rate.
    EXPECT_FALSE(SetRegion(1300, 0, 800, 400) || SetRegion(0, 1200, 800, 400) ||
                 SetRegion(625, 568, 800, 400) || SetRegion(0, 0, 4, 400) ||
                 SetRegion(0, 0, 800, 400, 0.0f));
    FrameFormat mono = Format().first, subsampled = mono;
    mono.pixelFormat = kPixelFormatMono8;
    subsampled.subSampleX = 2;
    EXPECT_FALSE(api.SetFormat(handle, mono, 25.0f) || api.SetFormat(handle, subsampled, 25.0f));
    ASSERT_TRUE(Stream(StreamMode::kStart));
    EXPECT_FALSE(SetRegion(0, 0, 800, 400)) << "format is locked while streaming";
    ASSERT_TRUE(Stream(StreamMode::kStop));
    const auto [f, rate] = Format();
    EXPECT_EQ(std::tie(f.xOffset, f.yOffset, f.width, rate),
              std::make_tuple(624u, 568u, 800u, 50.0f));
}

TEST(SimCameraHandlesTest, EachCameraHasItsOwnHandleSerialAndState) {
    SimCameraApi api(2);
    EXPECT_EQ(std::make_tuple(api.NumCameras(), api.CameraOpen(0), api.CameraOpen(3)),
              std::make_tuple(2, kNoCameraHandle, kNoCameraHandle));
    const CameraHandle first = api.CameraOpen(1), second = api.CameraOpen(2);
    ASSERT_TRUE(first != kNoCameraHandle && second != kNoCameraHandle && first != second);
    EXPECT_EQ(api.CameraOpen(1), kNoCameraHandle) << "already open";
    EXPECT_EQ(api.AddStreamingCallback(first, nullptr, nullptr), kNoCallbackId);
    VersionInfo v1, v2;
    ASSERT_TRUE(api.QueryVersion(first, v1) && api.QueryVersion(second, v2));
    EXPECT_EQ(std::make_pair(v1.serialNumber, v2.serialNumber),
              std::make_pair(21000512u, 21000513u));

    float value = 0;
    uint32_t flags = 0;
    EXPECT_FALSE(api.GetProperty(kNoCameraHandle, kPropExposure, value, flags) ||
                 api.GetProperty(first + 7, kPropExposure, value, flags));
    ASSERT_TRUE(api.SetProperty(first, kPropExposure, 5.0f, 0) && api.CameraClose(first));
    EXPECT_FALSE(api.GetProperty(first, kPropExposure, value, flags) || api.CameraClose(first))
        << "closed handle";
    ASSERT_EQ(api.CameraOpen(1), first);
    ASSERT_TRUE(api.GetProperty(first, kPropExposure, value, flags));
    EXPECT_EQ(value, 10.0f) << "reopening restores the power-on state";
}

// Frames come in the region's size with a counter that goes on after a restart; no callback
// runs once its removal or the stream's stop has returned. A callback may stop its own stream
// but not close the camera.
TEST_F(SimCameraTest, StreamsRegionSizedFramesAndCallbacksEndWithTheirRemovalOrAStopEvenTheirOwn) {
    FrameCatcher removed, kept;
    kept.expectedLength = 800 * 400;
    const int32_t id = api.AddStreamingCallback(handle, removed.Function(), removed.Context());
    Stream(kept, 624, 568, 800, 400);
    ASSERT_TRUE(removed.WaitForFrames(5));
    ASSERT_TRUE(api.RemoveStreamingCallback(handle, id));
    removed.sealed = true;
    EXPECT_FALSE(api.RemoveStreamingCallback(handle, id));
    ASSERT_TRUE(kept.WaitForFrames(40));
    ASSERT_TRUE(Stream(StreamMode::kStop));
    ASSERT_TRUE(Stream(StreamMode::kStart));
    ASSERT_TRUE(kept.WaitForFrames(10));
    ASSERT_TRUE(Stream(StreamMode::kStop));
    kept.sealed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // some frame periods
    EXPECT_EQ(removed.lateCalls + kept.lateCalls, 0u);
    EXPECT_EQ(kept.wrongLengths + kept.repeatedMarkers + kept.counterJumps, 0u);

    // A callback may stop its own stream, but not close the camera.
    using Self = std::remove_reference_t<decltype(*this)>;
    auto stopper = [](void* test, uint8_t*, uint32_t) {
        auto& t = *static_cast<Self*>(test);
        t.closed = t.api.CameraClose(t.handle);
        t.stopped = t.Stream(StreamMode::kStop);
        t.calls.fetch_add(1);
    };
    ASSERT_NE(api.AddStreamingCallback(handle, stopper, this), kNoCallbackId);
    ASSERT_TRUE(Stream(StreamMode::kStart));
    for (int i = 0; i < 10000 && calls.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(calls.load(), 1);
    EXPECT_TRUE(stopped.load());
    EXPECT_FALSE(closed.load());
    EXPECT_TRUE(api.CameraClose(handle));
    EXPECT_EQ(calls.load(), 1) << "the stream stopped after the first frame";
}

// The frame-number strip goes on with the stream, and reads the same from the green channel of
// the colour picture that recordings hold.
TEST_F(SimCameraTest, FrameNumberStripRisesAndSurvivesTheConversionToColour) {
    constexpr uint32_t w = 800, h = 400;
    FrameCatcher catcher;
    Stream(catcher, 624, 568, w, h);
    const std::vector<uint8_t> first = FreshFrame(catcher), later = FreshFrame(catcher);
    ASSERT_TRUE(Stream(StreamMode::kStop));
    const auto counter = [](const std::vector<uint8_t>& f) { return uint16_t(f[0] << 8 | f[1]); };
    const auto number = [&](const std::vector<uint8_t>& f) {
        return SimCameraDevice::ReadFrameNumberStrip(f.data(), w, h);
    };
    EXPECT_GT(counter(later) - counter(first), 0);
    EXPECT_GE(uint16_t(number(later) - number(first)), uint16_t(counter(later) - counter(first)));

    std::vector<uint8_t> frame = later, bgr(size_t{w} * h * 3), green(size_t{w} * h);
    for (uint16_t value : {number(later), uint16_t{0xA5C3}, uint16_t{0xFFFF}}) {
        SimCameraDevice::DrawFrameNumberStrip(value, w, h, frame.data());
        ASSERT_TRUE(DemosaicRggbToBgr24(frame.data(), w, h, bgr.data()));
        for (size_t i = 0; i < green.size(); ++i)
            green[i] = bgr[i * 3 + 1];
        EXPECT_EQ(SimCameraDevice::ReadFrameNumberStrip(green.data(), w, h), value);
    }
}

// The stands stay as they are while runners cross the track; a region crops that picture;
// exposure and gains scale its brightness.
TEST_F(SimCameraTest, RunnersCrossBeforeStillStandsThatARegionCropsAndExposureAndGainsScale) {
    FrameCatcher catcher;
    Stream(catcher, 0, 0, 2048, 1536, 100.0f);
    const std::vector<uint8_t> full = FreshFrame(catcher);
    ASSERT_TRUE(catcher.WaitForFrames(10));
    const std::vector<uint8_t> later = catcher.LastFrame();
    ASSERT_TRUE(Stream(StreamMode::kStop));
    uint32_t moved = 0;
    for (size_t i = 600 * 2048; i < full.size(); ++i)
        moved += full[i] != later[i];
    EXPECT_GT(moved, 1000u);

    const uint32_t x0 = 624, y0 = 100, w = 800, h = kStaticRows - y0;
    ASSERT_TRUE(SetRegion(x0, y0, w, h));
    ASSERT_TRUE(Stream(StreamMode::kStart));
    const std::vector<uint8_t> crop = FreshFrame(catcher);
    ASSERT_TRUE(Stream(StreamMode::kStop));
    ASSERT_EQ(crop.size(), size_t{w} * h);
    uint32_t differing = 0;
    for (size_t i = size_t{kMarkedRows} * w; i < crop.size(); ++i)
        differing += crop[i] != full[(y0 + i / w) * 2048 + x0 + i % w];
    EXPECT_EQ(differing, 0u);

    // Exposure and gains scale the brightness of the stands; the white balance evens the planes.
    ASSERT_TRUE(api.SetProperty(handle, kPropGain, 3.875f, 0));
    ASSERT_TRUE(SetRegion(0, 0, 2048, kStaticRows));
    ASSERT_TRUE(Stream(StreamMode::kStart));
    const auto base = PlaneSums(catcher);
    EXPECT_GT(base[3] / base[0], 1.1) << "the sky and stands are bluish at first";
    ASSERT_TRUE(api.SetProperty(handle, kPropExposure, 20.0f, 0));
    const auto longer = PlaneSums(catcher);
    ASSERT_TRUE(api.SetProperty(handle, kPropGainRed, 2.0f, 0));
    const auto redder = PlaneSums(catcher);
    for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(longer[p] / base[p], 2.0, 0.05) << "plane " << p;
    EXPECT_NEAR(redder[0] / longer[0], 2.0, 0.05);
    EXPECT_DOUBLE_EQ(redder[3], longer[3]) << "blue untouched by the red gain";

    EXPECT_FALSE(api.OneShotAutoWhiteBalance(handle, 0, 0, 2049, kStaticRows));
    EXPECT_FALSE(api.OneShotAutoWhiteBalance(handle, 0, 0, 0, 10));
    ASSERT_TRUE(api.OneShotAutoWhiteBalance(handle, 0, 0, 2048, kStaticRows));
    const auto balanced = PlaneSums(catcher);
    ASSERT_TRUE(Stream(StreamMode::kStop));
    for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(balanced[p] / balanced[1], 1.0, 0.02) << "plane " << p;
    float red = 2.0f;
    uint32_t flags = 0;
    ASSERT_TRUE(api.GetProperty(handle, kPropGainRed, red, flags));
    EXPECT_NE(red, 2.0f);
}

} // namespace
} // namespace quillon
