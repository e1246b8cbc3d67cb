// The engine with the simulated camera, without a window: whether a frame is recorded must not
// depend on the user-interface thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QProcess>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "RecorderEngine.h"
#include "common/Network.h"
#include "common/WaitUntil.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

void Spin(int ms) {
    WaitUntil([] { return false; }, ms);
}

TEST(EngineRecordingTest, UserInterfaceHeldUpMidArrivalLosesNoFrame) {
    TestCoreApplication();
    char pattern[] = "/tmp/quillon-engine-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    fs::create_directory(dir / "share");
    std::ofstream(dir / "smb.conf")
        << "[QuillonFiles]\n  path = " << (dir / "share").string() << "\n";
    MonotonicTickSource ticks;
    long long arrival = 0, end = 0, before = 0, after = 0;
    {
        RecorderEngine engine(ticks);
        engine.SetShareConfig((dir / "smb.conf").string());
        ASSERT_TRUE(engine.AllocateFrameStores());
        ASSERT_EQ(engine.StartCamera("sim"), CameraStartResult::kStreaming);
        CameraSettings& camera = engine.Camera();
        camera = CameraSettings{};
        camera.Width = 800;
        camera.Height = 400;
        camera.Framerate = 50;
        camera.Brightnes = 12;
        ASSERT_TRUE(engine.ApplyCameraSettings());
        engine.App().Filetype = kFileVlv;
        engine.App().BufferLenght = 250;
        RaceStateMachine& race = engine.Race();
        before = race.BeforeWindowMs(); // 15 frames at 50 fps
        after = race.AfterWindowMs();
        race.OnReady();
        race.OnStart();
        Spin(1000);
        arrival = race.CurrentRaceTime();
        race.OnArrival(std::to_string(arrival));
        // As a modal dialog or a slow paint would: no events for two seconds.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        Spin(200);
        end = race.CurrentRaceTime();
        race.OnEndArrival(std::to_string(end));
        // The worker stops writing at the first frame after the after-window.
        EXPECT_TRUE(WaitUntil([&] { return !engine.Saving().IsSaving(); }, 15000));
        race.OnIdle();
        EXPECT_EQ(engine.DroppedFrames(), 0u);
        engine.Shutdown(false, {});
    }
    fs::path file;
    for (const auto& entry : fs::directory_iterator(dir / "share"))
        file = entry.path();
    QProcess inspect;
    inspect.start(QString(QUILLON_BUILD_DIR) + "/quillon-inspect", {QString::fromStdString(file)});
    ASSERT_TRUE(inspect.waitForFinished(30000));
    std::istringstream lines(inspect.readAllStandardOutput().toStdString());
    const std::regex frameLine(R"(^frame \d+: .*time (\d+) ms, sequence (\d+))");
    long long firstTime = -1, lastTime = -1, lastSequence = -1;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, frameLine))
            continue;
        const long long time = std::stoll(m[1]), sequence = std::stoll(m[2]);
        if (lastSequence >= 0) {
            ASSERT_EQ(sequence, lastSequence + 1) << line;
            ASSERT_GT(time, lastTime) << line;
        }
        if (firstTime < 0)
            firstTime = time;
        lastTime = time;
        lastSequence = sequence;
    }
    // One unbroken run from the before-window, through the 2.2 s held up, to the end of the
    // after-window (within a frame at 50 fps).
    EXPECT_LE(std::llabs(firstTime - (arrival - before)), 20);
    EXPECT_GE(lastTime, end + after - 20);
    fs::remove_all(dir);
}

} // namespace
} // namespace quillon
