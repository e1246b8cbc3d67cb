#include "HostSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillon::host {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

HostSession::~HostSession() {
    if (m_socket >= 0)
        ::close(m_socket);
}

bool HostSession::Connect(const std::string& address, int port, std::string& error) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(port));
    if (::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0 || ::connect(m_socket, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        error = "cannot connect to " + address + ":" + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::fprintf(m_out, "connected to %s:%d\n", address.c_str(), port);
    return true;
}

long long HostSession::RaceTimeMs() const {
    if (!m_started)
        return 0;
    return duration_cast<milliseconds>(Clock::now() - m_raceStart).count();
}

bool HostSession::Send(const std::string& text) {
    std::fprintf(m_out, "-> %s\n", text.c_str());
    std::fflush(m_out);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(m_socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            std::fprintf(m_out, "!! send failed: %s\n", std::strerror(errno));
            return false;
        }
        done += size_t(n);
    }
    return true;
}

void HostSession::Handle(const Reply& reply) {
    switch (reply.kind) {
    case Reply::Kind::KeepAlive:
        return;
    case Reply::Kind::TimeRequest: {
        const long long now = RaceTimeMs();
        std::fprintf(m_out, "<- %s\n", reply.text.c_str());
        Send("TIME~" + std::to_string(now) + "@");
        return;
    }
    case Reply::Kind::FileName: {
        // "L~address~name" or "R~name"; an empty value answers SAVE.
        const size_t tilde = reply.value.rfind('~');
        if (!reply.value.empty()) {
            m_recording = tilde == std::string::npos ? reply.value : reply.value.substr(tilde + 1);
        }
        break;
    }
    case Reply::Kind::Error:
        m_hadError = true;
        break;
    case Reply::Kind::Ack:
        m_lastAck = reply.value;
        break;
    }
    std::fprintf(m_out, "<- %s\n", reply.text.c_str());
    std::fflush(m_out);
}

bool HostSession::Pump(milliseconds limit) {
    pollfd fd{m_socket, POLLIN, 0};
    const int ready = ::poll(&fd, 1, int(limit.count()));
    if (ready > 0) {
        char buffer[4096];
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            std::fprintf(m_out, "!! the recorder closed the connection\n");
            return false;
        }
        m_parser.Feed(std::string(buffer, size_t(n)));
    }
    // Quiet when nothing came within the wait: a trailing clock request is then whole.
    while (auto reply = m_parser.Next(ready == 0))
        Handle(*reply);
    return true;
}

bool HostSession::Serve(milliseconds duration) {
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        const auto left = duration_cast<milliseconds>(end - Clock::now());
        if (!Pump(std::min(left, milliseconds(20))))
            return false;
    }
    return true;
}

bool HostSession::Run(const Step& step) {
    switch (step.kind) {
    case Step::Kind::Wait:
        return Serve(milliseconds(static_cast<long long>(step.seconds * 1000)));
    case Step::Kind::Raw:
        return Send(step.raw) && Serve(milliseconds(200));
    case Step::Kind::Command:
        break;
    }
    if (step.command == "START" || (step.command == "ARRIVAL" && !m_started)) {
        m_started = true;
        m_raceStart = Clock::now();
    }
    m_lastAck.clear();
    if (!Send(CommandText(step, RaceTimeMs())))
        return false;
    const auto deadline = Clock::now() + kAckTimeout;
    while (m_lastAck != step.command) {
        if (Clock::now() > deadline) {
            std::fprintf(m_out, "!! no RE~%s within 5 s\n", step.command.c_str());
            return false;
        }
        if (!Pump(milliseconds(20)))
            return false;
    }
    return true;
}

} // namespace quillon::host
