#include "TestSupport.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace quillon::test {

CommandResult RunCommand(const std::string& command) {
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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

CommandResult Inspect(const std::string& args) {
    // A file that makes the tool loop forever fails the test rather than stopping the run.
    return RunCommand("timeout 300 " + Quote(QUILLON_INSPECT_TOOL) + " " + args + " 2>&1");
}

Bytes DecodeBgr(const std::string& path) {
    const CommandResult r = RunCommand("ffmpeg -v error -i " + Quote(path) +
                                       " -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    return {r.output.begin(), r.output.end()};
}

int DecodedFrames(const std::string& path) {
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

std::vector<Packet> Packets(const std::string& path, long fromMs) {
    const std::string seek = fromMs < 0 ? "" : "-read_intervals " + std::to_string(fromMs) + "ms% ";
    std::vector<Packet> packets;
    for (const std::string& line : Lines(Probe(
             path, "-select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 " + seek)))
        packets.push_back({std::lround(std::atof(line.c_str()) * 1000),
                           line.substr(line.find(',') + 1, 1) == "K"});
    return packets;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string CopyCut(const std::string& from, const std::string& to, uint64_t size) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, size);
    return to;
}

Bytes Frame(uint32_t width, uint32_t height, uint32_t seed) {
    Bytes frame(size_t(width) * height * 3);
    std::minstd_rand random(seed + 1);
    for (uint8_t& b : frame)
        b = static_cast<uint8_t>(random() >> 8);
    return frame;
}

Bytes Frames(uint32_t width, uint32_t height, uint32_t count) {
    Bytes all;
    for (uint32_t i = 0; i < count; ++i) {
        Bytes frame = Frame(width, height, i);
        PutLe32(frame.data(), i + 1);
        all.insert(all.end(), frame.begin(), frame.end());
    }
    return all;
}

Bytes Offer(CQuillonFile& recording, uint32_t width, uint32_t height, uint32_t count) {
    const Bytes all = Frames(width, height, count);
    for (uint32_t i = 0; i < count; ++i)
        recording.WriteFrame(width, height, &all[size_t(width) * height * 3 * i], 24, 1000 + 40 * i,
                             i + 1);
    return all;
}

int ExpectRepaired(const std::string& path, int expected, uint32_t rate, uint32_t keyInterval) {
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
