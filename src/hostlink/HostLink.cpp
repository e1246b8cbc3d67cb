#include "HostLink.h"

#include <QHostAddress>
#include <array>

#include "CommandDispatcher.h"

namespace quillon {

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
    if (port < 1) port = 1;
    while (port <= kHighestPort && !m_server.isListening()) {
        if (!m_server.listen(QHostAddress::AnyIPv4, quint16(port))) ++port;
    }
    return m_server.isListening();
}

void HostLink::AcceptHost() {
    // One host at a time: a further connection waits in the queue until the first has gone.
    if (m_bConnected) return;
    QTcpSocket* socket = m_server.nextPendingConnection();
    if (socket == nullptr) return;
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
    if (socket->bytesAvailable() > 0) ReceiveCommands();
}

void HostLink::ReceiveCommands() {
    if (m_bSharedMemoryMode) return;
    // Each read of up to 1024 bytes is one block, parsed by itself; a bigger burst is read
    // block by block as further receive notifications would deliver it.
    std::array<char, kReceiveBlock> block{};
    while (m_hostSocket && m_hostSocket->bytesAvailable() > 0) {
        const qint64 got = m_hostSocket->read(block.data(), kReceiveBlock);
        if (got <= 0) return;
        DispatchCommands(std::string_view(block.data(), size_t(got)), m_commands);
    }
}

void HostLink::SendReply(std::string_view text) {
    if (m_bSharedMemoryMode || !m_bConnected || !m_hostSocket) return;
    m_hostSocket->write(text.data(), qint64(text.size()));
}

void HostLink::SendKeepAlive() {
    if (m_bSharedMemoryMode || !m_bConnected || !m_hostSocket) return;
    if (m_hostSocket->state() != QAbstractSocket::ConnectedState ||
        m_hostSocket->write(" ", 1) != 1) {
        ConnectionLost();
    }
}

void HostLink::ConnectionLost() {
    if (!m_bConnected) return;
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
    if (m_server.hasPendingConnections()) AcceptHost();
}

}  // namespace quillon
