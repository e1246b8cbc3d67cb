// Host commands: whatever a host sends over TCP goes through the command dispatcher into the
// race state machine, with a save path behind it that only records what it is asked to do.
//
// Input: the blocks of one host conversation, separated by zero bytes (a received block ends at
// its first zero byte anyway). Each block reaches the dispatcher in receives of at most 1024
// bytes, as the host link reads them. Time moves on with every block; an empty block (two zero
// bytes in a row) connects or disconnects the host.

#include <cstdint>
#include <string>
#include <string_view>

#include "ScratchFile.h"
#include "core/RaceStateMachine.h"
#include "hostlink/CommandDispatcher.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace {

using namespace quillon;
using quillon::fuzz::Broken;

constexpr size_t kReceiveBytes = 1024;

struct Link : ReplySink {
    bool connected = false;
    size_t replies = 0;
    void SendReply(std::string_view text) override {
        if (text.empty())
            Broken("an empty reply");
        ++replies;
    }
    bool IsHostConnected() const override { return connected; }
};

// The save path's steps, checked against the state the race is in when each is taken.
struct Steps : RecordingSteps {
    const RaceStateMachine* race = nullptr;
    bool recorder = false;
    bool workerRunning = false;
    bool HasRecorder() const override { return recorder; }
    bool IsEveryFrame() const override { return false; }
    void StopSaveWorker() override { workerRunning = false; }
    void DeleteRecorder() override {
        if (!recorder)
            Broken("recorder deleted twice");
        if (workerRunning)
            Broken("recorder deleted while its worker still writes");
        recorder = false;
    }
    void PrepareRecording() override {
        if (race->State() != kReady)
            Broken("recording prepared outside READY");
        workerRunning = false; // the save path stops the old worker before replacing its file
        recorder = true;
    }
    void StartSavePass() override {
        if (race->State() != kStarted)
            Broken("save pass started while no race runs");
        if (!recorder)
            Broken("save pass started without a recording");
        if (race->ArrivalEndTime() != 0)
            Broken("save pass started for an arrival that is not open");
        workerRunning = true;
    }
};

struct Race {
    Link link;
    Steps steps;
    ManualTickSource ticks{123456};
    AppSettings app;
    CameraSettings camera;
    RaceStateMachine race{link, steps, ticks, app, camera};
    Race() {
        steps.race = &race;
        camera.Framerate = 100.0f;
    }
};

void Receive(Race& r, std::string_view block) {
    for (size_t at = 0; at < block.size(); at += kReceiveBytes) {
        const std::string_view piece = block.substr(at, kReceiveBytes);
        DispatchCommands(piece, r.race);
        const RaceState state = r.race.State();
        if (state != kIdle && state != kReady && state != kStarted)
            Broken("race state out of range");
        // The camera thread asks for the host's time about once a second while a race runs.
        if (state == kStarted && r.link.connected)
            r.race.SendTimeRequest();
        r.race.HostClockSilent();
        r.race.RefreshElapsedTime();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Race r;
    r.link.connected = true;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const size_t end = input.find('\0');
        const std::string_view block = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (block.empty()) {
            r.link.connected = !r.link.connected;
            continue;
        }
        r.ticks.Advance(uint32_t(block.size()) * 37u);
        Receive(r, block);
    }
    r.race.OnIdle(); // the recorder must always be able to end the race
    if (r.steps.recorder)
        Broken("IDLE left a recording open");
    return 0;
}
