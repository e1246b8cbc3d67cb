// The files each kind of recording leaves: byte for byte, and as FFmpeg, the outside reader,
// sees them.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "TestSupport.h"
#include "recording/AviWriter.h"
#include "recording/ByteFields.h"

namespace quillon {
namespace {

using namespace test;

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

uint32_t Code(const char* fourCC) {
    return GetLe32(reinterpret_cast<const uint8_t*>(fourCC));
}

// Checks little-endian fields of the given bits, {offset, value}, in the n-th chunk of a code.
void ExpectFields(const Bytes& file, const char* code, int n, int bits,
                  std::initializer_list<std::pair<int, uint32_t>> fields) {
    size_t chunk = 0;
    while (chunk + 8 < file.size() && (std::memcmp(&file[chunk], code, 4) != 0 || n-- > 0))
        ++chunk;
    ASSERT_LT(chunk + 8, file.size()) << code;
    for (const auto& [offset, value] : fields) {
        const uint8_t* field = file.data() + chunk + 8 + offset;
        EXPECT_EQ(bits == 16 ? GetLe16(field) : GetLe32(field), value) << code << " +" << offset;
    }
}

// The values as 32-bit little-endian fields, one after the other.
Bytes Le32s(const std::vector<uint32_t>& values) {
    Bytes bytes(4 * values.size());
    for (size_t i = 0; i < values.size(); ++i)
        PutLe32(&bytes[4 * i], values[i]);
    return bytes;
}

Bytes TrailerBytes(std::vector<uint32_t> times) {
    times.push_back(uint32_t(times.size()));
    Bytes bytes = Le32s(times);
    bytes.insert(bytes.end(), {'V', 'L', 'W', 'M', 'V'});
    return bytes;
}

class AviFile : public ::testing::Test {
protected:
    // Five frames, and two that do not match the stream's format and must be refused.
    std::string Record(uint32_t width, uint32_t height, Bytes* offered = nullptr) {
        const std::string path = dir.File("race" + std::to_string(width) + ".avi");
        CQuillonFile recording(path, 25, width, height);
        const Bytes frames = Offer(recording, width, height, 5);
        recording.WriteFrame(8, 8, frames.data(), 24, 9000, 10);          // another size
        recording.WriteFrame(width, height, frames.data(), 32, 9000, 11); // another depth
        EXPECT_EQ(recording.GetFramesWritten(), 5u);
        EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
        if (offered)
            *offered = frames;
        return path;
    }

    TempDir dir;
};

TEST_F(AviFile, ReaderSeesBothStreamsWithEveryFramesPixelsUprightAndItsTime) {
    for (const uint32_t width : {64u, 33u}) { // 33 pixels make 99-byte rows, padded to 100
        SCOPED_TRACE(width);
        Bytes offered;
        const std::string path = Record(width, 17, &offered);
        const std::string video = Probe(path, "-select_streams 0 -count_packets -show_streams");
        const std::pair<const char*, std::string> fields[] = {
            {"codec_name", "rawvideo"},       {"pix_fmt", "bgr24"},
            {"width", std::to_string(width)}, {"height", "17"},
            {"r_frame_rate", "25/1"},         {"nb_frames", "5"},
            {"nb_read_packets", "5"},         {"TAG:title", "Video Stream"}};
        for (const auto& [key, value] : fields)
            EXPECT_EQ(Field(video, key), value) << key;
        const std::string timing = Probe(path, "-select_streams 1 -count_packets -show_streams");
        EXPECT_EQ(Field(timing, "codec_type"), "subtitle"); // FFmpeg's name for a text stream
        EXPECT_EQ(Field(timing, "nb_read_packets"), "5");
        EXPECT_EQ(Field(timing, "TAG:title"), "Timing Stream");
        EXPECT_EQ(DecodeBgr(path), offered);

        const std::string times = RunCommand("ffmpeg -v error -i " + Quote(path) +
                                             " -map 0:1 -c copy -f data - 2>/dev/null")
                                      .output;
        EXPECT_EQ(Bytes(times.begin(), times.end()), Le32s({1000, 1040, 1080, 1120, 1160}));
    }
}

TEST_F(AviFile, HeadersHoldTheRecordingsFormatAndTheIndexMarksEveryChunkKey) {
    const Bytes file = ReadBytes(Record(64, 48));
    // The video stream: no handler, 25 frames per second, five frames; the bitmap's positive
    // height means bottom-up rows.
    ExpectFields(file, "strh", 0, 32,
                 {{0, Code("vids")},
                  {4, 0},
                  {20, 1},
                  {24, 25},
                  {32, 5},
                  {36, 64 * 48 * 4},
                  {40, 0xFFFFFFFF}});
    ExpectFields(file, "strh", 0, 16, {{52, 64}, {54, 48}});
    ExpectFields(file, "strf", 0, 32, {{0, 40}, {4, 64}, {8, 48}, {16, 0}, {20, 64 * 48 * 3}});
    ExpectFields(file, "strf", 0, 16, {{14, 24}});
    // The timing stream, drawn below the picture.
    ExpectFields(file, "strh", 1, 32,
                 {{0, Code("txts")}, {4, Code("DRAW")}, {24, 25}, {36, 4}, {40, 0}});
    ExpectFields(file, "strh", 1, 16, {{50, 48}, {54, 68}});
    ExpectFields(file, "strf", 1, 32, {{-4, 4}, {0, 4}});
    // Stream names: the size counts the name and its zero, not the pad byte after it.
    ExpectFields(file, "strn", 0, 32, {{-4, 13}});
    ExpectFields(file, "strn", 1, 32, {{-4, 14}});
    // The legacy index closes the file: 16 bytes per chunk, every chunk a key frame, or readers
    // that seek by it find nothing to start from.
    const std::string text(file.begin(), file.end());
    const size_t index = text.rfind("idx1");
    ASSERT_NE(index, std::string::npos);
    ASSERT_EQ(GetLe32(&file[index + 4]), 5u * 2 * 16);
    for (size_t entry = index + 8; entry < index + 8 + 5 * 2 * 16; entry += 16)
        EXPECT_EQ(GetLe32(&file[entry + 4]), 0x10u) << "index entry at " << entry;
}

// Segments of two frames make a small OpenDML file (three RIFF segments) that both readers take
// whole, frames in order: the segment change without writing a gibibyte.
TEST_F(AviFile, SmallSegmentsMakeAnOpenDmlFileThatReadsWhole) {
    const std::string path = dir.File("segments.avi");
    Bytes written;
    {
        LocalFileOutput output(path);
        AviWriter writer(output, 2);
        ASSERT_TRUE(writer.Create(25, 8, 4));
        for (uint32_t i = 0; i < 6; ++i) {
            const Bytes frame = Frame(8, 4, i);
            ASSERT_TRUE(writer.WriteFrame(8, 4, frame.data(), 24, 1000 + 40 * i));
            written.insert(written.end(), frame.begin(), frame.end());
        }
        writer.Finish();
        ASSERT_TRUE(output.Close());
    }
    EXPECT_EQ(DecodeBgr(path), written);
    const CommandResult check = Inspect("--check " + Quote(path));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_TRUE(HasLine(check.output, "RIFF segments: 3 (OpenDML, 6 frames in dmlh)"))
        << check.output;
}

// Each record is the frame's first width x height bytes, then the time little-endian; a frame
// of another size is left out, or a reader would lose every frame after it.
TEST(VlvFormat, FrameRecordsArePixelBytesThenLittleEndianTime) {
    TempDir dir;
    const std::string path = dir.File("race.vlv");
    const Bytes grey = {0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB};
    Bytes colour(3 * 2 * 3);
    std::iota(colour.begin(), colour.end(), 1);
    {
        CQuillonFile recording(path, 25, 3, 2);
        recording.WriteFrame(3, 2, grey.data(), 8, 1000, 1);
        recording.WriteFrame(3, 2, colour.data(), 24, 0x01020304, 2);
        recording.WriteFrame(2, 2, grey.data(), 8, 5, 3); // another size
        EXPECT_EQ(recording.GetFramesWritten(), 2u);
    }
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 22u + 3 * (6 + 4));
    EXPECT_EQ(Slice(file, 32, 10),
              (Bytes{0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(Slice(file, 42, 10), (Bytes{1, 2, 3, 4, 5, 6, 0x04, 0x03, 0x02, 0x01}));
}

TEST(RecordingFile, WindowsMediaTrailerHoldsEveryTimeInFrameOrderAfterTheVideo) {
    TempDir dir;
    const std::string path = dir.File("race.WMV");
    {
        CQuillonFile recording(path, 25, 64, 48);
        const uint32_t times[] = {500, 300, 300, 900};
        for (uint32_t i = 0; i < 4; ++i)
            recording.WriteFrame(64, 48, Frame(64, 48, i).data(), 24, times[i], i + 1);
    }
    const Bytes file = ReadBytes(path);
    const Bytes expected = TrailerBytes({500, 300, 300, 900});
    ASSERT_GT(file.size(), expected.size());
    EXPECT_EQ(Slice(file, file.size() - expected.size(), expected.size()), expected);
    const Bytes asfHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    EXPECT_EQ(Slice(file, 0, 8), asfHeaderGuid);
}

TEST(RecordingFile, WithoutFramesIsStillAFileOfItsKind) {
    TempDir dir;
    for (const char* name : {"e.vlv", "e.avi", "e.wmv"})
        CQuillonFile(dir.File(name), 25, 640, 480); // made and finished at once
    CQuillonFile(dir.File("wide.vlv"), 300, 65537, 1);
    // The container: its header, then a white opening frame with time 1.
    const Bytes vlv = ReadBytes(dir.File("e.vlv"));
    const Bytes header = {0x00, 0x00, 0x00, 0x16, 0x01, 0x00, 0x00, 0x02, 0x02, 0x80, 0x02,
                          0x00, 0x00, 0x02, 0x01, 0xE0, 0x03, 0x00, 0x00, 0x02, 0x00, 0x19};
    ASSERT_EQ(vlv.size(), 22u + 640 * 480 + 4);
    EXPECT_EQ(Slice(vlv, 0, 22), header);
    EXPECT_EQ(Slice(vlv, 22, 640 * 480), Bytes(640 * 480, 0xFF));
    EXPECT_EQ(Slice(vlv, 22 + 640 * 480, 4), (Bytes{1, 0, 0, 0}));
    // Values beyond 16 bits keep their low 16.
    const Bytes wide = ReadBytes(dir.File("wide.vlv"));
    ASSERT_EQ(wide.size(), 22u + 65537 + 4);
    EXPECT_EQ(Slice(wide, 8, 2), (Bytes{0x00, 0x01}));  // 65537 & 0xFFFF
    EXPECT_EQ(Slice(wide, 20, 2), (Bytes{0x01, 0x2C})); // 300
    // AVI: both streams, no samples. Windows Media: nothing but the nine trailer bytes.
    EXPECT_EQ(Lines(Probe(dir.File("e.avi"), "-show_entries stream=codec_type -of csv=p=0")),
              (std::vector<std::string>{"video", "subtitle"}));
    EXPECT_TRUE(DecodeBgr(dir.File("e.avi")).empty());
    EXPECT_EQ(ReadBytes(dir.File("e.wmv")), TrailerBytes({}));
}

TEST(RecordingFile, ExtensionDecidesTheKindWhateverItsCase) {
    const std::pair<const char*, FileKind> cases[] = {{"a.AVI", kFileAvi},     {"a.aVi", kFileAvi},
                                                      {"a.Wmv", kFileWmv},     {"a.vlv", kFileVlv},
                                                      {"a.avi.bak", kFileVlv}, {"vi", kFileVlv}};
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(CQuillonFile::KindForPath(path), kind) << path;
}

} // namespace
} // namespace quillon
