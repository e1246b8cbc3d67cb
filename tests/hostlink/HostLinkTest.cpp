#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>

#include "RecorderEngine.h"
#include "common/WaitUntil.h"

#include "common/Network.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A host program as the recorder sees it: a TCP client that collects every byte it gets.
struct Host {
    QTcpSocket socket;
    std::string received;

    explicit Host(int32_t port, const char* address = "127.0.0.1", const char* from = nullptr) {
        // Straight to the recorder: asking for the system's proxy starts a thread of libproxy's.
        socket.setProxy(QNetworkProxy::NoProxy);
        QObject::connect(&socket, &QTcpSocket::readyRead,
                         [this] { received += socket.readAll().toStdString(); });
        if (from != nullptr) {
            EXPECT_TRUE(socket.bind(QHostAddress(from)));
        }
        socket.connectToHost(address, quint16(port));
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

class HostLinkTest : public ::testing::Test {
protected:
    HostLinkTest() {
        engine.App().Port = FreePort();
        EXPECT_TRUE(engine.StartListening());
    }

    std::unique_ptr<Host> ConnectHost() {
        auto host = std::make_unique<Host>(engine.App().Port);
        EXPECT_TRUE(WaitUntil([&] { return engine.IsHostConnected(); }));
        return host;
    }

    QCoreApplication& app = TestCoreApplication(); // before any socket is made
    ManualTickSource ticks{5000};
    RecorderEngine engine{ticks};
};

const std::string kFileNameReply = "FILENAME~L~127.0.0.1~QUILLON5000.vlv@";
const std::string kShareError = RecorderEngine::kShareErrorText;

TEST_F(HostLinkTest, BlockWithSeveralCommandsRunsThemInFixedOrder) {
    auto host = ConnectHost();
    EXPECT_EQ(engine.Status(), "127.0.0.1");
    host->Send("CMD~STARTCMD~READY");
    ASSERT_TRUE(host->Receives("RE~START"));
    EXPECT_EQ(host->received, kFileNameReply + kShareError + "RE~READY" + "RE~START");
    EXPECT_EQ(engine.Race().State(), kStarted);
}

TEST_F(HostLinkTest, ArrivalWhileIdleRepliesForReadyStartAndArrivalInOrder) {
    auto host = ConnectHost();
    host->Send("CMD~ARRIVAL~0@");
    ASSERT_TRUE(host->Receives("RE~ARRIVAL"));
    EXPECT_EQ(host->received,
              kFileNameReply + kShareError + "RE~READY" + "RE~START" + "RE~ARRIVAL");
}

TEST_F(HostLinkTest, SecondHostWaitsUntilTheFirstHasGone) {
    auto first = ConnectHost();
    Host second(engine.App().Port);
    second.Send("CMD~STOP");
    Settle(200);
    EXPECT_TRUE(second.received.empty());
    first->Send("CMD~SAVE");
    ASSERT_TRUE(first->Receives("RE~SAVE"));
    EXPECT_EQ(first->received, "FILENAME~@RE~SAVE");

    first->socket.disconnectFromHost();
    // The waiting host is served now, and its command was kept.
    ASSERT_TRUE(second.Receives("RE~STOP"));
    EXPECT_TRUE(engine.IsHostConnected());
}

TEST_F(HostLinkTest, PortMovesUpWhenTaken) {
    QTcpServer squatter;
    const int32_t port = FreePort();
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, quint16(port)));
    RecorderEngine other(ticks);
    other.App().Port = port;
    ASSERT_TRUE(other.StartListening());
    EXPECT_GT(other.App().Port, port);
    EXPECT_TRUE(other.Link().IsListening());
}

TEST_F(HostLinkTest, KeepAliveSpaceArrivesEveryTwoSeconds) {
    auto host = ConnectHost();
    // The host counts on two seconds, whatever the constant says.
    ASSERT_TRUE(host->Receives(" ", 2000 + 1000));
    EXPECT_EQ(host->received, " ");
}

TEST_F(HostLinkTest, DroppedHostFreesTheLinkForTheNext) {
    auto first = ConnectHost();
    first->socket.abort(); // vanishes without a word
    first.reset();
    ASSERT_TRUE(WaitUntil([&] { return !engine.IsHostConnected(); }));
    EXPECT_EQ(engine.Status(), RecorderEngine::kNoHostText);
    auto next = ConnectHost();
    next->Send("CMD~IDLE");
    EXPECT_TRUE(next->Receives("RE~IDLE"));
}

TEST_F(HostLinkTest, QueuedHostThatAlreadyLeftIsSkippedAtOnce) {
    auto first = ConnectHost();
    Host gone(engine.App().Port);
    gone.socket.disconnectFromHost();
    Host waiting(engine.App().Port);
    waiting.Send("CMD~STOP");
    Settle(200);
    first->socket.disconnectFromHost();
    // Well before the next keep-alive could find the dead one.
    EXPECT_TRUE(waiting.Receives("RE~STOP", HostLink::kKeepAliveMs / 2));
}

TEST_F(HostLinkTest, ClockRequestFromAnotherThreadIsSentAndAnswered) {
    auto host = ConnectHost();
    engine.Race().OnStart();
    host->received.clear();
    std::thread camera([&] { engine.RequestTimeFromAnyThread(); });
    camera.join();
    ASSERT_TRUE(host->Receives("TIME~5000"));
    ticks.Set(5100);
    host->Send("TIME~60000@");
    ASSERT_TRUE(WaitUntil([&] { return engine.Race().RaceTimeAtSync() == 60050u; }));
}

TEST_F(HostLinkTest, SharedMemoryModeIgnoresTcpCommands) {
    auto host = ConnectHost();
    engine.Link().SetSharedMemoryMode(true);
    host->Send("CMD~START");
    Settle(300);
    EXPECT_EQ(engine.Race().State(), kIdle);
    EXPECT_TRUE(host->received.empty());
}

TEST_F(HostLinkTest, GarbageNeverCrashesAndCommandsStillWork) {
    auto host = ConnectHost();
    std::mt19937 random(11);
    std::string noise(20000, '\0');
    for (char& c : noise)
        c = char(random() % 256);
    host->Send(noise);
    Settle(200); // the noise is read apart from what follows
    // Texts that are not numbers count as 0; a split command is not recognised.
    host->Send("CMD~ARRIVAL~abc@");
    ASSERT_TRUE(host->Receives("RE~ARRIVAL"));
    Settle(100);
    host->received.clear();
    host->Send("CMD~ST");
    Settle(100);
    host->Send("OP");
    Settle(200);
    EXPECT_EQ(host->received.find("RE~STOP"), std::string::npos);
    host->Send("CMD~STOP");
    EXPECT_TRUE(host->Receives("RE~STOP"));
    EXPECT_TRUE(engine.IsHostConnected());
}

TEST_F(HostLinkTest, LongBurstIsReadAsBlocksOf1024Bytes) {
    auto host = ConnectHost();
    // Three blocks, each holding one STOP: three replies. Padding keeps each command inside
    // its own block.
    std::string burst;
    for (int i = 0; i < 3; ++i)
        burst += "CMD~STOP" + std::string(1024 - 8, '.');
    host->Send(burst);
    ASSERT_TRUE(WaitUntil([&] { return host->received == "RE~STOPRE~STOPRE~STOP"; }));
}

// A host whose computer vanishes sends neither FIN nor RST. Simulated in a private network
// namespace (root only): the host connects from a second address of the loopback device, which
// is then deleted, so its socket neither answers nor resets. The test runs itself again inside
// `unshare -n`.
TEST(VanishedHostTest, NextHostIsServedWithinTenSeconds) {
    if (!qEnvironmentVariableIsSet("QUILLON_PRIVATE_NETWORK")) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a private network namespace needs root";
        QProcess inner;
        inner.setProcessChannelMode(QProcess::MergedChannels);
        inner.start("env", {"QUILLON_PRIVATE_NETWORK=1", "unshare", "-n",
                            QString::fromStdString(fs::read_symlink("/proc/self/exe").string()),
                            "--gtest_filter=VanishedHostTest.*"});
        ASSERT_TRUE(inner.waitForFinished(60000));
        const std::string output = inner.readAll().toStdString();
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }
    for (const char* step : {"ip link set lo up", "ip addr add 10.9.9.1/32 dev lo",
                             "ip addr add 10.9.9.2/32 dev lo"}) {
        ASSERT_EQ(std::system(step), 0) << step;
    }
    TestCoreApplication();
    ManualTickSource ticks{5000};
    RecorderEngine engine{ticks};
    engine.App().Port = FreePort();
    ASSERT_TRUE(engine.StartListening());
    Host vanishing(engine.App().Port, "10.9.9.1", "10.9.9.2");
    ASSERT_TRUE(WaitUntil([&] { return engine.IsHostConnected(); }));
    ASSERT_EQ(std::system("ip addr del 10.9.9.2/32 dev lo"), 0);
    Host next(engine.App().Port, "10.9.9.1");
    next.Send("CMD~STOP");
    EXPECT_TRUE(next.Receives("RE~STOP", 10000));
}

} // namespace
} // namespace quillon
