#pragma once

// The recorder as its users run it, for end-to-end tests: a copy of the real program in a folder
// of its own with settings.ini beside it, the simulated camera, offscreen, a private Samba
// configuration with the local share and its own HOME; the host tool drives it over TCP, and
// quillon-inspect and FFmpeg read the recordings back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QProcess>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/Network.h"

namespace quillon {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Frame {
    long long time = -1;     // race time in ms, -1 when the kind keeps none
    long long sequence = -1; // camera frame number, .vlv only
};

// A recording as `quillon-inspect --check` reads it.
struct Inspection {
    int exitCode = -1;
    std::string output;        // the listing, then the damage found
    long long frames = -1;     // the count it gives, a .vlv's opening frame included
    std::vector<Frame> listed; // the frames it lists, the opening frame left out
};

struct RaceRun {
    std::string hostOutput;
    fs::path recording;
    Inspection file;
    std::vector<long long> arrival, end; // the race times the host sent
};

class RecorderProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        char pattern[] = "/tmp/quillon-e2e-XXXXXX";
        dir = mkdtemp(pattern);
        app = dir / "app";
        recordings = dir / "share";
        for (const fs::path& folder : {app, recordings, dir / "home" / ".smb", dir / "config"})
            fs::create_directories(folder);
        std::ofstream(dir / "smb.conf")
            << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = " << recordings.string()
            << "\n  read only = no\n";
        // libsmbclient reads $HOME/.smb/smb.conf before the system's.
        std::ofstream(dir / "home" / ".smb" / "smb.conf") << "[global]\n";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", app / "quillon-id");
        port = FreePort();
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", Path(dir / "home"));
        env.insert("XDG_CONFIG_HOME", Path(dir / "config"));
        // In the ASan build: D-Bus, which Qt's X11 platform opens, keeps a buffer to the end
        // of a program that ends with a modal box open; it is not ours to free.
        env.insert("LSAN_OPTIONS", "suppressions=" QUILLON_SOURCE_DIR "/cmake/lsan.supp");
        // For the shell scripts of the tests that need a private mount.
        env.insert("D", Path(dir));
        env.insert("B", QUILLON_BUILD_DIR);
        env.insert("P", QString::number(port));
    }
    void TearDown() override {
        if (recorder.state() != QProcess::NotRunning)
            recorder.kill();
        recorder.waitForFinished(5000);
        fs::permissions(app, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }

    static QString Path(const fs::path& path) { return QString::fromStdString(path.string()); }
    static QString Tool(const char* name) { return QString(QUILLON_BUILD_DIR "/") + name; }
    static std::string ReadText(const fs::path& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // Runs a program to its end: its standard output, its standard error and its exit code (-1
    // when it crashed).
    static std::string Run(const QString& program, const QStringList& args, int* exitCode = nullptr,
                           std::string* errors = nullptr) {
        QProcess process;
        process.start(program, args);
        process.waitForFinished(60000);
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        if (errors)
            *errors = process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().toStdString();
    }

    static Inspection Inspect(const fs::path& recording) {
        Inspection file;
        std::string damage;
        file.output =
            Run(Tool("quillon-inspect"), {"--check", Path(recording)}, &file.exitCode, &damage) +
            damage;
        // A frame's race time follows ": " or ", " (a Windows Media file's "sample time" is not
        // one); only a .vlv's frames have a camera number.
        const std::regex count(R"(^frames: (\d+))"),
            frame(R"(^frame \d+(?:.*(?:: |, )time (\d+) ms)?(?:, sequence (\d+))?)");
        std::istringstream lines(file.output);
        std::smatch m;
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_search(line, m, count))
                file.frames = std::stoll(m[1]);
            else if (std::regex_search(line, m, frame) && line.find("opening frame") == line.npos)
                file.listed.push_back(
                    {m[1].matched ? std::stoll(m[1]) : -1, m[2].matched ? std::stoll(m[2]) : -1});
        }
        return file;
    }

    // The frames FFmpeg, the outside reader, decodes in a recording; -1 when it fails.
    static long long DecodedFrames(const fs::path& recording) {
        int code = -1;
        const std::string count =
            Run("ffprobe",
                {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                 "stream=nb_read_frames", "-of", "csv=p=0", Path(recording)},
                &code);
        return code == 0 ? std::atoll(count.c_str()) : -1;
    }

    void WriteSettings(const std::string& filetype) {
        std::ofstream(app / "settings.ini")
            << "[Quillon]\nDirectory=" << directory << "\nPort=" << port
            << "\nFiletype=" << filetype << "\n[QuillonID_Camera]\nWidth=800\nHeight=400\n"
            << "XOffset=624\nYOffset=568\nExposure=10\nFramerate=24\nGain=3875\nRedGain=3875\n"
            << "GreenGain1=3875\nGreenGain2=3875\nBlueGain=3875\nReduction=1\nContrast=100\n"
            << "AutoCorrection=0\n";
    }

    // Starts the program from no particular folder (its settings must not depend on it), with
    // the private share configuration; `wrapper` runs it (unshare, setpriv).
    void Start(QStringList args = {"--camera", "sim"}, QStringList wrapper = {}) {
        recorder.setProcessEnvironment(env);
        recorder.setWorkingDirectory("/");
        args = wrapper + QStringList{Path(app / "quillon-id")} + args +
               QStringList{"--smb-conf", Path(dir / "smb.conf")} + recorderArgs;
        recorder.start(args.takeFirst(), args);
        ASSERT_TRUE(recorder.waitForStarted(5000));
    }
    bool StartListening() { return (Start(), !HasFatalFailure()) && WaitUntilListening(port); }

    // SIGTERM, as a service manager ends it: the exit code, -1 unless it ended in order.
    int Stop() {
        ::kill(pid_t(recorder.processId()), SIGTERM);
        const bool ended = recorder.waitForFinished(15000);
        return ended && recorder.exitStatus() == QProcess::NormalExit ? recorder.exitCode() : -1;
    }

    std::string Host(const std::string& script) const {
        return Run(Tool("quillon-host"),
                   {"--port", QString::number(port), "--script", QString::fromStdString(script)});
    }

    // The race's recording: the one file in the recordings folder.
    fs::path Recording() const {
        return fs::is_empty(recordings) ? fs::path() : fs::directory_iterator(recordings)->path();
    }

    // Two arrivals with a pause between them, then IDLE; the recorder is stopped afterwards.
    RaceRun RaceTwoArrivals(const std::string& filetype) {
        WriteSettings(filetype);
        RaceRun run;
        EXPECT_TRUE(StartListening());
        run.hostOutput = Host("READY; START; wait 2; ARRIVAL; wait 0.6; ENDARRIVAL; wait 2.5; "
                              "ARRIVAL; wait 0.3; ENDARRIVAL; wait 1; IDLE");
        EXPECT_EQ(Stop(), 0);
        const std::regex sent(R"(-> CMD~(END)?ARRIVAL~(\d+)@)");
        for (std::sregex_iterator it(run.hostOutput.begin(), run.hostOutput.end(), sent), last;
             it != last; ++it)
            ((*it)[1].matched ? run.end : run.arrival).push_back(std::stoll((*it)[2]));
        if (!(run.recording = Recording()).empty())
            run.file = Inspect(run.recording);
        return run;
    }

    // The frames form one run per arrival: from the frame nearest (arrival - before) to the last
    // frame up to (end + after), one every `period` ms, times strictly rising, camera numbers
    // without a gap.
    static void ExpectArrivals(const RaceRun& run, long long before = 600, long long after = 400,
                               long long period = 40) {
        const std::vector<Frame>& frames = run.file.listed;
        ASSERT_FALSE(frames.empty()) << run.hostOutput;
        std::vector<std::vector<Frame>> runs{{frames[0]}};
        for (size_t i = 1; i < frames.size(); ++i) {
            const Frame &a = frames[i - 1], &b = frames[i];
            ASSERT_GT(b.time, a.time) << "frame " << i;
            if (b.time - a.time > 5 * period) {
                runs.emplace_back();
            } else if (a.sequence >= 0) {
                EXPECT_EQ(b.sequence, a.sequence + 1) << "frame " << i;
            }
            runs.back().push_back(b);
        }
        ASSERT_EQ(runs.size(), run.arrival.size()) << run.hostOutput;
        ASSERT_EQ(runs.size(), run.end.size()) << run.hostOutput;
        for (size_t k = 0; k < runs.size(); ++k) {
            SCOPED_TRACE("arrival " + std::to_string(k));
            const long long start = run.arrival[k] - before, end = run.end[k] + after;
            EXPECT_LE(std::llabs(runs[k].front().time - start), period / 2 + 5);
            EXPECT_LE(runs[k].back().time, end + 5);
            EXPECT_GT(runs[k].back().time, end - period - 5);
            // Times are taken as the camera delivers frames, so single gaps jitter; the count
            // over the whole run shows a missing frame all the same.
            const double span = double(runs[k].back().time - runs[k].front().time);
            EXPECT_EQ(runs[k].size(), size_t(std::llround(span / double(period))) + 1);
        }
    }

    fs::path dir;
    fs::path app;             // the program's folder, settings.ini beside it
    fs::path recordings;      // where the race's recording is looked for
    int directory = 0;        // the Directory setting: 1 for the host's share
    QStringList recorderArgs; // more program options
    int32_t port = 0;
    QProcessEnvironment env;
    QProcess recorder;
};

} // namespace quillon
