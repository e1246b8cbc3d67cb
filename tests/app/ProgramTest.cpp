// Runs the real program as an operator or a service manager would: a copy in its own folder,
// settings.ini beside it, offscreen, stopped with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTcpServer>
#include <QTcpSocket>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "common/Network.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        char pattern[] = "/tmp/quillon-program-XXXXXX";
        dir = mkdtemp(pattern);
        program = dir / "quillon-id";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", program);
    }
    void TearDown() override {
        if (process.state() != QProcess::NotRunning) process.kill();
        process.waitForFinished(5000);
        fs::remove_all(dir);
    }

    // Offscreen, or on the X display `display` when one is given.
    void Start(const QStringList& args, const QString& display = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory("/");  // settings must not depend on the working folder
        process.start(QString::fromStdString(program.string()), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    bool ConnectsTo(int32_t port, int timeoutMs = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", quint16(port));
            if (probe.waitForConnected(200)) return true;
            QThread::msleep(100);
        }
        return false;
    }

    int StopWithSigterm() {
        ::kill(pid_t(process.processId()), SIGTERM);
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return process.exitCode();
    }

    fs::path dir;
    fs::path program;
    QProcess process;
};

TEST_F(ProgramTest, ListensAndWritesSettingsBesideItselfOnSigterm) {
    const int32_t port = FreePort();
    std::ofstream(dir / "settings.ini")
        << "[Quillon]\nPort=" << port << "\nFramesBefore=20\n"
        << "[QuillonID_Camera]\nWidth=640\nHeight=480\nXOffset=16\nYOffset=8\nFramerate=14\n"
        << "Exposure=5\nReduction=2\n";
    Start({"--camera", "sim"});
    ASSERT_TRUE(ConnectsTo(port));
    EXPECT_EQ(StopWithSigterm(), 0);
    const std::string settings = ReadFile(dir / "settings.ini");
    // The camera's real values: 14 fps snapped to 15 by the camera, stored as 15 + 1.
    for (const std::string& line :
         {"Port=" + std::to_string(port), std::string("FramesBefore=20"), std::string("Width=640"),
          std::string("Height=480"), std::string("XOffset=16"), std::string("Framerate=16"),
          std::string("Exposure=5.000"), std::string("Reduction=2")}) {
        EXPECT_NE(settings.find(line + "\n"), std::string::npos) << line << " in\n" << settings;
    }
}

// The TCP port a process listens on, 0 while it has none: its own sockets (from /proc/PID/fd)
// looked up in the kernel's tables, so another program listening nearby cannot be taken for it.
int ListeningPortOf(qint64 pid) {
    std::set<std::string> sockets;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (target.starts_with("socket:[")) sockets.insert(target.substr(8, target.size() - 9));
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            if (state == "0A" && sockets.count(inode))  // 0A: listening
                return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
        }
    }
    return 0;
}

TEST_F(ProgramTest, FirstRunTakesTheCamerasValuesWithACentredRegion) {
    Start({"--camera", "sim"});
    // No settings: port 2000, or the next free one above it. Its own listening socket says the
    // program is up, whatever else runs on this machine.
    int port = 0;
    QElapsedTimer waited;
    waited.start();
    while ((port = ListeningPortOf(process.processId())) == 0 && waited.elapsed() < 10000)
        QThread::msleep(50);
    ASSERT_GE(port, 2000);
    EXPECT_EQ(StopWithSigterm(), 0);
    const std::string settings = ReadFile(dir / "settings.ini");
    for (const char* line : {"Width=800\n", "Height=400\n", "XOffset=624\n", "YOffset=568\n",
                             "Exposure=10.000\n", "Framerate=26\n", "Gain=3875\n",
                             "BlueGain=3875\n", "FramesBefore=15\n", "BufferLenght=250\n",
                             "Filetype=VLV\n"}) {
        EXPECT_NE(settings.find(line), std::string::npos) << line << " in\n" << settings;
    }
}

TEST_F(ProgramTest, PortTakenAtStartIsMovedOnAndStored) {
    QTcpServer squatter;
    const int32_t port = FreePort();
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, quint16(port)));
    std::ofstream(dir / "settings.ini") << "[Quillon]\nPort=" << port << "\n";
    Start({"--camera", "sim"});
    ASSERT_TRUE(ConnectsTo(port + 1));
    EXPECT_EQ(StopWithSigterm(), 0);
    EXPECT_NE(ReadFile(dir / "settings.ini").find("Port=" + std::to_string(port + 1) + "\n"),
              std::string::npos);
}

TEST_F(ProgramTest, WithoutCameraItSaysSoAndWritesNoSettings) {
    Start({"--camera", "aravis:no-such-camera"});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_NE(process.readAllStandardError().toStdString().find("Unable to connect to camera"),
              std::string::npos);
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_FALSE(fs::exists(dir / "settings.ini"));
}

// A private X server on a free display, for the message boxes the offscreen platform skips.
struct XvfbDisplay {
    QProcess server;
    QString display;
    XvfbDisplay() {
        // -displayfd picks a free display and prints its number once it is ready.
        server.start("Xvfb",
                     {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        if (server.waitForReadyRead(10000))
            display = ":" + server.readLine().trimmed();
    }
    ~XvfbDisplay() {
        server.terminate();
        server.waitForFinished(5000);
    }
};

TEST_F(ProgramTest, SigtermEndsTheProgramWhileAStartUpBoxIsOpen) {
    XvfbDisplay x;
    ASSERT_FALSE(x.display.isEmpty()) << "Xvfb (package xvfb) did not start";
    const int32_t port = FreePort();
    // A region wider than the sensor: the camera refuses it and a box says so.
    std::ofstream(dir / "settings.ini")
        << "[Quillon]\nPort=" << port << "\n[QuillonID_Camera]\nWidth=4000\nHeight=480\n";
    Start({"--camera", "sim"}, x.display);
    std::string errors;
    QElapsedTimer timer;
    timer.start();
    while (errors.find("Unable to set current format.") == std::string::npos &&
           timer.elapsed() < 10000) {
        process.waitForReadyRead(100);
        errors += process.readAllStandardError().toStdString();
    }
    ASSERT_NE(errors.find("Unable to set current format."), std::string::npos) << errors;
    QThread::msleep(500); // the box is up and waits for OK
    EXPECT_EQ(StopWithSigterm(), 0);
    // The settings hold what the camera really uses.
    EXPECT_NE(ReadFile(dir / "settings.ini").find("Width=2048\n"), std::string::npos);
}

TEST_F(ProgramTest, UnknownOptionIsRefused) {
    Start({"--frobnicate"});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_FALSE(fs::exists(dir / "settings.ini"));
}

}  // namespace
}  // namespace quillon
