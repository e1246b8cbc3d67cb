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

#include "common/RecorderProcess.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class RecordingEndToEndTest : public RecorderProcessTest {};

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
    RunTool("quillon-inspect", {"--check", QString::fromStdString(run.recording.string())},
            &exitCode);
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
    RunTool("quillon-inspect", {"--check", QString::fromStdString(run.recording.string())},
            &exitCode);
    EXPECT_EQ(exitCode, 0);
}

TEST_F(RecordingEndToEndTest, WithoutTheShareTheHostIsToldAndTheRaceGoesOn) {
    std::ofstream(dir / "smb.conf") << "[global]\n  workgroup = TEST\n";
    WriteSettings("AVI");
    ASSERT_TRUE(StartRecorder());
    const std::string out =
        RunTool("quillon-host", {"--port", QString::number(port), "--script",
                                 "READY; START; wait 0.5; ARRIVAL; wait 0.3; IDLE"});
    EXPECT_NE(out.find("<- ERROR~Cannot find the QuillonFiles folder, or access is denied."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
    ::kill(pid_t(recorder.processId()), SIGTERM);
    EXPECT_TRUE(recorder.waitForFinished(10000));
    EXPECT_EQ(recorder.exitCode(), 0);
}

TEST_F(RecordingEndToEndTest, HostVanishingMidArrivalLeavesAReadableRecording) {
    WriteSettings("AVI");
    ASSERT_TRUE(StartRecorder());
    // The host opens an arrival and disappears without ending it or the race.
    RunTool("quillon-host", {"--port", QString::number(port), "--script",
                             "READY; START; wait 1.5; ARRIVAL; wait 0.3"});
    QThread::msleep(500);
    // A new host ends the race.
    const std::string out =
        RunTool("quillon-host", {"--port", QString::number(port), "--script", "IDLE"});
    EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
    fs::path recording;
    for (const auto& entry : fs::directory_iterator(dir / "share"))
        recording = entry.path();
    ASSERT_FALSE(recording.empty());
    int exitCode = -1;
    const std::string check = RunTool(
        "quillon-inspect", {"--check", QString::fromStdString(recording.string())}, &exitCode);
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
    shell.start("unshare",
                {"-m", "--propagation", "private", "sh", "-c", QString::fromStdString(script)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    if (shell.exitCode() == 77 || shell.exitCode() == 1)
        GTEST_SKIP() << "no private mount here";
    std::ifstream exitFile(dir / "exit.txt");
    int exitCode = -1;
    exitFile >> exitCode;
    EXPECT_EQ(exitCode, 0);
    std::stringstream host;
    host << std::ifstream(dir / "host.txt").rdbuf();
    EXPECT_NE(host.str().find("<- RE~IDLE"), std::string::npos) << host.str();
    fs::path recording;
    for (const auto& entry : fs::directory_iterator(dir / "kept"))
        recording = entry.path();
    ASSERT_FALSE(recording.empty());
    int checkCode = -1;
    const std::string check = RunTool(
        "quillon-inspect", {"--check", QString::fromStdString(recording.string())}, &checkCode);
    EXPECT_EQ(checkCode, 0) << check;
    const std::string listing =
        RunTool("quillon-inspect", {QString::fromStdString(recording.string())});
    EXPECT_NE(listing.find("frame 0:"), std::string::npos) << listing;
    EXPECT_LT(fs::file_size(recording), 12u * 1024 * 1024);
}

} // namespace
} // namespace quillon
