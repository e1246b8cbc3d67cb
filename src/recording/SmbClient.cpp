#include "recording/SmbClient.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "recording/SmbSession.h"

namespace quillon {

namespace {

constexpr const char* kScheme = "smb://";

SmbClientSettings& Settings() {
    static SmbClientSettings settings;
    return settings;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

bool ReadSmbAuthFile(const std::string& path, SmbLogin& login, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    SmbLogin read;
    int lineNumber = 0;
    for (std::string line; std::getline(file, line);) {
        ++lineNumber;
        const std::string text = Trimmed(line);
        if (text.empty() || text[0] == '#' || text[0] == ';')
            continue;
        const size_t equals = text.find('=');
        const std::string key =
            equals == std::string::npos ? text : Trimmed(text.substr(0, equals));
        // The password is taken as written after "= ", spaces inside it included.
        const std::string value =
            equals == std::string::npos ? "" : Trimmed(text.substr(equals + 1));
        if (key == "username") {
            read.user = value;
        } else if (key == "password") {
            read.password = value;
        } else if (key == "domain") {
            read.domain = value;
        } else {
            error = path + ":" + std::to_string(lineNumber) +
                    ": expected \"username =\", \"password =\" or \"domain =\"";
            return false;
        }
    }
    if (read.user.empty()) {
        error = path + ": no \"username =\" line";
        return false;
    }
    login = read;
    return true;
}

void ConfigureSmbClient(const SmbClientSettings& settings) {
    Settings() = settings;
}

const SmbClientSettings& SmbClientConfiguration() {
    return Settings();
}

bool IsSmbPath(const std::string& path) {
    return path.rfind(kScheme, 0) == 0;
}

std::string SmbDialUrl(const std::string& path) {
    const uint16_t port = Settings().port;
    if (port == 0 || !IsSmbPath(path))
        return path;
    const size_t hostStart = std::strlen(kScheme);
    size_t hostEnd = path.find('/', hostStart);
    if (hostEnd == std::string::npos)
        hostEnd = path.size();
    const std::string host = path.substr(hostStart, hostEnd - hostStart);
    // A port given in the path wins; "[...]" is an IPv6 address, whose colons are no port.
    const size_t bracket = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket))
        return path;
    return path.substr(0, hostEnd) + ":" + std::to_string(port) + path.substr(hostEnd);
}

bool CreateEmptySmbFile(const std::string& path, std::string& error) {
    SmbSession session;
    // As locally, whatever was there goes first; a missing file is no failure, but a server that
    // does not answer is not asked a second time.
    const bool silent = !session.Unlink(path) && session.Errno() == ETIMEDOUT;
    if (!silent && session.Open(path, O_WRONLY | O_CREAT | O_TRUNC) && session.CloseFile())
        return true;
    error = "cannot create " + path + ": " + std::strerror(session.Errno());
    return false;
}

} // namespace quillon
