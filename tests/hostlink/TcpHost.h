#pragma once

#include <QNetworkProxy>
#include <QTcpSocket>
#include <string>

#include "common/WaitUntil.h"

namespace quillon {

// A host program as the recorder sees it: a TCP client on 127.0.0.1 that collects every byte it
// gets while the event loop runs.
struct TcpHost {
    QTcpSocket socket;
    std::string received;

    explicit TcpHost(int32_t port) {
        // Straight to the recorder: asking for the system's proxy starts a thread of libproxy's.
        socket.setProxy(QNetworkProxy::NoProxy);
        QObject::connect(&socket, &QTcpSocket::readyRead,
                         [this] { received += socket.readAll().toStdString(); });
        socket.connectToHost("127.0.0.1", quint16(port));
        // The kernel completes the handshake from the listen queue, without our event loop.
        EXPECT_TRUE(socket.waitForConnected(3000));
    }
    void Send(const std::string& text) {
        socket.write(text.data(), qint64(text.size()));
        socket.flush();
    }
    bool Receives(const std::string& text, int timeoutMs = 3000) {
        return WaitUntil([&] { return received.find(text) != std::string::npos; }, timeoutMs);
    }
};

} // namespace quillon
