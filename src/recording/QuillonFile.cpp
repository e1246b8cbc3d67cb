#include "recording/QuillonFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "recording/AviWriter.h"
#include "recording/FrameTimeTrailer.h"
#include "recording/LocalFileOutput.h"
#include "recording/VideoWriter.h"
#include "recording/VlvWriter.h"

namespace quillon {

namespace {

// Room for the times of a long race (25 fps for 40 minutes) before the list has to grow.
constexpr size_t kReservedFrameTimes = 60000;

// Whether the path ends in "." and the extension, in any case.
bool HasExtension(const std::string& path, const char* extension) {
    const size_t n = std::strlen(extension);
    if (path.size() < n + 1 || path[path.size() - n - 1] != '.')
        return false;
    return std::equal(
        path.end() - static_cast<std::ptrdiff_t>(n), path.end(), extension,
        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

} // namespace

FileKind CQuillonFile::KindForPath(const std::string& path) {
    for (const FileKind kind : {kFileAvi, kFileWmv}) {
        if (HasExtension(path, FileExtension(kind)))
            return kind;
    }
    return kFileVlv;
}

CQuillonFile::CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height)
    : CQuillonFile(path, rate, width, height, std::make_unique<LocalFileOutput>(path)) {}

CQuillonFile::CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height,
                           std::unique_ptr<IFileOutput> output, FrameAdmission* admission)
    : m_nKind(static_cast<uint16_t>(KindForPath(path))), m_strPath(path),
      m_nRate(rate == 0 ? 1 : rate), m_nWidth(width), m_nHeight(height),
      m_output(std::move(output)), m_admission(admission ? admission : &m_ownAdmission) {
    Create();
}

void CQuillonFile::Create() {
    if (m_output == nullptr) {
        NoteFailure("no output for " + m_strPath);
        return;
    }
    bool open = false;
    switch (GetKind()) {
    case kFileAvi:
        m_avi = std::make_unique<AviWriter>(*m_output);
        open = m_avi->Create(m_nRate, m_nWidth, m_nHeight);
        if (!open)
            NoteFailure(m_avi->LastError());
        break;
    case kFileWmv:
        m_frameTimes.reserve(kReservedFrameTimes);
        m_pWriter = std::make_unique<CVideoWriter>();
        m_pWriter->StartRecording(m_strPath, m_output.get(), m_nRate, m_nWidth, m_nHeight);
        open = m_pWriter->GetState() == CVideoWriter::kStarted;
        if (!open) {
            // Keep the system's reason too when it was the file that failed.
            const std::string reason = m_output->HasFailed() ? ": " + m_output->LastError() : "";
            NoteFailure(m_pWriter->m_szLastError + reason);
        }
        break;
    default:
        m_vlv = std::make_unique<VlvWriter>(*m_output);
        open = m_vlv->Create(m_nRate, m_nWidth, m_nHeight);
        if (!open)
            NoteFailure(m_vlv->LastError());
        break;
    }
    m_open.store(open, std::memory_order_release);
}

CQuillonFile::~CQuillonFile() {
    switch (GetKind()) {
    case kFileAvi:
        if (m_avi)
            m_avi->Finish();
        break;
    case kFileWmv:
    case kFileWmvAll:
        FinishWindowsMedia();
        break;
    default:
        break;
    }
    if (m_output && !m_output->Close() && !HasFailed())
        NoteFailure(m_output->LastError());
}

void CQuillonFile::FinishWindowsMedia() {
    if (m_pWriter) {
        m_pWriter->Finish();
        if (!m_pWriter->HasSucceeded() && !HasFailed())
            NoteFailure(m_pWriter->m_szLastError);
        m_pWriter.reset();
    }
    // The trailer follows whatever the file holds, even when the video could not be written.
    if (GetKind() == kFileWmv && m_output && m_output->IsOpen()) {
        std::string error;
        if (!AppendFrameTimeTrailer(*m_output, m_frameTimes, &error))
            NoteFailure(error);
    }
    m_frameTimes.clear();
}

void CQuillonFile::SetEveryFrame() {
    m_bEveryFrame.store(true, std::memory_order_release);
    uint16_t expected = kFileWmv;
    m_nKind.compare_exchange_strong(expected, kFileWmvAll, std::memory_order_acq_rel);
}

bool CQuillonFile::IsEveryFrame() const {
    const uint16_t kind = GetKind();
    return kind == kFileWmvAll ||
           (kind == kFileWmv && m_bEveryFrame.load(std::memory_order_acquire));
}

void CQuillonFile::WriteFrame(uint32_t width, uint32_t height, const uint8_t* data,
                              uint16_t bitsPerPixel, uint32_t time, uint32_t sequence) {
    if (data == nullptr)
        return;
    if (!m_admission->Admit(sequence, IsEveryFrame()))
        return;
    if (StoreFrame(width, height, data, bitsPerPixel, time))
        m_framesWritten.fetch_add(1, std::memory_order_acq_rel);
}

bool CQuillonFile::StoreFrame(uint32_t width, uint32_t height, const uint8_t* data,
                              uint16_t bitsPerPixel, uint32_t time) {
    if (!IsOpen())
        return false; // the file could not be created: frames are dropped, as promised
    switch (GetKind()) {
    case kFileAvi:
        if (m_avi->WriteFrame(width, height, data, bitsPerPixel, time))
            return true;
        if (m_avi->HasFailed() && !HasFailed())
            NoteFailure(m_avi->LastError());
        return false;
    case kFileWmv:
    case kFileWmvAll: {
        const bool written = WriteWindowsMediaFrame(width, height, data, bitsPerPixel);
        // Every admitted frame keeps its time, written or not, so that the trailer counts it.
        // Every-frame recordings have no trailer: their times would only pile up.
        if (GetKind() == kFileWmv)
            m_frameTimes.push_back(time);
        return written;
    }
    default:
        if (m_vlv->AppendFrame(width, height, data, time))
            return true;
        if (m_vlv->HasFailed() && !HasFailed())
            NoteFailure(m_vlv->LastError());
        return false;
    }
}

bool CQuillonFile::WriteWindowsMediaFrame(uint32_t width, uint32_t height, const uint8_t* data,
                                          uint16_t bitsPerPixel) {
    if (!m_pWriter)
        return false;
    const bool wasRunning = m_pWriter->GetState() != CVideoWriter::kNotReady;
    if (m_pWriter->WriteVideoFrame(width, height, data, bitsPerPixel) == CVideoWriter::kSuccess)
        return true;
    if (wasRunning && !HasFailed()) {
        std::string text = m_pWriter->m_szLastError;
        if (m_output->HasFailed())
            text += ": " + m_output->LastError();
        NoteFailure(text);
    }
    return false;
}

int CQuillonFile::GetPath(char* buffer, size_t bufferSize) const {
    if (buffer == nullptr || bufferSize == 0)
        return 0;
    const size_t n = std::min(m_strPath.size(), bufferSize - 1);
    std::memcpy(buffer, m_strPath.data(), n);
    buffer[n] = '\0';
    return 0;
}

std::string CQuillonFile::GetLastError() const {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_lastError;
}

void CQuillonFile::NoteFailure(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_lastError = text;
    }
    const bool first = !m_failed.exchange(true, std::memory_order_acq_rel);
    if (first && m_failureSink)
        m_failureSink(text);
}

} // namespace quillon
