// The own container and the frame-time trailer, byte for byte.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "recording/FrameTimeTrailer.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using test::ReadBytes;
using Bytes = std::vector<uint8_t>;

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

class VlvFormat : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(VlvFormat, EmptyRecordingIsHeaderAndWhiteOpeningFrameWithTimeOne) {
    const std::string path = dir.File("race.vlv");
    { CQuillonFile recording(path, 25, 640, 480); }
    const Bytes file = ReadBytes(path);
    const Bytes header = {0x00, 0x00, 0x00, 0x16, 0x01, 0x00, 0x00, 0x02, 0x02, 0x80, 0x02,
                          0x00, 0x00, 0x02, 0x01, 0xE0, 0x03, 0x00, 0x00, 0x02, 0x00, 0x19};
    ASSERT_EQ(file.size(), 22u + 640 * 480 + 4);
    EXPECT_EQ(Slice(file, 0, 22), header);
    EXPECT_EQ(Slice(file, 22, 640 * 480), Bytes(640 * 480, 0xFF));
    EXPECT_EQ(Slice(file, 22 + 640 * 480, 4), (Bytes{1, 0, 0, 0}));

    // Values beyond 16 bits keep their low 16.
    { CQuillonFile wide(dir.File("wide.vlv"), 300, 65537, 1); }
    const Bytes wideFile = ReadBytes(dir.File("wide.vlv"));
    ASSERT_EQ(wideFile.size(), 22u + 65537 + 4);
    EXPECT_EQ(Slice(wideFile, 8, 2), (Bytes{0x00, 0x01}));  // 65537 & 0xFFFF
    EXPECT_EQ(Slice(wideFile, 20, 2), (Bytes{0x01, 0x2C})); // 300
}

// Each record is the frame's first width x height bytes, then the time little-endian; a frame
// of another size is left out, or a reader would lose every frame after it.
TEST_F(VlvFormat, FrameRecordsArePixelBytesThenLittleEndianTime) {
    const std::string path = dir.File("race.vlv");
    const Bytes grey = {0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB};
    Bytes colour(3 * 2 * 3);
    for (size_t i = 0; i < colour.size(); ++i)
        colour[i] = static_cast<uint8_t>(i + 1);
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

Bytes TrailerBytes(const std::vector<uint32_t>& times) {
    Bytes bytes;
    auto le32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (uint32_t t : times)
        le32(t);
    le32(static_cast<uint32_t>(times.size()));
    bytes.insert(bytes.end(), {'V', 'L', 'W', 'M', 'V'});
    return bytes;
}

TEST_F(VlvFormat, WindowsMediaTrailerHoldsEveryTimeInFrameOrderAfterTheVideo) {
    const std::string empty = dir.File("empty.wmv");
    { CQuillonFile recording(empty, 25, 64, 48); }
    EXPECT_EQ(ReadBytes(empty), TrailerBytes({})); // nothing but the nine trailer bytes

    const std::string path = dir.File("race.WMV");
    {
        CQuillonFile recording(path, 25, 64, 48);
        Bytes frame = test::PatternFrame(64, 48, 1);
        uint32_t sequence = 1;
        for (uint32_t time : {500u, 300u, 300u, 900u})
            recording.WriteFrame(64, 48, frame.data(), 24, time, sequence++);
    }
    const Bytes file = ReadBytes(path);
    const Bytes expected = TrailerBytes({500, 300, 300, 900});
    ASSERT_GT(file.size(), expected.size());
    EXPECT_EQ(Slice(file, file.size() - expected.size(), expected.size()), expected);
    const Bytes asfHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    EXPECT_EQ(Slice(file, 0, 8), asfHeaderGuid);
}

TEST_F(VlvFormat, TrailerThatDoesNotFitLeavesTheFileAsItWas) {
    const std::string path = dir.File("video.bin");
    test::SizeLimitedOutput output(path, 100);
    const Bytes video(90, 0x55);
    ASSERT_TRUE(output.Write(video.data(), video.size()));
    std::string error;
    EXPECT_FALSE(AppendFrameTimeTrailer(output, {1, 2, 3}, &error)); // needs 21 bytes
    EXPECT_NE(error.find("No space"), std::string::npos);
    output.Close();
    EXPECT_EQ(ReadBytes(path), video);
}

} // namespace
} // namespace quillon
