#pragma once

// Shared helpers for the recording tests: running the outside readers (ffprobe, ffmpeg,
// quillon-inspect), making frames and recordings.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
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

inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline std::string Quote(const std::string& path) { // our own paths hold no quotes
    return "'" + path + "'";
}

inline std::vector<std::string> Lines(const std::string& text) { // the non-empty ones
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

inline bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// ffprobe's output for the file, "-v error" and the given arguments.
inline std::string Probe(const std::string& path, const std::string& args) {
    return RunCommand("ffprobe -v error " + args + " " + Quote(path)).output;
}

// The built quillon-inspect with the given arguments; its error output is in the output too.
// A file that makes the tool loop forever fails the test rather than stopping the run.
inline CommandResult Inspect(const std::string& args) {
    return RunCommand("timeout 300 " + Quote(QUILLON_INSPECT_TOOL) + " " + args + " 2>&1");
}

// The file's video as FFmpeg decodes it: packed BGR, top-down, frame after frame.
inline Bytes DecodeBgr(const std::string& path) {
    const CommandResult r = RunCommand("ffmpeg -v error -i " + Quote(path) +
                                       " -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    return {r.output.begin(), r.output.end()};
}

// How many frames FFmpeg decodes from the whole file; -1 when it complains about any.
inline int DecodedFrames(const std::string& path) {
    const CommandResult r =
        RunCommand("ffmpeg -v error -xerror -i " + Quote(path) + " -map 0:v -f framecrc - 2>&1");
    int frames = 0;
    for (const std::string& line : Lines(r.output)) {
        if (line.find("rror") != std::string::npos)
            return -1;
        frames += line[0] != '#';
    }
    return r.exitCode == 0 ? frames : -1;
}

struct Packet {
    long ms;
    bool key;
};
// The video packets ffprobe reads: all of them, or from a seek to fromMs on.
inline std::vector<Packet> Packets(const std::string& path, long fromMs = -1) {
    const std::string seek = fromMs < 0 ? "" : "-read_intervals " + std::to_string(fromMs) + "ms% ";
    std::vector<Packet> packets;
    for (const std::string& line : Lines(Probe(
             path, "-select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 " + seek)))
        packets.push_back({std::lround(std::atof(line.c_str()) * 1000),
                           line.substr(line.find(',') + 1, 1) == "K"});
    return packets;
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
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
inline std::string CopyCut(const std::string& from, const std::string& to, uint64_t size) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, size);
    return to;
}

// A packed BGR frame of noise, the same for the same seed: frames and rows differ, so that a
// frame out of place or a flipped or shifted picture shows; it compresses badly, so that Windows
// Media frames are large and each looks like a scene cut.
inline Bytes Frame(uint32_t width, uint32_t height, uint32_t seed) {
    Bytes frame(size_t(width) * height * 3);
    std::minstd_rand random(seed + 1);
    for (uint8_t& b : frame)
        b = static_cast<uint8_t>(random() >> 8);
    return frame;
}
// count frames of noise one after another, frame i with its sequence number i + 1 in its first
// four bytes.
inline Bytes Frames(uint32_t width, uint32_t height, uint32_t count) {
    Bytes all = Frame(width, height * count, count);
    for (uint32_t i = 0; i < count; ++i)
        PutLe32(&all[size_t(width) * height * 3 * i], i + 1);
    return all;
}
// Offers those frames to the recording, frame i with time 1000 + 40 x i; returns them.
inline Bytes Offer(CQuillonFile& recording, uint32_t width, uint32_t height, uint32_t count) {
    const Bytes all = Frames(width, height, count);
    for (uint32_t i = 0; i < count; ++i)
        recording.WriteFrame(width, height, &all[size_t(width) * height * 3 * i], 24, 1000 + 40 * i,
                             i + 1);
    return all;
}

// Runs --repair on path and checks the result as a player would: FFmpeg decodes every frame
// without complaint (expected of them, unless -1), a seek to the last frame lands on a key frame
// at or before it (keyInterval: frames from one key frame to the next) and reads on to it, and
// --check calls the file sound. Returns the number of frames decoded.
inline int ExpectRepaired(const std::string& path, int expected, uint32_t rate,
                          uint32_t keyInterval) {
    const CommandResult repair = Inspect("--repair " + Quote(path));
    EXPECT_EQ(repair.exitCode, 0) << repair.output;
    const CommandResult check = Inspect("--check " + Quote(path));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    const int frames = DecodedFrames(path);
    EXPECT_TRUE(expected < 0 || frames == expected) << frames << " frames";
    if (frames <= 0)
        return frames;
    // A seek to the last frame's time lands on a key frame at or before it (FFmpeg's ASF reader
    // may take an earlier one than the nearest); reading on from there ends with the last frame.
    const long lastMs = long(frames - 1) * 1000 / rate;
    const long keyMs = long(frames - 1) / keyInterval * keyInterval * 1000 / rate;
    const std::vector<Packet> packets = Packets(path, lastMs);
    EXPECT_FALSE(packets.empty()) << "seek to " << lastMs << " ms found nothing";
    if (packets.empty())
        return frames;
    EXPECT_LE(packets.front().ms, keyMs);
    EXPECT_TRUE(packets.front().key);
    EXPECT_TRUE(keyInterval > 1 || packets.size() == 1);
    EXPECT_EQ(packets.back().ms, lastMs);
    return frames;
}

} // namespace quillon::test
