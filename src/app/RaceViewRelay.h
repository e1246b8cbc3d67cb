#pragma once

#include "core/RaceHooks.h"

namespace quillon {

class RaceStateMachine;

// Stands between the race and the window and keeps two things in the window right that the race
// operations leave as they were:
// - the elapsed race time shows the new race's start at START (it would show the last race's
//   time until the host's first clock answer, or for the whole race without a host);
// - the ARRIVAL button is usable again whenever no arrival can be open: at IDLE, STOP and READY,
//   and when the host is lost with no arrival open. Greyed by a host's ARRIVAL whose host then
//   vanished, it would otherwise stay grey for the rest of the run.
//
// Threads: user-interface thread only, like the race.
class RaceViewRelay final : public RaceView {
public:
    explicit RaceViewRelay(RaceStateMachine& race) : m_race(race) {}

    void SetView(RaceView* view) { m_view = view ? view : &m_noView; }
    // The host connection ended.
    void HostLost();

    void TakeControlValues() override { m_view->TakeControlValues(); }
    void RefreshControls() override { m_view->RefreshControls(); }
    void EnableRaceButton(RaceButton button, bool enabled) override;
    void EnableSetupCommands(bool enabled) override { m_view->EnableSetupCommands(enabled); }
    void ShowElapsedTime(const std::string& text) override { m_view->ShowElapsedTime(text); }

private:
    RaceStateMachine& m_race;
    RaceView m_noView;
    RaceView* m_view = &m_noView;
};

} // namespace quillon
