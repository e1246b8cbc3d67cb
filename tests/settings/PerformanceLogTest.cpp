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
using StampArray = std::array<Clock::time_point, PerformanceLog::kStampCount>;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Frame 20.5 ms; stages 10.5 ms, 0.9 ms, 0, 2 ms, 3.999 ms and 1 ms, from `start` on.
StampArray SomeFrame(Clock::time_point start = {}) {
    const Clock::duration at[] = {0ms,  1ms,  11500us, 12ms,    12900us, 13ms, 13ms,
                                  13ms, 15ms, 15ms,    18999us, 19ms,    20ms, 20500us};
    StampArray s{};
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = start + at[i];
    return s;
}
constexpr const char* kSomeLine = "20\t10\t0\t0\t2\t3\t1\r\n";

class PerformanceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillon-perflog-XXXXXX";
        dir = mkdtemp(pattern);
        app.SavePerformanceLog = 1;
        camera.Width = 800;
        camera.Height = 400;
        camera.Reduction = 1;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    AppSettings app;
    CameraSettings camera;
};

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
    };
    for (const auto& c : cases) {
        camera.Framerate = c.rate;
        PerformanceLog log;
        ASSERT_TRUE(log.Create(app, camera, (dir / "Orlin").string())); // makes the folder
        EXPECT_EQ(fs::path(log.Path()), dir / "Orlin" / c.name);
        log.Append(SomeFrame());
        EXPECT_EQ(log.Durations(), (std::array<int32_t, 7>{20, 10, 0, 0, 2, 3, 1}));
        log.Flush();
        EXPECT_EQ(ReadAll(log.Path()),
                  std::string("Computer name\t") + host +
                      "\r\nCPU frequency\t1000000000\r\nTime unit\tmillisecond\r\n"
                      "Milliseconds per frame\r\n" +
                      c.perFrame +
                      "\r\nTotal time\tRgb conversion\tReduction frame time\tAdjustment time\t"
                      "Calculation time\tShow frame time\tSave frame time\r\n" +
                      kSomeLine);
    }
}

TEST_F(PerformanceLogTest, ASecondRunEmptiesTheFileAndLinesReachItWithinASecond) {
    camera.Framerate = 25.0f;
    std::string path;
    {
        PerformanceLog first;
        ASSERT_TRUE(first.Create(app, camera, dir.string()));
        for (int i = 0; i < 5; ++i)
            first.Append(SomeFrame());
        path = first.Path();
    }
    PerformanceLog second;
    ASSERT_TRUE(second.Create(app, camera, dir.string()));
    const size_t header = fs::file_size(path);
    second.Append(SomeFrame());
    EXPECT_EQ(fs::file_size(path), header); // still in the buffer
    // A frame that ends more than a second after the last write sends the buffer out.
    second.Append(SomeFrame(Clock::now() + 2s));
    EXPECT_EQ(ReadAll(path).substr(header), std::string(kSomeLine) + kSomeLine);
}

TEST_F(PerformanceLogTest, NoFileMeansNoLines) {
    std::ofstream(dir / "file") << "x";
    PerformanceLog log;
    EXPECT_FALSE(log.Create(app, camera, (dir / "file" / "Orlin").string()));
    app.SavePerformanceLog = 0;
    EXPECT_FALSE(log.Create(app, camera, (dir / "Orlin").string()));
    EXPECT_FALSE(fs::exists(dir / "Orlin"));
    log.Append(SomeFrame()); // dropped, no crash
    EXPECT_FALSE(log.IsOpen());
}

} // namespace
} // namespace quillon
