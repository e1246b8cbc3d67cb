#include "RecorderEngine.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cstdio>

#include "QuillonFileRecording.h"
#include "camera/CameraApiFactory.h"
#include "core/ShareFolders.h"
#include "recording/SmbClient.h"
#include "settings/SettingsFile.h"

namespace quillon {

RecorderEngine::RecorderEngine(const TickSource& ticks, QObject* parent)
    : QObject(parent),
      m_race(*this, *this, ticks, m_app, m_camera),
      m_link(m_race, this) {
    SavePathServices services;
    services.findLocalShare = [this] { return FindShareFolder(m_smbConf, SavePath::kShareName); };
    services.localAddress = [this] { return m_link.LocalAddress().toStdString(); };
    services.hostAddress = [this] { return m_link.PeerAddress().toStdString(); };
    services.createRemoteFile = [this](const std::string& path, std::string& error) {
        if (CreateEmptySmbFile(path, error)) return true;
        OnRecordingFailed(error);
        return false;
    };
    services.createRecording = [this](const std::string& path, uint32_t rate, uint32_t width,
                                      uint32_t height, bool everyFrame) -> std::unique_ptr<Recording> {
        return std::make_unique<QuillonFileRecording>(
            path, rate, width, height, everyFrame,
            [this](const std::string& text) { OnRecordingFailed(text); });
    };
    // Queued to this object: a call still in the queue when the engine goes is dropped.
    services.postToUi = [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    };
    services.enableSetupCommands = [this](bool enabled) { m_view->EnableSetupCommands(enabled); };
    m_savePath = std::make_unique<SavePath>(m_race, *this, ticks, m_app, m_camera, m_events,
                                            std::move(services));
    connect(&m_link, &HostLink::hostConnected, this, &RecorderEngine::OnHostConnected);
    connect(&m_link, &HostLink::hostDisconnected, this, &RecorderEngine::OnHostDisconnected);
}

RecorderEngine::~RecorderEngine() {
    if (m_device) m_device->StopStreaming();  // no callback may run into what goes below
    m_device.reset();
    m_savePath.reset();  // ends the worker and finishes the recording
    m_frameNotifier.reset();
    if (m_frameNoticeFd >= 0) ::close(m_frameNoticeFd);
}

bool RecorderEngine::AllocateFrameStores() {
    if (!m_stores.Allocate()) return false;
    m_cameraView.raceState = &m_race.StateWord();
    m_handOver = std::make_unique<FrameHandOver>(m_stores.FrameCopy(), FrameStores::kMaxRawFrame);
    m_frameNoticeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_frameNotifier = std::make_unique<QSocketNotifier>(m_frameNoticeFd, QSocketNotifier::Read);
    connect(m_frameNotifier.get(), &QSocketNotifier::activated, this,
            &RecorderEngine::OnFrameNotice);
    const int noticeFd = m_frameNoticeFd;
    m_frameCallback = std::make_unique<FrameCallback>(
        *m_handOver, m_cameraView,
        [noticeFd] {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(noticeFd, &one, sizeof one);
        },
        [this] { RequestTimeFromAnyThread(); });
    m_pipeline = std::make_unique<FramePipeline>(m_stores, m_camera,
                                                 static_cast<FrameConverter&>(*this), *this);
    return true;
}

CameraStartResult RecorderEngine::StartCamera(const std::string& option) {
    std::unique_ptr<ICameraApi> api = CreateCameraApi(option);
    if (!api) {
        m_view->ShowMessage(kMsgUnableToConnect);
        return CameraStartResult::kNotConnected;
    }
    m_device = std::make_unique<CCamera>(
        std::move(api), [this](const std::string& text) { m_view->ShowMessage(text); });
    return m_device->StartCamera(&FrameCallback::OnFrame, m_frameCallback.get());
}

bool RecorderEngine::LoadSettings(const std::string& path) {
    m_camera.FrameTimeMs = -1;
    if (LoadSettingsFile(path, m_app, m_camera)) return true;
    SetDefaultSettings(m_app, m_camera);
    if (HasCamera()) m_device->FillFirstRunSettings(m_camera);
    return false;
}

bool RecorderEngine::ApplyCameraSettings() {
    if (!HasCamera()) return false;
    const bool streaming = m_device->ApplySettings(m_camera);
    // A refused format leaves the camera as it was: the record then follows the camera, or
    // every frame would be dropped for its size.
    m_device->ReadFormat(m_camera);
    m_cameraView.frameRate.store(m_camera.Framerate, std::memory_order_relaxed);
    return streaming;
}

void RecorderEngine::Shutdown(bool save, const std::string& path) {
    if (HasCamera()) {
        m_device->StopStreaming();
        m_device->ReadFormat(m_camera);
    }
    if (save) SaveSettingsFile(path, m_app, m_camera);
}

bool RecorderEngine::ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t width,
                                    uint32_t height, uint32_t pixelFormat) {
    return m_device && m_device->ConvertToRgb24(bgr, raw, width, height, pixelFormat);
}

void RecorderEngine::OnFrameNotice() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_frameNoticeFd, &count, sizeof count);
    size_t length = 0;
    const uint8_t* frame = m_handOver->Take(length);
    if (frame == nullptr) return;
    if (!m_pipeline->OnFrameReady(frame, length)) ++m_processed;
    m_handOver->Release();
}

uint64_t RecorderEngine::DroppedFrames() const {
    if (!m_handOver) return 0;
    return uint64_t(m_handOver->BusyDrops()) + m_pipeline->DroppedFrames();
}

void RecorderEngine::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    m_view->ShowFrame(bgr, width, height);
}

void RecorderEngine::ShowBrightness(int32_t brightness) { m_view->ShowBrightness(brightness); }

void RecorderEngine::TakeFrame(const uint8_t* raw, size_t rawLength, const uint8_t* image,
                               uint32_t imageWidth, uint32_t imageHeight) {
    m_savePath->TakeFrame(raw, rawLength, image, imageWidth, imageHeight);
}

void RecorderEngine::SetView(EngineView* view) {
    m_view = view ? view : &m_noView;
    m_race.SetView(m_view);
}

bool RecorderEngine::StartListening() { return m_link.StartListening(m_app.Port); }

void RecorderEngine::RequestTimeFromAnyThread() {
    QMetaObject::invokeMethod(this, [this] { m_race.SendTimeRequest(); }, Qt::QueuedConnection);
}

void RecorderEngine::PrepareRecording() {
    // A failure shown for the last recording gives way to the host's address again.
    const std::string host = m_link.PeerAddress().toStdString();
    if (m_link.IsConnected() && m_strStatus != host) {
        m_strStatus = host;
        m_view->ShowHostStatus(m_strStatus, true);
    }
    m_savePath->PrepareRecording();
}

void RecorderEngine::OnRecordingFailed(const std::string& text) {
    // Any thread: the save worker meets most write failures. The standard error is told at
    // once; the status line on the user-interface thread.
    std::fprintf(stderr, "Quillon ID: recording failed: %s\n", text.c_str());
    QMetaObject::invokeMethod(
        this,
        [this, status = "Recording failed: " + text] {
            m_strStatus = status;
            m_view->ShowHostStatus(m_strStatus, m_link.IsConnected());
        },
        Qt::QueuedConnection);
}

void RecorderEngine::OnHostConnected() {
    m_cameraView.hostConnected.store(true, std::memory_order_relaxed);
    m_strStatus = m_link.PeerAddress().toStdString();
    m_app.Port = m_link.LocalPort();
    m_view->ShowHostStatus(m_strStatus, true);
}

void RecorderEngine::OnHostDisconnected() {
    m_cameraView.hostConnected.store(false, std::memory_order_relaxed);
    m_strStatus = kNoHostText;
    m_view->ShowHostStatus(m_strStatus, false);
}

}  // namespace quillon
