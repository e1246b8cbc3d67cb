#include "RaceViewRelay.h"

#include "core/RaceStateMachine.h"

namespace quillon {

void RaceViewRelay::EnableRaceButton(RaceButton button, bool enabled) {
    m_view->EnableRaceButton(button, enabled);
    switch (button) {
    case RaceButton::Ready:
        // READY greys its button, IDLE and STOP make it usable: after any of them no
        // arrival is open (READY opens none; an ARRIVAL that follows greys ARRIVAL again).
        m_view->EnableRaceButton(RaceButton::Arrival, true);
        break;
    case RaceButton::Start:
        // START greys its button once the clock stands at the new race's start; setting the
        // clock to that same time shows it.
        if (!enabled)
            m_race.SetRaceTime(m_race.RaceTimeAtSync());
        break;
    case RaceButton::Arrival:
        break;
    }
}

void RaceViewRelay::HostLost() {
    const bool arrivalOpen = m_race.State() == kStarted && m_race.ArrivalEndTime() == 0;
    if (!arrivalOpen)
        m_view->EnableRaceButton(RaceButton::Arrival, true);
}

} // namespace quillon
