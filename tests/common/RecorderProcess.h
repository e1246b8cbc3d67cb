#pragma once

// The recorder as its users run it, for end-to-end tests: the real program with the simulated
// camera, offscreen, a private Samba configuration with the local share, its own HOME, the host
// tool driving it over TCP, and the recordings read back with the inspect tool.

#include <cmath>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/Network.h"

namespace quillon {

namespace fs = std::filesystem;

struct Frame {
    long long time = -1;     // race time in ms, -1 when the kind keeps none
    long long sequence = -1; // camera frame number, .vlv only
};

struct RaceRun {
    std::string hostOutput;
    fs::path recording;
    std::vector<Frame> frames;
    long long arrival[2] = {0, 0};
    long long end[2] = {0, 0};
};

class RecorderProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        char pattern[] = "/tmp/quillon-e2e-XXXXXX";
        dir = mkdtemp(pattern);
        fs::create_directory(dir / "share");
        std::ofstream(dir / "smb.conf")
            << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = " << (dir / "share").string()
            << "\n  read only = no\n";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", dir / "quillon-id");
        // libsmbclient reads $HOME/.smb/smb.conf before the system's.
        fs::create_directories(dir / "home" / ".smb");
        std::ofstream(dir / "home" / ".smb" / "smb.conf") << "[global]\n";
        recordings = dir / "share";
        port = FreePort();
    }
    void TearDown() override {
        if (recorder.state() != QProcess::NotRunning)
            recorder.kill();
        recorder.waitForFinished(5000);
        fs::remove_all(dir);
    }

    void WriteSettings(const std::string& filetype) {
        std::ofstream(dir / "settings.ini")
            << "[Quillon]\nDirectory=" << directory << "\nPort=" << port
            << "\nFiletype=" << filetype
            << "\n[QuillonID_Camera]\nWidth=800\nHeight=400\nXOffset=624\nYOffset=568\n"
               "Framerate=24\nExposure=10\nGain=3875\nRedGain=3875\nGreenGain1=3875\n"
               "GreenGain2=3875\nBlueGain=3875\nReduction=1\nContrast=100\nAutoCorrection=0\n";
    }

    bool StartRecorder() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", QString::fromStdString((dir / "home").string()));
        recorder.setProcessEnvironment(env);
        recorder.start(QString::fromStdString((dir / "quillon-id").string()),
                       QStringList{"--camera", "sim", "--smb-conf",
                                   QString::fromStdString((dir / "smb.conf").string())} +
                           recorderArgs);
        if (!recorder.waitForStarted(5000))
            return false;
        return WaitUntilListening(port);
    }

    static std::string RunTool(const std::string& tool, const QStringList& args,
                               int* exitCode = nullptr) {
        QProcess process;
        process.start(QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / tool).string()), args);
        process.waitForFinished(60000);
        if (exitCode)
            *exitCode = process.exitCode();
        return process.readAllStandardOutput().toStdString();
    }

    // Two arrivals with a pause between them, then IDLE; the recorder is stopped afterwards.
    RaceRun RaceTwoArrivals(const std::string& filetype) {
        WriteSettings(filetype);
        RaceRun run;
        if (!StartRecorder()) {
            ADD_FAILURE() << "recorder did not start";
            return run;
        }
        run.hostOutput = RunTool("quillon-host",
                                 {"--port", QString::number(port), "--script",
                                  "READY; START; wait 2; ARRIVAL; wait 0.6; ENDARRIVAL; wait 2.5; "
                                  "ARRIVAL; wait 0.3; ENDARRIVAL; wait 1; IDLE"});
        ::kill(pid_t(recorder.processId()), SIGTERM);
        EXPECT_TRUE(recorder.waitForFinished(10000));
        EXPECT_EQ(recorder.exitCode(), 0);
        const std::regex sent(R"(-> CMD~(END)?ARRIVAL~(\d+)@)");
        int arrivals = 0, ends = 0;
        for (std::sregex_iterator it(run.hostOutput.begin(), run.hostOutput.end(), sent), last;
             it != last; ++it) {
            long long value = std::stoll((*it)[2]);
            if ((*it)[1].matched) {
                if (ends < 2)
                    run.end[ends++] = value;
            } else if (arrivals < 2) {
                run.arrival[arrivals++] = value;
            }
        }
        for (const auto& entry : fs::directory_iterator(recordings))
            run.recording = entry.path();
        if (run.recording.empty())
            return run;
        run.frames = ReadFrames(run.recording);
        return run;
    }

    // The frames of a recording as the inspect tool lists them, the opening frame left out.
    static std::vector<Frame> ReadFrames(const fs::path& recording) {
        std::vector<Frame> frames;
        const std::string listing =
            RunTool("quillon-inspect", {QString::fromStdString(recording.string())});
        const std::regex line(R"(^frame \d+: (.*)$)");
        std::istringstream lines(listing);
        for (std::string text; std::getline(lines, text);) {
            std::smatch m;
            if (!std::regex_match(text, m, line) || text.find("opening frame") != std::string::npos)
                continue;
            Frame frame;
            std::smatch v;
            const std::string rest = m[1];
            if (std::regex_search(rest, v, std::regex(R"((^|, )time (\d+) ms)")))
                frame.time = std::stoll(v[2]);
            if (std::regex_search(rest, v, std::regex(R"(sequence (\d+))")))
                frame.sequence = std::stoll(v[1]);
            frames.push_back(frame);
        }
        return frames;
    }

    // The frames form two runs, one per arrival: from the frame nearest (arrival - 600 ms) to
    // the last frame up to (end + 400 ms), one every 40 ms, times strictly rising, numbers
    // without a gap.
    static void ExpectTwoArrivals(const RaceRun& run) {
        ASSERT_FALSE(run.frames.empty()) << run.hostOutput;
        std::vector<std::vector<Frame>> runs(1);
        for (size_t i = 0; i < run.frames.size(); ++i) {
            if (i > 0) {
                const Frame& a = run.frames[i - 1];
                const Frame& b = run.frames[i];
                ASSERT_GT(b.time, a.time) << "frame " << i;
                if (b.time - a.time > 200) {
                    runs.emplace_back();
                } else {
                    if (a.sequence >= 0) {
                        EXPECT_EQ(b.sequence, a.sequence + 1) << "frame " << i;
                    }
                }
            }
            runs.back().push_back(run.frames[i]);
        }
        ASSERT_EQ(runs.size(), 2u) << run.hostOutput;
        for (int k = 0; k < 2; ++k) {
            const long long windowStart = run.arrival[k] - 600;
            const long long windowEnd = run.end[k] + 400;
            EXPECT_LE(std::llabs(runs[k].front().time - windowStart), 25)
                << "arrival " << k << " starts at " << runs[k].front().time;
            EXPECT_LE(runs[k].back().time, windowEnd + 5);
            EXPECT_GT(runs[k].back().time, windowEnd - 45) << "arrival " << k;
            // Times are taken as the camera delivers frames, so single gaps jitter; the count
            // over the whole run shows a missing frame all the same.
            const double span = double(runs[k].back().time - runs[k].front().time);
            EXPECT_EQ(runs[k].size(), size_t(std::llround(span / 40.0)) + 1) << "arrival " << k;
        }
    }

    fs::path dir;
    fs::path recordings;      // where the race's recording is looked for
    int directory = 0;        // the Directory setting: 1 for the host's share
    QStringList recorderArgs; // more program options
    int32_t port = 0;
    QProcess recorder;
};

} // namespace quillon
