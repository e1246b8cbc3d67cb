#include "RecorderEngine.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "QuillonFileRecording.h"
#include "camera/CameraApiFactory.h"
#include "core/ShareFolders.h"
#include "recording/SmbClient.h"
#include "settings/SettingsFile.h"

namespace quillon {

RecorderEngine::RecorderEngine(const TickSource& ticks, QObject* parent)
    : QObject(parent), m_race(*this, *this, ticks, m_app, m_camera), m_link(m_race, this),
      m_sharedMemory(m_race,
                     [this] {
                         const Recording* recording = m_savePath->Recorder();
                         return recording ? recording->Path() : std::string();
                     }),
      m_intake(m_race.Clock(), m_race.StateWord(), m_cameraView.adjustment) {
    SavePathServices services;
    services.findLocalShare = [this] { return FindShareFolder(m_smbConf, SavePath::kShareName); };
    services.localAddress = [this] { return m_link.LocalAddress().toStdString(); };
    services.hostAddress = [this] { return m_link.PeerAddress().toStdString(); };
    services.createRemoteFile = [this](const std::string& path, std::string& error) {
        if (CreateEmptySmbFile(path, error))
            return true;
        OnRecordingFailed(error.find(path) != std::string::npos ? error : path + ": " + error);
        return false;
    };
    services.createRecording = [this](const std::string& path, uint32_t rate, uint32_t width,
                                      uint32_t height,
                                      bool everyFrame) -> std::unique_ptr<Recording> {
        return std::make_unique<QuillonFileRecording>(
            path, rate, width, height, everyFrame, m_admission,
            [this, path](const std::string& text) {
                // The operator needs the file's name; most reasons already carry it.
                OnRecordingFailed(text.find(path) != std::string::npos ? text : path + ": " + text);
            });
    };
    // The save worker converts frames itself, without the camera's busy guard, which would make
    // it and the preview refuse each other's frames.
    services.convert = [this](const uint8_t* raw, uint8_t* bgr, uint32_t width, uint32_t height,
                              uint32_t pixelFormat) {
        return m_device && m_device->ConvertFrame(bgr, raw, width, height, pixelFormat);
    };
    services.enableSetupCommands = [this](bool enabled) { m_view->EnableSetupCommands(enabled); };
    m_savePath = std::make_unique<SavePath>(m_race, *this, ticks, m_app, m_camera, m_intake,
                                            std::move(services));
    connect(&m_link, &HostLink::hostConnected, this, &RecorderEngine::OnHostConnected);
    connect(&m_link, &HostLink::hostDisconnected, this, &RecorderEngine::OnHostDisconnected);
    m_previewPacer.setSingleShot(true);
    m_previewPacer.setTimerType(Qt::PreciseTimer);
    connect(&m_previewPacer, &QTimer::timeout, this, &RecorderEngine::ProcessLatestFrame);
    m_secondTimer.setInterval(1000);
    connect(&m_secondTimer, &QTimer::timeout, this, &RecorderEngine::OnSecond);
    m_secondTimer.start();
    m_cameraWatch.setInterval(kCameraWatchMs);
    connect(&m_cameraWatch, &QTimer::timeout, this, &RecorderEngine::OnCameraWatch);
    SetView(nullptr);
}

RecorderEngine::~RecorderEngine() {
    if (m_device)
        m_device->StopStreaming(); // no callback may run into what goes below
    m_savePath.reset();            // ends the worker and finishes the recording
    m_device.reset();
    m_frameNotifier.reset();
    if (m_frameNoticeFd >= 0)
        ::close(m_frameNoticeFd);
}

bool RecorderEngine::AllocateFrameStores() {
    if (!m_stores.Allocate())
        return false;
    m_cameraView.raceState = &m_race.StateWord();
    m_handOver = std::make_unique<FrameHandOver>(m_stores.FrameCopy(), FrameStores::kMaxRawFrame);
    m_frameNoticeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_frameNotifier = std::make_unique<QSocketNotifier>(m_frameNoticeFd, QSocketNotifier::Read);
    connect(m_frameNotifier.get(), &QSocketNotifier::activated, this,
            &RecorderEngine::OnFrameNotice);
    const int noticeFd = m_frameNoticeFd;
    m_frameCallback = std::make_unique<FrameCallback>(
        m_intake, *m_handOver, m_cameraView,
        [noticeFd] {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(noticeFd, &one, sizeof one);
        },
        [this] { RequestTimeFromAnyThread(); });
    m_pipeline = std::make_unique<FramePipeline>(
        m_stores, m_camera, static_cast<FrameConverter&>(*this), *this, m_cameraView.adjustment);
    return true;
}

CameraStartResult RecorderEngine::StartCamera(const std::string& option) {
    std::unique_ptr<ICameraApi> api = CreateCameraApi(option);
    m_rawLayoutKnown = option == "sim";
    if (!api) {
        m_view->ShowMessage(kMsgUnableToConnect);
        return CameraStartResult::kNotConnected;
    }
    m_device = std::make_unique<CCamera>(
        std::move(api), [this](const std::string& text) { m_view->ShowMessage(text); });
    const CameraStartResult result =
        m_device->StartCamera(&FrameCallback::OnFrame, m_frameCallback.get());
    if (result == CameraStartResult::kStreaming)
        m_cameraWatch.start();
    return result;
}

void RecorderEngine::OnCameraWatch() {
    const bool lost = m_device && m_device->IsCameraLost();
    if (lost == m_cameraLost)
        return;
    // The race goes on either way; only the operator is told.
    m_cameraLost = lost;
    RefreshStatus();
}

bool RecorderEngine::LoadSettings(const std::string& path) {
    m_camera.FrameTimeMs = -1;
    if (LoadSettingsFile(path, m_app, m_camera))
        return true;
    // A missing file is a first start; one that is there but cannot be read is worth a word.
    if (const int error = errno; ::access(path.c_str(), F_OK) == 0) {
        std::fprintf(stderr, "Quillon ID: cannot read %s (%s); the default settings apply\n",
                     path.c_str(), std::strerror(error));
    }
    SetDefaultSettings(m_app, m_camera);
    if (HasCamera())
        m_device->FillFirstRunSettings(m_camera);
    return false;
}

bool RecorderEngine::ApplyCameraSettings() {
    if (!HasCamera())
        return false;
    const bool streaming = m_device->ApplySettings(m_camera);
    // A refused format leaves the camera as it was: the record then follows the camera, or
    // every frame would be dropped for its size.
    m_device->ReadFormat(m_camera);
    m_cameraView.frameRate.store(m_camera.Framerate, std::memory_order_relaxed);
    if (m_pipeline)
        m_pipeline->PublishAdjustment();
    return streaming;
}

void RecorderEngine::Shutdown(bool save, const std::string& path) {
    if (HasCamera()) {
        m_device->StopStreaming();
        m_device->ReadFormat(m_camera);
    }
    // The run's count of frames lost for recording, for logs and long unattended runs.
    if (save) {
        std::fprintf(stderr, "Quillon ID: %llu frames lost for recording in this run\n",
                     static_cast<unsigned long long>(DroppedFrames()));
    }
    if (save && !SaveSettingsFile(path, m_app, m_camera)) {
        std::fprintf(stderr, "Quillon ID: cannot write %s (%s); this run's settings are lost\n",
                     path.c_str(), std::strerror(errno));
    }
}

bool RecorderEngine::ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t width,
                                    uint32_t height, uint32_t pixelFormat) {
    return m_device && m_device->ConvertToRgb24(bgr, raw, width, height, pixelFormat);
}

RawLayout RecorderEngine::Layout(uint32_t pixelFormat) const {
    if (!m_rawLayoutKnown)
        return RawLayout::kConvert;
    if (pixelFormat == kPixelFormatBayerRggb8)
        return RawLayout::kBayerRggb;
    if (pixelFormat == kPixelFormatMono8)
        return RawLayout::kGrey;
    return RawLayout::kConvert;
}

void RecorderEngine::OnFrameNotice() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_frameNoticeFd, &count, sizeof count);
    // No more often than a screen shows: a frame that comes sooner waits in the hand-over,
    // where a newer one replaces it.
    const qint64 wait = 1000 / kMaxPreviewRate -
                        (m_sinceLastPreview.isValid() ? m_sinceLastPreview.elapsed() : 1000);
    if (wait > 0) {
        if (!m_previewPacer.isActive())
            m_previewPacer.start(int(wait));
        return;
    }
    ProcessLatestFrame();
}

void RecorderEngine::ProcessLatestFrame() {
    size_t length = 0;
    const uint8_t* frame = m_handOver->Take(length);
    if (frame == nullptr)
        return;
    m_sinceLastPreview.start();
    if (!m_pipeline->OnFrameReady(frame, length)) {
        ++m_processed;
        if (m_app.SavePerformanceLog != 0)
            m_perfLog.Append(m_pipeline->Stamps());
    }
    m_handOver->Release();
}

uint64_t RecorderEngine::DroppedFrames() const {
    return m_savePath->LostFrames() + (m_device ? m_device->LostFrames() : 0);
}

uint64_t RecorderEngine::PreviewSkips() const {
    if (!m_handOver)
        return 0;
    return m_handOver->Skipped() + m_pipeline->DroppedFrames();
}

void RecorderEngine::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    m_view->ShowFrame(bgr, width, height);
}

void RecorderEngine::ShowBrightness(int32_t brightness) {
    m_view->ShowBrightness(brightness);
}

void RecorderEngine::PrepareRecording() {
    // Frames are recorded with the picture settings in effect from the first one on.
    if (m_pipeline)
        m_pipeline->PublishAdjustment();
    m_recordingProblem.clear();
    m_savePath->PrepareRecording();
    RefreshStatus();
}

void RecorderEngine::OnSecond() {
    if (m_race.State() == kStarted)
        m_race.RefreshElapsedTime();
    const bool silent = m_race.HostClockSilent();
    if (silent == m_clockSilent)
        return;
    m_clockSilent = silent;
    if (silent)
        std::fprintf(stderr, "Quillon ID: the host's race clock is not answering\n");
    RefreshStatus();
}

void RecorderEngine::RefreshStatus() {
    m_strStatus = m_cameraLost ? kCameraLostText : m_hostStatus;
    if (m_clockSilent)
        m_strStatus += " - race clock not answering";
    if (!m_recordingProblem.empty())
        m_strStatus += " - " + m_recordingProblem;
    m_view->ShowHostStatus(m_strStatus, m_link.IsConnected());
}

void RecorderEngine::SetView(EngineView* view) {
    m_view = view ? view : &m_noView;
    m_race.SetView(m_view);
}

void RecorderEngine::CreatePerformanceLog(const std::string& directory) {
    static_assert(size_t(FramePipeline::kStampCount) == size_t(PerformanceLog::kStampCount));
    if (!m_perfLog.Create(m_app, m_camera, directory))
        return;
    m_perfLogFlush.setInterval(1000);
    connect(&m_perfLogFlush, &QTimer::timeout, this, [this] { m_perfLog.Flush(); });
    m_perfLogFlush.start();
}

void RecorderEngine::SetSharedMemoryMode(bool on) {
    m_link.SetSharedMemoryMode(on);
    if (on) {
        m_sharedMemory.SwitchOn();
    } else {
        m_sharedMemory.SwitchOff();
    }
}

bool RecorderEngine::StartListening() {
    return m_link.StartListening(m_app.Port);
}

void RecorderEngine::RequestTimeFromAnyThread() {
    QMetaObject::invokeMethod(
        this, [this] { m_race.SendTimeRequest(); }, Qt::QueuedConnection);
}

void RecorderEngine::OnRecordingFailed(const std::string& text) {
    // Any thread: the save worker meets most write failures. The standard error is told at
    // once; the status line on the user-interface thread.
    std::fprintf(stderr, "Quillon ID: recording failed: %s\n", text.c_str());
    QMetaObject::invokeMethod(
        this,
        [this, problem = "Recording failed: " + text] {
            m_recordingProblem = problem;
            RefreshStatus();
        },
        Qt::QueuedConnection);
}

void RecorderEngine::OnHostConnected() {
    m_cameraView.hostConnected.store(true, std::memory_order_relaxed);
    m_hostStatus = m_link.PeerAddress().toStdString();
    m_app.Port = m_link.LocalPort();
    RefreshStatus();
}

void RecorderEngine::OnHostDisconnected() {
    m_cameraView.hostConnected.store(false, std::memory_order_relaxed);
    m_hostStatus = kNoHostText;
    m_clockSilent = false;
    RefreshStatus();
    m_race.OnHostLost();
}

} // namespace quillon
