#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cstdint>

namespace quillon {

// The event loop for tests of sockets and processes, made before the first of them.
inline QCoreApplication& TestCoreApplication() {
    static int argc = 1;
    static char name[] = "quillon_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// A port on 127.0.0.1 that nobody listens on right now.
inline int32_t FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// True once something accepts connections on 127.0.0.1:`port` (a recorder that has started
// listening); the probe's own connection is let go before it returns.
inline bool WaitUntilListening(int32_t port, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket probe;
        probe.connectToHost("127.0.0.1", quint16(port));
        if (probe.waitForConnected(200)) {
            probe.disconnectFromHost();
            QThread::msleep(300);
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace quillon
