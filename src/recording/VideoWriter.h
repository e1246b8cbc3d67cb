#pragma once

// Encodes a Windows Media recording: Windows Media Video 8 (FFmpeg's wmv2) in an ASF file,
// written through an IFileOutput. A small state machine: StartRecording prepares encoder and
// muxer; the first frame fixes the input pixel format and begins writing; Finish completes the
// file. Any failure leaves its text in m_szLastError, finishes, and refuses every later frame.
//
// Sample times come from the frame count and the nominal rate (i x 1000 / rate ms); a clean
// point (key frame) falls on frames 0, 25, 50, ... exactly. Frames arrive top-down, packed.

#include <cstdint>
#include <string>

#include "recording/FileOutput.h"

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVStream;
struct AVIOContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace quillon {

class CVideoWriter {
public:
    static constexpr uint32_t kSuccess = 0;
    static constexpr uint32_t kFailure = 0x80004005; // the general failure status
    static constexpr uint32_t kCleanPointInterval = 25;
    static constexpr size_t kLastErrorBytes = 260;
    static constexpr size_t kMaxPathUnits = 1024; // UTF-16 units, terminator included
    // ASF data packets have this fixed size; a file cut at a packet boundary stays readable whole.
    static constexpr int64_t kAsfPacketBytes = 3200;
    static constexpr char kMethodSucceeded[] = "Method Succeeded";

    enum State : uint32_t { kNotReady = 0, kStarted = 1, kWriting = 2 };

    CVideoWriter();
    ~CVideoWriter();
    CVideoWriter(const CVideoWriter&) = delete;
    CVideoWriter& operator=(const CVideoWriter&) = delete;

    // Prepares a recording into output (which stays owned by the caller and must outlive this
    // writer's Finish). The state is kStarted on success, kNotReady on failure.
    void StartRecording(const std::string& path, IFileOutput* output, uint32_t rate, uint32_t width,
                        uint32_t height);
    // Returns kSuccess or kFailure.
    uint32_t WriteVideoFrame(uint32_t width, uint32_t height, const uint8_t* data,
                             uint16_t bitsPerPixel);
    void Finish();

    uint32_t GetState() const { return m_nState; }
    uint32_t GetFramesWritten() const { return m_framesWritten; }
    uint64_t GetNextSampleTime() const { return m_nextSampleTime; }
    // No failure so far: m_szLastError still says kMethodSucceeded.
    bool HasSucceeded() const;

    // "Method Succeeded", or the message of the latest failure; always terminated.
    char m_szLastError[kLastErrorBytes];

private:
    using FrameHandler = uint32_t (CVideoWriter::*)(uint32_t, uint32_t, const uint8_t*, uint16_t);
    static const FrameHandler kFrameHandlers[3];

    uint32_t RefuseFrame(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bits);
    uint32_t SetUpAndWriteFrame(uint32_t width, uint32_t height, const uint8_t* data,
                                uint16_t bits);
    uint32_t WriteFrameSample(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bits);

    bool ConfigureEncoder(uint32_t width, uint32_t height);
    bool SetInputType(uint32_t width, uint32_t height, uint16_t bits);
    const char* EncodeSample(const uint8_t* data); // null, or the failure's message
    bool DrainPackets();
    void SetLastError(const char* message);
    void Fail(const char* message); // copies the message and finishes
    void CutToWholePackets();
    void Release();

    // FFmpeg objects. The failure texts keep the names of the Windows Media steps they stand
    // in for: the encoder for the profile manager, its context for the profile, the muxer for
    // the writer, its stream for the video input.
    const AVCodec* m_codec = nullptr;     // the wmv2 encoder
    AVCodecContext* m_codecCtx = nullptr; // encoder settings and state
    AVFormatContext* m_muxer = nullptr;   // the ASF muxer
    AVStream* m_stream = nullptr;         // the muxer's video stream
    AVIOContext* m_io = nullptr;          // output "file name": the IFileOutput
    IFileOutput* m_output = nullptr;      // not owned
    SwsContext* m_converter = nullptr;    // input pixel format to the encoder's YUV 4:2:0
    AVFrame* m_frame = nullptr;           // the encoder's input picture, made once
    AVPacket* m_packet = nullptr;

    uint32_t m_videoInput = 0;
    uint32_t m_framesWritten = 0;
    uint64_t m_nextSampleTime = 0; // milliseconds
    uint32_t m_nRate = 1;
    uint32_t m_nState = kNotReady;
    uint64_t m_dataStart = 0; // file offset of the first ASF data packet

    // The input type that the first frame fixed.
    uint32_t m_inputWidth = 0;
    uint32_t m_inputHeight = 0;
    uint16_t m_inputBits = 0;
};

} // namespace quillon
