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

constexpr size_t kExtensionLength = 4;
// Room for the times of a long race (25 fps for 40 minutes) before the list has to grow.
constexpr size_t kReservedFrameTimes = 60000;

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (text.size() < n)
        return false;
    return std::equal(
        text.end() - static_cast<std::ptrdiff_t>(n), text.end(), suffix,
        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

} // namespace

FileKind CQuillonFile::KindForPath(const std::string& path) {
    static_assert(sizeof ".avi" - 1 == kExtensionLength);
    if (EndsWithNoCase(path, ".avi"))
        return kFileAvi;
    if (EndsWithNoCase(path, ".wmv"))
        return kFileWmv;
    return kFileVlv;
}

CQuillonFile::CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height)
    : CQuillonFile(path, rate, width, height, std::make_unique<LocalFileOutput>(path)) {}

CQuillonFile::CQuillonFile(const std::string& path, uint32_t rate, uint32_t width, uint32_t height,
                           std::unique_ptr<IFileOutput> output, FrameAdmission* admission)
    : m_nKind(static_cast<uint16_t>(KindForPath(path))), m_strPath(path),
      m_nRate(rate == 0 ? 1 : rate), m_nWidth(width), m_nHeight(height),
      m_pOutput(std::move(output)), m_pAdmission(admission ? admission : &m_ownAdmission) {
    Create();
}

void CQuillonFile::Create() {
    if (m_pOutput == nullptr) {
        NoteFailure("no output for " + m_strPath);
        return;
    }
    bool open = false;
    switch (GetKind()) {
    case kFileAvi:
        m_pAvi = std::make_unique<AviWriter>(*m_pOutput);
        open = m_pAvi->Create(m_nRate, m_nWidth, m_nHeight);
        if (!open)
            NoteFailure(m_pAvi->LastError());
        break;
    case kFileWmv:
        m_frameTimes.reserve(kReservedFrameTimes);
        m_pWriter = std::make_unique<CVideoWriter>();
        m_pWriter->StartRecording(m_strPath, m_pOutput.get(), m_nRate, m_nWidth, m_nHeight);
        open = m_pWriter->GetState() == CVideoWriter::kStarted;
        if (!open) {
            // Keep the system's reason too when it was the file that failed.
            const std::string reason = m_pOutput->HasFailed() ? ": " + m_pOutput->LastError() : "";
            NoteFailure(m_pWriter->m_szLastError + reason);
        }
        break;
    default:
        m_pVlv = std::make_unique<VlvWriter>(*m_pOutput);
        open = m_pVlv->Create(m_nRate, m_nWidth, m_nHeight);
        if (!open)
            NoteFailure(m_pVlv->LastError());
        break;
    }
    m_bOpen.store(open, std::memory_order_release);
}

CQuillonFile::~CQuillonFile() {
    switch (GetKind()) {
    case kFileAvi:
        if (m_pAvi)
            m_pAvi->Finish();
        break;
    case kFileWmv:
    case kFileWmvAll:
        FinishWindowsMedia();
        break;
    default:
        break;
    }
    if (m_pOutput && !m_pOutput->Close() && !HasFailed())
        NoteFailure(m_pOutput->LastError());
}

void CQuillonFile::FinishWindowsMedia() {
    if (m_pWriter) {
        m_pWriter->Finish();
        if (!m_pWriter->HasSucceeded() && !HasFailed())
            NoteFailure(m_pWriter->m_szLastError);
        m_pWriter.reset();
    }
    // The trailer follows whatever the file holds, even when the video could not be written.
    if (GetKind() == kFileWmv && m_pOutput && m_pOutput->IsOpen()) {
        std::string error;
        if (!AppendFrameTimeTrailer(*m_pOutput, m_frameTimes, &error))
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
    if (!m_pAdmission->Admit(sequence, IsEveryFrame()))
        return;
    if (StoreFrame(width, height, data, bitsPerPixel, time))
        m_nFramesWritten.fetch_add(1, std::memory_order_acq_rel);
}

bool CQuillonFile::StoreFrame(uint32_t width, uint32_t height, const uint8_t* data,
                              uint16_t bitsPerPixel, uint32_t time) {
    if (!IsOpen())
        return false; // the file could not be created: frames are dropped, as promised
    switch (GetKind()) {
    case kFileAvi:
        if (m_pAvi->WriteFrame(width, height, data, bitsPerPixel, time))
            return true;
        if (m_pAvi->HasFailed() && !HasFailed())
            NoteFailure(m_pAvi->LastError());
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
        if (m_pVlv->AppendFrame(width, height, data, time))
            return true;
        if (m_pVlv->HasFailed() && !HasFailed())
            NoteFailure(m_pVlv->LastError());
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
        if (m_pOutput->HasFailed())
            text += ": " + m_pOutput->LastError();
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
    return m_strLastError;
}

void CQuillonFile::NoteFailure(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_strLastError = text;
    }
    const bool first = !m_bFailed.exchange(true, std::memory_order_acq_rel);
    if (first && m_failureSink)
        m_failureSink(text);
}

} // namespace quillon
