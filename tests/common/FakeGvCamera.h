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
#include <sstream>
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
    static constexpr int kNice = -10;

    FakeGvCamera() = default;
    ~FakeGvCamera() { Stop(); }
    FakeGvCamera(const FakeGvCamera&) = delete;
    FakeGvCamera& operator=(const FakeGvCamera&) = delete;

    static bool Installed() {
        return std::system("command -v arv-fake-gv-camera-0.8 >/dev/null 2>&1") == 0;
    }

    // Starts it and waits until its control port answers on 127.0.0.1; false when it does not
    // come up within a few seconds. `lostPerThousand` makes it drop that many of every thousand
    // stream packets.
    bool Start(int lostPerThousand = 0) {
        Stop();
        const std::string lost = std::to_string(lostPerThousand);
        // Another fake camera on the port would answer in its place and not die with Stop().
        if (!Installed() || !WaitForPort(false)) {
            std::fprintf(stderr, "no %s, or another camera holds port 3956 of 127.0.0.1\n",
                         kProgram);
            return false;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            // A test that dies must not leave the camera running: the kernel kills it with us.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
            ::execlp(kProgram, kProgram, "-i", kAddress, "-r", lost.c_str(), nullptr);
            ::_exit(127);
        }
        // A real camera does not share the recorder's processors; where allowed, the fake one
        // goes before the builds and tests that run beside it.
        setpriority(PRIO_PROCESS, id_t(m_pid), kNice);
        return m_pid > 0 && WaitForPort(true);
    }

    // Kills it at once, as a pulled cable or a power cut would.
    void Stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    // Waits until the GigE Vision control port 3956 of 127.0.0.1 is bound (or free), as the
    // kernel lists bound UDP sockets.
    static bool WaitForPort(bool bound) {
        for (int i = 0; i < 100; ++i) {
            std::stringstream udp;
            udp << std::ifstream("/proc/net/udp").rdbuf();
            if ((udp.str().find(" 0100007F:0F74 ") != std::string::npos) == bound)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    pid_t m_pid = -1;
};

} // namespace quillon::testing

// Every test that needs the fake camera starts with this.
#define QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA()                                                      \
    if (!::quillon::testing::FakeGvCamera::Installed())                                            \
    GTEST_SKIP() << "arv-fake-gv-camera-0.8 is not installed (package aravis-tools, which "        \
                    "scripts/setup.sh installs)"
