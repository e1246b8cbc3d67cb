#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <string_view>

namespace quillon {

class RaceCommands;

// The TCP link to the host program: one listening socket, one host at a time, short text
// commands in, short text replies out, a one-space keep-alive every two seconds.
//
// Threads: lives on and is used only by the user-interface thread; the camera thread asks for
// clock requests through a queued call to the owner, never through this object directly.
class HostLink final : public QObject {
    Q_OBJECT

public:
    static constexpr int kKeepAliveMs = 2000;
    static constexpr qint64 kReceiveBlock = 1024;
    static constexpr int kBacklog = 5;
    static constexpr int32_t kHighestPort = 65535;
    // A host whose computer vanished (crash, pulled cable) sends neither FIN nor RST; the
    // kernel would retry for about 15 minutes, and no other host could be served meanwhile.
    // Data left unacknowledged this long ends the connection instead. The keep-alive space
    // leaves every two seconds, so a dead host is found within kKeepAliveMs + this.
    static constexpr unsigned kDeadHostMs = 5000;

    explicit HostLink(RaceCommands& commands, QObject* parent = nullptr);
    ~HostLink() override;

    // Listens on `port`, moving upward to the first free one. On success `port` holds the
    // port listened on; false when none up to 65535 was free.
    bool StartListening(int32_t& port);
    bool IsListening() const { return m_server.isListening(); }
    bool IsConnected() const { return m_bConnected; }

    // Sends exactly the text's bytes, no terminator; nothing in shared-memory mode or when no
    // host is connected. The result is not checked: a reply that cannot be sent is lost.
    void SendReply(std::string_view text);

    // While on, commands over TCP are not read and nothing is sent over TCP.
    void SetSharedMemoryMode(bool on) { m_bSharedMemoryMode = on; }
    bool IsSharedMemoryMode() const { return m_bSharedMemoryMode; }

    // Dotted addresses of the current connection (empty while none).
    const QString& PeerAddress() const { return m_peerAddress; }
    const QString& LocalAddress() const { return m_localAddress; }
    uint16_t LocalPort() const { return m_localPort; }

signals:
    void hostConnected();
    void hostDisconnected();

private:
    void AcceptHost();
    // Takes the next pending connection whose peer is still there; closed ones are dropped.
    QTcpSocket* NextLivePendingConnection();
    void ReceiveCommands();
    void ConnectionLost();
    void SendKeepAlive();

    RaceCommands& m_commands;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_hostSocket;
    QTimer m_keepAlive;
    bool m_bConnected = false;
    bool m_bSharedMemoryMode = false;
    QString m_peerAddress;
    QString m_localAddress;
    uint16_t m_localPort = 0;
};

} // namespace quillon
