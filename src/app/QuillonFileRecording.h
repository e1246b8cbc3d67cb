#pragma once

#include <memory>

#include "core/Recording.h"
#include "recording/LocalFileOutput.h"
#include "recording/QuillonFile.h"

namespace quillon {

// A recording on a video file: the save path's view of CQuillonFile. The admission rule is the
// engine's, shared by its recordings in turn.
class QuillonFileRecording final : public Recording {
public:
    QuillonFileRecording(const std::string& path, uint32_t rate, uint32_t width, uint32_t height,
                         bool everyFrame, FrameAdmission& admission)
        : m_file(path, rate, width, height, std::make_unique<LocalFileOutput>(path), &admission) {
        if (everyFrame) m_file.SetEveryFrame();
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
    CQuillonFile m_file;
};

}  // namespace quillon
