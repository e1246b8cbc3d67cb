#include "RecordingFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/AppSettings.h"

namespace quillon {

namespace {
constexpr const char* kRemoteScheme = "smb://";
} // namespace

std::string RecordingFiles::FileName(uint32_t ticks, int32_t filetype) {
    char name[64];
    std::snprintf(name, sizeof name, "QUILLON%d.%s", int32_t(ticks), FileExtension(filetype));
    return name;
}

std::string RecordingFiles::PercentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string RecordingFiles::RemotePath(const std::string& host, const std::string& fileName) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return std::string(kRemoteScheme) + (ipv6 ? "[" + host + "]" : host) + "/" + kShareName + "/" +
           PercentEncoded(fileName);
}

RecordingPlace RecordingFiles::Choose(uint32_t ticks, int32_t filetype, bool remote) const {
    RecordingPlace place;
    place.fileName = FileName(ticks, filetype);
    if (remote) {
        // No share list is read: the host keeps the recordings.
        place.reply = "FILENAME~R~" + place.fileName + "@";
        const std::string host = m_folders.hostAddress ? m_folders.hostAddress() : std::string();
        if (!host.empty())
            place.path = RemotePath(host, place.fileName);
        return place;
    }
    const std::string folder =
        m_folders.findLocalShare ? m_folders.findLocalShare() : std::string();
    const std::string local = m_folders.localAddress ? m_folders.localAddress() : std::string();
    place.reply = "FILENAME~L~" + local + "~" + place.fileName + "@";
    if (!folder.empty())
        place.path = folder + "/" + place.fileName;
    return place;
}

bool RecordingFiles::CreateEmptyFile(const std::string& path, std::string& error) const {
    if (path.rfind(kRemoteScheme, 0) == 0) {
        if (m_folders.createRemoteFile)
            return m_folders.createRemoteFile(path, error);
        error = "no SMB client for " + path;
        return false;
    }
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace quillon
