// quillon-host: a host for rehearsals and tests. Connects to a recorder, runs a script of
// commands (or reads them line by line from the standard input), answers the recorder's clock
// requests from its own race clock and prints every message.
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "HostScript.h"
#include "HostSession.h"

using namespace quillon::host;

namespace {

constexpr char kUsage[] =
    "Usage: quillon-host [--host ADDRESS] [--port PORT] [--script \"STEPS\"]\n";

void Usage(FILE* to) {
    std::fputs(kUsage, to);
    std::fputs("Try 'quillon-host --help' for more information.\n", to);
}

void Help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "A host for rehearsals and tests: connects to a Quillon ID recorder, sends it the steps\n"
        "of a script and answers its clock requests from its own race clock.\n"
        "\n"
        "  --host ADDRESS   the recorder's address (default 127.0.0.1)\n"
        "  --port PORT      the recorder's port (default 2000)\n"
        "  --script STEPS   the steps to run; without it, steps are read from the standard input\n"
        "  --help           display this help and exit\n"
        "  --version        output version information and exit\n"
        "\n"
        "Steps: IDLE, READY, START, ARRIVAL [ms], ENDARRIVAL [ms], SAVE, STOP, wait SECONDS,\n"
        "raw TEXT; separated by ';' or new lines, for example\n"
        "  --script \"READY; START; wait 3; ARRIVAL; wait 1; ENDARRIVAL; wait 2; IDLE\"\n"
        "\n"
        "Exit status: 0 done, 1 no connection, 2 wrong command line, 3 bad script or lost\n"
        "connection, 4 the recorder answered with an error.\n",
        stdout);
}

// Reads steps from the standard input line by line while serving the recorder in between, so
// clock requests are answered while the operator types.
template <typename RunText> bool RunInteractive(HostSession& session, RunText& runText) {
    std::string buffered;
    for (;;) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 20) > 0) {
            char chunk[512];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                return true; // end of input
            buffered.append(chunk, size_t(n));
            for (size_t eol; (eol = buffered.find('\n')) != std::string::npos;) {
                const std::string line = buffered.substr(0, eol);
                buffered.erase(0, eol + 1);
                if (!runText(line))
                    return false;
            }
        } else if (!session.Serve(std::chrono::milliseconds(20))) {
            return false;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string address = "127.0.0.1";
    int port = 2000;
    std::string script;
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            Help();
            return 0;
        }
        if (arg == "--version") {
            std::printf("quillon-host (Quillon ID) %s\n", QUILLON_VERSION);
            return 0;
        }
        const bool known = arg == "--host" || arg == "--port" || arg == "--script";
        if (known && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--host")
                address = value;
            if (arg == "--port")
                port = std::atoi(value.c_str());
            if (arg == "--script") {
                script = value;
                haveScript = true;
            }
        } else {
            std::fprintf(stderr, "quillon-host: %s '%s'\n",
                         known ? "missing value after" : "unknown option", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    HostSession session(stdout);
    std::string error;
    if (!session.Connect(address, port, error)) {
        std::fprintf(stderr, "quillon-host: %s\n", error.c_str());
        return 1;
    }
    bool ok = true;
    const auto runText = [&](const std::string& text) {
        const auto steps = ParseScript(text, error);
        if (!steps) {
            std::fprintf(stderr, "quillon-host: %s\n", error.c_str());
            return false;
        }
        for (const Step& step : *steps) {
            if (!session.Run(step))
                return false;
        }
        return true;
    };
    if (haveScript) {
        ok = runText(script);
    } else {
        ok = RunInteractive(session, runText);
    }
    session.Serve(std::chrono::milliseconds(300)); // late messages
    if (!session.RecordingName().empty()) {
        std::printf("recording: %s\n", session.RecordingName().c_str());
    }
    if (!ok)
        return 3;
    return session.HadError() ? 4 : 0;
}
