#pragma once

// Constants and the header layout of our AVI files: a "Video Stream" of uncompressed 24-bit BGR
// rows bottom-up in 00db chunks and a "Timing Stream" (txts/DRAW) holding each frame's time as
// 32-bit little-endian in 01tx chunks. Past 1 GiB the file continues as OpenDML (AVI 2.0).

#include <cstdint>
#include <vector>

#include "recording/ByteFields.h"

namespace quillon::avi {

constexpr FourCC kRiff = MakeFourCC("RIFF");
constexpr FourCC kList = MakeFourCC("LIST");
constexpr FourCC kJunk = MakeFourCC("JUNK");
constexpr FourCC kFormAvi = MakeFourCC("AVI ");
constexpr FourCC kFormAvix = MakeFourCC("AVIX");
constexpr FourCC kHdrl = MakeFourCC("hdrl");
constexpr FourCC kAvih = MakeFourCC("avih");
constexpr FourCC kStrl = MakeFourCC("strl");
constexpr FourCC kStrh = MakeFourCC("strh");
constexpr FourCC kStrf = MakeFourCC("strf");
constexpr FourCC kStrn = MakeFourCC("strn");
constexpr FourCC kIndx = MakeFourCC("indx");
constexpr FourCC kOdml = MakeFourCC("odml");
constexpr FourCC kDmlh = MakeFourCC("dmlh");
constexpr FourCC kMovi = MakeFourCC("movi");
constexpr FourCC kIdx1 = MakeFourCC("idx1");
constexpr FourCC kVids = MakeFourCC("vids");
constexpr FourCC kTxts = MakeFourCC("txts");
constexpr FourCC kDraw = MakeFourCC("DRAW");

constexpr int kStreamCount = 2;
constexpr int kVideo = 0;
constexpr int kTiming = 1;
constexpr FourCC kChunkId[kStreamCount] = {MakeFourCC("00db"), MakeFourCC("01tx")};
constexpr FourCC kStandardIndexId[kStreamCount] = {MakeFourCC("ix00"), MakeFourCC("ix01")};
constexpr char kVideoStreamName[] = "Video Stream";
constexpr char kTimingStreamName[] = "Timing Stream";

constexpr uint32_t kChunkHeaderBytes = 8;
constexpr uint32_t kListHeaderBytes = 12;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyFrame = 0x10;
constexpr uint32_t kDefaultQuality = 0xFFFFFFFF;
constexpr uint32_t kBitmapInfoHeaderBytes = 40;
constexpr uint16_t kBitCount = 24;
constexpr uint32_t kTimingFormatValue = 4;
constexpr uint32_t kTimeBytes = 4;
constexpr int16_t kTimingFrameExtraHeight = 20;

// Every RIFF segment stays within 1 GiB, so that strict readers with signed 32-bit sizes cope.
constexpr uint64_t kMaxRiffBytes = uint64_t(1) << 30;
// OpenDML super index: one slot per RIFF segment, reserved in the header.
constexpr uint32_t kSuperIndexSlots = 256;
constexpr uint32_t kSuperIndexHeaderBytes = 24;
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kSuperIndexBytes =
    kSuperIndexHeaderBytes + kSuperIndexSlots * kSuperIndexEntryBytes;
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
// Standard (per-segment) index: reserved at the start of each segment's movi list.
constexpr uint32_t kStandardIndexHeaderBytes = 24;
constexpr uint32_t kStandardIndexEntryBytes = 8;
constexpr uint32_t kMaxFramesPerSegment = 16384;
constexpr uint32_t kLegacyIndexEntryBytes = 16;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kOdmlListBytes = 4 + kChunkHeaderBytes + kDmlhBytes;

struct StreamGeometry {
    uint32_t rate = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowBytes = 0;    // a BGR row padded to 4 bytes
    uint32_t sampleBytes = 0; // rowBytes x height
};
StreamGeometry MakeGeometry(uint32_t rate, uint32_t width, uint32_t height);

// File offsets of the header fields that are only known when the recording ends.
struct HeaderFields {
    uint64_t avihFlags = 0;
    uint64_t avihTotalFrames = 0;
    uint64_t streamLength[kStreamCount] = {};
    uint64_t superIndex[kStreamCount] = {}; // the reserved JUNK chunk that becomes "indx"
    uint64_t odml = 0;                      // the reserved JUNK chunk that becomes "LIST odml"
};

// Builds the first RIFF's header, everything before the first movi list: the RIFF and hdrl
// lists, avih, both stream lists, and the reserved OpenDML space. RIFF size and counts are 0.
std::vector<uint8_t> BuildHeader(const StreamGeometry& geometry, HeaderFields& fields);

} // namespace quillon::avi
