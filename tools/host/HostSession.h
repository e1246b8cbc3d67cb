#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "HostScript.h"
#include "ReplyParser.h"

namespace quillon::host {

// A connection to a recorder, acting as its host: sends commands, answers clock requests from
// its own race clock (milliseconds since START), prints every message.
class HostSession {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kAckTimeout = std::chrono::seconds(5);

    explicit HostSession(FILE* out) : m_out(out) {}
    ~HostSession();

    bool Connect(const std::string& address, int port, std::string& error);
    // Runs one step; false when the recorder did not acknowledge a command or went away.
    bool Run(const Step& step);
    // Keeps serving clock requests and printing messages for this long.
    bool Serve(std::chrono::milliseconds duration);

    const std::string& RecordingName() const { return m_recording; }
    bool HadError() const { return m_hadError; }

private:
    bool Send(const std::string& text);
    // Reads for at most `limit`; false when the connection closed.
    bool Pump(std::chrono::milliseconds limit);
    void Handle(const Reply& reply);
    long long RaceTimeMs() const;

    FILE* m_out;
    int m_socket = -1;
    ReplyParser m_parser;
    std::string m_lastAck;
    std::string m_recording;
    bool m_started = false;
    bool m_hadError = false;
    Clock::time_point m_raceStart{};
};

} // namespace quillon::host
