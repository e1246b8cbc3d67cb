#pragma once

#include <condition_variable>
#include <mutex>

namespace quillon {

// A signalled/not-signalled flag that threads wait on. An automatic-reset event lets one
// waiter through and clears itself; a manual-reset event stays signalled until Reset.
class Event {
public:
    enum class Reset { Automatic, Manual };

    Event(Reset mode, bool signalled) : m_manual(mode == Reset::Manual), m_signalled(signalled) {}

    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        if (m_manual) {
            m_changed.notify_all();
        } else {
            m_changed.notify_one();
        }
    }

    void ResetEvent() {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    bool IsSet() const {
        std::lock_guard lock(m_mutex);
        return m_signalled;
    }

    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_signalled; });
        if (!m_manual) m_signalled = false;
    }

private:
    const bool m_manual;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;
};

// The four events that drive the save worker: go starts a pass, idle is set while no pass
// runs, quit ends the worker, done tells that the worker has ended.
struct SaveEvents {
    Event go{Event::Reset::Automatic, false};
    Event idle{Event::Reset::Manual, true};
    Event quit{Event::Reset::Automatic, false};
    Event done{Event::Reset::Automatic, false};
};

}  // namespace quillon
