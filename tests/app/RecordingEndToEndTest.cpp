// Races run end to end: the real program with the simulated camera, offscreen, a private Samba
// configuration with the share, the host tool driving it over TCP, and the recordings read back
// with the inspect tool.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/Network.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

struct Frame {
    long long time = -1;      // race time in ms, -1 when the kind keeps none
    long long sequence = -1;  // camera frame number, .vlv only
};

struct RaceRun {
    std::string hostOutput;
    fs::path recording;
    std::vector<Frame> frames;
    long long arrival[2] = {0, 0};
    long long end[2] = {0, 0};
};

class RecordingEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        char pattern[] = "/tmp/quillon-e2e-XXXXXX";
        dir = mkdtemp(pattern);
        fs::create_directory(dir / "share");
        std::ofstream(dir / "smb.conf") << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = "
                                        << (dir / "share").string() << "\n  read only = no\n";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", dir / "quillon-id");
        port = FreePort();
    }
    void TearDown() override {
        if (recorder.state() != QProcess::NotRunning) recorder.kill();
        recorder.waitForFinished(5000);
        fs::remove_all(dir);
    }

    void WriteSettings(const std::string& filetype) {
        std::ofstream(dir / "settings.ini")
            << "[Quillon]\nPort=" << port << "\nFiletype=" << filetype
            << "\n[QuillonID_Camera]\nWidth=800\nHeight=400\nXOffset=624\nYOffset=568\n"
               "Framerate=24\nExposure=10\nGain=3875\nRedGain=3875\nGreenGain1=3875\n"
               "GreenGain2=3875\nBlueGain=3875\nReduction=1\nContrast=100\nAutoCorrection=0\n";
    }

    bool StartRecorder() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        recorder.setProcessEnvironment(env);
        recorder.start(QString::fromStdString((dir / "quillon-id").string()),
                       {"--camera", "sim", "--smb-conf", QString::fromStdString((dir / "smb.conf").string())});
        if (!recorder.waitForStarted(5000)) return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", quint16(port));
            if (probe.waitForConnected(100)) {
                probe.disconnectFromHost();
                QThread::msleep(300);  // the probe's connection is let go
                return true;
            }
            QThread::msleep(100);
        }
        return false;
    }

    static std::string RunTool(const std::string& tool, const QStringList& args, int* exitCode = nullptr) {
        QProcess process;
        process.start(QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / tool).string()), args);
        process.waitForFinished(60000);
        if (exitCode) *exitCode = process.exitCode();
        return process.readAllStandardOutput().toStdString();
    }

    // Two arrivals with a pause between them, then IDLE; the recorder is stopped afterwards.
    RaceRun RaceTwoArrivals(const std::string& filetype) {
        WriteSettings(filetype);
        RaceRun run;
        if (!StartRecorder()) {
            ADD_FAILURE() << "recorder did not start";
            return run;
        }
        run.hostOutput = RunTool("quillon-host",
                                 {"--port", QString::number(port), "--script",
                                  "READY; START; wait 2; ARRIVAL; wait 0.6; ENDARRIVAL; wait 2.5; "
                                  "ARRIVAL; wait 0.3; ENDARRIVAL; wait 1; IDLE"});
        ::kill(pid_t(recorder.processId()), SIGTERM);
        EXPECT_TRUE(recorder.waitForFinished(10000));
        EXPECT_EQ(recorder.exitCode(), 0);
        const std::regex sent(R"(-> CMD~(END)?ARRIVAL~(\d+)@)");
        int arrivals = 0, ends = 0;
        for (std::sregex_iterator it(run.hostOutput.begin(), run.hostOutput.end(), sent), last;
             it != last; ++it) {
            long long value = std::stoll((*it)[2]);
            if ((*it)[1].matched) {
                if (ends < 2) run.end[ends++] = value;
            } else if (arrivals < 2) {
                run.arrival[arrivals++] = value;
            }
        }
        for (const auto& entry : fs::directory_iterator(dir / "share")) run.recording = entry.path();
        if (run.recording.empty()) return run;
        const std::string listing = RunTool("quillon-inspect", {QString::fromStdString(run.recording.string())});
        const std::regex line(R"(^frame \d+: (.*)$)");
        std::istringstream lines(listing);
        for (std::string text; std::getline(lines, text);) {
            std::smatch m;
            if (!std::regex_match(text, m, line) || text.find("opening frame") != std::string::npos) continue;
            Frame frame;
            std::smatch v;
            const std::string rest = m[1];
            if (std::regex_search(rest, v, std::regex(R"((^|, )time (\d+) ms)"))) frame.time = std::stoll(v[2]);
            if (std::regex_search(rest, v, std::regex(R"(sequence (\d+))"))) frame.sequence = std::stoll(v[1]);
            run.frames.push_back(frame);
        }
        return run;
    }

    // The frames form two runs, one per arrival: from the frame nearest (arrival - 600 ms) to
    // the last frame up to (end + 400 ms), one every 40 ms, times strictly rising, numbers
    // without a gap.
    static void ExpectTwoArrivals(const RaceRun& run) {
        ASSERT_FALSE(run.frames.empty()) << run.hostOutput;
        std::vector<std::vector<Frame>> runs(1);
        for (size_t i = 0; i < run.frames.size(); ++i) {
            if (i > 0) {
                const Frame& a = run.frames[i - 1];
                const Frame& b = run.frames[i];
                ASSERT_GT(b.time, a.time) << "frame " << i;
                if (b.time - a.time > 200) {
                    runs.emplace_back();
                } else {
                    if (a.sequence >= 0) {
                        EXPECT_EQ(b.sequence, a.sequence + 1) << "frame " << i;
                    }
                }
            }
            runs.back().push_back(run.frames[i]);
        }
        ASSERT_EQ(runs.size(), 2u) << run.hostOutput;
        for (int k = 0; k < 2; ++k) {
            const long long windowStart = run.arrival[k] - 600;
            const long long windowEnd = run.end[k] + 400;
            EXPECT_LE(std::llabs(runs[k].front().time - windowStart), 25)
                << "arrival " << k << " starts at " << runs[k].front().time;
            EXPECT_LE(runs[k].back().time, windowEnd + 5);
            EXPECT_GT(runs[k].back().time, windowEnd - 45) << "arrival " << k;
            // Times are taken as the camera delivers frames, so single gaps jitter; the count
            // over the whole run shows a missing frame all the same.
            const double span = double(runs[k].back().time - runs[k].front().time);
            EXPECT_EQ(runs[k].size(), size_t(std::llround(span / 40.0)) + 1) << "arrival " << k;
        }
    }

    fs::path dir;
    int32_t port = 0;
    QProcess recorder;
};

TEST_F(RecordingEndToEndTest, OwnContainerHoldsBothArrivalsWhole) {
    const RaceRun run = RaceTwoArrivals("VLV");
    EXPECT_EQ(run.recording.extension(), ".vlv");
    ExpectTwoArrivals(run);
    EXPECT_GE(run.frames.front().sequence, 1);
}

TEST_F(RecordingEndToEndTest, AviHoldsBothArrivalsWholeAndReadable) {
    const RaceRun run = RaceTwoArrivals("AVI");
    EXPECT_EQ(run.recording.extension(), ".avi");
    ExpectTwoArrivals(run);
    int exitCode = -1;
    RunTool("quillon-inspect", {"--check", QString::fromStdString(run.recording.string())}, &exitCode);
    EXPECT_EQ(exitCode, 0);
}

TEST_F(RecordingEndToEndTest, WindowsMediaHoldsBothArrivalsWithTheirTimes) {
    const RaceRun run = RaceTwoArrivals("WMV");
    EXPECT_EQ(run.recording.extension(), ".wmv");
    ExpectTwoArrivals(run);
}

TEST_F(RecordingEndToEndTest, WindowsMediaAllRecordsEveryFrameOfTheRace) {
    const RaceRun run = RaceTwoArrivals("WMV (ALL)");
    EXPECT_EQ(run.recording.extension(), ".wmv");
    // From START to IDLE, about 6.4 s at 25 frames per second, whatever the arrivals.
    EXPECT_GT(run.frames.size(), 140u);
    EXPECT_LT(run.frames.size(), 200u);
    int exitCode = -1;
    RunTool("quillon-inspect", {"--check", QString::fromStdString(run.recording.string())}, &exitCode);
    EXPECT_EQ(exitCode, 0);
}

TEST_F(RecordingEndToEndTest, WithoutTheShareTheHostIsToldAndTheRaceGoesOn) {
    std::ofstream(dir / "smb.conf") << "[global]\n  workgroup = TEST\n";
    WriteSettings("AVI");
    ASSERT_TRUE(StartRecorder());
    const std::string out = RunTool("quillon-host", {"--port", QString::number(port), "--script",
                                                     "READY; START; wait 0.5; ARRIVAL; wait 0.3; IDLE"});
    EXPECT_NE(out.find("<- ERROR~Cannot find the QuillonFiles folder, or access is denied."), std::string::npos) << out;
    EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
    ::kill(pid_t(recorder.processId()), SIGTERM);
    EXPECT_TRUE(recorder.waitForFinished(10000));
    EXPECT_EQ(recorder.exitCode(), 0);
}

TEST_F(RecordingEndToEndTest, HostVanishingMidArrivalLeavesAReadableRecording) {
    WriteSettings("AVI");
    ASSERT_TRUE(StartRecorder());
    // The host opens an arrival and disappears without ending it or the race.
    RunTool("quillon-host", {"--port", QString::number(port), "--script", "READY; START; wait 1.5; ARRIVAL; wait 0.3"});
    QThread::msleep(500);
    // A new host ends the race.
    const std::string out = RunTool("quillon-host", {"--port", QString::number(port), "--script", "IDLE"});
    EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
    fs::path recording;
    for (const auto& entry : fs::directory_iterator(dir / "share")) recording = entry.path();
    ASSERT_FALSE(recording.empty());
    int exitCode = -1;
    const std::string check = RunTool("quillon-inspect", {"--check", QString::fromStdString(recording.string())}, &exitCode);
    EXPECT_EQ(exitCode, 0) << check;
    ::kill(pid_t(recorder.processId()), SIGTERM);
    EXPECT_TRUE(recorder.waitForFinished(10000));
}

// The share's disk runs full in the middle of a pass: a small tmpfs in a private mount
// namespace (skipped where namespaces cannot be made). The recorder keeps serving the host, ends
// in order, and the frames that fitted stay readable.
TEST_F(RecordingEndToEndTest, FullDiskDuringAPassKeepsWhatWasWritten) {
    WriteSettings("AVI");
    fs::create_directory(dir / "kept");
    const std::string script =
        "mount -t tmpfs -o size=12m tmpfs \"$D/share\" || exit 77\n"
        "QT_QPA_PLATFORM=offscreen \"$D/quillon-id\" --camera sim --smb-conf \"$D/smb.conf\" "
        "2>/dev/null &\n"
        "pid=$!\n"
        "sleep 2\n"
        "\"$B/quillon-host\" --port $P --script \"READY; START; wait 2; ARRIVAL; wait 2; "
        "ENDARRIVAL; wait 1; IDLE\" > \"$D/host.txt\"\n"
        "kill -TERM $pid; wait $pid; echo $? > \"$D/exit.txt\"\n"
        "cp \"$D\"/share/* \"$D/kept/\"\n";
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("D", QString::fromStdString(dir.string()));
    env.insert("B", QUILLON_BUILD_DIR);
    env.insert("P", QString::number(port));
    shell.setProcessEnvironment(env);
    shell.start("unshare", {"-m", "--propagation", "private", "sh", "-c", QString::fromStdString(script)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    if (shell.exitCode() == 77 || shell.exitCode() == 1) GTEST_SKIP() << "no private mount here";
    std::ifstream exitFile(dir / "exit.txt");
    int exitCode = -1;
    exitFile >> exitCode;
    EXPECT_EQ(exitCode, 0);
    std::stringstream host;
    host << std::ifstream(dir / "host.txt").rdbuf();
    EXPECT_NE(host.str().find("<- RE~IDLE"), std::string::npos) << host.str();
    fs::path recording;
    for (const auto& entry : fs::directory_iterator(dir / "kept")) recording = entry.path();
    ASSERT_FALSE(recording.empty());
    int checkCode = -1;
    const std::string check =
        RunTool("quillon-inspect", {"--check", QString::fromStdString(recording.string())}, &checkCode);
    EXPECT_EQ(checkCode, 0) << check;
    const std::string listing = RunTool("quillon-inspect", {QString::fromStdString(recording.string())});
    EXPECT_NE(listing.find("frame 0:"), std::string::npos) << listing;
    EXPECT_LT(fs::file_size(recording), 12u * 1024 * 1024);
}

}  // namespace
}  // namespace quillon
