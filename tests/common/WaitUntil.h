#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace quillon {

// Runs the event loop until `done` holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace quillon
