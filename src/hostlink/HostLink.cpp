#include "HostLink.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <array>

#include "CommandDispatcher.h"

namespace quillon {
namespace {

// The kernel ends the connection when sent data stays unacknowledged for kDeadHostMs; its own
// probes cover a link that carries nothing (in shared-memory mode no keep-alive is sent).
void WatchForDeadPeer(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const int fd = int(socket.socketDescriptor());
    if (fd < 0)
        return;
    const unsigned timeout = HostLink::kDeadHostMs;
    const int idleSeconds = HostLink::kKeepAliveMs / 1000;
    const int probeSeconds = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probeSeconds, sizeof probeSeconds);
}

// A connection that waited in the queue may have been given up by its host meanwhile (it sent
// FIN or RST). Asked without waiting, so a live host is never held up.
bool PeerHasGone(QTcpSocket& socket) {
    if (socket.state() != QAbstractSocket::ConnectedState)
        return true;
    pollfd watch{int(socket.socketDescriptor()), POLLRDHUP, 0};
    if (watch.fd < 0 || ::poll(&watch, 1, 0) < 0)
        return true;
    return (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

} // namespace

HostLink::HostLink(RaceCommands& commands, QObject* parent)
    : QObject(parent), m_commands(commands) {
    m_server.setMaxPendingConnections(kBacklog);
    connect(&m_server, &QTcpServer::newConnection, this, &HostLink::AcceptHost);
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &HostLink::SendKeepAlive);
}

HostLink::~HostLink() {
    // The host socket belongs to the server; it must not report its closing to a link that
    // is half gone.
    if (m_hostSocket) {
        m_hostSocket->disconnect(this);
        delete m_hostSocket.data();
    }
}

bool HostLink::StartListening(int32_t& port) {
    if (port < 1)
        port = 1;
    while (port <= kHighestPort && !m_server.isListening()) {
        if (!m_server.listen(QHostAddress::AnyIPv4, quint16(port)))
            ++port;
    }
    return m_server.isListening();
}

void HostLink::AcceptHost() {
    // One host at a time: a further connection waits in the queue until the first has gone.
    if (m_bConnected)
        return;
    QTcpSocket* socket = NextLivePendingConnection();
    if (socket == nullptr)
        return;
    WatchForDeadPeer(*socket);
    m_hostSocket = socket;
    m_bConnected = true;
    connect(socket, &QTcpSocket::readyRead, this, &HostLink::ReceiveCommands);
    connect(socket, &QTcpSocket::disconnected, this, &HostLink::ConnectionLost);
    m_peerAddress = socket->peerAddress().toString();
    m_localAddress = socket->localAddress().toString();
    m_localPort = socket->localPort();
    m_keepAlive.start();
    emit hostConnected();
    // Commands that arrived with the connection are in the buffer already.
    if (socket->bytesAvailable() > 0)
        ReceiveCommands();
}

QTcpSocket* HostLink::NextLivePendingConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (!PeerHasGone(*socket))
            return socket;
        socket->abort();
        socket->deleteLater();
    }
    return nullptr;
}

void HostLink::ReceiveCommands() {
    if (m_bSharedMemoryMode)
        return;
    // Each read of up to 1024 bytes is one block, parsed by itself; a bigger burst is read
    // block by block as further receive notifications would deliver it.
    std::array<char, kReceiveBlock> block{};
    while (m_hostSocket && m_hostSocket->bytesAvailable() > 0) {
        const qint64 got = m_hostSocket->read(block.data(), kReceiveBlock);
        if (got <= 0)
            return;
        DispatchCommands(std::string_view(block.data(), size_t(got)), m_commands);
    }
}

void HostLink::SendReply(std::string_view text) {
    if (m_bSharedMemoryMode || !m_bConnected || !m_hostSocket)
        return;
    m_hostSocket->write(text.data(), qint64(text.size()));
}

void HostLink::SendKeepAlive() {
    if (m_bSharedMemoryMode || !m_bConnected || !m_hostSocket)
        return;
    if (m_hostSocket->state() != QAbstractSocket::ConnectedState ||
        m_hostSocket->write(" ", 1) != 1) {
        ConnectionLost();
    }
}

void HostLink::ConnectionLost() {
    if (!m_bConnected)
        return;
    m_bConnected = false;
    if (m_hostSocket) {
        m_hostSocket->disconnect(this);
        m_hostSocket->abort();
        m_hostSocket->deleteLater();
    }
    m_hostSocket.clear();
    m_peerAddress.clear();
    m_localAddress.clear();
    emit hostDisconnected();
    // A host that tried while the link was busy is served now.
    if (m_server.hasPendingConnections())
        AcceptHost();
}

} // namespace quillon
