#pragma once

// Writes one AVI recording through an IFileOutput. Frames arrive as packed 24-bit BGR rows
// top-down; they are stored bottom-up with rows padded to 4 bytes, as AVI readers expect of a
// positive-height bitmap. Each frame is followed by its time in the timing stream.
//
// Layout: RIFF "AVI " { hdrl, movi, idx1 }, then, past 1 GiB, RIFF "AVIX" { movi } segments
// with OpenDML indexes (indx super index in each stream header, ix00/ix01 per segment, dmlh).
// The first segment's ix00/ix01 follow its frames when the file grows past it; every further
// segment reserves their space at the start of its movi list, so that closing it rewrites bytes
// in place and needs no free disk space.
//
// What a reader finds if the recording never finishes (power loss, crash): the RIFF and movi
// sizes are 0, which FFmpeg reads as "to the end of the file", so every frame that reached the
// disk plays, without index and counts. Once the file has passed 1 GiB, the headers and indexes
// describe every closed segment. After a failed write (full disk) the file is cut back to the
// last whole frame and finished at once: valid headers and, where space allows, an idx1 index.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/AviFormat.h"
#include "recording/FileOutput.h"

namespace quillon {

class AviWriter {
public:
    // framesPerSegment: at most this many frames per RIFF segment (fewer than the 1 GiB bound
    // allows only where a small OpenDML file is wanted, as a test or fuzz seed).
    explicit AviWriter(IFileOutput& output, uint32_t framesPerSegment = avi::kMaxFramesPerSegment)
        : m_output(output), m_framesPerSegment(framesPerSegment) {}

    bool Create(uint32_t rate, uint32_t width, uint32_t height);
    // Frames must match the recording: its width and height, 24 bits per pixel. Others are
    // refused, since the stream format fixes what every sample holds.
    bool WriteFrame(uint32_t width, uint32_t height, const uint8_t* bgrTopDown,
                    uint16_t bitsPerPixel, uint32_t time);
    // Completes indexes and headers. Safe to call more than once.
    void Finish();

    bool HasFailed() const { return m_failed; }
    const std::string& LastError() const { return m_error; }

private:
    struct Segment {
        uint64_t riffStart = 0;                      // offset of "RIFF"
        uint64_t moviStart = 0;                      // offset of "LIST" ... "movi"
        uint64_t indexStart[avi::kStreamCount] = {}; // the ix00/ix01 chunks
        uint32_t indexBytes = 0;                     // size of each, chunk head included
        uint32_t frames = 0;
    };

    bool StartSegment();
    bool FitsInSegment() const;
    bool WriteFrameChunks(const uint8_t* bgrTopDown, uint32_t time);
    bool CloseSegment();
    bool WriteStandardIndexes(Segment& segment);
    bool WriteStandardIndex(const Segment& segment, int stream, uint32_t chunkBytes);
    bool WriteLegacyIndex();
    void UpdateHeaders();
    bool WriteSuperIndex(int stream);
    bool PatchLe32(uint64_t offset, uint32_t value);
    bool WriteZeros(uint64_t count);
    bool Fail(const std::string& text);

    IFileOutput& m_output;
    avi::StreamGeometry m_geometry;
    avi::HeaderFields m_fields;
    const uint32_t m_framesPerSegment;
    uint32_t m_indexCapacity = 0; // frames per segment, bounded by the reserved index space

    std::array<Segment, avi::kSuperIndexSlots> m_segments{};
    uint32_t m_segmentCount = 0; // segments started
    bool m_segmentOpen = false;
    bool m_openDml = false; // the file has or had more than one RIFF segment
    bool m_hasLegacyIndex = false;
    // Offsets of the current segment's video chunks, from its "movi" code; made once.
    std::vector<uint32_t> m_entries;
    // The pieces of one frame record for a gathered write: chunk head, rows, padding, time.
    std::vector<ConstBuffer> m_parts;

    uint64_t m_appendPos = 0; // end of the whole frames written so far
    uint32_t m_nFrames = 0;
    uint32_t m_firstRiffFrames = 0;
    bool m_created = false;
    bool m_finished = false;
    bool m_failed = false;
    std::string m_error;
};

} // namespace quillon
