#include "SignalCloser.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace quillon {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalCloser::Drain);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

SignalCloser::~SignalCloser() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

void SignalCloser::Drain() {
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (m_onSignal) m_onSignal();
}

}  // namespace quillon
