#pragma once

#include <string>
#include <vector>

namespace quillon {

// The recorder's command line: --camera sim|aravis[:ID] and --smb-conf PATH.
struct ProgramOptions {
    std::string camera;                              // empty: the first real camera
    std::string smbConf = "/etc/samba/smb.conf";     // where the local shares are defined
    std::string error;                               // set when the command line is wrong
    // Not an option: settings.ini beside the program, unless a test puts it elsewhere.
    std::string settingsPath;

    static ProgramOptions Parse(const std::vector<std::string>& args);
};

}  // namespace quillon
