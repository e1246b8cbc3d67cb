#pragma once

// Shared helpers for the recording tests: running the outside readers (ffprobe, ffmpeg,
// quillon-inspect), making frames and recordings.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "recording/ByteFields.h"
#include "recording/LocalFileOutput.h"
#include "recording/QuillonFile.h"

namespace quillon::test {

using Bytes = std::vector<uint8_t>;

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output only, unless the command redirects
};
CommandResult RunCommand(const std::string& command);
inline std::string Quote(const std::string& path) { // our own paths hold no quotes
    return "'" + path + "'";
}
std::vector<std::string> Lines(const std::string& text);
bool HasLine(const std::string& text, const std::string& line);

// ffprobe's output for the file, "-v error" and the given arguments.
inline std::string Probe(const std::string& path, const std::string& args) {
    return RunCommand("ffprobe -v error " + args + " " + Quote(path)).output;
}
// The built quillon-inspect with the given arguments; its error output is in the output too.
CommandResult Inspect(const std::string& args);
// The file's video as FFmpeg decodes it: packed BGR, top-down, frame after frame.
Bytes DecodeBgr(const std::string& path);
// How many frames FFmpeg decodes from the whole file; -1 when it complains about any.
int DecodedFrames(const std::string& path);
struct Packet {
    long ms;
    bool key;
};
// The video packets ffprobe reads: all of them, or from a seek to fromMs on.
std::vector<Packet> Packets(const std::string& path, long fromMs = -1);

Bytes ReadBytes(const std::string& path);
// The value as a little-endian field of the given number of bytes.
inline std::string Le(uint64_t value, int bytes) {
    std::string field;
    for (int i = 0; i < bytes; ++i)
        field += char(value >> (8 * i));
    return field;
}
inline uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}
// Copies the first size bytes of from into to; returns to.
std::string CopyCut(const std::string& from, const std::string& to, uint64_t size);

// A packed BGR frame of noise, the same for the same seed: frames and rows differ, so that a
// frame out of place or a flipped or shifted picture shows; it compresses badly, so that Windows
// Media frames are large and each looks like a scene cut.
Bytes Frame(uint32_t width, uint32_t height, uint32_t seed);
// count frames one after another: frame i is Frame(seed i) with its sequence number i + 1 in its
// first four bytes.
Bytes Frames(uint32_t width, uint32_t height, uint32_t count);
// Offers those frames to the recording, frame i with time 1000 + 40 x i; returns them.
Bytes Offer(CQuillonFile& recording, uint32_t width, uint32_t height, uint32_t count);

// Runs --repair on path and checks the result as a player would: FFmpeg decodes every frame
// without complaint (expected of them, unless -1), a seek to the last frame lands on a key frame
// at or before it (keyInterval: frames from one key frame to the next) and reads on to it, and
// --check calls the file sound. Returns the number of frames decoded.
int ExpectRepaired(const std::string& path, int expected, uint32_t rate, uint32_t keyInterval);

} // namespace quillon::test
