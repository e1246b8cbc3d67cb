#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::string Field(const std::string& text, const std::string& key) {
    for (const std::string& line : Lines(text))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

std::string Probe(const std::string& path, const std::string& args) {
    return RunCommand("ffprobe -v error " + args + " " + Quote(path)).output;
}

std::vector<uint8_t> DecodeBgr(const std::string& path) {
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

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

std::string InspectTool() {
    return QUILLON_INSPECT_TOOL;
}

std::vector<uint8_t> PatternFrame(uint32_t width, uint32_t height, uint32_t seed) {
    std::vector<uint8_t> frame(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &frame[(size_t(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 7 + seed);
            p[1] = static_cast<uint8_t>(y * 13 + seed * 3);
            p[2] = static_cast<uint8_t>((x ^ y) + seed * 11);
        }
    return frame;
}

std::vector<uint8_t> NoiseFrame(uint32_t width, uint32_t height, uint32_t seed) {
    std::vector<uint8_t> frame(size_t(width) * height * 3);
    std::minstd_rand random(seed + 1);
    for (uint8_t& b : frame)
        b = static_cast<uint8_t>(random() >> 8);
    return frame;
}

std::vector<uint8_t> QuarterFrame(uint32_t width, uint32_t height, uint32_t bytesPerPixel) {
    std::vector<uint8_t> frame(size_t(width) * height * bytesPerPixel, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &frame[(size_t(y) * width + x) * bytesPerPixel];
            const bool top = y < height / 2, left = x < width / 2;
            uint8_t b = 0, g = 0, r = 0;
            if (top && left)
                r = 255;
            else if (top)
                g = 255;
            else if (left)
                b = 255;
            else
                b = g = r = 255;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    return frame;
}

bool SizeLimitedOutput::Write(const void* data, size_t size) {
    const uint64_t pos = m_file.Tell();
    if (pos + size <= m_limit)
        return m_file.Write(data, size);
    if (pos < m_limit)
        m_file.Write(data, size_t(m_limit - pos));
    m_file.Flush();
    m_bFailed = true;
    return false;
}

std::string SizeLimitedOutput::LastError() const {
    return m_bFailed ? "cannot write: No space left on device" : m_file.LastError();
}

} // namespace quillon::test
