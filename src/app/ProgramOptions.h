#pragma once

#include <string>
#include <vector>

#include "recording/SmbClient.h"

namespace quillon {

// The recorder's command line: --camera sim|aravis[:ID], --smb-conf PATH, --shared-memory, and
// for the host's share --smb-auth FILE (smbclient's authentication file, read here) and
// --smb-port PORT.
struct ProgramOptions {
    std::string camera;                          // empty: the first real camera
    std::string smbConf = "/etc/samba/smb.conf"; // where the local shares are defined
    bool sharedMemory = false;                   // start with the shared memory link on
    SmbClientSettings smb;                       // anonymous, libsmbclient's port
    std::string error;                           // set when the command line is wrong
    // Not an option: settings.ini beside the program, unless a test puts it elsewhere.
    std::string settingsPath;

    static ProgramOptions Parse(const std::vector<std::string>& args);
};

// The GNU answers to --help and --version; both go to the standard output.
struct ProgramInfo {
    static const char* Usage(); // the one-line synopsis with "Try ... --help"
    static const char* Help();
    static const char* Version();
};

} // namespace quillon
