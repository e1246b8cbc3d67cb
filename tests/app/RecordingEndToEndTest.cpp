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
    const Inspection file = Inspect(Recording());
    EXPECT_EQ(file.exitCode, 0) << file.output;
    EXPECT_EQ(Stop(), 0);
}

} // namespace
} // namespace quillon
