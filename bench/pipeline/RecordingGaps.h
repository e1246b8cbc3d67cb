#pragma once

// Counting what an arrival recording lost: the recording is read back with quillon-inspect.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "RecorderEngine.h"

namespace quillon {

// Runs the event loop for ms milliseconds.
inline void Spin(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

struct Gaps {
    long frames = 0;
    long missing = 0;
};

// Frames and missing frames of a recording: gaps in the sequence numbers (.vlv), or in the
// times where a gap is close to two frame intervals or more (times are taken when a frame is
// processed, so they jitter by a few milliseconds).
inline Gaps CountGaps(const std::filesystem::path& file, double fps) {
    Gaps gaps;
    const std::string command =
        std::string(QUILLON_BUILD_DIR) + "/quillon-inspect '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return gaps;
    const std::regex frameLine(R"(^frame \d+: .*?time (\d+) ms(, sequence (\d+))?)");
    long long lastTime = -1, lastSeq = -1;
    char line[512];
    const double interval = 1000.0 / fps;
    while (fgets(line, sizeof line, pipe)) {
        std::cmatch m;
        const std::string text(line);
        if (text.find("opening frame") != std::string::npos)
            continue;
        if (!std::regex_search(line, m, frameLine))
            continue;
        const long long time = std::stoll(m[1]);
        ++gaps.frames;
        if (m[3].matched) {
            const long long seq = std::stoll(m[3]);
            if (lastSeq >= 0 && seq - lastSeq > 1 && time - lastTime < 200)
                gaps.missing += seq - lastSeq - 1;
            lastSeq = seq;
        } else if (lastTime >= 0 && time - lastTime > 1.9 * interval && time - lastTime < 200) {
            gaps.missing += long((time - lastTime) / interval + 0.5) - 1;
        }
        lastTime = time;
    }
    pclose(pipe);
    return gaps;
}

// One race through the race buttons' operations, with one arrival a second long 1.5 s after
// the start, recorded as `filetype` into `folder` (which holds nothing else); its gaps counted.
inline Gaps RecordOneArrival(RecorderEngine& engine, const std::filesystem::path& folder,
                             int32_t filetype) {
    engine.App().Filetype = filetype;
    engine.App().FramesBefore = 15;
    engine.App().FramesAfter = 10;
    engine.App().BufferLenght = 250;
    RaceStateMachine& race = engine.Race();
    race.OnReady();
    race.OnStart();
    Spin(1500);
    race.OnArrival(std::to_string(race.CurrentRaceTime()));
    Spin(1000);
    race.OnEndArrival(std::to_string(race.CurrentRaceTime()));
    Spin(1000);
    race.OnIdle();
    Gaps gaps;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        gaps = CountGaps(entry.path(), engine.Camera().Framerate);
    return gaps;
}

} // namespace quillon
