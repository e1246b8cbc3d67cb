#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "AppSettings.h"
#include "CameraSettings.h"

namespace quillon {

// The timing record of one run: a tab-separated text file with a header describing the machine
// and the frame rate, then one line per processed frame with the durations of the frame
// handler's stages in whole milliseconds.
//
// The file stays open for the whole run and lines go through a buffer that is written out at
// least once a second (by the next line after a second, and by Flush, which the owner calls
// from a one-second timer), so a frame costs a few formatted bytes and no file access.
//
// Threads: user-interface thread only, like the frame handler that feeds it.
class PerformanceLog {
public:
    using Clock = std::chrono::steady_clock;
    // The frame handler's stamps in the order it takes them: frame start, a start and an end
    // for each stage (conversion, reduction, adjustment, automatic brightness, preview, intake),
    // frame end.
    enum Stamp {
        kFrameStart,
        kRgbStart,
        kRgbEnd,
        kReduceStart,
        kReduceEnd,
        kAdjustStart,
        kAdjustEnd,
        kMeanStart,
        kMeanEnd,
        kShowStart,
        kShowEnd,
        kSaveStart,
        kSaveEnd,
        kFrameEnd,
        kStampCount
    };
    static constexpr size_t kColumns = 7;
    using Stamps = std::span<const Clock::time_point, kStampCount>;

    PerformanceLog() = default;
    ~PerformanceLog();
    PerformanceLog(const PerformanceLog&) = delete;
    PerformanceLog& operator=(const PerformanceLog&) = delete;

    // "Orlin" in the user's home folder.
    static std::string DefaultDirectory();
    // "Time test 800x400, fps 16, reduction 1.csv" for the camera settings of the moment.
    static std::string FileName(const CameraSettings& camera);

    // With SavePerformanceLog 0 does nothing. Otherwise creates `directory` when it is missing,
    // creates (or empties) the file and writes its header. False when the file could not be
    // had: the log then stays closed and every line is dropped.
    bool Create(const AppSettings& app, const CameraSettings& camera,
                const std::string& directory = DefaultDirectory());
    // One line for a processed frame. Nothing when the log is closed.
    void Append(Stamps stamps);
    // Writes the buffered lines to the file.
    void Flush();

    bool IsOpen() const { return m_file != nullptr; }
    const std::string& Path() const { return m_path; }
    // The last line's durations in column order.
    const std::array<int32_t, kColumns>& Durations() const { return m_durations; }

private:
    void Close();

    std::FILE* m_file = nullptr;
    std::unique_ptr<char[]> m_buffer; // the file's write buffer, made once
    std::string m_path;
    std::array<int32_t, kColumns> m_durations{};
    Clock::time_point m_lastFlush{};
};

} // namespace quillon
