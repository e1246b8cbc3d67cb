#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "RaceClock.h"
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
// the state (atomic) and the race clock (RaceClock) as frames are delivered.
class RaceStateMachine final : public RaceCommands {
public:
    // The host is asked for its time about once a second. A request unanswered for this long
    // means the host's clock is not answering: the race clock runs on with the local clock
    // from the last sync (frames keep true times), and the operator is told.
    static constexpr uint32_t kClockAnswerTimeoutMs = 2500;
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
    // The host's connection ended.
    void OnHostLost();

    // The window's buttons: READY and START only act without a TCP host; ARRIVAL toggles
    // a manual arrival.
    void OnReadyButton();
    void OnStartButton();
    void OnArrivalButton();

    // Race clock.
    void SetRaceTime(uint32_t ms);
    uint32_t CurrentRaceTime() const { return m_clock.Now(); }
    // The clock itself, safe to read from any thread.
    const RaceClock& Clock() const { return m_clock; }
    // Sends the clock request "TIME~<tick>" and remembers when it went out.
    void SendTimeRequest();
    // A race runs with a host whose answer to a clock request is overdue.
    bool HostClockSilent() const;
    // Shows the race time in the elapsed-time text (once a second, and at START and syncs).
    void RefreshElapsedTime();

    // Before- and after-window lengths in ms from the frame counts and the frame rate.
    uint32_t BeforeWindowMs() const;
    uint32_t AfterWindowMs() const;

    RaceState State() const { return RaceState(m_nState.load(std::memory_order_acquire)); }
    // The state word itself, for the camera thread to read.
    const std::atomic<int32_t>& StateWord() const { return m_nState; }
    uint32_t RaceTimeAtSync() const { return m_clock.RaceTimeAtSync(); }
    uint32_t SyncTick() const { return m_clock.SyncTick(); }
    uint32_t TimeRequestTick() const { return m_timeRequestTick; }
    uint32_t ArrivalTime() const { return m_arrivalTime; }
    uint32_t ArrivalEndTime() const { return m_arrivalEndTime; }
    bool ManualArrival() const { return m_bManualArrival; }

    static std::string FormatElapsed(uint32_t ms);

private:
    void SetState(RaceState state) { m_nState.store(state, std::memory_order_release); }
    void ClearClockTicks();
    uint32_t WindowMs(int32_t frames) const;

    ReplySink& m_link;
    RecordingSteps& m_recording;
    RaceView m_noView;
    RaceView* m_view = &m_noView;
    const TickSource& m_ticks;
    const AppSettings& m_app;
    const CameraSettings& m_camera;

    std::atomic<int32_t> m_nState{kIdle}; // written on the UI thread, read by the camera thread
    RaceClock m_clock;
    uint32_t m_timeRequestTick = 0;
    bool m_awaitingTime = false;      // a clock request is out and not answered yet
    uint32_t m_awaitingSinceTick = 0; // when the oldest unanswered request went out
    uint32_t m_arrivalTime = 0;
    uint32_t m_arrivalEndTime = 0;
    bool m_bManualArrival = false;
    std::string m_elapsedText = "00:00:00";
};

} // namespace quillon
