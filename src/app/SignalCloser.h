#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace quillon {

// Turns SIGTERM and SIGINT into a call on the user-interface thread, so that a stop from
// outside closes the window the way its close box does (settings are written, files finished),
// and SIGUSR1 into another (a host on this computer switches the shared memory link with it).
// The signal handler only writes the signal's number into a pipe; the notifier reads it in the
// event loop.
class SignalCloser final : public QObject {
    Q_OBJECT

public:
    explicit SignalCloser(std::function<void()> onSignal, std::function<void()> onUser1 = {},
                          QObject* parent = nullptr);
    ~SignalCloser() override;

private:
    void Drain();

    std::function<void()> m_onSignal;
    std::function<void()> m_onUser1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quillon
