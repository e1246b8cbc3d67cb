#include "core/SavePath.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <fstream>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

struct Written {
    uint32_t time;
    uint32_t sequence;
};

// A recording that remembers what it was given; optionally slow, to keep a pass running.
struct FakeRecording : Recording {
    std::vector<Written>* log;
    std::string path;
    bool everyFrame;
    std::chrono::milliseconds delay{0};
    FakeRecording(std::vector<Written>* l, std::string p, bool e) : log(l), path(std::move(p)), everyFrame(e) {}
    void WriteFrame(uint32_t, uint32_t, const uint8_t* data, uint16_t, uint32_t time,
                    uint32_t sequence) override {
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        EXPECT_EQ(data[4], uint8_t(sequence));  // the image kept is the frame's own
        log->push_back({time, sequence});
    }
    bool IsEveryFrame() const override { return everyFrame; }
    bool IsOpen() const override { return true; }
    const std::string& Path() const override { return path; }
};

struct Link : ReplySink {
    std::vector<std::string> replies;
    void SendReply(std::string_view text) override { replies.emplace_back(text); }
    bool IsHostConnected() const override { return connected; }
    bool connected = false;
};

// Forwards the race's recording steps to the save path made after it.
struct Steps : RecordingSteps {
    SavePath* path = nullptr;
    bool HasRecorder() const override { return path->HasRecorder(); }
    bool IsEveryFrame() const override { return path->IsEveryFrame(); }
    void StopSaveWorker() override { path->StopSaveWorker(); }
    void DeleteRecorder() override { path->DeleteRecorder(); }
    void PrepareRecording() override { path->PrepareRecording(); }
    void StartSavePass() override { path->StartSavePass(); }
};

class SavePathTest : public ::testing::Test {
protected:
    static constexpr uint32_t kWidth = 16, kHeight = 8;

    SavePathTest() {
        char pattern[] = "/tmp/quillon-save-XXXXXX";
        folder = mkdtemp(pattern);
        app.Filetype = kFileVlv;
        app.BufferLenght = 40;
        app.FramesBefore = 15;
        app.FramesAfter = 10;
        camera.Width = kWidth;
        camera.Height = kHeight;
        camera.Reduction = 1;
        camera.Framerate = 25.0f;
        SavePathServices services;
        services.findLocalShare = [this] { return shareMissing ? std::string() : folder.string(); };
        services.localAddress = [] { return std::string("127.0.0.1"); };
        services.hostAddress = [] { return std::string("10.0.0.7"); };
        services.createRemoteFile = [this](const std::string&, std::string&) { return !remoteRefuses; };
        services.createRecording = [this](const std::string& p, uint32_t, uint32_t, uint32_t,
                                          bool every) -> std::unique_ptr<Recording> {
            auto r = std::make_unique<FakeRecording>(&logs.emplace_back(), p, every);
            r->delay = writeDelay;
            return r;
        };
        services.postToUi = [this](std::function<void()> call) {
            std::lock_guard lock(postedMutex);
            posted.push_back(std::move(call));
        };
        path = std::make_unique<SavePath>(race, link, ticks, app, camera, events, services);
        steps.path = path.get();
    }
    ~SavePathTest() override {
        path.reset();
        fs::remove_all(folder);
    }

    // The user-interface thread's event loop: runs what the worker posted.
    void RunPosted() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(postedMutex);
            calls.swap(posted);
        }
        for (auto& call : calls) call();
    }

    // One camera frame every 40 ms; its sequence number also marks its pixels.
    void Frames(int count) {
        for (int i = 0; i < count; ++i) {
            ticks.Advance(40);
            ++sequence;
            std::vector<uint8_t> raw(kWidth * kHeight, uint8_t(sequence));
            raw[0] = uint8_t(sequence);
            raw[1] = uint8_t(sequence >> 8);
            raw[2] = uint8_t(sequence >> 16);
            raw[3] = uint8_t(sequence >> 24);
            path->TakeFrame(raw.data(), raw.size(), nullptr, 0, 0);
            RunPosted();
        }
    }

    // An arrival at the race time of the latest frame, as a host would announce it.
    void ArriveNow() { race.OnArrival(std::to_string(race.CurrentRaceTime())); }
    void EndNow() { race.OnEndArrival(std::to_string(race.CurrentRaceTime())); }

    void WaitForPass() {
        for (int i = 0; i < 500 && path->IsSaving(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            RunPosted();
        }
        ASSERT_FALSE(path->IsSaving());
    }

    static void ExpectContiguous(const std::vector<Written>& log, uint32_t first, uint32_t last) {
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front().sequence, first);
        EXPECT_EQ(log.back().sequence, last);
        for (size_t i = 1; i < log.size(); ++i) {
            EXPECT_EQ(log[i].sequence, log[i - 1].sequence + 1) << "at " << i;
            EXPECT_GT(log[i].time, log[i - 1].time) << "at " << i;
        }
    }

    fs::path folder;
    bool shareMissing = false;
    bool remoteRefuses = false;  // the host's share is missing or refuses access
    std::chrono::milliseconds writeDelay{0};
    AppSettings app;
    CameraSettings camera;
    ManualTickSource ticks{100000};
    Link link;
    Steps steps;
    SaveEvents events;
    RaceStateMachine race{link, steps, ticks, app, camera};
    std::unique_ptr<SavePath> path;
    std::deque<std::vector<Written>> logs;
    std::mutex postedMutex;
    std::deque<std::function<void()>> posted;
    uint32_t sequence = 0;
};

TEST(FrameRing, NearestBufferedSlotWithTiesToTheLowerIndex) {
    FrameRing ring;
    ASSERT_TRUE(ring.Create(6, 4));
    const uint8_t frame[4] = {};
    EXPECT_EQ(ring.FindNearestSlot(1000), -1);
    const uint32_t times[] = {900, 1100, 1300, 1000, 950, 1050};
    for (int32_t i = 0; i < 6; ++i) ring.StoreFrame(kSlotBuffered, frame, 4, times[i], 0, i);
    EXPECT_EQ(ring.FindNearestSlot(1000), 3);
    EXPECT_EQ(ring.FindNearestSlot(1075), 1);  // 1050 and 1100 are both 25 away: lower index
    ring.StoreFrame(kSlotPending, frame, 4, 1075, 0, 1);
    EXPECT_EQ(ring.FindNearestSlot(1075), 5);  // pending slots are not candidates
    // A pending slot is never overwritten.
    EXPECT_FALSE(ring.StoreFrame(kSlotBuffered, frame, 4, 2000, 0, 1));
    EXPECT_EQ(ring.Slot(1).time, 1075u);
}

TEST(FrameRing, PassWritesInRingOrderWithRisingTimesThenThePendingRun) {
    FrameRing ring;
    ASSERT_TRUE(ring.Create(8, 8));
    uint8_t frame[8] = {};
    const auto store = [&](int32_t index, SlotState state, uint32_t time) {
        frame[4] = uint8_t(index);
        ring.StoreFrame(state, frame, 8, time, uint32_t(index), index);
    };
    // A pass from slot 6 round to the end index 2, then the pending run from 2.
    store(6, kSlotBuffered, 100);
    store(7, kSlotBuffered, 90);  // older than the one before: marked written, not written
    store(0, kSlotBuffered, 120);
    store(1, kSlotBuffered, 140);
    store(2, kSlotPending, 160);
    store(3, kSlotPending, 180);
    store(5, kSlotBuffered, 10);  // outside the pass
    std::vector<Written> log;
    FakeRecording recording(&log, "x", false);
    SaveJob job;
    job.ring = &ring;
    job.recorder = &recording;
    job.startIndex = 6;
    job.endIndex = 2;
    EXPECT_EQ(SaveWorker::RunPass(job), 4);
    ASSERT_EQ(log.size(), 5u);
    const uint32_t expected[] = {6, 0, 1, 2, 3};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(log[i].sequence, expected[i]);
    EXPECT_EQ(ring.State(7), kSlotWritten);
    EXPECT_EQ(ring.State(5), kSlotBuffered);
}

TEST_F(SavePathTest, ArrivalRecordsFromTheWindowStartToTheEndOfTheAfterWindow) {
    race.OnStart();
    ASSERT_TRUE(path->HasRecorder());
    EXPECT_EQ(link.replies.front(), "FILENAME~L~127.0.0.1~QUILLON100000.vlv@");
    EXPECT_TRUE(fs::exists(folder / "QUILLON100000.vlv"));
    Frames(30);              // frames 1..30 buffered
    ArriveNow();             // before-window 600 ms
    Frames(5);               // 31..35 while the pass runs or after it
    WaitForPass();
    Frames(5);               // 36..40 written straight
    EndNow();                // after-window 400 ms: 10 more frames
    Frames(20);
    // From the frame nearest the window's start (15, exactly 600 ms before the arrival at
    // frame 30) through the arrival, then 10 frames after its end: 15..50.
    ExpectContiguous(logs.back(), 15, 50);
    // A second arrival goes into the same recording.
    ArriveNow();
    Frames(3);
    WaitForPass();
    EndNow();
    Frames(15);
    EXPECT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs.back().back().sequence, 73u);
}

TEST_F(SavePathTest, SlowPassKeepsArrivalFramesPendingAndIdleWaitsForThem) {
    writeDelay = std::chrono::milliseconds(5);
    race.OnStart();
    Frames(30);
    ArriveNow();
    Frames(12);  // pending while the slow pass writes
    EXPECT_TRUE(path->IsSaving());
    race.OnIdle();  // waits for the pass and writes what it left pending
    EXPECT_FALSE(path->HasRecorder());
    ExpectContiguous(logs.back(), 15, 42);
}

TEST_F(SavePathTest, ArrivalThatClosesDuringAPassKeepsItsFramesInOrder) {
    writeDelay = std::chrono::milliseconds(8);
    race.OnStart();
    Frames(30);
    ArriveNow();
    Frames(3);   // 31..33 pending
    EndNow();
    Frames(20);  // 34..43 still belong to the arrival, 44..53 come after it
    race.OnIdle();
    // Exactly the arrival, in order: nothing from after its after-window.
    ExpectContiguous(logs.back(), 15, 43);
}

TEST_F(SavePathTest, SecondArrivalDuringAPassGetsItsOwnWindowAfterIt) {
    path->RebuildRing(100);
    writeDelay = std::chrono::milliseconds(8);
    race.OnStart();
    Frames(30);
    ArriveNow();
    Frames(3);
    EndNow();
    Frames(40);  // 34..43 end the first arrival, 44..73 are kept for the next
    ArriveNow();  // while the first pass still writes: its window starts at frame 58
    Frames(3);
    race.OnIdle();
    const auto& log = logs.back();
    std::vector<Written> first(log.begin(), log.begin() + 29), second(log.begin() + 29, log.end());
    ExpectContiguous(first, 15, 43);
    ExpectContiguous(second, 58, 76);
}

TEST_F(SavePathTest, PendingRunThatWrapsIsWrittenInOrder) {
    writeDelay = std::chrono::milliseconds(3);
    race.OnStart();
    Frames(35);  // write index 35 of 40
    ArriveNow();
    Frames(10);  // pending 35..39, then 0..4
    race.OnIdle();
    ExpectContiguous(logs.back(), 20, 45);
}

TEST_F(SavePathTest, FullRingOfPendingSlotsLosesNewFramesNotOldOnes) {
    writeDelay = std::chrono::milliseconds(40);
    race.OnStart();
    Frames(20);
    ArriveNow();
    Frames(60);  // more than the ring holds while the pass is still at its start
    EXPECT_GT(path->LostFrames(), 0u);
    race.OnIdle();
    // The newest frames were lost, never the ones the pass still had to write: the recording
    // is one unbroken run from the window's start.
    ExpectContiguous(logs.back(), 5, logs.back().back().sequence);
    EXPECT_EQ(logs.back().size() + path->LostFrames(), 80u - 4u);
}

TEST_F(SavePathTest, ReadyWhilePassWritesFinishesTheOldRecordingFirst) {
    writeDelay = std::chrono::milliseconds(5);
    race.OnStart();
    Frames(30);
    ArriveNow();
    Frames(4);
    ticks.Advance(1);  // a new file name
    race.OnReady();
    ExpectContiguous(logs.front(), 15, 34);
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_TRUE(logs.back().empty());
    race.OnStart();
    Frames(20);
    ArriveNow();
    Frames(2);
    race.OnIdle();
    ExpectContiguous(logs.back(), 39, 56);
}

TEST_F(SavePathTest, NextRaceNeverRecordsTheLastRacesFrames) {
    race.OnStart();
    Frames(30);  // race times 40..1200, kept in the ring
    race.OnIdle();
    ticks.Advance(1);
    race.OnStart();     // the race clock starts again at 0
    Frames(10);         // 40..400 in slots 0..9; slots 10..29 still hold 440..1200
    race.OnArrival("1300");  // the host's time, 900 ms ahead: the window starts at 700
    Frames(2);
    race.OnIdle();
    ASSERT_EQ(logs.size(), 2u);
    // The newest frame of this race is the nearest; the old race's 680 and 720 are not there.
    ExpectContiguous(logs.back(), 40, 42);
}

TEST_F(SavePathTest, RebuildMidRaceStartsAFreshRing) {
    writeDelay = std::chrono::milliseconds(3);
    race.OnStart();
    Frames(30);
    ArriveNow();
    Frames(3);
    path->RebuildRing(50);  // the preferences were confirmed
    EXPECT_FALSE(path->IsSaving());
    ExpectContiguous(logs.back(), 15, 33);
    EndNow();
    Frames(40);
    EXPECT_EQ(path->Ring().Length(), 50);
    EXPECT_EQ(path->WriteIndex(), 30);  // the ten after-window frames went straight in
}

TEST_F(SavePathTest, WithoutAShareThereIsNoRecordingAndNothingBreaks) {
    shareMissing = true;
    race.OnArrival("0");
    EXPECT_EQ(link.replies,
              (std::vector<std::string>{"FILENAME~L~127.0.0.1~QUILLON100000.vlv@",
                                        SavePath::kShareErrorText, "RE~READY", "RE~START",
                                        "RE~ARRIVAL"}));
    Frames(10);
    EndNow();
    race.OnIdle();
    EXPECT_TRUE(logs.empty());
}

TEST_F(SavePathTest, UnwritableFolderGivesTheErrorReply) {
    folder /= "not-a-folder";
    std::ofstream(folder.string()) << "x";
    race.OnReady();
    EXPECT_EQ(link.replies[1], SavePath::kShareErrorText);
    EXPECT_FALSE(path->HasRecorder());
    fs::remove(folder);
    folder = folder.parent_path();
}

// The host's share only with Directory=1 and a host connected; otherwise the local share.
TEST_F(SavePathTest, DirectoryAndHostChooseTheShareAndTheReply) {
    const std::string local = (folder / "QUILLON100000.vlv").string();
    const std::string localReply = "FILENAME~L~127.0.0.1~QUILLON100000.vlv@";
    const struct {
        int32_t directory;
        bool connected;
        bool refuses;
        std::string reply;
        std::string path;  // empty: no recording, the ERROR reply
    } cases[] = {
        {0, true, false, localReply, local},
        {1, false, false, localReply, local},
        {1, true, false, "FILENAME~R~QUILLON100000.vlv@", "smb://10.0.0.7/QuillonFiles/QUILLON100000.vlv"},
        {1, true, true, "FILENAME~R~QUILLON100000.vlv@", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply + " " + c.path);
        app.Directory = c.directory;
        link.connected = c.connected;
        remoteRefuses = c.refuses;
        link.replies.clear();
        race.OnReady();
        ASSERT_GE(link.replies.size(), 2u);
        EXPECT_EQ(link.replies[0], c.reply);
        EXPECT_EQ(link.replies[1], c.path.empty() ? SavePath::kShareErrorText : "RE~READY");
        EXPECT_EQ(path->Recorder() ? path->Recorder()->Path() : "", c.path);
        race.OnIdle();
    }
}

TEST(RecordingFiles, RemotePathIsPercentEncodedWithIpv6InBrackets) {
    EXPECT_EQ(RecordingFiles::RemotePath("192.168.1.20", "QUILLON-5.avi"),
              "smb://192.168.1.20/QuillonFiles/QUILLON-5.avi");
    EXPECT_EQ(RecordingFiles::RemotePath("fe80::1", "a b%?.vlv"),
              "smb://[fe80::1]/QuillonFiles/a%20b%25%3F.vlv");
}

}  // namespace
}  // namespace quillon
