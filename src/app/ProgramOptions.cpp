#include "ProgramOptions.h"

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
        } else if (arg == "--shared-memory") {
            options.sharedMemory = true;
        } else {
            // Qt's own options (-platform, -display, ...) are taken out before this runs.
            options.error = "unknown option " + arg;
        }
        if (!options.error.empty()) break;
    }
    return options;
}

}  // namespace quillon
