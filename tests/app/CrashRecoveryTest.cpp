// The recorder killed in the middle of an arrival, and settings.ini where it cannot be read or
// written: what was on disk stays readable, and the program says what went wrong and still ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/Network.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;

std::string RunProgram(const QString& program, const QStringList& args, int* exitCode,
                       bool withStderr = true) {
    QProcess process;
    if (withStderr)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(60000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput().toStdString();
}

QString Tool(const char* name) {
    return QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / name).string());
}

class CrashRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        char pattern[] = "/tmp/quillon-crash-XXXXXX";
        dir = mkdtemp(pattern);
        fs::create_directories(dir / "app");
        fs::create_directories(dir / "share");
        fs::create_directories(dir / "config");
        std::ofstream(dir / "smb.conf")
            << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = " << (dir / "share").string()
            << "\n  read only = no\n";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", dir / "app" / "quillon-id");
        port = FreePort();
    }
    void TearDown() override {
        if (recorder.state() != QProcess::NotRunning)
            recorder.kill();
        recorder.waitForFinished(5000);
        fs::remove_all(dir);
    }

    void WriteSettings(const std::string& filetype) {
        std::ofstream(dir / "app" / "settings.ini")
            << "[Quillon]\nPort=" << port << "\nFiletype=" << filetype
            << "\n[QuillonID_Camera]\nWidth=" << kWidth << "\nHeight=" << kHeight
            << "\nXOffset=864\nYOffset=648\nFramerate=24\nExposure=10\n"
            << "Reduction=1\nContrast=100\nAutoCorrection=0\n";
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "config").string()));
        return env;
    }

    // In a network namespace of its own (unshare -n) the program's port cannot meet another's.
    void StartRecorder(bool ownNetwork = false) {
        recorder.setProcessEnvironment(Environment());
        QStringList args = {QString::fromStdString((dir / "app" / "quillon-id").string()),
                            "--camera", "sim", "--smb-conf",
                            QString::fromStdString((dir / "smb.conf").string())};
        if (ownNetwork)
            args.prepend("-n");
        const QString program = ownNetwork ? QString("unshare") : args.takeFirst();
        recorder.start(program, args);
        ASSERT_TRUE(recorder.waitForStarted(5000));
    }

    bool Listening() const { return WaitUntilListening(port); }

    fs::path Recording() const {
        fs::path found;
        for (const auto& entry : fs::directory_iterator(dir / "share"))
            found = entry.path();
        return found;
    }

    fs::path dir;
    int32_t port = 0;
    QProcess recorder;
};

// The frame count quillon-inspect finds in its listing.
long long InspectedFrames(const std::string& listing) {
    std::smatch m;
    if (!std::regex_search(listing, m, std::regex(R"((^|\n)frames: (\d+))")))
        return -1;
    return std::stoll(m[2]);
}

class KilledMidArrival : public CrashRecoveryTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledMidArrival, LeavesAnUnfinishedFileWhoseWholeFramesAllRead) {
    const std::string filetype = GetParam();
    WriteSettings(filetype);
    StartRecorder();
    ASSERT_TRUE(Listening());
    // The host opens an arrival and keeps it open; the recorder dies a second into it.
    QProcess host;
    host.start(Tool("quillon-host"), {"--port", QString::number(port), "--script",
                                      "READY; START; wait 1.5; ARRIVAL; wait 30"});
    ASSERT_TRUE(host.waitForStarted(5000));
    QThread::msleep(2700);
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(5000);
    host.waitForFinished(5000);
    const fs::path recording = Recording();
    ASSERT_FALSE(recording.empty());
    const QString path = QString::fromStdString(recording.string());

    int checkCode = -1;
    const std::string check = RunProgram(Tool("quillon-inspect"), {"--check", path}, &checkCode);
    int listCode = -1;
    const std::string listing = RunProgram(Tool("quillon-inspect"), {path}, &listCode, false);
    const long long frames = InspectedFrames(listing);
    // At least the frames before the arrival reached the disk.
    EXPECT_GT(frames, 15) << listing;

    if (filetype == "VLV") {
        // The own container has no end to be missing: only a record cut short shows.
        EXPECT_TRUE(checkCode == 0 ||
                    (checkCode == 2 && check.find("truncated") != std::string::npos))
            << check;
        const uint64_t record = uint64_t(kWidth) * kHeight + 4;
        const uint64_t size = fs::file_size(recording);
        EXPECT_EQ((size - 22) / record, uint64_t(frames)) << "every whole record is a frame";
        return;
    }
    EXPECT_EQ(checkCode, 2) << check;
    EXPECT_NE(check.find("not finished"), std::string::npos) << check;

    // FFmpeg, the outside reader, decodes every frame that quillon-inspect found on disk.
    int probeCode = -1;
    const std::string probe =
        RunProgram("ffprobe",
                   {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                    "stream=nb_read_frames", "-of", "csv=p=0", path},
                   &probeCode, false);
    EXPECT_EQ(probeCode, 0);
    EXPECT_EQ(std::atoll(probe.c_str()), frames) << probe;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, KilledMidArrival,
                         ::testing::Values("VLV", "AVI", "WMV", "WMV (ALL)"), [](const auto& info) {
                             return std::string(info.index == 3 ? "WmvAll" : info.param);
                         });

// settings.ini's folder turns read-only while the program runs (a read-only bind mount in a
// private mount namespace, so that root is held to it too).
TEST_F(CrashRecoveryTest, UnwritableSettingsFolderAtExitIsReportedAndTheProgramEnds) {
    WriteSettings("AVI");
    fs::create_directories(dir / "out");
    const std::string script =
        "cd \"$D/app\"\n"
        "./quillon-id --camera sim --smb-conf \"$D/smb.conf\" 2> \"$D/out/stderr.txt\" &\n"
        "pid=$!\n"
        "for i in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$P) 2>/dev/null && break; sleep 0.1; "
        "done\n"
        "mount --bind \"$D/app\" \"$D/app\" && mount -o remount,bind,ro \"$D/app\" || { kill -9 "
        "$pid; exit 77; }\n"
        "kill -TERM $pid; wait $pid; echo $? > \"$D/out/exit.txt\"\n";
    QProcess shell;
    QProcessEnvironment env = Environment();
    env.insert("D", QString::fromStdString(dir.string()));
    env.insert("P", QString::number(port));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "app" / "config").string()));
    shell.setProcessEnvironment(env);
    shell.start("unshare",
                {"-m", "--propagation", "private", "bash", "-c", QString::fromStdString(script)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    if (shell.exitCode() == 77 || shell.exitCode() == 1)
        GTEST_SKIP() << "no private mount here";
    int exitCode = -1;
    std::ifstream(dir / "out" / "exit.txt") >> exitCode;
    EXPECT_EQ(exitCode, 0);
    std::stringstream err;
    err << std::ifstream(dir / "out" / "stderr.txt").rdbuf();
    EXPECT_TRUE(std::regex_search(err.str(), std::regex("settings", std::regex::icase)))
        << err.str();
}

// A settings.ini that cannot be read (here a folder of that name, which even root cannot read
// as a file): the defaults apply, the operator is told, and the program runs and ends. With the
// default port the program runs in a network of its own, away from other tests' hosts.
TEST_F(CrashRecoveryTest, UnreadableSettingsAtStartGiveTheDefaultsAndAMessage) {
    fs::create_directories(dir / "app" / "settings.ini");
    recorder.setProcessChannelMode(QProcess::SeparateChannels);
    StartRecorder(true);
    QThread::msleep(3000);
    if (recorder.state() != QProcess::Running &&
        recorder.readAllStandardError().startsWith("unshare"))
        GTEST_SKIP() << "no network namespace here";
    ASSERT_EQ(recorder.state(), QProcess::Running);
    ::kill(pid_t(recorder.processId()), SIGTERM);
    ASSERT_TRUE(recorder.waitForFinished(10000));
    EXPECT_EQ(recorder.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(recorder.exitCode(), 0);
    const std::string err = recorder.readAllStandardError().toStdString();
    EXPECT_NE(err.find("default settings apply"), std::string::npos) << err;
}

} // namespace
} // namespace quillon
