#include "RaceStateMachine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"
#include "text/TextNumbers.h"

namespace quillon {
namespace {

// Distance between two 32-bit times, read as a signed 32-bit difference.
uint32_t SignedDistance(uint32_t a, uint32_t b) {
    const int32_t diff = int32_t(a - b);
    return diff < 0 ? 0u - uint32_t(diff) : uint32_t(diff);
}

} // namespace

RaceStateMachine::RaceStateMachine(ReplySink& link, RecordingSteps& recording,
                                   const TickSource& ticks, const AppSettings& app,
                                   const CameraSettings& camera)
    : m_link(link), m_recording(recording), m_ticks(ticks), m_app(app), m_camera(camera),
      m_clock(ticks) {}

void RaceStateMachine::ClearClockTicks() {
    m_timeRequestTick = 0;
    m_awaitingTime = false;
    m_clock.SyncAt(m_clock.RaceTimeAtSync(), 0);
}

void RaceStateMachine::OnIdle() {
    if (m_recording.HasRecorder()) {
        if (!m_recording.IsEveryFrame())
            m_recording.StopSaveWorker();
        m_recording.DeleteRecorder();
    }
    SetState(kIdle);
    ClearClockTicks();
    m_view->EnableRaceButton(RaceButton::Ready, true);
    m_view->EnableRaceButton(RaceButton::Start, true);
    m_view->EnableRaceButton(RaceButton::Arrival, true); // no arrival can be open now
    m_view->EnableSetupCommands(true);
    m_link.SendReply("RE~IDLE");
}

void RaceStateMachine::OnReady() {
    m_view->TakeControlValues();
    SetState(kReady);
    m_arrivalTime = 0;
    m_arrivalEndTime = kNoArrivalYet;
    m_view->EnableRaceButton(RaceButton::Ready, false);
    m_view->EnableRaceButton(RaceButton::Arrival, true);
    m_recording.PrepareRecording();
    m_link.SendReply("RE~READY");
    m_bManualArrival = false;
}

void RaceStateMachine::OnStart() {
    if (State() != kReady)
        OnReady();
    SetState(kStarted);
    ClearClockTicks();
    // The race starts now, at race time 0 on the host's clock too: the clock runs from there
    // until the host's first answer corrects it. Standing still at the last race's time
    // would stamp this race's first second with that old time.
    m_clock.SyncNow(0);
    RefreshElapsedTime();
    m_view->EnableRaceButton(RaceButton::Start, false);
    m_link.SendReply("RE~START");
}

void RaceStateMachine::OnArrival(std::string_view text) {
    if (State() != kStarted)
        OnStart();
    const uint32_t t = ParseRaceTime(text);
    // A repeated or older arrival from the host is only acknowledged.
    if (!(t <= m_arrivalTime && m_link.IsHostConnected())) {
        const uint32_t a = std::max(m_arrivalTime, t);
        const uint32_t now = CurrentRaceTime();
        m_arrivalTime = SignedDistance(a, now) >= uint32_t(kMaxHostClockSkewMs) ? now : a;
        m_arrivalEndTime = 0; // the arrival is open
        m_recording.StartSavePass();
        m_view->EnableRaceButton(RaceButton::Arrival, false);
    }
    m_link.SendReply("RE~ARRIVAL");
}

void RaceStateMachine::OnEndArrival(std::string_view text) {
    uint32_t e = std::max(m_arrivalEndTime, ParseRaceTime(text));
    const uint32_t now = CurrentRaceTime();
    if (SignedDistance(e, now) >= uint32_t(kMaxHostClockSkewMs))
        e = now;
    if (e > m_arrivalEndTime) {
        m_arrivalEndTime = e + AfterWindowMs(); // wraps like the clock
        m_recording.ArrivalClosed();
    }
    m_view->EnableRaceButton(RaceButton::Arrival, true);
    m_link.SendReply("RE~ENDARRIVAL");
}

void RaceStateMachine::OnSaveCommand() {
    m_link.SendReply("FILENAME~@");
    m_link.SendReply("RE~SAVE");
}

void RaceStateMachine::OnStop() {
    SetState(kIdle);
    m_view->EnableRaceButton(RaceButton::Ready, true);
    m_view->EnableRaceButton(RaceButton::Start, true);
    m_view->EnableRaceButton(RaceButton::Arrival, true);
    m_link.SendReply("RE~STOP");
}

void RaceStateMachine::OnTimeReply(std::string_view text) {
    const uint32_t now = m_ticks.Now();
    // The host's time plus half the round trip of the request.
    m_clock.SyncAt(ParseRaceTime(text) + (now - m_timeRequestTick) / 2, now);
    m_awaitingTime = false;
    RefreshElapsedTime();
}

void RaceStateMachine::OnHostLost() {
    // A host's ARRIVAL greys the button; with that host gone nobody else would make it usable.
    const bool arrivalOpen = State() == kStarted && m_arrivalEndTime == 0;
    if (!arrivalOpen)
        m_view->EnableRaceButton(RaceButton::Arrival, true);
}

void RaceStateMachine::OnReadyButton() {
    if (!m_link.IsHostConnected())
        OnReady();
}

void RaceStateMachine::OnStartButton() {
    if (!m_link.IsHostConnected())
        OnStart();
}

void RaceStateMachine::OnArrivalButton() {
    m_bManualArrival = !m_bManualArrival;
    if (m_bManualArrival) {
        OnArrival("0");
        // The same button ends the arrival it opened, so it stays usable.
        m_view->EnableRaceButton(RaceButton::Arrival, true);
    } else {
        OnEndArrival("1");
    }
    m_view->RefreshControls();
}

void RaceStateMachine::SetRaceTime(uint32_t ms) {
    m_clock.SyncNow(ms);
    RefreshElapsedTime();
}

void RaceStateMachine::SendTimeRequest() {
    m_timeRequestTick = m_ticks.Now();
    if (!m_awaitingTime) {
        m_awaitingTime = true;
        m_awaitingSinceTick = m_timeRequestTick;
    }
    char text[32];
    std::snprintf(text, sizeof text, "TIME~%d", int32_t(m_timeRequestTick));
    m_link.SendReply(text);
}

uint32_t RaceStateMachine::WindowMs(int32_t frames) const {
    // Computed in double and truncated toward zero; settings keep the rate positive.
    const double ms = 1000.0 / double(m_camera.Framerate) * double(frames);
    if (!(ms > 0.0))
        return 0;
    return ms >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(ms);
}

uint32_t RaceStateMachine::BeforeWindowMs() const {
    return WindowMs(m_app.FramesBefore);
}
uint32_t RaceStateMachine::AfterWindowMs() const {
    return WindowMs(m_app.FramesAfter);
}

std::string RaceStateMachine::FormatElapsed(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", ms / 3600000u, (ms / 60000u) % 60u,
                  (ms / 1000u) % 60u);
    return text;
}

bool RaceStateMachine::HostClockSilent() const {
    return State() == kStarted && m_link.IsHostConnected() && m_awaitingTime &&
           m_ticks.Now() - m_awaitingSinceTick > kClockAnswerTimeoutMs;
}

void RaceStateMachine::RefreshElapsedTime() {
    const uint32_t shown = State() == kStarted ? CurrentRaceTime() : m_clock.RaceTimeAtSync();
    std::string text = FormatElapsed(shown);
    if (text == m_elapsedText)
        return;
    m_elapsedText = std::move(text);
    m_view->ShowElapsedTime(m_elapsedText);
}

} // namespace quillon
