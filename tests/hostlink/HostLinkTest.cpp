#include <gtest/gtest.h>

#include <QNetworkProxy>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>
#include <unistd.h>

#include "RecorderEngine.h"
#include "common/Network.h"
#include "common/WaitUntil.h"
#include "core/RaceCommands.h"
#include "hostlink/CommandDispatcher.h"

namespace quillon {
namespace {

// The operations a block runs, with their parameters, one after another.
std::string Dispatched(std::string_view block) {
    struct Recorder : RaceCommands {
        std::string calls;
        void OnIdle() override { calls += "IDLE "; }
        void OnReady() override { calls += "READY "; }
        void OnStart() override { calls += "START "; }
        void OnArrival(std::string_view t) override { calls += "ARRIVAL(" + Text(t) + ") "; }
        void OnEndArrival(std::string_view t) override { calls += "END(" + Text(t) + ") "; }
        void OnSaveCommand() override { calls += "SAVE "; }
        void OnStop() override { calls += "STOP "; }
        void OnTimeReply(std::string_view t) override { calls += "TIME(" + Text(t) + ") "; }
        using Text = std::string;
    } r;
    DispatchCommands(block, r);
    return r.calls;
}

// Keywords run in a fixed order, once each; parameters end at the next '@' (none without
// one); the clock reply takes the text after the block's last '~' ("TIME" alone leaves the
// clock alone); a zero byte ends the block. (Random blocks are the host_commands fuzz target's.)
TEST(CommandDispatcher, BlocksRunTheirKeywordsInFixedOrderWithTheirParameters) {
    const std::pair<const char*, const char*> cases[] = {
        {"CMD~STARTCMD~READY", "READY START "},
        {"CMD~STOPCMD~SAVECMD~IDLECMD~STOP", "IDLE SAVE STOP "},
        {"cmd~ready", ""},
        {"CMD~ARRIVAL~61234@", "ARRIVAL(61234) "},
        {"CMD~ARRIVAL~61234", "ARRIVAL() "},
        {"CMD~ENDARRIVAL~70000@", "END(70000) "},
        {"TIME~60000@CMD~ARRIVAL~61000@", "ARRIVAL(61000) TIME(61000) "},
        {"TIME", ""},
        {"TIME~", "TIME() "}};
    for (const auto& [block, calls] : cases)
        EXPECT_EQ(Dispatched(block), calls) << block;
    EXPECT_EQ(Dispatched(std::string("CMD~IDLE\0CMD~STOP", 17)), "IDLE ");
}

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

class HostLinkTest : public ::testing::Test {
protected:
    HostLinkTest() {
        engine.App().Port = FreePort();
        EXPECT_TRUE(engine.StartListening());
    }

    std::unique_ptr<TcpHost> ConnectHost() {
        auto host = std::make_unique<TcpHost>(engine.App().Port);
        EXPECT_TRUE(WaitUntil([&] { return engine.IsHostConnected(); }));
        return host;
    }

    QCoreApplication& app = TestCoreApplication(); // before any socket is made
    ManualTickSource ticks{5000};
    RecorderEngine engine{ticks};
};

// One host at a time: the next waits, its commands kept, until the one before has gone, and
// queued hosts that left meanwhile are skipped at once. A host that vanishes frees the link.
TEST_F(HostLinkTest, HostsAreServedOneAtATimeAndTheNextWhenOneHasGone) {
    auto first = ConnectHost();
    EXPECT_EQ(engine.Status(), "127.0.0.1");
    TcpHost gone(engine.App().Port);
    gone.socket.disconnectFromHost();
    TcpHost waiting(engine.App().Port);
    waiting.Send("CMD~STOP");
    WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(waiting.received.empty());
    // Several commands in one block run in a fixed order; their replies come in that order.
    first->Send("CMD~STARTCMD~READY");
    ASSERT_TRUE(first->Receives("RE~START"));
    EXPECT_EQ(first->received, std::string("FILENAME~L~127.0.0.1~QUILLON5000.vlv@") +
                                   RecorderEngine::kShareErrorText + "RE~READYRE~START");
    EXPECT_EQ(engine.Race().State(), kStarted);
    first->socket.disconnectFromHost();
    // Well before the next keep-alive could find the dead one.
    EXPECT_TRUE(waiting.Receives("RE~STOP", HostLink::kKeepAliveMs / 2));
    EXPECT_TRUE(engine.IsHostConnected());
    waiting.socket.abort(); // vanishes without a word
    ASSERT_TRUE(WaitUntil([&] { return !engine.IsHostConnected(); }));
    EXPECT_EQ(engine.Status(), RecorderEngine::kNoHostText);
    auto next = ConnectHost();
    next->Send("CMD~IDLE");
    EXPECT_TRUE(next->Receives("RE~IDLE"));
}

// A space keeps the link alive every two seconds (the host counts on two seconds, whatever the
// constant says). Garbage never breaks the link: a split command is not recognised, and a long
// burst is read as blocks of 1024 bytes: three blocks, each holding one STOP (padding keeps each
// command inside its own block), give three replies. A clock request made on another thread
// goes out and its answer is taken.
TEST_F(HostLinkTest, KeepAliveEveryTwoSecondsGarbageIsHarmlessClockRequestFromAnotherThread) {
    auto host = ConnectHost();
    ASSERT_TRUE(host->Receives(" ", 2000 + 1000));
    EXPECT_EQ(host->received, " ");
    std::mt19937 random(11);
    std::string noise(20000, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
    host->Send(noise);
    WaitUntil([] { return false; }, 200); // the noise is read apart from what follows
    host->received.clear();
    host->Send("CMD~ST");
    WaitUntil([] { return false; }, 100);
    host->Send("OP");
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(host->received.find("RE~STOP"), std::string::npos);
    std::string burst;
    for (int i = 0; i < 3; ++i)
        burst += "CMD~STOP" + std::string(1024 - 8, '.');
    host->Send(burst);
    ASSERT_TRUE(WaitUntil([&] {
        std::erase(host->received, ' '); // keep-alive
        return host->received == "RE~STOPRE~STOPRE~STOP";
    }));
    EXPECT_TRUE(engine.IsHostConnected());
    engine.Race().OnStart();
    host->received.clear();
    std::thread([&] { engine.RequestTimeFromAnyThread(); }).join();
    ASSERT_TRUE(host->Receives("TIME~5000"));
    ticks.Set(5100);
    host->Send("TIME~60000@");
    ASSERT_TRUE(WaitUntil([&] { return engine.Race().RaceTimeAtSync() == 60050u; }));
}

// A host whose computer vanishes sends neither FIN nor RST. Simulated in a private network
// namespace (root only; the test runs itself again inside `unshare -n`): once the host is
// connected, nftables drops every packet to or from its port, so its socket neither answers nor
// resets.
TEST_F(HostLinkTest, VanishedHostGivesWayToTheNextWithinTenSeconds) {
    const auto shell = [](const std::string& command) { return std::system(command.c_str()); };
    if (!qEnvironmentVariableIsSet("QUILLON_PRIVATE_NETWORK")) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a private network namespace needs root";
        EXPECT_EQ(shell("QUILLON_PRIVATE_NETWORK=1 unshare -n sh -c 'ip link set lo up && " +
                        std::filesystem::read_symlink("/proc/self/exe").string() +
                        " \"--gtest_filter=HostLinkTest.Vanished*\"'"),
                  0);
        return;
    }
    auto vanishing = ConnectHost();
    const std::string port = std::to_string(vanishing->socket.localPort());
    ASSERT_EQ(shell("nft 'add table inet v; add chain inet v in { type filter hook input priority "
                    "0; }; add rule inet v in tcp sport " +
                    port + " drop; add rule inet v in tcp dport " + port + " drop'"),
              0);
    TcpHost next(engine.App().Port);
    next.Send("CMD~STOP");
    EXPECT_TRUE(next.Receives("RE~STOP", 10000));
}

} // namespace
} // namespace quillon
