// Recordings in the host's share: the real program, Directory=1, a host on 127.0.0.1, and a
// private smbd that serves the host's "QuillonFiles" share from a folder the test reads back.
#include <pwd.h>

#include <QElapsedTimer>

#include "common/PrivateSmbServer.h"
#include "common/RecorderProcess.h"

namespace quillon {
namespace {

constexpr const char* kShareError =
    "<- ERROR~Cannot find the QuillonFiles folder, or access is denied.";

class SmbRecordingTest : public RecorderProcessTest {
protected:
    void SetUp() override {
        RecorderProcessTest::SetUp();
        directory = 1;
        recordings = dir / "remote";
        smbPort = FreePort();
        recorderArgs = {"--smb-port", QString::number(smbPort)};
    }

    bool StartServer(const std::string& user = {}, const std::string& password = {},
                     const std::string& shareName = "QuillonFiles") {
        return server.Configure(dir / "smbd", recordings, smbPort, user, password, shareName) &&
               server.Start();
    }

    // Runs a host script against the recorder that StartRecorder started.
    std::string Host(const std::string& script) {
        return RunTool("quillon-host", {"--port", QString::number(port), "--script",
                                        QString::fromStdString(script)});
    }

    void ExpectOrderlyExit() {
        ::kill(pid_t(recorder.processId()), SIGTERM);
        EXPECT_TRUE(recorder.waitForFinished(15000));
        EXPECT_EQ(recorder.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(recorder.exitCode(), 0);
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    PrivateSmbServer server;
    int smbPort = 0;
};

class SmbRecordingKindTest : public SmbRecordingTest,
                             public ::testing::WithParamInterface<const char*> {};

// Every kind reaches the share through the same output and holds each arrival's window.
TEST_P(SmbRecordingKindTest, RemoteRecordingHoldsBothArrivals) {
    ASSERT_TRUE(StartServer());
    const RaceRun run = RaceTwoArrivals(GetParam());
    EXPECT_NE(run.hostOutput.find("<- FILENAME~R~QUILLON"), std::string::npos) << run.hostOutput;
    EXPECT_EQ(run.hostOutput.find(kShareError), std::string::npos)
        << run.hostOutput << recorder.readAllStandardError().toStdString();
    ASSERT_FALSE(run.recording.empty());
    EXPECT_NE(run.hostOutput.find("~" + run.recording.filename().string() + "@"),
              std::string::npos);
    ExpectTwoArrivals(run);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmbRecordingKindTest, ::testing::Values("VLV", "AVI", "WMV"));

// A share for one account: the right password records, a wrong one is the host's ERROR reply
// (and never turns into a guest).
TEST_F(SmbRecordingTest, AccountShareTakesTheRightPasswordOnly) {
    const std::string user = getpwuid(getuid())->pw_name;
    ASSERT_TRUE(StartServer(user, "Finish-Line 7"));
    const struct {
        const char* password;
        bool records;
    } cases[] = {{"Finish-Line 7", true}, {"wrong", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        const fs::path auth = dir / "auth";
        std::ofstream(auth) << "# the recorder's account on the host\nusername = " << user
                            << "\npassword = " << c.password << "\n";
        recorderArgs = {"--smb-port", QString::number(smbPort), "--smb-auth",
                        QString::fromStdString(auth.string())};
        WriteSettings("VLV");
        ASSERT_TRUE(StartRecorder());
        const std::string out =
            Host("READY; START; wait 1; ARRIVAL; wait 0.5; ENDARRIVAL; wait 1; IDLE");
        EXPECT_EQ(out.find(kShareError) == std::string::npos, c.records) << out;
        EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
        ExpectOrderlyExit();
        if (c.records) {
            ASSERT_FALSE(fs::is_empty(recordings));
            EXPECT_FALSE(ReadFrames(fs::directory_iterator(recordings)->path()).empty());
            fs::remove_all(recordings);
            fs::create_directory(recordings);
        } else {
            EXPECT_TRUE(fs::is_empty(recordings));
            EXPECT_NE(recorder.readAllStandardError().toStdString().find("recording failed"),
                      std::string::npos);
        }
    }
}

// No share of that name on the host, or no server at all: the ERROR reply, and the race goes on.
TEST_F(SmbRecordingTest, MissingShareOrServerGivesTheErrorReply) {
    for (const bool serverRuns : {true, false}) {
        SCOPED_TRACE(serverRuns ? "share missing" : "no server");
        if (serverRuns) {
            ASSERT_TRUE(StartServer({}, {}, "OtherFiles"));
        }
        WriteSettings("AVI");
        ASSERT_TRUE(StartRecorder());
        QElapsedTimer timer;
        timer.start();
        const std::string out = Host("READY; START; wait 0.5; ARRIVAL; wait 0.3; IDLE");
        EXPECT_LT(timer.elapsed(), 10000);
        EXPECT_NE(out.find("<- FILENAME~R~"), std::string::npos) << out;
        EXPECT_NE(out.find(kShareError), std::string::npos) << out;
        EXPECT_NE(out.find("<- RE~IDLE"), std::string::npos) << out;
        ExpectOrderlyExit();
        server.Stop();
    }
}

// The server dies (SIGKILL) or stops answering (SIGSTOP) while a pass writes: the recorder keeps
// serving the host, waits at most the timeout per failure, says what happened, keeps what
// reached the share readable, fails the next READY and succeeds once the server is back.
class SmbServerLossTest : public SmbRecordingTest, public ::testing::WithParamInterface<int> {};

TEST_P(SmbServerLossTest, RecorderKeepsServingAndTheRecordingStaysReadable) {
    ASSERT_TRUE(StartServer());
    WriteSettings("AVI");
    ASSERT_TRUE(StartRecorder());
    QProcess host;
    host.start(QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / "quillon-host").string()),
               {"--port", QString::number(port)});
    ASSERT_TRUE(host.waitForStarted());
    std::string out;
    // Sends steps, then reads the host's output until `marker` has come `count` times in all;
    // returns the time that took.
    const auto steps = [&](const char* text, const std::string& marker, size_t count, int ms) {
        host.write(text);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms && Count(out, marker) < count) {
            host.waitForReadyRead(20);
            out += host.readAllStandardOutput().toStdString();
        }
        return timer.elapsed();
    };
    // The server goes while the arrival's frames are being written, once some have reached it.
    steps("READY\nSTART\nwait 2\nARRIVAL\n", "<- RE~ARRIVAL", 1, 10000);
    steps("", "never", 1, 300);
    ::kill(-server.Pid(), GetParam());
    // 2.5 s of waiting in the steps, and at most one timeout (4 s) for the pass's write and one
    // for the READY's file.
    EXPECT_LT(
        steps("wait 1\nENDARRIVAL\nwait 1\nIDLE\nREADY\nwait 0.5\nIDLE\n", "<- RE~IDLE", 2, 30000),
        14000);
    server.Stop(SIGKILL);
    ASSERT_TRUE(StartServer());
    steps("READY\nwait 0.5\nIDLE\n", "<- RE~IDLE", 3, 10000);
    host.closeWriteChannel();
    ASSERT_TRUE(host.waitForFinished(20000));
    out += host.readAllStandardOutput().toStdString();
    EXPECT_EQ(Count(out, "<- RE~IDLE"), 3u) << out;
    EXPECT_EQ(Count(out, "<- FILENAME~R~"), 3u) << out;
    EXPECT_EQ(Count(out, kShareError), 1u) << out; // the READY while the server was gone
    ExpectOrderlyExit();
    const std::string errors = recorder.readAllStandardError().toStdString();
    EXPECT_NE(errors.find("recording failed: cannot write smb://"), std::string::npos) << errors;

    // The first recording is the largest: what reached the share before the server died.
    fs::path first;
    for (const auto& entry : fs::directory_iterator(recordings))
        if (first.empty() || entry.file_size() > fs::file_size(first))
            first = entry.path();
    ASSERT_FALSE(first.empty());
    const std::vector<Frame> frames = ReadFrames(first);
    ASSERT_FALSE(frames.empty());
    // An outside reader plays every whole frame that reached the share.
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                            "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                            QString::fromStdString(first.string())});
    ASSERT_TRUE(probe.waitForFinished(30000));
    EXPECT_EQ(probe.readAllStandardOutput().trimmed().toStdString(), std::to_string(frames.size()));
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_GT(frames[i].time, frames[i - 1].time);
}

INSTANTIATE_TEST_SUITE_P(Signals, SmbServerLossTest, ::testing::Values(SIGKILL, SIGSTOP));

} // namespace
} // namespace quillon
