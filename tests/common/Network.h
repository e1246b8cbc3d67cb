#pragma once

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
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

}  // namespace quillon
