#pragma once

// Shared helpers for the recording tests: temporary folders, running the outside readers
// (ffprobe, ffmpeg, quillon-inspect), reading files back, making frames.

#include <cstdint>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "recording/LocalFileOutput.h"

namespace quillon::test {

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output only, unless the command redirects
};
CommandResult RunCommand(const std::string& command);
std::string Quote(const std::string& text);
std::vector<std::string> Lines(const std::string& text);
// The value of "key=value" lines as ffprobe's default writer prints them; empty if missing.
std::string Field(const std::string& text, const std::string& key);

// ffprobe's output for the file, "-v error" and the given arguments.
std::string Probe(const std::string& path, const std::string& args);
// The file's video as FFmpeg decodes it: packed BGR, top-down, frame after frame.
std::vector<uint8_t> DecodeBgr(const std::string& path);
// How many frames FFmpeg decodes from the whole file; -1 when it complains about any.
int DecodedFrames(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);
uint64_t FileSize(const std::string& path);
std::string InspectTool(); // the built quillon-inspect program

// A packed BGR frame, top-down, whose every pixel depends on (x, y, seed), so that frames and
// rows differ and a flipped or shifted picture shows.
std::vector<uint8_t> PatternFrame(uint32_t width, uint32_t height, uint32_t seed);
// A packed BGR frame of noise, the same for the same seed; it compresses badly, so that
// Windows Media frames are large too.
std::vector<uint8_t> NoiseFrame(uint32_t width, uint32_t height, uint32_t seed);
// A frame of four coloured quarters: top-left red, top-right green, bottom-left blue,
// bottom-right white; bytesPerPixel 3 (BGR) or 4 (BGRX).
std::vector<uint8_t> QuarterFrame(uint32_t width, uint32_t height, uint32_t bytesPerPixel);

// A local file that behaves as if the disk held only limit bytes of it: a write that would end
// beyond the limit writes what fits and fails with "No space left on device".
class SizeLimitedOutput final : public IFileOutput {
public:
    SizeLimitedOutput(const std::string& path, uint64_t limit) : m_file(path), m_limit(limit) {}
    void SetLimit(uint64_t limit) { m_limit = limit; }
    bool IsOpen() const override { return m_file.IsOpen(); }
    bool Write(const void* data, size_t size) override;
    bool Seek(int64_t offset, SeekOrigin origin) override { return m_file.Seek(offset, origin); }
    uint64_t Tell() const override { return m_file.Tell(); }
    bool Flush() override { return m_file.Flush(); }
    bool Truncate(uint64_t size) override { return m_file.Truncate(size); }
    bool Close() override { return m_file.Close(); }
    bool HasFailed() const override { return m_bFailed || m_file.HasFailed(); }
    std::string LastError() const override;

private:
    LocalFileOutput m_file;
    uint64_t m_limit;
    bool m_bFailed = false;
};

} // namespace quillon::test
