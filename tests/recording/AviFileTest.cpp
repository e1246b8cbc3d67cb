// AVI recordings as FFmpeg, the outside reader, sees them.

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "recording/AviWriter.h"
#include "recording/ByteFields.h"
#include "recording/LocalFileOutput.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using test::Field;
using test::Probe;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

class AviFile : public ::testing::Test {
protected:
    // Records frames made by PatternFrame(seed = index) with time 1000 + 40 x index, returns
    // what was written, top-down, one after the other.
    Bytes Record(const std::string& path, uint32_t width, uint32_t height, uint32_t frames) {
        Bytes all;
        CQuillonFile recording(path, 25, width, height);
        for (uint32_t i = 0; i < frames; ++i) {
            Bytes frame = test::PatternFrame(width, height, i);
            recording.WriteFrame(width, height, frame.data(), 24, 1000 + 40 * i, i + 1);
            all.insert(all.end(), frame.begin(), frame.end());
        }
        EXPECT_EQ(recording.GetFramesWritten(), frames);
        EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
        return all;
    }

    TempDir dir;
};

TEST_F(AviFile, ReaderSeesVideoAndTimingStreamsWithNamesCountsAndEachFramesTime) {
    const std::string path = dir.File("race.avi");
    Record(path, 64, 48, 5);
    const std::string video = Probe(path, "-select_streams 0 -count_packets -show_streams");
    EXPECT_EQ(Field(video, "codec_name"), "rawvideo");
    EXPECT_EQ(Field(video, "pix_fmt"), "bgr24");
    EXPECT_EQ(Field(video, "width"), "64");
    EXPECT_EQ(Field(video, "height"), "48");
    EXPECT_EQ(Field(video, "r_frame_rate"), "25/1");
    EXPECT_EQ(Field(video, "nb_frames"), "5");
    EXPECT_EQ(Field(video, "nb_read_packets"), "5");
    EXPECT_EQ(Field(video, "TAG:title"), "Video Stream");
    const std::string timing = Probe(path, "-select_streams 1 -count_packets -show_streams");
    EXPECT_EQ(Field(timing, "codec_type"), "subtitle"); // FFmpeg's name for a text stream
    EXPECT_EQ(Field(timing, "nb_read_packets"), "5");
    EXPECT_EQ(Field(timing, "TAG:title"), "Timing Stream");

    test::CommandResult r = test::RunCommand("ffmpeg -v error -i " + test::Quote(path) +
                                             " -map 0:1 -c copy -f data - 2>/dev/null");
    ASSERT_EQ(r.output.size(), 20u);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(GetLe32(reinterpret_cast<const uint8_t*>(r.output.data()) + 4 * i),
                  1000 + 40 * i);
}

TEST_F(AviFile, EveryFrameDecodesToExactlyThePixelsWrittenUpright) {
    // 33 pixels make 99-byte rows that the file pads to 100.
    for (uint32_t width : {64u, 33u}) {
        const std::string path = dir.File("race" + std::to_string(width) + ".avi");
        const Bytes written = Record(path, width, 17, 6);
        EXPECT_EQ(test::DecodeBgr(path), written) << "width " << width;
    }
}

// Finds the n-th chunk with the given code in a header and returns a pointer to its data.
const uint8_t* FindChunk(const Bytes& file, const char* code, int n = 0) {
    for (size_t i = 0; i + 8 <= file.size() && i < 65536; ++i)
        if (std::memcmp(&file[i], code, 4) == 0 && n-- == 0)
            return &file[i + 8];
    return nullptr;
}

TEST_F(AviFile, HeadersHoldTheRecordingsFormatAndTheIndexMarksEveryChunkKey) {
    const std::string path = dir.File("race.avi");
    Record(path, 64, 48, 2);
    const Bytes file = test::ReadBytes(path);

    const uint8_t* video = FindChunk(file, "strh", 0);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(video), 4), "vids");
    EXPECT_EQ(GetLe32(video + 4), 0u);            // fccHandler
    EXPECT_EQ(GetLe32(video + 20), 1u);           // dwScale
    EXPECT_EQ(GetLe32(video + 24), 25u);          // dwRate
    EXPECT_EQ(GetLe32(video + 32), 2u);           // dwLength
    EXPECT_EQ(GetLe32(video + 36), 64u * 48 * 4); // dwSuggestedBufferSize
    EXPECT_EQ(GetLe32(video + 40), 0xFFFFFFFFu);  // dwQuality
    EXPECT_EQ(GetLe16(video + 52), 64);           // rcFrame right
    EXPECT_EQ(GetLe16(video + 54), 48);           // rcFrame bottom

    const uint8_t* bitmap = FindChunk(file, "strf", 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(GetLe32(bitmap), 40u);
    EXPECT_EQ(GetLe32(bitmap + 4), 64u);
    EXPECT_EQ(GetLe32(bitmap + 8), 48u); // positive: bottom-up
    EXPECT_EQ(GetLe16(bitmap + 14), 24);
    EXPECT_EQ(GetLe32(bitmap + 16), 0u);
    EXPECT_EQ(GetLe32(bitmap + 20), 64u * 48 * 3);

    const uint8_t* timing = FindChunk(file, "strh", 1);
    ASSERT_NE(timing, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(timing), 8), "txtsDRAW");
    EXPECT_EQ(GetLe32(timing + 24), 25u);
    EXPECT_EQ(GetLe32(timing + 36), 4u);
    EXPECT_EQ(GetLe32(timing + 40), 0u);
    EXPECT_EQ(GetLe16(timing + 50), 48); // rcFrame top = height
    EXPECT_EQ(GetLe16(timing + 54), 68); // rcFrame bottom = height + 20
    const uint8_t* timingFormat = FindChunk(file, "strf", 1);
    ASSERT_NE(timingFormat, nullptr);
    EXPECT_EQ(GetLe32(timingFormat - 4), 4u);
    EXPECT_EQ(GetLe32(timingFormat), 4u);

    // Stream names: the size counts the name and its zero, not the pad byte after it.
    const uint8_t* videoName = FindChunk(file, "strn", 0);
    ASSERT_NE(videoName, nullptr);
    EXPECT_EQ(GetLe32(videoName - 4), 13u); // "Video Stream" + zero
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(videoName)), "Video Stream");
    const uint8_t* timingName = FindChunk(file, "strn", 1);
    ASSERT_NE(timingName, nullptr);
    EXPECT_EQ(GetLe32(timingName - 4), 14u); // "Timing Stream" + zero

    // The legacy index closes the file: 16 bytes per chunk, every chunk a key frame, or readers
    // that seek by it find nothing to start from.
    const std::string text(file.begin(), file.end());
    const size_t index = text.rfind("idx1");
    ASSERT_NE(index, std::string::npos);
    ASSERT_EQ(GetLe32(&file[index + 4]), 2u * 2 * 16);
    for (size_t entry = index + 8; entry < index + 8 + 4 * 16; entry += 16)
        EXPECT_EQ(GetLe32(&file[entry + 4]), 0x10u) << "index entry at " << entry;
}

TEST_F(AviFile, RecordingWithoutAnOutputDropsFramesQuietly) {
    for (const char* name : {"none.avi", "none.vlv", "none.wmv"}) {
        CQuillonFile recording(dir.File(name), 25, 64, 48, nullptr);
        EXPECT_FALSE(recording.IsOpen());
        const Bytes frame = test::PatternFrame(64, 48, 1);
        recording.WriteFrame(64, 48, frame.data(), 24, 1000, 1);
        EXPECT_EQ(recording.GetFramesWritten(), 0u) << name;
    }
}

TEST_F(AviFile, RecordingWithoutFramesHasBothStreamsAndNoSamples) {
    const std::string path = dir.File("empty.avi");
    { CQuillonFile recording(path, 25, 32, 16); }
    const std::string streams = Probe(path, "-show_entries stream=codec_type -of csv=p=0");
    EXPECT_EQ(test::Lines(streams), (std::vector<std::string>{"video", "subtitle"}));
    EXPECT_TRUE(test::DecodeBgr(path).empty());
}

TEST_F(AviFile, FramesThatDoNotMatchTheStreamFormatAreRefused) {
    const std::string path = dir.File("race.avi");
    {
        CQuillonFile recording(path, 25, 16, 8);
        Bytes frame = test::PatternFrame(16, 8, 0);
        recording.WriteFrame(16, 8, frame.data(), 24, 1, 1);
        recording.WriteFrame(8, 8, frame.data(), 24, 2, 2);  // other size
        recording.WriteFrame(16, 6, frame.data(), 32, 3, 3); // other depth
        EXPECT_EQ(recording.GetFramesWritten(), 1u);
        EXPECT_FALSE(recording.HasFailed());
    }
    EXPECT_EQ(
        Field(Probe(path, "-select_streams 0 -count_packets -show_streams"), "nb_read_packets"),
        "1");
}

TEST_F(AviFile, ExtensionDecidesTheKindWhateverItsCase) {
    const std::pair<const char*, FileKind> cases[] = {{"a.AVI", kFileAvi},     {"a.aVi", kFileAvi},
                                                      {"a.Wmv", kFileWmv},     {"a.vlv", kFileVlv},
                                                      {"a.avi.bak", kFileVlv}, {"vi", kFileVlv}};
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(CQuillonFile::KindForPath(path), kind) << path;
}

} // namespace
} // namespace quillon

namespace quillon {
namespace {

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
            const Bytes frame = test::PatternFrame(8, 4, i);
            ASSERT_TRUE(writer.WriteFrame(8, 4, frame.data(), 24, 1000 + 40 * i));
            written.insert(written.end(), frame.begin(), frame.end());
        }
        writer.Finish();
        ASSERT_TRUE(output.Close());
    }
    EXPECT_EQ(test::DecodeBgr(path), written);
    const test::CommandResult check =
        test::RunCommand(test::Quote(test::InspectTool()) + " --check " + test::Quote(path));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("RIFF segments: 3 (OpenDML, 6 frames in dmlh)"), std::string::npos)
        << check.output;
}

} // namespace
} // namespace quillon
