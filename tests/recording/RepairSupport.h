#pragma once

// Helpers for the repair tests: cutting files short, and the outside readers' view of a
// repaired file.

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::test {

// Copies the first size bytes of from into to.
void CopyCut(const std::string& from, const std::string& to, uint64_t size);
void WriteBytes(const std::string& path, const std::string& bytes);

// Runs --repair on path and checks the result as a player would: ffprobe counts the frames
// (expected, unless -1), seeking to the last frame lands on the last key frame at or before it
// (keyInterval: frames from one key frame to the next), and --check calls the file sound.
// Returns the number of frames ffprobe counted.
uint32_t ExpectRepaired(const std::string& path, int64_t expected, uint32_t rate,
                        uint32_t keyInterval);

// Where a Windows Media file's data packets start, and the packet each frame begins in.
struct AsfLayout {
    uint64_t dataStart = 0;
    std::vector<uint64_t> framePackets;
};
AsfLayout ReadAsfLayout(const std::string& path, uint64_t packetBytes);

} // namespace quillon::test
