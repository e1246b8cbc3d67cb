#pragma once

#include <functional>
#include <memory>

#include "core/Recording.h"
#include "recording/LocalFileOutput.h"
#include "recording/QuillonFile.h"
#include "recording/SmbClient.h"
#include "recording/SmbFileOutput.h"

namespace quillon {

// A recording on a video file: the save path's view of CQuillonFile. An "smb://" path is a
// file on the host's share, any other a local file. The admission rule is the engine's, shared
// by its recordings in turn. The failure sink hears of the first failure of the file, on the
// thread that met it (a creation failure at once).
class QuillonFileRecording final : public Recording {
public:
    using FailureSink = std::function<void(const std::string& text)>;

    QuillonFileRecording(const std::string& path, uint32_t rate, uint32_t width, uint32_t height,
                         bool everyFrame, FrameAdmission& admission, FailureSink onFailure = {})
        : m_file(path, rate, width, height, MakeOutput(path), &admission) {
        if (everyFrame)
            m_file.SetEveryFrame();
        if (onFailure && m_file.HasFailed())
            onFailure(m_file.GetLastError());
        m_file.SetFailureSink(std::move(onFailure));
    }

    void WriteFrame(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bitsPerPixel,
                    uint32_t time, uint32_t sequence) override {
        m_file.WriteFrame(width, height, data, bitsPerPixel, time, sequence);
    }
    bool IsEveryFrame() const override { return m_file.IsEveryFrame(); }
    bool IsOpen() const override { return m_file.IsOpen(); }
    const std::string& Path() const override { return m_file.GetPath(); }
    bool HasFailed() const override { return m_file.HasFailed(); }
    std::string LastError() const override { return m_file.GetLastError(); }

private:
    static std::unique_ptr<IFileOutput> MakeOutput(const std::string& path) {
        if (IsSmbPath(path))
            return std::make_unique<SmbFileOutput>(path);
        return std::make_unique<LocalFileOutput>(path);
    }

    CQuillonFile m_file;
};

} // namespace quillon
