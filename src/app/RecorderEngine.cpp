#include "RecorderEngine.h"

#include <QMetaObject>
#include <cstdio>

namespace quillon {

RecorderEngine::RecorderEngine(const TickSource& ticks, QObject* parent)
    : QObject(parent),
      m_ticks(ticks),
      m_race(*this, *this, ticks, m_app, m_camera),
      m_link(m_race, this) {
    connect(&m_link, &HostLink::hostConnected, this, &RecorderEngine::OnHostConnected);
    connect(&m_link, &HostLink::hostDisconnected, this, &RecorderEngine::OnHostDisconnected);
}

RecorderEngine::~RecorderEngine() = default;

void RecorderEngine::SetView(EngineView* view) {
    m_view = view ? view : &m_noView;
    m_race.SetView(m_view);
}

bool RecorderEngine::StartListening() { return m_link.StartListening(m_app.Port); }

void RecorderEngine::RequestTimeFromAnyThread() {
    QMetaObject::invokeMethod(this, [this] { m_race.SendTimeRequest(); }, Qt::QueuedConnection);
}

void RecorderEngine::OnHostConnected() {
    m_strStatus = m_link.PeerAddress().toStdString();
    m_app.Port = m_link.LocalPort();
    m_view->ShowHostStatus(m_strStatus, true);
}

void RecorderEngine::OnHostDisconnected() {
    m_strStatus = kNoHostText;
    m_view->ShowHostStatus(m_strStatus, false);
}

std::string RecorderEngine::RecordingFileName() const {
    const char* extension = "vlv";
    if (m_app.Filetype == kFileAvi) extension = "avi";
    if (m_app.Filetype == kFileWmv || m_app.Filetype == kFileWmvAll) extension = "wmv";
    char name[64];
    std::snprintf(name, sizeof name, "QUILLON%d.%s", int32_t(m_ticks.Now()), extension);
    return name;
}

void RecorderEngine::PrepareRecording() {
    m_strFileName = RecordingFileName();
    m_view->EnableSetupCommands(false);
    const bool remote = m_app.Directory == 1 && IsHostConnected();
    if (remote) {
        SendReply("FILENAME~R~" + m_strFileName + "@");
    } else {
        SendReply("FILENAME~L~" + m_link.LocalAddress().toStdString() + "~" + m_strFileName + "@");
    }
    // No recording folder is known yet: the host learns that nothing will be written.
    SendReply(kShareErrorText);
}

}  // namespace quillon
