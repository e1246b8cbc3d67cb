#pragma once

// One recording: a video file that receives the frames around the arrivals, each with its race
// time. The kind follows the path's extension (".avi" AVI, ".wmv" Windows Media, anything else
// the own ".vlv" container); deleting the object finishes the file.
//
// Toward frames the recording is silent, as the save path expects: a frame that cannot be
// written is dropped. An owner that wants to know asks IsOpen(), HasFailed() and GetLastError().
//
// Threads: constructed and deleted on the user-interface thread; WriteFrame runs on the save
// worker or the user-interface thread, one at a time, never during deletion (the save path
// hands the recording over). The status queries may be called from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recording/FileOutput.h"
#include "recording/FrameAdmission.h"
#include "settings/AppSettings.h"

namespace quillon {

class VlvWriter;
class AviWriter;
class CVideoWriter;

class CQuillonFile {
public:
    // Creates (or truncates) the file at path on the local disk.
    CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height);
    // Writes through the given output (for example a file on a remote share); path names it.
    // Frames are admitted by the given rule, which must outlive the recording; without one, by
    // a fresh rule of the recording's own.
    CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height,
                 std::unique_ptr<IFileOutput> output, FrameAdmission* admission = nullptr);
    virtual ~CQuillonFile();
    CQuillonFile(const CQuillonFile&) = delete;
    CQuillonFile& operator=(const CQuillonFile&) = delete;

    // Called right after construction for the "WMV (ALL)" file type: every frame is recorded,
    // repeats included, and no frame-time trailer is written. Meaningful for ".wmv" paths only;
    // other kinds keep their kind and their admission rule.
    void SetEveryFrame();
    bool IsEveryFrame() const;

    // Frame: packed pixel rows top-down, width x height x bitsPerPixel / 8 bytes, with the
    // camera's sequence number, which decides whether the frame is admitted.
    void WriteFrame(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bitsPerPixel,
                    uint32_t time, uint32_t sequence);

    // Copies the path into buffer, at most bufferSize - 1 characters, terminated; returns 0.
    int GetPath(char* buffer, size_t bufferSize) const;
    const std::string& GetPath() const { return m_strPath; }

    uint16_t GetKind() const { return m_nKind.load(std::memory_order_acquire); }
    // The file was created and its format set up.
    bool IsOpen() const { return m_open.load(std::memory_order_acquire); }
    // Creating or writing the file has failed; the file then holds the frames written before.
    bool HasFailed() const { return m_failed.load(std::memory_order_acquire); }
    std::string GetLastError() const;
    // Frames admitted and stored in the file.
    uint32_t GetFramesWritten() const { return m_framesWritten.load(std::memory_order_acquire); }

    // Called once, on the thread that met it, with the text of the first failure after it is
    // set (a share gone away, a full disk), so that the owner can tell the operator. Set it
    // right after construction, before the first frame; creation failures are asked for with
    // HasFailed().
    void SetFailureSink(std::function<void(const std::string&)> sink) {
        m_failureSink = std::move(sink);
    }

    static FileKind KindForPath(const std::string& path);

private:
    void Create();
    bool StoreFrame(uint32_t width, uint32_t height, const uint8_t* data, uint16_t bitsPerPixel,
                    uint32_t time);
    bool WriteWindowsMediaFrame(uint32_t width, uint32_t height, const uint8_t* data,
                                uint16_t bitsPerPixel);
    void FinishWindowsMedia();
    void NoteFailure(const std::string& text);

    std::atomic<uint16_t> m_nKind;
    const std::string m_strPath;
    const uint32_t m_nRate;
    const uint32_t m_nWidth;
    const uint32_t m_nHeight;
    std::unique_ptr<IFileOutput> m_output;
    std::unique_ptr<VlvWriter> m_vlv;        // kind 1
    std::unique_ptr<AviWriter> m_avi;        // kind 2
    std::unique_ptr<CVideoWriter> m_pWriter; // kinds 3 and 4
    std::vector<uint32_t> m_frameTimes;      // kinds 3 and 4: every admitted frame's time
    std::atomic<bool> m_bEveryFrame{false};
    FrameAdmission m_ownAdmission; // used when the owner gives none
    FrameAdmission* m_admission;   // the owner's, or m_ownAdmission

    std::atomic<bool> m_open{false};
    std::atomic<bool> m_failed{false};
    std::atomic<uint32_t> m_framesWritten{0};
    mutable std::mutex m_errorMutex;
    std::string m_lastError; // guarded by m_errorMutex
    std::function<void(const std::string&)> m_failureSink;
};

} // namespace quillon
