#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace quillon::testing {

// Aravis's fake GigE Vision camera (package aravis-tools) as a real network camera on
// 127.0.0.1: started and killed by the test itself. Killing it is a camera that vanishes.
class FakeGvCamera {
public:
    static constexpr const char* kProgram = "arv-fake-gv-camera-0.8";
    static constexpr const char* kId = "Aravis-Fake-GV01";
    static constexpr const char* kSerial = "GV01";
    static constexpr const char* kAddress = "127.0.0.1";
    static constexpr uint32_t kSensorSide = 2048;
    static constexpr int kNice = -10;

    FakeGvCamera() = default;
    ~FakeGvCamera() { Stop(); }
    FakeGvCamera(const FakeGvCamera&) = delete;
    FakeGvCamera& operator=(const FakeGvCamera&) = delete;

    // The program's path, or empty when it is not installed.
    static std::string ProgramPath() {
        const char* path = std::getenv("PATH");
        std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= dirs.size()) {
            const size_t end = std::min(dirs.find(':', start), dirs.size());
            const std::string candidate = dirs.substr(start, end - start) + "/" + kProgram;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
        return {};
    }

    // Starts it and waits until its control port answers on 127.0.0.1; false when it does not
    // come up within a few seconds.
    // `lostPerThousand` makes it drop that many of every thousand stream packets.
    bool Start(int lostPerThousand = 0) {
        Stop();
        const std::string program = ProgramPath();
        if (program.empty())
            return false;
        // Another fake camera on the port would answer in its place and not die with Stop().
        if (!WaitForPort(false)) {
            std::fprintf(stderr, "another GigE Vision camera holds port 3956 of 127.0.0.1\n");
            return false;
        }
        std::string lost = std::to_string(lostPerThousand);
        char* argv[] = {const_cast<char*>(kProgram),
                        const_cast<char*>("-i"),
                        const_cast<char*>(kAddress),
                        const_cast<char*>("-r"),
                        lost.data(),
                        nullptr};
        // A test that dies must not leave the camera running: the kernel kills it with us.
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            ::execv(program.c_str(), argv);
            ::_exit(127);
        }
        if (m_pid < 0)
            return false;
        // A real camera does not share the recorder's processors; where allowed, the fake one
        // goes before the builds and tests that run beside it.
        setpriority(PRIO_PROCESS, id_t(m_pid), kNice);
        return WaitForPort(true);
    }

    // Kills it at once, as a pulled cable or a power cut would.
    void Stop() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    bool Running() const { return m_pid > 0; }

private:
    static bool WaitForPort(bool bound) {
        for (int i = 0; i < 100; ++i) {
            if (ControlPortBound() == bound)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The GigE Vision control port 3956 on 127.0.0.1, as the kernel lists bound UDP sockets.
    static bool ControlPortBound() {
        std::ifstream udp("/proc/net/udp");
        std::string line;
        while (std::getline(udp, line)) {
            if (line.find(" 0100007F:0F74 ") != std::string::npos)
                return true;
        }
        return false;
    }

    pid_t m_pid = -1;
};

} // namespace quillon::testing

// Every test that needs the fake camera starts with this.
#define QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA()                                                      \
    if (::quillon::testing::FakeGvCamera::ProgramPath().empty())                                   \
    GTEST_SKIP() << "arv-fake-gv-camera-0.8 is not installed (package aravis-tools, which "        \
                    "scripts/setup.sh installs)"
