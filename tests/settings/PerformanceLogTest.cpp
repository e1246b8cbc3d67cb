#include "settings/PerformanceLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = PerformanceLog::Clock;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Stamps whose seven columns last total, 10.5 ms, 0.9 ms, 0, 2 ms, 3.999 ms, 1 ms, 7 ms.
std::array<Clock::time_point, PerformanceLog::kStampCount> SomeFrame() {
    const Clock::time_point t0{};
    std::array<Clock::time_point, PerformanceLog::kStampCount> s{};
    const auto stage = [&](int start, Clock::duration from, Clock::duration length) {
        s[size_t(start)] = t0 + from;
        s[size_t(start + 1)] = t0 + from + length;
    };
    stage(PerformanceLog::kRgbStart, 1ms, 10500us);
    stage(PerformanceLog::kReduceStart, 12ms, 900us);
    stage(PerformanceLog::kAdjustStart, 13ms, 0ms);
    stage(PerformanceLog::kMeanStart, 13ms, 2ms);
    stage(PerformanceLog::kShowStart, 15ms, 3999us);
    stage(PerformanceLog::kSaveStart, 19ms, 1ms);
    s[PerformanceLog::kFrameStart] = t0;
    s[PerformanceLog::kFrameEnd] = t0 + 20ms + 500us;
    return s;
}

class PerformanceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillon-perflog-XXXXXX";
        dir = mkdtemp(pattern);
        logDir = dir / "Orlin";
        app.SavePerformanceLog = 1;
        camera.Width = 800;
        camera.Height = 400;
        camera.Reduction = 1;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir, logDir;
    AppSettings app;
    CameraSettings camera;
};

TEST_F(PerformanceLogTest, SwitchedOffMakesNeitherFolderNorFile) {
    app.SavePerformanceLog = 0;
    PerformanceLog log;
    EXPECT_FALSE(log.Create(app, camera, logDir.string()));
    log.Append(SomeFrame());
    log.Flush();
    EXPECT_FALSE(fs::exists(logDir));
}

TEST_F(PerformanceLogTest, NameHeaderAndLinesFollowTheFrameRate) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const struct {
        float rate;
        const char* name;
        const char* perFrame;
    } cases[] = {
        {15.0f, "Time test 800x400, fps 15, reduction 1.csv", "66"},
        {16.0f, "Time test 800x400, fps 16, reduction 1.csv", "62"},
        {29.97f, "Time test 800x400, fps 29, reduction 1.csv", "33"},
    };
    for (const auto& c : cases) {
        camera.Framerate = c.rate;
        PerformanceLog log;
        ASSERT_TRUE(log.Create(app, camera, logDir.string())); // makes the folder
        EXPECT_EQ(fs::path(log.Path()), logDir / c.name);
        log.Append(SomeFrame());
        log.Append(SomeFrame());
        EXPECT_EQ(log.Durations(), (std::array<int32_t, 7>{20, 10, 0, 0, 2, 3, 1}));
        log.Flush();
        const std::string expected =
            std::string("Computer name\t") + host + "\r\nCPU frequency\t1000000000\r\n" +
            "Time unit\tmillisecond\r\nMilliseconds per frame\r\n" + c.perFrame + "\r\n" +
            "Total time\tRgb conversion\tReduction frame time\tAdjustment time\t"
            "Calculation time\tShow frame time\tSave frame time\r\n"
            "20\t10\t0\t0\t2\t3\t1\r\n20\t10\t0\t0\t2\t3\t1\r\n";
        EXPECT_EQ(ReadAll(log.Path()), expected) << c.name;
    }
}

TEST_F(PerformanceLogTest, ASecondRunEmptiesTheFileAndLinesReachItWithinASecond) {
    camera.Framerate = 25.0f;
    std::string path;
    {
        PerformanceLog first;
        ASSERT_TRUE(first.Create(app, camera, logDir.string()));
        for (int i = 0; i < 5; ++i)
            first.Append(SomeFrame());
        path = first.Path();
    }
    PerformanceLog second;
    ASSERT_TRUE(second.Create(app, camera, logDir.string()));
    const size_t header = fs::file_size(path);
    auto frame = SomeFrame();
    second.Append(frame);
    EXPECT_EQ(fs::file_size(path), header); // still in the buffer
    // A frame that ends more than a second after the last write sends the buffer out.
    for (auto& stamp : frame)
        stamp = Clock::now() + 2s;
    second.Append(frame);
    const std::string text = ReadAll(path);
    EXPECT_EQ(text.substr(header), "20\t10\t0\t0\t2\t3\t1\r\n0\t0\t0\t0\t0\t0\t0\r\n");
}

TEST_F(PerformanceLogTest, AFolderThatCannotBeMadeLeavesTheLogClosed) {
    std::ofstream(dir / "file") << "x";
    PerformanceLog log;
    EXPECT_FALSE(log.Create(app, camera, (dir / "file" / "Orlin").string()));
    EXPECT_FALSE(log.IsOpen());
    log.Append(SomeFrame()); // dropped, no crash
}

} // namespace
} // namespace quillon
