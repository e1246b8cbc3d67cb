#include "HostScript.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace quillon::host {
namespace {

const char* const kCommands[] = {"IDLE", "READY", "START", "ARRIVAL", "ENDARRIVAL", "SAVE", "STOP"};

std::string Trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool ParseStep(const std::string& text, Step& step, std::string& error) {
    std::istringstream words(text);
    std::string word;
    words >> word;
    const std::string name = Upper(word);
    if (name == "WAIT") {
        step.kind = Step::Kind::Wait;
        if (!(words >> step.seconds) || step.seconds < 0) {
            error = "wait needs a number of seconds: " + text;
            return false;
        }
        return true;
    }
    if (name == "RAW") {
        step.kind = Step::Kind::Raw;
        step.raw = Trim(text.substr(3));
        return true;
    }
    if (std::find(std::begin(kCommands), std::end(kCommands), name) == std::end(kCommands)) {
        error = "unknown step: " + text;
        return false;
    }
    step.kind = Step::Kind::Command;
    step.command = name;
    long long ms = 0;
    if (words >> ms) {
        if (name != "ARRIVAL" && name != "ENDARRIVAL") {
            error = name + " takes no time: " + text;
            return false;
        }
        step.timeMs = ms;
    }
    return true;
}

} // namespace

std::optional<std::vector<Step>> ParseScript(const std::string& text, std::string& error) {
    std::vector<Step> steps;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece)) {
        std::istringstream parts(piece);
        std::string part;
        while (std::getline(parts, part, ';')) {
            part = Trim(part);
            if (part.empty() || part[0] == '#')
                continue;
            Step step;
            if (!ParseStep(part, step, error))
                return std::nullopt;
            steps.push_back(step);
        }
    }
    return steps;
}

std::string CommandText(const Step& step, long long raceTimeMs) {
    if (step.command == "ARRIVAL" || step.command == "ENDARRIVAL") {
        return "CMD~" + step.command + "~" + std::to_string(step.timeMs.value_or(raceTimeMs)) + "@";
    }
    return "CMD~" + step.command;
}

} // namespace quillon::host
