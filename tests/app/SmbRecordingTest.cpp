// Recordings in the host's share: the real program, Directory=1, a host on 127.0.0.1, and a
// private smbd that serves the host's "QuillonFiles" share from a folder the test reads back.
#include <pwd.h>

#include <chrono>

#include "common/PrivateSmbServer.h"
#include "common/RecorderProcess.h"

namespace quillon {
namespace {

constexpr const char* kShareError =
    "<- ERROR~Cannot find the QuillonFiles folder, or access is denied.";

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SmbRecordingTest : public RecorderProcessTest {
protected:
    void SetUp() override {
        RecorderProcessTest::SetUp();
        directory = 1;
        fs::create_directories(recordings = dir / "remote");
        smbPort = FreePort();
        recorderArgs = {"--smb-port", QString::number(smbPort)};
    }

    bool StartServer(const std::string& user = {}, const std::string& password = {},
                     const std::string& shareName = "QuillonFiles") {
        return server.Configure(dir / "smbd", recordings, smbPort, user, password, shareName) &&
               server.Start();
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
    EXPECT_THAT(run.hostOutput, HasSubstr("<- FILENAME~R~QUILLON"));
    EXPECT_THAT(run.hostOutput, Not(HasSubstr(kShareError)))
        << recorder.readAllStandardError().toStdString();
    ASSERT_FALSE(run.recording.empty());
    EXPECT_THAT(run.hostOutput, HasSubstr("~" + run.recording.filename().string() + "@"));
    ExpectArrivals(run);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmbRecordingKindTest, ::testing::Values("VLV", "AVI", "WMV"));

// The share as the recorder may find it: missing under that name, no server at all, no local
// share, or a share for one account with a wrong or the right password (a wrong one never turns
// into a guest). A share it cannot use is the host's ERROR reply, and the race goes on.
TEST_F(SmbRecordingTest, OnlyAUsableShareRecordsAndTheRaceGoesOnWithout) {
    const std::string user = getpwuid(getuid())->pw_name, password = "Finish-Line 7";
    // {the server's share (none: no server), the recorder's password for the account (none: a
    // guest), Directory}
    const std::tuple<std::string, std::string, int> cases[] = {{"OtherFiles", "", 1},
                                                               {"", "", 1},
                                                               {"", "", 0},
                                                               {"QuillonFiles", "wrong", 1},
                                                               {"QuillonFiles", password, 1}};
    for (const auto& [share, secret, where] : cases) {
        SCOPED_TRACE("server share " + share + ", password " + secret +
                     (where ? "" : ", local share"));
        ASSERT_TRUE(share.empty() || (secret.empty() ? StartServer({}, {}, share)
                                                     : StartServer(user, password, share)));
        std::ofstream(dir / "auth") << "# the recorder's account on the host\nusername = " << user
                                    << "\npassword = " << secret;
        recorderArgs = {"--smb-port", QString::number(smbPort)};
        if (!secret.empty())
            recorderArgs << "--smb-auth" << Path(dir / "auth");
        if ((directory = where) == 0)
            std::ofstream(dir / "smb.conf") << "[global]\n  workgroup = TEST\n";
        WriteSettings("AVI");
        ASSERT_TRUE(StartListening());
        const auto started = std::chrono::steady_clock::now();
        const std::string out =
            Host("READY; START; wait 1; ARRIVAL; wait 0.5; ENDARRIVAL; wait 1; IDLE");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(12));
        const bool records = secret == password;
        EXPECT_EQ(out.find(kShareError) == std::string::npos, records) << out;
        EXPECT_THAT(out, ::testing::AllOf(HasSubstr(where ? "<- FILENAME~R~" : "<- FILENAME~L~"),
                                          HasSubstr("<- RE~IDLE")));
        EXPECT_EQ(Stop(), 0);
        EXPECT_EQ(fs::is_empty(recordings), !records);
        // A failed host share is told on the standard error too.
        EXPECT_TRUE(!where ||
                    recorder.readAllStandardError().contains("recording failed") == !records);
        EXPECT_TRUE(!records || !Inspect(Recording()).listed.empty());
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
    ASSERT_TRUE(StartListening());
    // The server goes while the arrival's frames are being written, once some have reached it:
    // 0.8 s into the arrival.
    QProcess::startDetached(
        "sh", {"-c", QString("sleep 2.9; kill -%1 -%2").arg(GetParam()).arg(server.Pid())});
    const auto started = std::chrono::steady_clock::now();
    std::string out = Host("READY; START; wait 2; ARRIVAL; wait 1.5; ENDARRIVAL; wait 1; IDLE; "
                           "READY; wait 0.5; IDLE");
    // 5 s of waiting in the script, and at most one timeout (4 s) for the pass's write and one
    // for the READY's file.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(17));
    server.Stop(SIGKILL);
    ASSERT_TRUE(StartServer());
    out += Host("READY; wait 0.5; IDLE");
    EXPECT_EQ(Count(out, "<- RE~IDLE"), 3u) << out;
    EXPECT_EQ(Count(out, "<- FILENAME~R~"), 3u) << out;
    EXPECT_EQ(Count(out, kShareError), 1u) << out; // the READY while the server was gone
    EXPECT_EQ(Stop(), 0);
    EXPECT_THAT(recorder.readAllStandardError().toStdString(),
                HasSubstr("recording failed: cannot write smb://"));

    // The first recording is the largest: what reached the share before the server died. An
    // outside reader plays every whole frame of it, in the order of their times, which rise.
    fs::path first;
    for (const auto& entry : fs::directory_iterator(recordings))
        if (first.empty() || entry.file_size() > fs::file_size(first))
            first = entry.path();
    ASSERT_FALSE(first.empty());
    const Inspection file = Inspect(first);
    ASSERT_FALSE(file.listed.empty()) << file.output;
    EXPECT_EQ(DecodedFrames(first), file.frames);
    EXPECT_TRUE(std::ranges::is_sorted(file.listed, std::less_equal<>(), &Frame::time));
}

INSTANTIATE_TEST_SUITE_P(Signals, SmbServerLossTest, ::testing::Values(SIGKILL, SIGSTOP));

} // namespace
} // namespace quillon
