// The process-wide admission rule, seen through what ends up in the files.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "recording/ByteFields.h"
#include "recording/FrameAdmission.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using Sequences = std::vector<uint32_t>;

// Frames of 4 x 1 bytes: a frame is exactly its sequence number, as the camera stamps it.
class Admission : public ::testing::Test {
protected:
    void SetUp() override { CQuillonFile::ResetAdmission(); }

    void Offer(CQuillonFile& recording, const Sequences& sequences) {
        for (uint32_t sequence : sequences) {
            uint8_t frame[4];
            PutLe32(frame, sequence);
            recording.WriteFrame(4, 1, frame, 8, 0);
        }
    }

    // Records the offered frames into a fresh ".vlv" and returns the sequence numbers it holds.
    Sequences Recorded(const Sequences& offered) {
        const std::string path = dir.File("run" + std::to_string(++m_runs) + ".vlv");
        {
            CQuillonFile recording(path, 25, 4, 1);
            Offer(recording, offered);
        }
        const std::vector<uint8_t> file = test::ReadBytes(path);
        Sequences held;
        for (size_t pos = 22 + 8; pos + 8 <= file.size(); pos += 8) // after the opening frame
            held.push_back(GetLe32(&file[pos]));
        return held;
    }

    test::TempDir dir;
    int m_runs = 0;
};

TEST_F(Admission, RepeatedAndOlderFramesAreDropped) {
    EXPECT_EQ(Recorded({1, 2, 2, 3, 1, 4}), (Sequences{1, 2, 3, 4}));
}

TEST_F(Admission, JumpOfExactly1500000PassesAndOneMoreIsDropped) {
    EXPECT_EQ(Recorded({10, 1500010, 3000011, 1500011}), (Sequences{10, 1500010, 1500011}));
    EXPECT_EQ(FrameAdmission::Rejections(), 0u);
}

TEST_F(Admission, FirstFrameOfTheProcessComparesWithZero) {
    EXPECT_EQ(Recorded({1500001}), Sequences{});
    EXPECT_EQ(FrameAdmission::Rejections(), 1u);
}

TEST_F(Admission, AfterTenRejectionsInARowTheNextFrameIsAdmittedWhateverItsJump) {
    Sequences offered = {100};
    for (uint32_t i = 0; i < 10; ++i)
        offered.push_back(5000000 + i);
    offered.push_back(9000000); // the eleventh: admitted, the count starts again
    offered.push_back(9000001);
    offered.push_back(1); // far below again: dropped and counted
    EXPECT_EQ(Recorded(offered), (Sequences{100, 9000000, 9000001}));
    EXPECT_EQ(FrameAdmission::Rejections(), 1u);
}

TEST_F(Admission, AfterTenRejectionsAnOlderFrameIsStillDroppedAndTheJumpTestResumes) {
    Sequences offered = {2000};
    for (uint32_t i = 0; i < 10; ++i)
        offered.push_back(4000000);
    offered.push_back(1000);    // passes the jump test, dropped as older; count back to 0
    offered.push_back(3000000); // the jump test applies again: dropped
    offered.push_back(2001);
    EXPECT_EQ(Recorded(offered), (Sequences{2000, 2001}));
    EXPECT_EQ(FrameAdmission::Rejections(), 0u);
    EXPECT_EQ(FrameAdmission::LastSequence(), 2001u);
}

TEST_F(Admission, StateCarriesOverFromOneRecordingToTheNext) {
    EXPECT_EQ(Recorded({5, 6, 7}), (Sequences{5, 6, 7}));
    EXPECT_EQ(Recorded({6, 7, 8}), (Sequences{8}));
}

TEST_F(Admission, GivenSequenceNumberIsUsedInsteadOfTheFramesBytes) {
    const std::string path = dir.File("given.vlv");
    CQuillonFile recording(path, 25, 4, 1);
    const uint8_t frame[4] = {0xFF, 0xFF, 0xFF, 0x7F}; // would read as a huge jump
    recording.WriteFrame(4, 1, frame, 8, 0, 1);
    recording.WriteFrame(4, 1, frame, 8, 0, 2);
    recording.WriteFrame(4, 1, frame, 8, 0, 2);
    EXPECT_EQ(recording.GetFramesWritten(), 2u);
    EXPECT_EQ(FrameAdmission::LastSequence(), 2u);
}

TEST_F(Admission, EveryFrameModeAdmitsRepeatsAndOlderFramesButNotWildJumps) {
    const std::string path = dir.File("all.wmv");
    CQuillonFile recording(path, 25, 64, 48);
    recording.SetEveryFrame();
    EXPECT_EQ(recording.GetKind(), kFileWmvAll);
    EXPECT_TRUE(recording.IsEveryFrame());
    const std::vector<uint8_t> frame = test::PatternFrame(64, 48, 0);
    for (uint32_t sequence : {5u, 5u, 3u, 1500003u, 3000004u})
        recording.WriteFrame(64, 48, frame.data(), 24, 0, sequence);
    EXPECT_EQ(recording.GetFramesWritten(), 4u); // all but the last jump, 1,500,001
    EXPECT_EQ(FrameAdmission::LastSequence(), 1500003u);
}

TEST_F(Admission, OnlyWindowsMediaRecordingsTakeEveryFrameMode) {
    CQuillonFile wmv(dir.File("a.wmv"), 25, 64, 48);
    EXPECT_EQ(wmv.GetKind(), kFileWmv);
    EXPECT_FALSE(wmv.IsEveryFrame());

    // An AVI or container recording stays what it is: it must still be finished as such.
    CQuillonFile avi(dir.File("a.avi"), 25, 4, 4);
    avi.SetEveryFrame();
    EXPECT_EQ(avi.GetKind(), kFileAvi);
    EXPECT_FALSE(avi.IsEveryFrame());
    CQuillonFile vlv(dir.File("a.vlv"), 25, 4, 1);
    vlv.SetEveryFrame();
    EXPECT_EQ(vlv.GetKind(), kFileVlv);
    EXPECT_EQ(Recorded({1, 1}), (Sequences{1}));
}

} // namespace
} // namespace quillon
