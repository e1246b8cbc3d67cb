// quillon-inspect as the people who receive recordings use it: reports, checks, exports, and
// --repair on recordings cut short, as a power loss leaves them (the writer never finished).

#include "TestSupport.h"
#include "recording/VideoWriter.h"

namespace quillon::test {
namespace {

constexpr int kDamaged = 2; // the tool's exit status for a damaged file
constexpr uint32_t kWidth = 96;
constexpr uint32_t kHeight = 64;
constexpr uint32_t kRate = 25;
constexpr uint32_t kFrames = 40;

class InspectTool : public ::testing::Test {
protected:
    // Three frames, each offered twice: sequence numbers 1, 2, 3, times 1000, 1040, 1080. All
    // but a.wmv are asked to keep every frame: only Windows Media takes that mode, the other
    // kinds stay what they are (and must be finished as such) and drop the repeats.
    // 33 pixels make padded AVI rows; Windows Media leaves the odd column out.
    std::string Record(const std::string& name) {
        const std::string path = dir.File(name);
        CQuillonFile recording(path, 25, 33, 17);
        if (name != "a.wmv")
            recording.SetEveryFrame();
        Offer(recording, 33, 17, 3);
        Offer(recording, 33, 17, 3);
        return path;
    }

    // Records 40 frames into race.<kind>; copies the file as it lies on disk before the
    // recording finishes into crash.<kind>.
    void RecordWithCrashImage(const std::string& kind) {
        CQuillonFile recording(dir.File("race." + kind), kRate, kWidth, kHeight);
        Offer(recording, kWidth, kHeight, kFrames);
        std::filesystem::copy_file(dir.File("race." + kind), dir.File("crash." + kind));
    }

    TempDir dir;
};

// --check reports each kind and its frames and passes a sound file, or says why it is damaged;
// --export writes every frame as a PNG image.
TEST_F(InspectTool, ChecksReportsAndExportsEachKindAndSaysWhyAFileIsDamaged) {
    const std::string vlv = Record("a.vlv"), avi = Record("a.avi"), wmv = Record("a.wmv");
    const std::string lying = CopyCut(avi, avi + ".5", FileSize(avi));
    const Bytes bytes = ReadBytes(avi); // its video stream header shall say 5 frames
    std::fstream(lying, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(long(std::string(bytes.begin(), bytes.end()).find("strh")) + 40)
        .write("\x05\0\0\0", 4);
    // {file, exit status, lines of the output (of a damaged file's output: their beginnings)}
    const std::tuple<std::string, int, std::string> cases[] = {
        {vlv, 0,
         "kind: VLV (1), own container\nwidth: 33\nframes: 4 (the white opening frame included)\n"
         "frame 0: time 1 ms, opening frame\nframe 3: time 1080 ms, sequence 3\ncheck: sound"},
        {avi, 0, "kind: AVI (2)\nframes: 3\nframe 1: time 1040 ms\ncheck: sound"},
        {wmv, 0,
         "kind: WMV (3), Windows Media with frame-time trailer\nframes: 3\nframe 0: sample time 0 "
         "ms, key, time 1000 ms\nframe 2: sample time 80 ms, time 1080 ms\ncheck: sound"},
        {Record("all.wmv"), 0,
         "kind: WMV (ALL) (4), Windows Media every-frame recording, no frame times\nframes: 6"},
        {CopyCut(vlv, vlv + ".1", FileSize(vlv) - 100), kDamaged,
         "damaged: truncated: the last frame record"},
        {CopyCut(avi, avi + ".2", FileSize(avi) - 2000), kDamaged, "damaged: truncated"},
        {CopyCut(avi, avi + ".3", 100), kDamaged, "damaged: truncated"},
        {CopyCut(wmv, wmv + ".4", FileSize(wmv) - 3), kDamaged,
         "damaged: the Windows Media header gives"},
        {lying, kDamaged, "damaged: video stream header says 5 frames, the file holds 3"},
        {dir.File("missing.avi"), 1, "quillon-inspect: cannot open"},
    };
    for (const auto& [path, status, lines] : cases) {
        const CommandResult r = Inspect("--check " + Quote(path));
        EXPECT_EQ(r.exitCode, status) << path;
        for (const std::string& line : Lines(lines)) // whole lines of a sound file's listing
            EXPECT_TRUE(status == 0 ? HasLine(r.output, line)
                                    : ("\n" + r.output).find("\n" + line) != std::string::npos)
                << line << " in\n"
                << r.output;
    }
    for (const auto& [path, frames, width] :
         {std::tuple{avi, 3u, 33u}, std::tuple{vlv, 4u, 33u}, std::tuple{wmv, 3u, 32u}}) {
        const CommandResult r = Inspect("--export " + Quote(path + ".png") + " " + Quote(path));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(DecodeBgr(path + ".png/frame_%06d.png").size(), frames * width * 17 * 3);
    }
    EXPECT_TRUE(DecodeBgr(avi + ".png/frame_%06d.png") == Frames(33, 17, 3));
}

// Files made to mislead the readers, each once found to hang or crash quillon-inspect: every one
// is reported as damaged, in good time.
TEST_F(InspectTool, HostileFilesAreReportedAsDamagedAndOtherProgramsFilesAreNotRepaired) {
    // Windows Media header objects whose sizes lead back to an earlier object.
    std::string asfLoop =
        std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16) +
        Le(200, 8) + std::string(6, 0) + std::string(16, 0x11) + Le(24, 8) + std::string(16, 0x22) +
        Le(~uint64_t(0) - 23, 8);
    asfLoop.resize(200);
    // An AVI movi list of lists nested 200000 deep.
    uint32_t rest = 24 + 12 * 200000;
    std::string aviNest = "RIFF" + Le(rest - 8, 4) + "AVI LIST" + Le(rest - 20, 4) + "movi";
    for (rest -= 24; rest > 0; rest -= 12)
        aviNest += "LIST" + Le(rest - 8, 4) + "rec ";
    // A stream list whose name chunk is empty.
    const std::string aviNoName(
        "RIFF\x24\0\0\0AVI LIST\x18\0\0\0hdrlLIST\x0C\0\0\0strlstrn\0\0\0\0", 44);
    for (const auto& [name, bytes] :
         {std::pair{"loop.wmv", asfLoop}, std::pair{"nested.avi", aviNest},
          std::pair{"noname.avi", aviNoName}}) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        const CommandResult r = Inspect("--check " + Quote(dir.File(name)));
        EXPECT_EQ(r.exitCode, kDamaged) << name << "\n" << r.output;
    }
    // Another program's AVI and Windows Media files, cut short, and files of no known kind:
    // --repair refuses them and leaves them as they were.
    const std::string other = dir.File("other");
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 30 " +
                         Quote(other + ".avi") + " -frames:v 30 " + Quote(other + ".asf"))
                  .exitCode,
              0);
    for (const std::string& path : {other + ".avi", other + ".asf"})
        CopyCut(path, path + ".cut", FileSize(path) - 1000);
    std::ofstream(other + ".wav", std::ios::binary) << std::string("RIFF\x10\0\0\0WAVEfmt ", 16);
    std::ofstream(other + ".txt") << "hello";
    for (const char* name : {".avi.cut", ".asf.cut", ".wav", ".txt"}) {
        const Bytes before = ReadBytes(other + name);
        const CommandResult r = Inspect("--repair " + Quote(other + name));
        EXPECT_EQ(r.exitCode, 1) << name << ": " << r.output;
        EXPECT_TRUE(ReadBytes(other + name) == before) << name;
    }
}

TEST_F(InspectTool, RepairOfAviAndWindowsMediaCutAnywhereKeepsEveryWholeFrame) {
    RecordWithCrashImage("avi");
    const std::string crash = dir.File("crash.avi"), finished = dir.File("race.avi");
    const Bytes bytes = ReadBytes(crash);
    const uint64_t movi = std::string(bytes.begin(), bytes.end()).find("movi") + 4; // frames start
    const uint64_t record = 8 + kWidth * 3 * kHeight + 8 + 4; // picture and time, with chunk heads
    const std::pair<uint64_t, int> aviCuts[] = {
        // {cut at, whole frames before it}
        {100, 0},                           // inside the main header
        {movi - 19, 0},                     // inside the reserved OpenDML space
        {movi, 0},                          // header whole, no frame
        {movi + 5 * record, 5},             // between frames
        {movi + 7 * record + 3000, 7},      // inside a frame's picture
        {movi + 9 * record - 2, 8},         // inside a timing chunk
        {FileSize(crash), kFrames},         // as the power loss left it
        {FileSize(finished) - 20, kFrames}, // a finished file cut in its index
    };
    for (const auto& [cut, frames] : aviCuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        CopyCut(cut < FileSize(crash) ? crash : finished, dir.File("cut.avi"), cut);
        ExpectRepaired(dir.File("cut.avi"), frames, kRate, 1);
    }

    // Windows Media, cut as the power loss left it and cut when finished.
    RecordWithCrashImage("wmv");
    const std::string wmvCrash = dir.File("crash.wmv"), wmvFinished = dir.File("race.wmv"),
                      path = dir.File("cut.wmv");
    // Where the data packets start, and the packet each frame begins in.
    const uint64_t packet = CVideoWriter::kAsfPacketBytes;
    const uint64_t dataStart = GetLe64(&ReadBytes(wmvFinished)[16]) + 50; // the data object's head
    std::vector<uint64_t> framePackets;
    for (const std::string& line :
         Lines(Probe(wmvFinished, "-select_streams v:0 -show_entries packet=pos -of csv=p=0")))
        framePackets.push_back((std::stoull(line) - dataStart) / packet);
    const uint64_t half = (FileSize(wmvCrash) - dataStart) / packet / 2 * packet;
    const uint64_t videoEnd = FileSize(wmvFinished) - kFrames * 4 - 9; // before the frame times
    // Cuts into the file as the power loss left it; then into the finished file, inside its
    // packets and inside its index, where the trailer is lost.
    for (const auto& [from, cuts] :
         {std::pair{wmvCrash, std::vector<uint64_t>{dataStart, dataStart + 2 * packet,
                                                    dataStart + 3 * packet + 1000,
                                                    dataStart + half + 1, FileSize(wmvCrash)}},
          std::pair{wmvFinished, std::vector<uint64_t>{videoEnd - 3 * packet, videoEnd - 10}}})
        for (const uint64_t cut : cuts) {
            SCOPED_TRACE(from + " cut at " + std::to_string(cut));
            CopyCut(from, path, cut);
            // Frames that begin in a packet that reached the disk whole; the last of them may still
            // lack its end.
            const auto begun =
                int(std::count_if(framePackets.begin(), framePackets.end(),
                                  [&](uint64_t p) { return p < (cut - dataStart) / packet; }));
            const int frames = ExpectRepaired(path, -1, kRate, CVideoWriter::kCleanPointInterval);
            EXPECT_TRUE(frames == begun || frames == begun - 1) << frames << " of " << begun;
        }
    // The muxer finished but the trailer was cut: with every time there, the times stay.
    CopyCut(wmvFinished, path, FileSize(wmvFinished) - 3);
    ExpectRepaired(path, kFrames, kRate, CVideoWriter::kCleanPointInterval);
    EXPECT_TRUE(
        HasLine(Inspect(Quote(path)).output, "frame 39: sample time 1560 ms, time 2560 ms"));
}

} // namespace
} // namespace quillon::test
