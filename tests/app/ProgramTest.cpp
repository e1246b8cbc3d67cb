// Runs the real program as an operator or a service manager would: a copy in its own folder,
// settings.ini beside it, offscreen, stopped with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

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
        if (process.state() != QProcess::NotRunning)
            process.kill();
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
        process.setWorkingDirectory("/"); // settings must not depend on the working folder
        process.start(QString::fromStdString(program.string()), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    bool ConnectsTo(int32_t port, int timeoutMs = 10000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", quint16(port));
            if (probe.waitForConnected(200))
                return true;
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
        if (target.starts_with("socket:["))
            sockets.insert(target.substr(8, target.size() - 9));
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            if (state == "0A" && sockets.count(inode)) // 0A: listening
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
    for (const char* line :
         {"Width=800\n", "Height=400\n", "XOffset=624\n", "YOffset=568\n", "Exposure=10.000\n",
          "Framerate=26\n", "Gain=3875\n", "BlueGain=3875\n", "FramesBefore=15\n",
          "BufferLenght=250\n", "Filetype=VLV\n"}) {
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

// A private X server on a free display (-displayfd prints its number once it is ready), for the
// message boxes the offscreen platform skips.
struct XvfbDisplay {
    QProcess server;
    XvfbDisplay() { server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"}); }
    ~XvfbDisplay() { server.terminate(), server.waitForFinished(5000); }
    QString Name() {
        return server.waitForReadyRead(10000) ? ":" + server.readLine().trimmed() : "";
    }
};

TEST_F(ProgramTest, SigtermEndsTheProgramWhileAStartUpBoxIsOpen) {
    XvfbDisplay x;
    const QString display = x.Name();
    ASSERT_FALSE(display.isEmpty()) << "Xvfb (package xvfb) did not start";
    // A region wider than the sensor: the camera refuses it and a box says so.
    std::ofstream(dir / "settings.ini") << "[QuillonID_Camera]\nWidth=4000\n";
    Start({"--camera", "sim"}, display);
    std::string errors;
    for (int i = 0; i < 100 && errors.find("Unable to set current format.") == std::string::npos;
         ++i) {
        process.waitForReadyRead(100);
        errors += process.readAllStandardError().toStdString();
    }
    ASSERT_NE(errors.find("Unable to set current format."), std::string::npos) << errors;
    QThread::msleep(500); // the box is up and waits for OK
    EXPECT_EQ(StopWithSigterm(), 0);
    // The settings hold what the camera really uses.
    EXPECT_NE(ReadFile(dir / "settings.ini").find("Width=2048\n"), std::string::npos);
}

TEST_F(ProgramTest, InAFolderItCannotWriteSettingsGoToTheUsersConfigFolder) {
    // The user's config folder lies outside the program's folder, which is made read-only.
    char pattern[] = "/tmp/quillon-config-XXXXXX";
    const fs::path config = mkdtemp(pattern);
    const int32_t port = FreePort();
    fs::create_directories(config / "quillon-id");
    std::ofstream(config / "quillon-id" / "settings.ini") << "[Quillon]\nPort=" << port << "\n";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
    process.setProcessEnvironment(env);
    const QString path = QString::fromStdString(program.string());
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
    if (::geteuid() == 0) {
        // Root writes through permission bits: the program runs as nobody instead, who may
        // read the folder but not write it, and who owns the config folder.
        constexpr uid_t kNobody = 65534;
        fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        ASSERT_EQ(::chown(config.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((config / "quillon-id").c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((config / "quillon-id" / "settings.ini").c_str(), kNobody, kNobody), 0);
        process.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", path,
                                  "--camera", "sim"});
    } else {
        process.start(path, {"--camera", "sim"});
    }
    ASSERT_TRUE(process.waitForStarted(5000));
    ASSERT_TRUE(ConnectsTo(port));
    EXPECT_EQ(StopWithSigterm(), 0);
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_FALSE(fs::exists(dir / "settings.ini"));
    const std::string settings = ReadFile(config / "quillon-id" / "settings.ini");
    EXPECT_NE(settings.find("Port=" + std::to_string(port) + "\n"), std::string::npos);
    EXPECT_NE(settings.find("[QuillonID_Camera]"), std::string::npos) << settings;
    fs::remove_all(config);
}

// The GNU conventions, for each program: --help and --version on the standard output with exit
// status 0; an unknown option gives the usage on the standard error and exit status 2.
TEST_F(ProgramTest, EveryProgramAnswersHelpVersionAndRefusesUnknownOptions) {
    for (const char* name : {"quillon-id", "quillon-host", "quillon-inspect"}) {
        SCOPED_TRACE(name);
        const QString path = QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / name).string());
        const auto run = [&](const QString& arg) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY"); // --help and --version must not need one
            env.remove("QT_QPA_PLATFORM");
            p.setProcessEnvironment(env);
            p.start(path, {arg});
            EXPECT_TRUE(p.waitForFinished(10000));
            return std::tuple{p.exitCode(), p.readAllStandardOutput().toStdString(),
                              p.readAllStandardError().toStdString()};
        };
        const std::string usage = std::string("Usage: ") + name;
        auto [code, out, err] = run("--version");
        EXPECT_EQ(code, 0);
        EXPECT_EQ(out.substr(0, out.find('\n')),
                  std::string(name) + " (Quillon ID) " + QUILLON_VERSION);
        std::tie(code, out, err) = run("--help");
        EXPECT_EQ(code, 0);
        EXPECT_EQ(out.rfind(usage, 0), 0u) << out;
        EXPECT_NE(out.find("--version"), std::string::npos);
        std::tie(code, out, err) = run("--frobnicate");
        EXPECT_EQ(code, 2);
        EXPECT_TRUE(out.empty()) << out;
        EXPECT_NE(err.find(usage), std::string::npos) << err;
    }
}

TEST_F(ProgramTest, UnknownOptionIsRefused) {
    Start({"--frobnicate"});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_FALSE(fs::exists(dir / "settings.ini"));
}

} // namespace
} // namespace quillon
