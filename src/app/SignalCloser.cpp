#include "SignalCloser.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace quillon {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal, std::function<void()> onUser1,
                           QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)), m_onUser1(std::move(onUser1)) {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalCloser::Drain);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (m_onUser1)
        sigaction(SIGUSR1, &action, nullptr);
}

SignalCloser::~SignalCloser() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    if (m_onUser1)
        std::signal(SIGUSR1, SIG_DFL);
}

void SignalCloser::Drain() {
    char bytes[16];
    bool stop = false;
    ssize_t got;
    while ((got = ::read(g_signalPipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            // Each SIGUSR1 is one click; a stop is taken once, after them.
            if (bytes[i] == char(SIGUSR1)) {
                if (m_onUser1)
                    m_onUser1();
            } else {
                stop = true;
            }
        }
    }
    if (stop && m_onSignal)
        m_onSignal();
}

} // namespace quillon
