// quillon-inspect as the people who receive recordings use it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using test::Quote;
using test::RunCommand;
using Bytes = std::vector<uint8_t>;

constexpr int kDamaged = 2;

bool HasLine(const std::string& output, const std::string& line) {
    for (const std::string& l : test::Lines(output))
        if (l == line)
            return true;
    return false;
}

class InspectTool : public ::testing::Test {
protected:
    test::CommandResult Inspect(const std::string& args) {
        return RunCommand(Quote(test::InspectTool()) + " " + args + " 2>&1");
    }

    // Three frames with sequence numbers 7, 8, 9 and times 1000, 1040, 1080.
    std::string Record(const std::string& name, uint32_t width = 40, uint32_t height = 20,
                       bool everyFrame = false) {
        const std::string path = dir.File(name);
        CQuillonFile recording(path, 25, width, height);
        if (everyFrame)
            recording.SetEveryFrame();
        for (uint32_t i = 0; i < 3; ++i) {
            Bytes frame = test::PatternFrame(width, height, i);
            if (path.ends_with(".vlv")) {
                frame[0] = uint8_t(7 + i), frame[1] = frame[2] = frame[3] = 0;
                recording.WriteFrame(width, height, frame.data(), 8, 1000 + 40 * i, 7 + i);
            } else {
                recording.WriteFrame(width, height, frame.data(), 24, 1000 + 40 * i, 7 + i);
            }
        }
        return path;
    }

    std::string CopyCut(const std::string& path, uint64_t bytes) {
        const std::string cut = path + ".cut" + std::to_string(++m_cuts);
        std::filesystem::copy_file(path, cut);
        std::filesystem::resize_file(cut, bytes);
        return cut;
    }

    test::TempDir dir;
    int m_cuts = 0;
};

TEST_F(InspectTool, ReportsKindFramesTimesAndSequenceNumbers) {
    const std::string vlv = Inspect(Quote(Record("a.vlv"))).output;
    EXPECT_TRUE(HasLine(vlv, "kind: VLV (1), own container")) << vlv;
    EXPECT_TRUE(HasLine(vlv, "width: 40"));
    EXPECT_TRUE(HasLine(vlv, "frames: 4 (the white opening frame included)"));
    EXPECT_TRUE(HasLine(vlv, "frame 0: time 1 ms, opening frame"));
    EXPECT_TRUE(HasLine(vlv, "frame 3: time 1080 ms, sequence 9"));

    const std::string avi = Inspect(Quote(Record("a.avi"))).output;
    EXPECT_TRUE(HasLine(avi, "kind: AVI (2)")) << avi;
    EXPECT_TRUE(HasLine(avi, "frames: 3"));
    EXPECT_TRUE(HasLine(avi, "frame 1: time 1040 ms"));

    const std::string wmv = Inspect(Quote(Record("a.wmv"))).output;
    EXPECT_TRUE(HasLine(wmv, "kind: WMV (3), Windows Media with frame-time trailer")) << wmv;
    EXPECT_TRUE(HasLine(wmv, "frame 0: sample time 0 ms, key, time 1000 ms"));
    EXPECT_TRUE(HasLine(wmv, "frame 2: sample time 80 ms, time 1080 ms"));

    const std::string all = Inspect(Quote(Record("b.wmv", 40, 20, true))).output;
    EXPECT_TRUE(
        HasLine(all, "kind: WMV (ALL) (4), Windows Media every-frame recording, no frame times"))
        << all;
    EXPECT_TRUE(HasLine(all, "frames: 3"));
}

TEST_F(InspectTool, CheckPassesSoundRecordingsOfEveryKind) {
    for (const std::string& path :
         {Record("a.vlv"), Record("a.avi"), Record("a.wmv"), Record("b.wmv", 40, 20, true)}) {
        test::CommandResult r = Inspect("--check " + Quote(path));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(HasLine(r.output, "check: sound")) << path;
    }
}

TEST_F(InspectTool, CheckFailsTruncatedRecordingsAndSaysWhy) {
    const std::string vlv = Record("a.vlv");
    const std::string avi = Record("a.avi");
    const std::string wmv = Record("a.wmv");
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {CopyCut(vlv, test::FileSize(vlv) - 100), "damaged: truncated: the last frame record"},
        {CopyCut(avi, test::FileSize(avi) - 2000), "damaged: truncated"},
        {CopyCut(avi, 100), "damaged: truncated"},
        {CopyCut(wmv, test::FileSize(wmv) - 3), "damaged: the Windows Media header gives"},
    };
    for (const auto& c : cases) {
        test::CommandResult r = Inspect("--check " + Quote(c.path));
        EXPECT_EQ(r.exitCode, kDamaged) << c.path;
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output;
    }
}

TEST_F(InspectTool, CheckFindsHeadersThatDisagreeWithTheFrames) {
    const std::string avi = Record("a.avi");
    { // the video stream header's length field, as a careless editor might leave it
        std::FILE* f = std::fopen(avi.c_str(), "r+b");
        Bytes file = test::ReadBytes(avi);
        const size_t strh =
            size_t(std::search(file.begin(), file.end(), "strh", "strh" + 4) - file.begin());
        std::fseek(f, long(strh + 8 + 32), SEEK_SET);
        const uint8_t five[4] = {5, 0, 0, 0};
        std::fwrite(five, 1, 4, f);
        std::fclose(f);
    }
    test::CommandResult r = Inspect("--check " + Quote(avi));
    EXPECT_EQ(r.exitCode, kDamaged);
    EXPECT_NE(r.output.find("video stream header says 5 frames, the file holds 3"),
              std::string::npos)
        << r.output;
}

TEST_F(InspectTool, RecordingsCutShortByAFullDiskPassTheCheck) {
    for (const char* name : {"full.vlv", "full.avi"}) {
        const std::string path = dir.File(name);
        {
            CQuillonFile recording(path, 25, 64, 48,
                                   std::make_unique<test::SizeLimitedOutput>(path, 30000));
            for (uint32_t i = 1; i <= 10; ++i) {
                const Bytes frame = test::PatternFrame(64, 48, i);
                recording.WriteFrame(64, 48, frame.data(), 24, i, i);
            }
            ASSERT_TRUE(recording.HasFailed());
        }
        test::CommandResult r = Inspect("--check " + Quote(path));
        EXPECT_EQ(r.exitCode, 0) << r.output;
    }
}

TEST_F(InspectTool, ExportWritesEveryAviFrameAsAPngWithItsExactPixels) {
    const std::string avi = Record("a.avi", 33, 17); // odd width: padded rows
    const std::string out = dir.File("png");
    test::CommandResult r = Inspect("--export " + Quote(out) + " " + Quote(avi));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(HasLine(r.output, "exported: 3 PNG images to " + out));
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string png = out + "/frame_00000" + std::to_string(i) + ".png";
        test::CommandResult pixels = RunCommand("ffmpeg -v error -i " + Quote(png) +
                                                " -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
        EXPECT_TRUE(Bytes(pixels.output.begin(), pixels.output.end()) ==
                    test::PatternFrame(33, 17, i))
            << png;
    }
}

TEST_F(InspectTool, ExportWritesContainerAndWindowsMediaFrames) {
    test::CommandResult vlv =
        Inspect("--export " + Quote(dir.File("v")) + " " + Quote(Record("a.vlv")));
    EXPECT_TRUE(HasLine(vlv.output, "exported: 4 PNG images to " + dir.File("v"))) << vlv.output;
    EXPECT_TRUE(std::filesystem::exists(dir.File("v/frame_000003.png")));
    test::CommandResult wmv =
        Inspect("--export " + Quote(dir.File("w")) + " " + Quote(Record("a.wmv")));
    EXPECT_TRUE(HasLine(wmv.output, "exported: 3 PNG images to " + dir.File("w"))) << wmv.output;
    test::CommandResult probe = RunCommand("ffprobe -v error -show_entries stream=width,height " +
                                           Quote(dir.File("w/frame_000002.png")));
    EXPECT_EQ(test::Field(probe.output, "width"), "40");
}

// Files made to mislead the readers, each once found to hang or crash quillon-inspect: every one
// is reported as damaged, in good time.
TEST_F(InspectTool, HostileFilesAreReportedAsDamaged) {
    const auto le64 = [](Bytes& b, uint64_t v) {
        for (int i = 0; i < 8; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    // Windows Media header objects whose sizes lead back to an earlier object.
    Bytes asfLoop = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    le64(asfLoop, 200);
    asfLoop.resize(30);
    asfLoop.insert(asfLoop.end(), 16, 0x11);
    le64(asfLoop, 24);
    asfLoop.insert(asfLoop.end(), 16, 0x22);
    le64(asfLoop, ~uint64_t(0) - 23);
    asfLoop.resize(200);

    // An AVI movi list of lists nested 200000 deep.
    const auto le32 = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    const auto code = [](Bytes& b, const char* c) { b.insert(b.end(), c, c + 4); };
    constexpr uint32_t kLevels = 200000;
    Bytes aviNest;
    uint32_t rest = 24 + 12 * kLevels;
    code(aviNest, "RIFF"), le32(aviNest, rest - 8), code(aviNest, "AVI ");
    code(aviNest, "LIST"), le32(aviNest, rest - 20), code(aviNest, "movi");
    for (rest -= 24; rest > 0; rest -= 12)
        code(aviNest, "LIST"), le32(aviNest, rest - 8), code(aviNest, "rec ");

    // A stream list whose name chunk is empty.
    Bytes aviNoName;
    code(aviNoName, "RIFF"), le32(aviNoName, 36), code(aviNoName, "AVI ");
    code(aviNoName, "LIST"), le32(aviNoName, 24), code(aviNoName, "hdrl");
    code(aviNoName, "LIST"), le32(aviNoName, 12), code(aviNoName, "strl");
    code(aviNoName, "strn"), le32(aviNoName, 0);

    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {{"loop.wmv", asfLoop}, {"nested.avi", aviNest}, {"noname.avi", aviNoName}};
    for (const auto& c : cases) {
        const std::string path = dir.File(c.name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        const test::CommandResult r =
            RunCommand("timeout 20 " + Quote(test::InspectTool()) + " --check " + Quote(path));
        EXPECT_EQ(r.exitCode, kDamaged) << c.name << "\n" << r.output;
    }
}

TEST_F(InspectTool, UnreadableFileIsAnError) {
    test::CommandResult r = Inspect(Quote(dir.File("missing.avi")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot open"), std::string::npos);
}

} // namespace
} // namespace quillon
