#include "PerformanceLog.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace quillon {
namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr size_t kBufferBytes = 64 * 1024;
constexpr auto kFlushInterval = std::chrono::seconds(1);

// Each column runs from one stamp to another.
struct Column {
    PerformanceLog::Stamp from;
    PerformanceLog::Stamp to;
};
constexpr std::array<Column, PerformanceLog::kColumns> kColumnStamps{{
    {PerformanceLog::kFrameStart, PerformanceLog::kFrameEnd},
    {PerformanceLog::kRgbStart, PerformanceLog::kRgbEnd},
    {PerformanceLog::kReduceStart, PerformanceLog::kReduceEnd},
    {PerformanceLog::kAdjustStart, PerformanceLog::kAdjustEnd},
    {PerformanceLog::kMeanStart, PerformanceLog::kMeanEnd},
    {PerformanceLog::kShowStart, PerformanceLog::kShowEnd},
    {PerformanceLog::kSaveStart, PerformanceLog::kSaveEnd},
}};

std::string ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return ".";
}

// A positive finite frame rate gives whole frames per second and milliseconds per frame; any
// other value gives 0 for both rather than a number the conversion cannot hold.
int64_t WholeFramesPerSecond(float rate) {
    return std::isfinite(rate) && rate > 0.0f && rate < 1e9f ? int64_t(rate) : 0;
}
int64_t MillisecondsPerFrame(float rate) {
    return std::isfinite(rate) && rate > 0.0f ? int64_t(1000.0 / double(rate)) : 0;
}

} // namespace

PerformanceLog::~PerformanceLog() {
    Close();
}

std::string PerformanceLog::DefaultDirectory() {
    return HomeFolder() + "/Orlin";
}

std::string PerformanceLog::FileName(const CameraSettings& camera) {
    return "Time test " + std::to_string(camera.Width) + "x" + std::to_string(camera.Height) +
           ", fps " + std::to_string(WholeFramesPerSecond(camera.Framerate)) + ", reduction " +
           std::to_string(camera.Reduction) + ".csv";
}

bool PerformanceLog::Create(const AppSettings& app, const CameraSettings& camera,
                            const std::string& directory) {
    if (app.SavePerformanceLog == 0)
        return false;
    Close();
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    m_path = directory + "/" + FileName(camera);
    m_file = std::fopen(m_path.c_str(), "wb");
    if (m_file == nullptr)
        return false;
    m_buffer = std::make_unique<char[]>(kBufferBytes);
    std::setvbuf(m_file, m_buffer.get(), _IOFBF, kBufferBytes);

    // The counter is the steady clock; its counts per second, low 32 bits, signed.
    using Period = Clock::period;
    const auto countsPerSecond = int32_t(uint32_t(Period::den / Period::num));
    std::string header;
    header += "Computer name\t" + ComputerName() + kLineEnd;
    header += "CPU frequency\t" + std::to_string(countsPerSecond) + kLineEnd;
    header += std::string("Time unit\tmillisecond") + kLineEnd;
    header += std::string("Milliseconds per frame") + kLineEnd;
    header += std::to_string(MillisecondsPerFrame(camera.Framerate)) + kLineEnd;
    header += std::string("Total time\tRgb conversion\tReduction frame time\tAdjustment time\t") +
              "Calculation time\tShow frame time\tSave frame time" + kLineEnd;
    std::fwrite(header.data(), 1, header.size(), m_file);
    std::fflush(m_file);
    m_lastFlush = Clock::now();
    return true;
}

void PerformanceLog::Append(Stamps stamps) {
    if (m_file == nullptr)
        return;
    // Seven numbers of at most 11 characters, six tabs and the line end.
    std::array<char, kColumns * 12 + 2> line{};
    char* at = line.data();
    char* const end = line.data() + line.size();
    for (size_t i = 0; i < kColumns; ++i) {
        const auto elapsed = stamps[kColumnStamps[i].to] - stamps[kColumnStamps[i].from];
        // duration_cast truncates toward zero, as whole milliseconds of the counter do.
        m_durations[i] =
            int32_t(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
        if (i > 0)
            *at++ = '\t';
        at = std::to_chars(at, end, m_durations[i]).ptr;
    }
    *at++ = '\r';
    *at++ = '\n';
    std::fwrite(line.data(), 1, size_t(at - line.data()), m_file);
    if (stamps[kFrameEnd] - m_lastFlush >= kFlushInterval)
        Flush();
}

void PerformanceLog::Flush() {
    if (m_file == nullptr)
        return;
    std::fflush(m_file);
    m_lastFlush = Clock::now();
}

void PerformanceLog::Close() {
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = nullptr;
    m_buffer.reset();
}

} // namespace quillon
