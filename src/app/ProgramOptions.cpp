#include "ProgramOptions.h"

#include <cstdlib>

namespace quillon {

ProgramOptions ProgramOptions::Parse(const std::vector<std::string>& args) {
    ProgramOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const std::string& name) -> std::string {
            if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
            if (i + 1 < args.size()) return args[++i];
            options.error = "missing value after " + name;
            return {};
        };
        if (arg == "--camera" || arg.rfind("--camera=", 0) == 0) {
            options.camera = value("--camera");
        } else if (arg == "--smb-conf" || arg.rfind("--smb-conf=", 0) == 0) {
            options.smbConf = value("--smb-conf");
        } else if (arg == "--smb-auth" || arg.rfind("--smb-auth=", 0) == 0) {
            const std::string file = value("--smb-auth");
            if (options.error.empty()) ReadSmbAuthFile(file, options.smb.login, options.error);
        } else if (arg == "--smb-port" || arg.rfind("--smb-port=", 0) == 0) {
            const std::string text = value("--smb-port");
            char* end = nullptr;
            const long port = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || port < 1 || port > 65535) {
                if (options.error.empty()) options.error = "--smb-port needs a port from 1 to 65535";
            } else {
                options.smb.port = uint16_t(port);
            }
        } else {
            // Qt's own options (-platform, -display, ...) are taken out before this runs.
            options.error = "unknown option " + arg;
        }
        if (!options.error.empty()) break;
    }
    return options;
}

}  // namespace quillon
