#include "camera/SimCameraApi.h"

#include "FrameCatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

namespace quillon {
namespace {

using testing::FrameCatcher;

constexpr float kFastRate = 500.0f;
// Rows above the track: sky and stands, where no runner ever goes.
constexpr uint32_t kStaticRows = 520;

class SimCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        handle = api.CameraOpen(1);
        ASSERT_NE(handle, kNoCameraHandle);
    }

    bool SetRegion(uint32_t x, uint32_t y, uint32_t w, uint32_t h, float rate) {
        FrameFormat f;
        float current = 0;
        api.GetFormat(handle, f, current);
        f.xOffset = x;
        f.yOffset = y;
        f.width = w;
        f.height = h;
        return api.SetFormat(handle, f, rate);
    }

    // Sets the region and streams into catcher.
    void Stream(FrameCatcher& catcher, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                float rate = kFastRate) {
        ASSERT_TRUE(SetRegion(x, y, w, h, rate));
        ASSERT_NE(api.AddStreamingCallback(handle, catcher.Function(), catcher.Context()),
                  kNoCallbackId);
        ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    }

    float Property(uint32_t property) {
        float value = -1;
        uint32_t flags = 0;
        EXPECT_TRUE(api.GetProperty(handle, property, value, flags));
        return value;
    }

    // Streams until `catcher` holds a frame made after every change made so far.
    std::vector<uint8_t> FreshFrame(FrameCatcher& catcher) {
        EXPECT_TRUE(catcher.WaitForFrames(3));
        return catcher.LastFrame();
    }

    SimCameraApi api;
    CameraHandle handle = kNoCameraHandle;
};

// Mean of each Bayer plane (red, green 1, green 2, blue) of an RGGB frame.
std::array<double, 4> PlaneMeans(const std::vector<uint8_t>& frame, uint32_t width) {
    std::array<double, 4> sum{};
    std::array<double, 4> count{};
    const uint32_t height = static_cast<uint32_t>(frame.size() / width);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            if (y == 0 && x < 2) {
                continue; // frame counter
            }
            const int plane = (y & 1) * 2 + (x & 1);
            sum[plane] += frame[y * width + x];
            count[plane] += 1;
        }
    }
    for (int p = 0; p < 4; ++p) {
        sum[p] /= count[p];
    }
    return sum;
}

TEST_F(SimCameraTest, OpensInItsPowerOnState) {
    EXPECT_EQ(api.NumCameras(), 1);
    FrameFormat f;
    float rate = 0;
    ASSERT_TRUE(api.GetFormat(handle, f, rate));
    EXPECT_EQ(f.xOffset, 0u);
    EXPECT_EQ(f.yOffset, 0u);
    EXPECT_EQ(f.width, 2048u);
    EXPECT_EQ(f.height, 1536u);
    EXPECT_EQ(f.pixelFormat, kPixelFormatBayerRggb8);
    EXPECT_EQ(rate, 25.0f);
    EXPECT_EQ(Property(kPropExposure), 10.0f);
    for (uint32_t gain = kPropGain; gain <= kPropGainGreen2; ++gain)
        EXPECT_EQ(Property(gain), 1.0f) << gain;
    EXPECT_EQ(Property(kPropMaxWidth), 2048.0f);
    EXPECT_EQ(Property(kPropMaxHeight), 1536.0f);
    VersionInfo version;
    ASSERT_TRUE(api.QueryVersion(handle, version));
    EXPECT_EQ(version.serialNumber, 21000512u);
}

TEST_F(SimCameraTest, SnapsRequestedRateToNearestOfList) {
    const std::pair<float, float> cases[] = {{0.5f, 3.75f},  {4.0f, 3.75f},    {16.0f, 15.0f},
                                             {27.4f, 25.0f}, {28.0f, 29.97f},  {30.0f, 29.97f},
                                             {56.0f, 60.0f}, {151.0f, 200.0f}, {1e6f, 500.0f}};
    for (const auto& [requested, snapped] : cases) {
        ASSERT_TRUE(SetRegion(0, 0, 2048, 1536, requested));
        FrameFormat f;
        float rate = 0;
        api.GetFormat(handle, f, rate);
        EXPECT_EQ(rate, snapped) << "requested " << requested;
    }
}

TEST_F(SimCameraTest, RefusesFormatsThatDoNotFitAndKeepsItsOwn) {
    ASSERT_TRUE(SetRegion(624, 568, 800, 400, 50.0f));
    EXPECT_FALSE(SetRegion(1300, 0, 800, 400, 25.0f));  // past the right edge
    EXPECT_FALSE(SetRegion(0, 1200, 800, 400, 25.0f));  // past the bottom
    EXPECT_FALSE(SetRegion(625, 568, 800, 400, 25.0f)); // odd offset breaks the pattern
    EXPECT_FALSE(SetRegion(0, 0, 4, 400, 25.0f));
    EXPECT_FALSE(SetRegion(0, 0, 800, 400, 0.0f));
    FrameFormat f;
    float rate = 0;
    api.GetFormat(handle, f, rate);
    FrameFormat mono = f;
    mono.pixelFormat = kPixelFormatMono8;
    EXPECT_FALSE(api.SetFormat(handle, mono, 25.0f));
    FrameFormat subsampled = f;
    subsampled.subSampleX = 2;
    EXPECT_FALSE(api.SetFormat(handle, subsampled, 25.0f));

    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    EXPECT_FALSE(SetRegion(0, 0, 800, 400, 25.0f)) << "format is locked while streaming";
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));

    api.GetFormat(handle, f, rate);
    EXPECT_EQ(f.xOffset, 624u);
    EXPECT_EQ(f.yOffset, 568u);
    EXPECT_EQ(f.width, 800u);
    EXPECT_EQ(rate, 50.0f);
}

TEST(SimCameraHandlesTest, EachCameraHasItsOwnHandleSerialAndState) {
    SimCameraApi api(2);
    EXPECT_EQ(api.NumCameras(), 2);
    EXPECT_EQ(api.CameraOpen(0), kNoCameraHandle);
    EXPECT_EQ(api.CameraOpen(3), kNoCameraHandle);
    const CameraHandle first = api.CameraOpen(1);
    const CameraHandle second = api.CameraOpen(2);
    ASSERT_NE(first, kNoCameraHandle);
    ASSERT_NE(second, kNoCameraHandle);
    EXPECT_NE(first, second);
    EXPECT_EQ(api.CameraOpen(1), kNoCameraHandle) << "already open";

    VersionInfo v1, v2;
    ASSERT_TRUE(api.QueryVersion(first, v1));
    ASSERT_TRUE(api.QueryVersion(second, v2));
    EXPECT_EQ(v1.serialNumber, 21000512u);
    EXPECT_EQ(v2.serialNumber, 21000513u);

    float value = 0;
    uint32_t flags = 0;
    EXPECT_FALSE(api.GetProperty(kNoCameraHandle, kPropExposure, value, flags));
    EXPECT_FALSE(api.GetProperty(first + 7, kPropExposure, value, flags));

    ASSERT_TRUE(api.SetProperty(first, kPropExposure, 5.0f, 0));
    ASSERT_TRUE(api.CameraClose(first));
    EXPECT_FALSE(api.GetProperty(first, kPropExposure, value, flags)) << "closed handle";
    EXPECT_FALSE(api.CameraClose(first));
    ASSERT_EQ(api.CameraOpen(1), first);
    ASSERT_TRUE(api.GetProperty(first, kPropExposure, value, flags));
    EXPECT_EQ(value, 10.0f) << "reopening restores the power-on state";
}

TEST_F(SimCameraTest, StreamsFramesOfRegionSizeWithAnIncreasingCounter) {
    FrameCatcher catcher;
    catcher.ExpectLength(800 * 400);
    Stream(catcher, 624, 568, 800, 400);
    ASSERT_TRUE(catcher.WaitForFrames(40));
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));

    // Stopped and started again, the counter goes on where it was.
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    ASSERT_TRUE(catcher.WaitForFrames(10));
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));
    EXPECT_EQ(catcher.WrongLengths(), 0u);
    EXPECT_EQ(catcher.RepeatedMarkers(), 0u);
    EXPECT_EQ(catcher.CounterJumps(), 0u);
}

TEST_F(SimCameraTest, NoCallbackRunsAfterStopOrRemoveReturns) {
    ASSERT_TRUE(SetRegion(0, 0, 64, 64, kFastRate));
    FrameCatcher removed, kept;
    const int32_t id = api.AddStreamingCallback(handle, removed.Function(), removed.Context());
    ASSERT_NE(api.AddStreamingCallback(handle, kept.Function(), kept.Context()), kNoCallbackId);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    ASSERT_TRUE(removed.WaitForFrames(5));

    ASSERT_TRUE(api.RemoveStreamingCallback(handle, id));
    removed.Seal();
    EXPECT_FALSE(api.RemoveStreamingCallback(handle, id));
    ASSERT_TRUE(kept.WaitForFrames(10));

    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));
    kept.Seal();
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // some frame periods
    EXPECT_EQ(removed.LateCalls(), 0u);
    EXPECT_EQ(kept.LateCalls(), 0u);
}

struct StopperContext {
    SimCameraApi* api;
    CameraHandle handle;
    std::atomic<int> calls{0};
    std::atomic<bool> stopResult{false};
    std::atomic<bool> closeResult{true};
};

TEST_F(SimCameraTest, CallbackMayStopItsOwnStreamButNotCloseTheCamera) {
    ASSERT_TRUE(SetRegion(0, 0, 64, 64, kFastRate));
    StopperContext context{&api, handle};
    auto stopper = [](void* c, uint8_t*, uint32_t) {
        auto* ctx = static_cast<StopperContext*>(c);
        ctx->closeResult = ctx->api->CameraClose(ctx->handle);
        ctx->stopResult = ctx->api->StreamVideoControl(ctx->handle, StreamMode::kStop);
        ctx->calls.fetch_add(1);
    };
    ASSERT_NE(api.AddStreamingCallback(handle, stopper, &context), kNoCallbackId);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    for (int i = 0; i < 10000 && context.calls.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(context.calls.load(), 1);
    EXPECT_TRUE(context.stopResult.load());
    EXPECT_FALSE(context.closeResult.load());
    EXPECT_TRUE(api.CameraClose(handle));
    EXPECT_EQ(context.calls.load(), 1) << "the stream stopped after the first frame";
}

TEST_F(SimCameraTest, RegionCropsTheSensorPicture) {
    FrameCatcher catcher;
    Stream(catcher, 0, 0, 2048, 1536);
    const std::vector<uint8_t> full = FreshFrame(catcher);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));

    const uint32_t x0 = 624, y0 = 100, w = 800, h = kStaticRows - y0;
    ASSERT_TRUE(SetRegion(x0, y0, w, h, kFastRate));
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStart));
    const std::vector<uint8_t> crop = FreshFrame(catcher);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));
    ASSERT_EQ(crop.size(), size_t{w} * h);

    uint32_t differing = 0;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = (y == 0 ? 2 : 0); x < w; ++x) {
            differing += crop[y * w + x] != full[(y0 + y) * 2048 + x0 + x];
        }
    }
    EXPECT_EQ(differing, 0u);
}

TEST_F(SimCameraTest, RunnersMoveAcrossTheTrack) {
    FrameCatcher catcher;
    Stream(catcher, 0, 600, 2048, 600, 100.0f);
    const std::vector<uint8_t> before = FreshFrame(catcher);
    ASSERT_TRUE(catcher.WaitForFrames(10));
    const std::vector<uint8_t> after = catcher.LastFrame();
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));
    uint32_t differing = 0;
    for (size_t i = 2; i < before.size(); ++i) {
        differing += before[i] != after[i];
    }
    EXPECT_GT(differing, 1000u);
}

TEST_F(SimCameraTest, ExposureAndGainsScaleTheBrightness) {
    ASSERT_TRUE(api.SetProperty(handle, kPropGain, 3.875f, 0));
    FrameCatcher catcher;
    Stream(catcher, 0, 0, 2048, kStaticRows);
    const auto base = PlaneMeans(FreshFrame(catcher), 2048);

    ASSERT_TRUE(api.SetProperty(handle, kPropExposure, 20.0f, 0));
    const auto longer = PlaneMeans(FreshFrame(catcher), 2048);
    ASSERT_TRUE(api.SetProperty(handle, kPropGainRed, 2.0f, 0));
    const auto redder = PlaneMeans(FreshFrame(catcher), 2048);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));

    for (int p = 0; p < 4; ++p) {
        EXPECT_NEAR(longer[p] / base[p], 2.0, 0.05) << "plane " << p;
    }
    EXPECT_NEAR(redder[0] / longer[0], 2.0, 0.05);
    EXPECT_DOUBLE_EQ(redder[3], longer[3]) << "blue untouched by the red gain";
}

TEST_F(SimCameraTest, OneShotWhiteBalanceEvensOutTheColourPlanes) {
    ASSERT_TRUE(api.SetProperty(handle, kPropGain, 3.875f, 0));
    FrameCatcher catcher;
    Stream(catcher, 0, 0, 2048, kStaticRows);
    const auto before = PlaneMeans(FreshFrame(catcher), 2048);
    EXPECT_GT(before[3] / before[0], 1.1) << "the sky and stands are bluish at first";

    EXPECT_FALSE(api.OneShotAutoWhiteBalance(handle, 0, 0, 2049, kStaticRows));
    EXPECT_FALSE(api.OneShotAutoWhiteBalance(handle, 0, 0, 0, 10));
    ASSERT_TRUE(api.OneShotAutoWhiteBalance(handle, 0, 0, 2048, kStaticRows));
    const auto after = PlaneMeans(FreshFrame(catcher), 2048);
    ASSERT_TRUE(api.StreamVideoControl(handle, StreamMode::kStop));

    for (int p = 0; p < 4; ++p) {
        EXPECT_NEAR(after[p] / after[1], 1.0, 0.02) << "plane " << p;
    }
    EXPECT_NE(Property(kPropGainRed), 1.0f);
}

} // namespace
} // namespace quillon
