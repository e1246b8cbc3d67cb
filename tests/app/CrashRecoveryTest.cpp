// The recorder killed in the middle of an arrival, a full disk, and settings.ini where it cannot
// be written: what was on disk stays readable, and the program says what went wrong and still
// ends.
#include <QThread>

#include "common/RecorderProcess.h"

namespace quillon {
namespace {

class KilledMidArrival : public RecorderProcessTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledMidArrival, LeavesAnUnfinishedFileWhoseWholeFramesAllRead) {
    const std::string kind = GetParam();
    WriteSettings(kind);
    ASSERT_TRUE(StartListening());
    // The host opens an arrival and keeps it open; the recorder dies a second into it.
    QProcess host;
    host.start(Tool("quillon-host"), {"--port", QString::number(port), "--script",
                                      "READY; START; wait 1.5; ARRIVAL; wait 30"});
    QThread::msleep(2700);
    ::kill(pid_t(recorder.processId()), SIGKILL);
    recorder.waitForFinished(5000);
    host.waitForFinished(5000);
    const fs::path recording = Recording();
    ASSERT_FALSE(recording.empty());
    const Inspection file = Inspect(recording);
    // At least the frames before the arrival reached the disk.
    EXPECT_GT(file.frames, 15) << file.output;
    if (kind == "VLV") {
        // The own container has no end to be missing: only a record cut short shows.
        EXPECT_TRUE(file.exitCode == 0 ||
                    (file.exitCode == 2 && file.output.find("truncated") != std::string::npos))
            << file.output;
        const uintmax_t header = 22, record = 800 * 400 + 4;
        EXPECT_EQ((fs::file_size(recording) - header) / record, uintmax_t(file.frames))
            << "every whole record is a frame";
        return;
    }
    EXPECT_EQ(file.exitCode, 2);
    EXPECT_THAT(file.output, HasSubstr("not finished"));
    // FFmpeg, the outside reader, decodes every frame that quillon-inspect found on disk.
    EXPECT_EQ(DecodedFrames(recording), file.frames);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, KilledMidArrival,
                         ::testing::Values("VLV", "AVI", "WMV", "WMV (ALL)"), [](const auto& info) {
                             return std::string(info.index == 3 ? "WmvAll" : info.param);
                         });

using CrashRecoveryTest = RecorderProcessTest;

// In a private mount namespace (skipped where none can be made, so that root is held to it too):
// the share's disk, a small tmpfs, runs full in the middle of a pass; then settings.ini's folder,
// and the config folder inside it, turn read-only before SIGTERM. The recorder keeps serving the
// host, the frames that fitted stay readable, and at exit it says it cannot write its settings
// and ends in order.
TEST_F(CrashRecoveryTest, FullDiskMidPassAndUnwritableSettingsAtExitAreReportedAndItEndsInOrder) {
    WriteSettings("AVI");
    env.insert("XDG_CONFIG_HOME", Path(app / "config"));
    recordings = dir / "kept";
    fs::create_directory(recordings);
    const char* script =
        "mount -t tmpfs -o size=12m tmpfs \"$D/share\" || exit 77\n"
        "cd \"$D/app\"; ./quillon-id --camera sim --smb-conf \"$D/smb.conf\" 2> \"$D/err.txt\" &\n"
        "for i in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$P) 2>/dev/null && break; sleep 0.1; "
        "done\n"
        "\"$B/quillon-host\" --port $P --script \"READY; START; wait 2; ARRIVAL; wait 2; "
        "ENDARRIVAL; wait 1; IDLE\" > \"$D/host.txt\"\n"
        "mount --bind \"$D/app\" \"$D/app\" && mount -o remount,bind,ro \"$D/app\" || "
        "{ kill -9 $!; exit 77; }\n"
        "kill -TERM $!; wait $!; echo $? > \"$D/exit.txt\"\n"
        "cp \"$D\"/share/* \"$D/kept/\" || true\n";
    recorder.setProcessEnvironment(env);
    recorder.start("unshare", {"-m", "--propagation", "private", "bash", "-c", script});
    ASSERT_TRUE(recorder.waitForFinished(60000));
    if (recorder.exitCode() == 77 || recorder.exitCode() == 1) // 1: unshare refused
        GTEST_SKIP() << "no private mount here";
    EXPECT_EQ(ReadText(dir / "exit.txt"), "0\n");
    EXPECT_THAT(ReadText(dir / "host.txt"), HasSubstr("<- RE~IDLE"));
    EXPECT_THAT(ReadText(dir / "err.txt"),
                ::testing::ContainsRegex("cannot write .*settings are lost"));
    const Inspection file = Inspect(Recording());
    EXPECT_EQ(file.exitCode, 0) << file.output;
    EXPECT_GT(file.frames, 0) << file.output;
}

} // namespace
} // namespace quillon
