#pragma once

// Where READY puts a recording and what the host is told: the file name from the tick count and
// the file type, the folder of this computer's "QuillonFiles" share or the host's share of that
// name, the FILENAME reply, and the empty file that the recording then takes over.
//
// Threads: user-interface thread (READY). Creating the file on the host's share waits for the
// network, at most the SMB client's timeout per request.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillon {

// Where the recording goes: an empty path when there is no folder for it.
struct RecordingPlace {
    std::string fileName;
    std::string reply;
    std::string path;
};

// What the choice needs from outside the core.
struct RecordingFolders {
    // The local folder of the share "QuillonFiles", or empty.
    std::function<std::string()> findLocalShare;
    // The host connection's local and remote addresses.
    std::function<std::string()> localAddress;
    std::function<std::string()> hostAddress;
    // Creates an empty file at an "smb://" path (deleting any file there first); false with the
    // reason in error.
    std::function<bool(const std::string& path, std::string& error)> createRemoteFile;
};

class RecordingFiles {
public:
    static constexpr const char* kShareName = "QuillonFiles";

    explicit RecordingFiles(RecordingFolders folders) : m_folders(std::move(folders)) {}

    // "QUILLON", the tick count as a signed decimal, and ".avi", ".wmv" or ".vlv" by file type.
    static std::string FileName(uint32_t ticks, int32_t filetype);
    // The host's share as libsmbclient names it: smb://HOST/QuillonFiles/NAME, the name
    // percent-encoded, an IPv6 host in brackets.
    static std::string RemotePath(const std::string& host, const std::string& fileName);
    static std::string PercentEncoded(std::string_view text);

    // Remote: the host's share and the reply "FILENAME~R~name@". Otherwise the local share's
    // folder (if there is one) and "FILENAME~L~local address~name@".
    RecordingPlace Choose(uint32_t ticks, int32_t filetype, bool remote) const;
    // Deletes any file at path and creates it empty, locally or on the host's share.
    bool CreateEmptyFile(const std::string& path, std::string& error) const;

private:
    RecordingFolders m_folders;
};

} // namespace quillon
