// Runs the real program as an operator or a service manager would: a copy in its own folder,
// settings.ini beside it, offscreen, stopped with SIGTERM.
#include <unistd.h>

#include <QTcpServer>

#include "common/RecorderProcess.h"
#include "common/WaitUntil.h"

namespace quillon {
namespace {

class ProgramTest : public RecorderProcessTest {
protected:
    // Each of `lines` is a whole line of the settings file at `file`.
    static void ExpectLines(const fs::path& file, const std::vector<std::string>& lines) {
        const std::string text = ReadText(file);
        for (const std::string& line : lines)
            EXPECT_THAT(text, HasSubstr(line + "\n"));
    }
};

// No settings file, or one that cannot be read (a folder of that name, which even root cannot
// read as a file): the defaults apply, port 2000 and the camera's values with a centred region,
// and an unreadable file is reported. The program runs in a network of its own, where port 2000
// is free and the kernel's table of that network says when the program listens on it.
TEST_F(ProgramTest, WithoutUsableSettingsTheDefaultsApply) {
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "unreadable settings" : "no settings");
        if (unreadable)
            fs::create_directories(app / "settings.ini");
        Start({"--camera", "sim"}, {"unshare", "-n"});
        const std::string proc = "/proc/" + std::to_string(recorder.processId());
        const bool listens = WaitUntil(
            [&] {
                return fs::read_symlink(proc + "/ns/net") !=
                           fs::read_symlink("/proc/self/ns/net") &&
                       std::regex_search(ReadText(proc + "/net/tcp") + ReadText(proc + "/net/tcp6"),
                                         std::regex(":07D0 [0-9A-F]+:0000 0A"));
            },
            10000);
        if (!listens && recorder.readAllStandardError().startsWith("unshare"))
            GTEST_SKIP() << "no network namespace here";
        ASSERT_TRUE(listens);
        EXPECT_EQ(Stop(), 0);
        if (unreadable) {
            EXPECT_THAT(recorder.readAllStandardError().toStdString(),
                        HasSubstr("default settings apply"));
            continue;
        }
        ExpectLines(app / "settings.ini",
                    {"Port=2000", "Width=800", "Height=400", "XOffset=624", "YOffset=568",
                     "Exposure=10.000", "Framerate=26", "Gain=3875", "BlueGain=3875",
                     "FramesBefore=15", "BufferLenght=250", "Filetype=VLV"});
        fs::remove(app / "settings.ini");
    }
}

// On a private X server (-displayfd prints its number once it is ready), since the offscreen
// platform skips message boxes: a region wider than the sensor, which the camera refuses with
// a box that waits for OK.
TEST_F(ProgramTest, SigtermEndsTheProgramWhileAStartUpBoxIsOpen) {
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForReadyRead(10000)) << "Xvfb (package xvfb) did not start";
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", ":" + xvfb.readLine().trimmed());
    std::ofstream(app / "settings.ini") << "[QuillonID_Camera]\nWidth=4000\n";
    Start();
    QByteArray errors;
    EXPECT_TRUE(WaitUntil(
        [&] { return (errors += recorder.readAllStandardError()).contains("set current format."); },
        10000))
        << errors.toStdString();
    QThread::msleep(500); // the box is up
    EXPECT_EQ(Stop(), 0);
    // The settings hold what the camera really uses.
    ExpectLines(app / "settings.ini", {"Width=2048"});
    xvfb.terminate(); // not killed: it would leave its lock and socket in /tmp
    xvfb.waitForFinished(5000);
}

// In a folder it cannot write, its settings live in the user's config folder. Its port taken by
// another program, it listens on the next one; on SIGTERM it writes that port and the camera's
// real values there: 14 fps snapped to 15 by the camera, stored as 15 + 1.
TEST_F(ProgramTest, MovesOnFromATakenPortAndKeepsSettingsInTheConfigFolderIfItsOwnIsReadOnly) {
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::AnyIPv4, quint16(port)));
    const fs::path settings = dir / "config" / "quillon-id" / "settings.ini";
    fs::create_directories(settings.parent_path());
    std::ofstream(settings)
        << "[Quillon]\nPort=" << port << "\nFramesBefore=20\n"
        << "[QuillonID_Camera]\nWidth=640\nHeight=480\nXOffset=16\nYOffset=8\nFramerate=14\n"
        << "Exposure=5\nReduction=2\n";
    fs::permissions(app, fs::perms::owner_write, fs::perm_options::remove);
    QStringList as;
    if (::geteuid() == 0) {
        // Root writes through permission bits: the program runs as nobody instead, who may read
        // the program's folder but not write it, and who owns the config folder.
        fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(app, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
        for (const fs::path& path : {dir / "config", settings.parent_path(), settings})
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        as = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    Start({"--camera", "sim"}, as);
    ASSERT_TRUE(WaitUntilListening(port + 1));
    EXPECT_EQ(Stop(), 0);
    EXPECT_FALSE(fs::exists(app / "settings.ini"));
    ExpectLines(settings,
                {"Port=" + std::to_string(port + 1), "FramesBefore=20", "Width=640", "Height=480",
                 "XOffset=16", "Framerate=16", "Exposure=5.000", "Reduction=2"});
}

// The GNU conventions, for each program and without a display: --help and --version on the
// standard output with exit status 0; an unknown option gives the usage on the standard error
// and exit status 2. The recorder writes no settings for any of them, nor when its camera cannot
// be opened, which it reports with exit status 1.
TEST_F(ProgramTest, EveryProgramAnswersHelpVersionRefusesUnknownOptionsAndNeedsItsCamera) {
    qunsetenv("DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
    for (const std::string name : {"quillon-id", "quillon-host", "quillon-inspect"}) {
        SCOPED_TRACE(name);
        const QString program = name == "quillon-id" ? Path(app / name) : Tool(name.c_str());
        const std::string usage = "Usage: " + name;
        int version = -1, help = -1, unknown = -1;
        std::string err;
        EXPECT_THAT(Run(program, {"--version"}, &version),
                    ::testing::StartsWith(name + " (Quillon ID) " QUILLON_VERSION "\n"));
        EXPECT_THAT(Run(program, {"--help"}, &help),
                    ::testing::AllOf(::testing::StartsWith(usage), HasSubstr("--version")));
        EXPECT_EQ(Run(program, {"--frobnicate"}, &unknown, &err), "");
        EXPECT_EQ(std::tie(version, help, unknown), std::make_tuple(0, 0, 2));
        EXPECT_THAT(err, HasSubstr(usage));
    }
    Start({"--camera", "aravis:no-such-camera"}); // without its camera it says so and ends
    ASSERT_TRUE(recorder.waitForFinished(10000));
    EXPECT_EQ(recorder.exitCode(), 1);
    EXPECT_THAT(recorder.readAllStandardError().toStdString(),
                HasSubstr("Unable to connect to camera"));
    EXPECT_FALSE(fs::exists(app / "settings.ini"));
}

} // namespace
} // namespace quillon
