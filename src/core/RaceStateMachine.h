#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "RaceCommands.h"
#include "RaceHooks.h"
#include "TickSource.h"

namespace quillon {

struct AppSettings;
struct CameraSettings;

enum RaceState : int32_t { kIdle = 1, kReady = 2, kStarted = 3 };

// The race as the recorder sees it (Idle, Ready, Started) and the race clock: the host's race
// time, learnt through clock exchanges and run on with the local tick count in between.
//
// Threads: everything runs on the user-interface thread, except that the camera thread reads
// the state (atomic) to decide whether to ask for the time.
class RaceStateMachine final : public RaceCommands {
public:
    // With a host, the race clock runs on with the local clock for this long after a sync and
    // then stands still until the next one. The host is asked about once a second, counted in
    // frames (a little over a second at the nominal rate), so the run-on covers two requests:
    // a clock that stopped at one second would stall before every sync and give frames equal
    // times.
    static constexpr uint32_t kClockRunOnMs = 2000;
    // Arrival and end times this far from our own race time are replaced by it.
    static constexpr int32_t kMaxHostClockSkewMs = 1000;
    static constexpr uint32_t kNoArrivalYet = 0xFFFFFFFF;

    RaceStateMachine(ReplySink& link, RecordingSteps& recording, const TickSource& ticks,
                     const AppSettings& app, const CameraSettings& camera);

    // The window that shows the race; without one nothing is shown.
    void SetView(RaceView* view) { m_view = view ? view : &m_noView; }

    // Race operations.
    void OnIdle() override;
    void OnReady() override;
    void OnStart() override;
    void OnArrival(std::string_view text) override;
    void OnEndArrival(std::string_view text) override;
    void OnSaveCommand() override;
    void OnStop() override;
    void OnTimeReply(std::string_view text) override;

    // The window's buttons: READY and START only act without a TCP host; ARRIVAL toggles
    // a manual arrival.
    void OnReadyButton();
    void OnStartButton();
    void OnArrivalButton();

    // Race clock.
    void SetRaceTime(uint32_t ms);
    uint32_t CurrentRaceTime() const;
    // Sends the clock request "TIME~<tick>" and remembers when it went out.
    void SendTimeRequest();

    // Before- and after-window lengths in ms from the frame counts and the frame rate.
    uint32_t BeforeWindowMs() const;
    uint32_t AfterWindowMs() const;

    RaceState State() const { return RaceState(m_nState.load(std::memory_order_acquire)); }
    // The state word itself, for the camera thread to read.
    const std::atomic<int32_t>& StateWord() const { return m_nState; }
    uint32_t RaceTimeAtSync() const { return m_raceTimeAtSync; }
    uint32_t SyncTick() const { return m_syncTick; }
    uint32_t TimeRequestTick() const { return m_timeRequestTick; }
    uint32_t ArrivalTime() const { return m_arrivalTime; }
    uint32_t ArrivalEndTime() const { return m_arrivalEndTime; }
    bool ManualArrival() const { return m_bManualArrival; }

    static std::string FormatElapsed(uint32_t ms);

private:
    void SetState(RaceState state) { m_nState.store(state, std::memory_order_release); }
    void ClearClockTicks();
    void RefreshElapsedTime();
    uint32_t WindowMs(int32_t frames) const;

    ReplySink& m_link;
    RecordingSteps& m_recording;
    RaceView m_noView;
    RaceView* m_view = &m_noView;
    const TickSource& m_ticks;
    const AppSettings& m_app;
    const CameraSettings& m_camera;

    std::atomic<int32_t> m_nState{kIdle};  // written on the UI thread, read by the camera thread
    uint32_t m_raceTimeAtSync = 0;
    uint32_t m_syncTick = 0;
    uint32_t m_timeRequestTick = 0;
    uint32_t m_arrivalTime = 0;
    uint32_t m_arrivalEndTime = 0;
    bool m_bManualArrival = false;
    std::string m_elapsedText = "00:00:00";
};

}  // namespace quillon
