#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::host {

// One step of a rehearsal script such as "READY; START; wait 3; ARRIVAL; wait 1; ENDARRIVAL".
struct Step {
    enum class Kind { Command, Wait, Raw };
    Kind kind = Kind::Command;
    std::string command;             // IDLE, READY, START, ARRIVAL, ENDARRIVAL, SAVE, STOP
    std::optional<long long> timeMs; // ARRIVAL/ENDARRIVAL: a given race time, else the clock's
    double seconds = 0;              // Wait
    std::string raw;                 // Raw: sent as it is
};

// Parses steps separated by ";" or new lines. On a bad step returns nothing and says why.
std::optional<std::vector<Step>> ParseScript(const std::string& text, std::string& error);

// The bytes a command step sends, with `raceTimeMs` where the step gives no time.
std::string CommandText(const Step& step, long long raceTimeMs);

} // namespace quillon::host
