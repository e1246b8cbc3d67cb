#pragma once

// The recorder's side of the host's SMB share: how the process logs on (anonymous or guest by
// default, or an account from smbclient's authentication file), on which port it dials, how
// long one request may wait, and one libsmbclient session per open file.
//
// Threads: libsmbclient is not safe to use from two threads at once, not even through separate
// contexts, so every call into it in this program is made while holding one process-wide mutex
// (inside SmbSession). Configure before the first session is made; the settings are then read
// only.

#include <cstdint>
#include <string>

namespace quillon {

struct SmbLogin {
    std::string user; // empty: anonymous, which a "guest ok" share takes as its guest
    std::string password;
    std::string domain;
};

struct SmbClientSettings {
    SmbLogin login;
    uint16_t port = 0; // 0: libsmbclient's own choice
    // How long one request to the server may take before it counts as failed; a server that
    // has gone away costs at most this long per call.
    int timeoutMs = 4000;
};

// Reads smbclient's authentication file: lines "username = NAME", "password = SECRET" and
// "domain = NAME"; blank lines and lines starting with '#' or ';' are skipped. False, with the
// reason in error, when the file cannot be read, a line is not understood, or no user is named.
bool ReadSmbAuthFile(const std::string& path, SmbLogin& login, std::string& error);

// Sets the process-wide settings; call before the first share is used (start-up).
void ConfigureSmbClient(const SmbClientSettings& settings);
const SmbClientSettings& SmbClientConfiguration();

// True for the "smb://" paths of files on a share.
bool IsSmbPath(const std::string& path);
// The URL libsmbclient dials for `path`: the configured port goes after the host, unless the
// path names one itself.
std::string SmbDialUrl(const std::string& path);

// Deletes any file at `path` on the share and creates it empty, waiting at most the timeout per
// request. False, with the reason in error, when the share is missing, refuses access or does
// not answer.
bool CreateEmptySmbFile(const std::string& path, std::string& error);

} // namespace quillon
