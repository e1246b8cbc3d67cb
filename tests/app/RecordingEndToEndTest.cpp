// Races run end to end into the local share: the real program with the simulated camera, the
// host tool driving it over TCP, the recordings read back with quillon-inspect and FFmpeg.
#include <QThread>

#include "common/RecorderProcess.h"

namespace quillon {
namespace {

class RecordingEndToEndTest : public RecorderProcessTest,
                              public ::testing::WithParamInterface<const char*> {};

// Each kind holds both arrivals' windows whole with the host's times ("WMV (ALL)" every frame of
// the race instead), and both readers take it as sound.
TEST_P(RecordingEndToEndTest, HoldsBothArrivalsWholeAndReadable) {
    const std::string kind = GetParam();
    const RaceRun run = RaceTwoArrivals(kind);
    ASSERT_FALSE(run.recording.empty()) << run.hostOutput;
    EXPECT_EQ(run.recording.extension(), kind == "VLV" ? ".vlv" : kind == "AVI" ? ".avi" : ".wmv");
    EXPECT_EQ(run.file.exitCode, 0) << run.file.output;
    if (kind != "VLV") {
        EXPECT_EQ(DecodedFrames(run.recording), run.file.frames);
    } else { // only the own container keeps the camera's frame numbers
        EXPECT_GE(run.file.listed.at(0).sequence, 1);
    }
    if (kind != "WMV (ALL)")
        return ExpectArrivals(run);
    // From START to IDLE, about 6.4 s at 25 frames per second, whatever the arrivals.
    EXPECT_GT(run.file.listed.size(), 140u);
    EXPECT_LT(run.file.listed.size(), 200u);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RecordingEndToEndTest,
                         ::testing::Values("VLV", "AVI", "WMV", "WMV (ALL)"), [](const auto& info) {
                             return std::string(info.index == 3 ? "WmvAll" : info.param);
                         });

using RecordingFaultTest = RecorderProcessTest;

TEST_F(RecordingFaultTest, HostVanishingMidArrivalLeavesAReadableRecording) {
    WriteSettings("AVI");
    ASSERT_TRUE(StartListening());
    // The host opens an arrival and disappears without ending it or the race; a new one ends it.
    Host("READY; START; wait 1.5; ARRIVAL; wait 0.3");
    QThread::msleep(500);
    EXPECT_THAT(Host("IDLE"), HasSubstr("<- RE~IDLE"));
    ASSERT_FALSE(Recording().empty());
    const Inspection file = Inspect(Recording());
    EXPECT_EQ(file.exitCode, 0) << file.output;
    EXPECT_EQ(Stop(), 0);
}

// The share's disk runs full in the middle of a pass: a small tmpfs in a private mount
// namespace (skipped where namespaces cannot be made). The recorder keeps serving the host, ends
// in order, and the frames that fitted stay readable.
TEST_F(RecordingFaultTest, FullDiskDuringAPassKeepsWhatWasWritten) {
    WriteSettings("AVI");
    recordings = dir / "kept";
    fs::create_directory(recordings);
    const char* script =
        "mount -t tmpfs -o size=12m tmpfs \"$D/share\" || exit 77\n"
        "\"$D/app/quillon-id\" --camera sim --smb-conf \"$D/smb.conf\" 2>/dev/null & sleep 2\n"
        "\"$B/quillon-host\" --port $P --script \"READY; START; wait 2; ARRIVAL; wait 2; "
        "ENDARRIVAL; wait 1; IDLE\" > \"$D/host.txt\"\n"
        "kill -TERM $!; wait $!; echo $? > \"$D/exit.txt\"; cp \"$D\"/share/* \"$D/kept/\"\n";
    recorder.setProcessEnvironment(env);
    recorder.start("unshare", {"-m", "--propagation", "private", "sh", "-c", script});
    ASSERT_TRUE(recorder.waitForFinished(60000));
    if (recorder.exitCode() == 77 || recorder.exitCode() == 1)
        GTEST_SKIP() << "no private mount here";
    EXPECT_EQ(ReadText(dir / "exit.txt"), "0\n");
    EXPECT_THAT(ReadText(dir / "host.txt"), HasSubstr("<- RE~IDLE"));
    ASSERT_FALSE(Recording().empty());
    const Inspection file = Inspect(Recording());
    EXPECT_EQ(file.exitCode, 0) << file.output;
    EXPECT_GT(file.frames, 0) << file.output;
    EXPECT_LT(fs::file_size(Recording()), 12u * 1024 * 1024);
}

} // namespace
} // namespace quillon
