#include "ShareFolders.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace quillon {
namespace {

std::string_view Trim(std::string_view s) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "key = value" (testparm) or "key=value" (usershare files).
bool SplitSetting(std::string_view line, std::string_view& key, std::string_view& value) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}

// Runs a program without a shell and returns what it wrote to its standard output.
std::string RunAndRead(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            output.append(buffer, size_t(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(pipeFds[0]);
    return output;
}

} // namespace

std::string ShareFolderFromTestparm(std::string_view output, std::string_view shareName) {
    std::string found;
    std::string section, path;
    bool available = true;
    const auto finishSection = [&] {
        if (section == shareName && available && !path.empty())
            found = path;
    };
    std::istringstream lines{std::string(output)};
    for (std::string raw; std::getline(lines, raw);) {
        const std::string_view line = Trim(raw);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            finishSection();
            section = std::string(line.substr(1, line.size() - 2));
            path.clear();
            available = true;
            continue;
        }
        std::string_view key, value;
        if (!SplitSetting(line, key, value))
            continue;
        if (SameText(key, "path"))
            path = std::string(value);
        if (SameText(key, "available"))
            available = !SameText(value, "no");
    }
    finishSection();
    return found;
}

std::string ShareFolderFromUsershare(std::string_view file, std::string_view shareName) {
    std::string name, path;
    std::istringstream lines{std::string(file)};
    for (std::string raw; std::getline(lines, raw);) {
        std::string_view key, value;
        if (!SplitSetting(Trim(raw), key, value))
            continue;
        if (key == "sharename")
            name = std::string(value);
        if (key == "path")
            path = std::string(value);
    }
    return name == shareName ? path : std::string();
}

std::string FindShareFolder(const std::string& smbConf, std::string_view shareName) {
    std::string folder =
        ShareFolderFromTestparm(RunAndRead({"testparm", "-s", smbConf}), shareName);
    const std::string usershareDir = std::string(Trim(RunAndRead(
        {"testparm", "-s", "--section-name=global", "--parameter-name=usershare path", smbConf})));
    std::error_code error;
    if (usershareDir.empty() || !std::filesystem::is_directory(usershareDir, error))
        return folder;
    for (const auto& entry : std::filesystem::directory_iterator(usershareDir, error)) {
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        if (std::string path = ShareFolderFromUsershare(text.str(), shareName); !path.empty()) {
            folder = path;
        }
    }
    return folder;
}

} // namespace quillon
