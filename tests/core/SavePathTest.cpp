#include "core/SavePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "common/TempDir.h"
#include "core/GreyPreview.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

struct Written {
    uint32_t time, sequence;
};

// Polls `done` for up to two seconds.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(1ms);
    return done();
}

// The race, the save path and its worker, fed frames on the test's thread as the camera
// thread would, one every 40 ms of the race clock. The test is the host link, and hands the
// race's recording steps on to the save path made after the race.
class SavePathTest : public ::testing::Test, public ReplySink, public RecordingSteps {
protected:
    static constexpr uint32_t kWidth = 16, kHeight = 8;

    // A recording that logs what it is given; slow or failing when the test says so.
    struct FakeRecording : Recording {
        FakeRecording(SavePathTest& t, std::string p, bool all)
            : test(t), log(t.logs.emplace_back()), path(std::move(p)), everyFrame(all) {}
        SavePathTest& test;
        std::vector<Written>& log; // kept by the test after the recording is deleted
        std::string path;
        bool everyFrame;
        std::atomic<bool> failed{false};
        void WriteFrame(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bits,
                        uint32_t time, uint32_t sequence) override {
            std::this_thread::sleep_for(test.writeDelay); // set before the worker starts
            EXPECT_TRUE(bits != 8 || data[4] == uint8_t(sequence))
                << "not its own frame " << sequence;
            if (test.firstImage.empty())
                test.firstImage.assign(data, data + size_t(width) * height * bits / 8);
            log.push_back({time, sequence});
        }
        bool IsEveryFrame() const override { return everyFrame; }
        bool IsOpen() const override { return true; }
        const std::string& Path() const override { return path; }
        bool HasFailed() const override { return failed; }
        std::string LastError() const override { return "No space left on device"; }
    };

    SavePathTest() {
        SavePathServices s;
        s.findLocalShare = [this] { return shareMissing ? std::string() : dir.Path(); };
        s.localAddress = [] { return std::string("127.0.0.1"); };
        s.hostAddress = [] { return std::string("10.0.0.7"); };
        s.createRemoteFile = [this](const std::string&, std::string&) { return !remoteRefuses; };
        s.createRecording = [this](const std::string& p, uint32_t, uint32_t, uint32_t, bool all) {
            recording = new FakeRecording(*this, p, all);
            return std::unique_ptr<Recording>(recording);
        };
        s.convert = GreyConversion;
        s.recordingFailed = [this](const std::string& p, const std::string& reason) {
            failures.push_back(p + ": " + reason);
        };
        path = std::make_unique<SavePath>(race, *this, ticks, app, camera, intake, s);
    }

    void SendReply(std::string_view text) override { replies.emplace_back(text); }
    bool IsHostConnected() const override { return connected; }
    bool HasRecorder() const override { return path->HasRecorder(); }
    bool IsEveryFrame() const override { return path->IsEveryFrame(); }
    void StopSaveWorker() override { path->StopSaveWorker(); }
    void DeleteRecorder() override { path->DeleteRecorder(); }
    void PrepareRecording() override { path->PrepareRecording(); }
    void StartSavePass() override { path->StartSavePass(); }
    void ArrivalClosed() override { path->ArrivalClosed(); }

    // One camera frame every 40 ms; its number, in its first bytes as the camera puts it,
    // also marks its pixels.
    void Frames(int count) {
        for (int i = 0; i < count; ++i) {
            ticks.Advance(40);
            std::vector<uint8_t> raw(kWidth * kHeight, uint8_t(++sequence));
            std::memcpy(raw.data(), &sequence, 4);
            intake.Take(raw.data(), raw.size(), sequence);
        }
    }

    // An arrival at the race time of the latest frame, as a host would announce it; the
    // worker has taken it up (holds its frames) when this returns.
    void ArriveNow() { ArriveAt(std::to_string(race.CurrentRaceTime())); }
    void ArriveAt(const std::string& time) {
        race.OnArrival(time);
        ASSERT_TRUE(Eventually([this] { return path->HasTakenArrivals(); }));
    }
    void EndNow() { race.OnEndArrival(std::to_string(race.CurrentRaceTime())); }

    static void ExpectContiguous(const std::vector<Written>& log, uint32_t first, uint32_t last) {
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(std::pair(log.front().sequence, log.back().sequence), std::pair(first, last));
        for (size_t i = 1; i < log.size(); ++i) {
            ASSERT_EQ(log[i].sequence, log[i - 1].sequence + 1) << "at " << i;
            ASSERT_GT(log[i].time, log[i - 1].time) << "at " << i;
        }
    }

    test::TempDir dir{"quillon-save"};
    bool shareMissing = false, remoteRefuses = false; // the host's share refuses access
    std::chrono::milliseconds writeDelay{0};
    std::vector<std::string> replies;
    bool connected = false; // a host, over TCP
    AppSettings app{.BufferLenght = 40};
    CameraSettings camera{.Width = kWidth, .Height = kHeight, .Framerate = 25.0f};
    ManualTickSource ticks{100000};
    RaceStateMachine race{*this, *this, ticks, app, camera};
    std::atomic<uint32_t> adjustment{FrameAdjustment{}.Pack()};
    FrameIntake intake{race.Clock(), race.StateWord(), adjustment};
    // Filled in on the worker's thread, read once the worker has ended (joined): READY, IDLE.
    std::deque<std::vector<Written>> logs;
    std::vector<uint8_t> firstImage; // of the first frame written
    std::vector<std::string> failures;
    FakeRecording* recording = nullptr;
    uint32_t sequence = 0;
    std::unique_ptr<SavePath> path;
};

// (A full ring's holds: FullRingLosesTheNewestFramesNeverTheOnesStillToWrite.)
TEST(FrameRing, NearestFrameWithTiesToTheOlderAndOnlyAfterWhatWasWritten) {
    FrameRing ring;
    ASSERT_TRUE(ring.Create(6, 4));
    for (uint32_t t : {900u, 1100u, 1300u, 1000u, 950u, 1050u})
        ring.Reserve()->time = t, ring.Commit();
    EXPECT_EQ(ring.FindNearest(0, 6, 1000), 3u);
    EXPECT_EQ(ring.FindNearest(0, 6, 1075), 1u);       // 1050 and 1100 are both 25 away: the older
    EXPECT_EQ(ring.FindNearest(0, 6, 1000, 1050), 1u); // later than 1050 only
    EXPECT_EQ(ring.FindNearest(0, 6, 1000, 1300), std::nullopt);
}

// Each arrival records from the frame nearest its window's start to the end of its
// after-window, also when it closes while the worker is behind; a second one goes into the same
// recording, after what it holds. READY ends the recording with everything the open window held
// (the worker is behind), and empties the ring: the last race's frames (times of another race
// clock) never start the next recording.
TEST_F(SavePathTest, ArrivalsRecordTheirWindowsAndReadyFinishesTheRecording) {
    app.BufferLenght = 60; // read at READY, not when the save path was made
    writeDelay = 5ms;
    race.OnStart();
    ASSERT_TRUE(path->HasRecorder());
    EXPECT_EQ(path->Ring().Length(), 60);
    EXPECT_TRUE(std::filesystem::exists(dir.File("QUILLON100000.vlv")));
    Frames(30);  // frames 1..30 kept
    ArriveNow(); // before-window 600 ms
    // A clock sync that steps the race time back a little costs no frame: they get the last
    // time + 1 ms.
    race.SetRaceTime(race.CurrentRaceTime() - 100);
    Frames(10);
    EndNow(); // after-window 400 ms: 10 more frames, while the worker is behind
    Frames(30);
    ArriveNow();
    Frames(3);
    ticks.Advance(1); // a new file name
    race.OnReady();
    // From the frame nearest the window's start (15, exactly 600 ms before the arrival at
    // frame 30) through the arrival, then 10 frames after its end: 15..50. The second window
    // starts at frame 55 and is still open at frame 73.
    const std::vector<Written>& log = logs[0];
    ExpectContiguous({log.begin(), log.begin() + 36}, 15, 50);
    EXPECT_EQ(log[16].time, log[15].time + 1);
    ExpectContiguous({log.begin() + 36, log.end()}, 55, 73);
    race.OnStart();   // the race clock starts again at 0
    Frames(10);       // 40..400 ms
    ArriveAt("1300"); // the host's time, 900 ms ahead: the window starts at 700
    Frames(2);
    race.OnIdle();
    EXPECT_FALSE(path->HasRecorder());
    ASSERT_EQ(logs.size(), 2u);
    ExpectContiguous(logs[1], 83, 85);
}

// A before-window longer than the ring starts at the oldest kept frame; the intake never
// overwrites the frame a pass is about to start with.
TEST_F(SavePathTest, LongBeforeWindowStartsAtTheOldestKeptFrame) {
    // Ring 40, arrival at 100: frames before it, and the first frame recorded.
    const std::pair<int32_t, uint32_t> cases[] = {{60, 61}, {40, 61}, {39, 61}, {38, 62}, {20, 80}};
    for (const auto& [framesBefore, firstRecorded] : cases) {
        SCOPED_TRACE(framesBefore);
        app.FramesBefore = framesBefore;
        ticks.Advance(1);
        race.OnStart();
        Frames(100);
        ArriveNow();
        EndNow();
        // The camera delivers far slower than this loop: let the worker write the kept frames
        // first, or the ring would be full of them when the after-window comes.
        Eventually([&] { return path->FramesWritten() >= 101 - firstRecorded; });
        Frames(12);
        race.OnIdle();
        ExpectContiguous(logs.back(), firstRecorded + sequence - 112, sequence - 2);
    }
}

// A held frame is never overwritten: the newest frame is lost instead, and counted.
TEST_F(SavePathTest, FullRingLosesTheNewestFramesNeverTheOnesStillToWrite) {
    writeDelay = 40ms;
    race.OnStart();
    Frames(20);
    ArriveNow();
    Frames(60); // more than the ring holds while the worker is still at its start
    EXPECT_GT(path->LostFrames(), 0u);
    race.OnIdle();
    const std::vector<Written>& log = logs[0];
    size_t run = 1;
    while (run < log.size() && log[run].sequence == log[run - 1].sequence + 1)
        ++run;
    // One unbroken run from the window's start as far as the ring reached; every frame is
    // either written or counted as lost.
    ExpectContiguous({log.begin(), log.begin() + run}, 5, log[run - 1].sequence);
    EXPECT_GE(run, 40u);
    EXPECT_EQ(log.size() + path->LostFrames(), 80u - 4u);
}

// The every-frame kind gets every frame of the race, without times. Like every 24-bit kind it
// keeps the image as the preview showed it, made by the worker from the raw frame with the
// picture settings of the moment it was delivered. A recording that fails is reported once,
// with its file and the reason.
TEST_F(SavePathTest, EveryFrameRecordingKeepsEveryShownImageAndFailuresAreReportedOnce) {
    app.Filetype = kFileWmvAll;
    camera.Reduction = 2, camera.Brightnes = 12, camera.Contrast = 130;
    FrameStores stores;
    ASSERT_TRUE(stores.Allocate());
    GreyPreview preview;
    FramePipeline pipeline(stores, camera, preview, preview, adjustment);
    std::vector<uint8_t> raw(kWidth * kHeight);
    std::generate(raw.begin(), raw.end(), [n = 0]() mutable { return uint8_t(7 * n++); });
    ASSERT_FALSE(pipeline.OnFrameReady(raw.data(), raw.size()));
    race.OnStart();
    intake.Take(raw.data(), raw.size(), ++sequence);
    Frames(4);
    ArriveNow();
    recording->failed = true;
    Frames(5);
    race.OnIdle();
    const std::vector<Written>& log = logs[0];
    ASSERT_EQ(log.size(), 10u);
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(std::pair(log[i].sequence, log[i].time), std::pair(uint32_t(i + 1), 0u));
    EXPECT_EQ(firstImage, preview.shown);
    EXPECT_EQ(failures, std::vector<std::string>{dir.File("QUILLON100000.wmv") +
                                                 ": No space left on device"});
}

// The host's share only with Directory=1 and a host connected; otherwise the local share.
// Without a share the host hears so, and the race runs on without a recording.
TEST_F(SavePathTest, DirectoryAndHostChooseTheShareAndTheReply) {
    const std::string local = dir.File("QUILLON100000.vlv");
    const std::string localReply = "FILENAME~L~127.0.0.1~QUILLON100000.vlv@";
    const std::string remoteReply = "FILENAME~R~QUILLON100000.vlv@";
    // Directory, host connected, no local share, the host's share refuses; the reply, and the
    // recording's path (empty: no recording, the ERROR reply).
    const std::tuple<int32_t, bool, bool, bool, std::string, std::string> cases[] = {
        {0, true, false, false, localReply, local},
        {1, false, false, false, localReply, local},
        {1, true, false, false, remoteReply, "smb://10.0.0.7/QuillonFiles/QUILLON100000.vlv"},
        {1, true, false, true, remoteReply, ""},
        {0, false, true, false, localReply, ""},
    };
    for (const auto& [directory, host, missing, refuses, reply, file] : cases) {
        SCOPED_TRACE(reply + " " + file);
        std::tie(app.Directory, connected, shareMissing, remoteRefuses) =
            std::tie(directory, host, missing, refuses);
        replies.clear();
        ticks.Set(100000); // the file's name
        race.OnArrival("0");
        ASSERT_GE(replies.size(), 2u);
        EXPECT_EQ(replies[0], reply);
        EXPECT_EQ(replies[1], file.empty() ? SavePath::kShareErrorText : "RE~READY");
        EXPECT_EQ(path->Recorder() ? path->Recorder()->Path() : "", file);
        Frames(3);
        race.OnIdle();
    }
    // A ring larger than the machine's memory is refused: the host hears so, and no recording
    // is kept that would never receive a frame.
    shareMissing = false;
    camera.Width = 2048, camera.Height = 1536;
    app.BufferLenght = 100000000;
    replies.clear();
    race.OnReady();
    EXPECT_EQ(replies[1], SavePath::kShareErrorText);
    EXPECT_FALSE(path->HasRecorder());
    // The host's share as a path: percent-encoded, an IPv6 address in brackets.
    EXPECT_EQ(RecordingFiles::RemotePath("fe80::1", "a b%?.vlv"),
              "smb://[fe80::1]/QuillonFiles/a%20b%25%3F.vlv");
}

} // namespace
} // namespace quillon
