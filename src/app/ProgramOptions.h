#pragma once

#include <string>
#include <vector>

#include "recording/SmbClient.h"

namespace quillon {

// The recorder's command line: --camera sim|aravis[:ID], --smb-conf PATH, and for the host's
// share --smb-auth FILE (smbclient's authentication file, read here) and --smb-port PORT.
struct ProgramOptions {
    std::string camera;                              // empty: the first real camera
    std::string smbConf = "/etc/samba/smb.conf";     // where the local shares are defined
    SmbClientSettings smb;                           // anonymous, libsmbclient's port
    std::string error;                               // set when the command line is wrong
    // Not an option: settings.ini beside the program, unless a test puts it elsewhere.
    std::string settingsPath;

    static ProgramOptions Parse(const std::vector<std::string>& args);
};

}  // namespace quillon
