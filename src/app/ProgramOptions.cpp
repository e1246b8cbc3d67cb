#include "ProgramOptions.h"

#include <cstdlib>

namespace quillon {

const char* ProgramInfo::Usage() {
    return "Usage: quillon-id [--camera sim|aravis[:ID]] [--smb-conf PATH] [--shared-memory]\n"
           "                 [--smb-auth FILE] [--smb-port PORT]\n"
           "       quillon-id --list-cameras\n"
           "Try 'quillon-id --help' for more information.\n";
}

const char* ProgramInfo::Help() {
    return "Usage: quillon-id [--camera sim|aravis[:ID]] [--smb-conf PATH] [--shared-memory]\n"
           "                 [--smb-auth FILE] [--smb-port PORT]\n"
           "Quillon ID, the finish-line identification video recorder.\n"
           "\n"
           "  --camera sim        the built-in simulated camera\n"
           "  --camera aravis     the first GenICam camera (the default)\n"
           "  --camera aravis:ID  the GenICam camera with that device id\n"
           "  --smb-conf PATH     the Samba configuration whose share \"QuillonFiles\" receives\n"
           "                      local recordings (default /etc/samba/smb.conf)\n"
           "  --smb-auth FILE     log on to the host's share with smbclient's authentication file\n"
           "  --smb-port PORT     the port of the host's share (default libsmbclient's own)\n"
           "  --shared-memory     start with the shared memory host link on (SIGUSR1 toggles it)\n"
           "  --list-cameras      list the cameras Aravis finds and exit\n"
           "  --help              display this help and exit\n"
           "  --version           output version information and exit\n"
           "\n"
           "Settings live in settings.ini beside the program when that folder is writable,\n"
           "otherwise in $XDG_CONFIG_HOME/quillon-id/settings.ini (~/.config by default).\n"
           "SIGTERM and SIGINT close the window in order, writing the settings.\n";
}

const char* ProgramInfo::Version() {
    return "quillon-id (Quillon ID) " QUILLON_VERSION "\n";
}

ProgramOptions ProgramOptions::Parse(const std::vector<std::string>& args) {
    ProgramOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const std::string& name) -> std::string {
            if (arg.rfind(name + "=", 0) == 0)
                return arg.substr(name.size() + 1);
            if (i + 1 < args.size())
                return args[++i];
            options.error = "missing value after " + name;
            return {};
        };
        if (arg == "--camera" || arg.rfind("--camera=", 0) == 0) {
            options.camera = value("--camera");
        } else if (arg == "--smb-conf" || arg.rfind("--smb-conf=", 0) == 0) {
            options.smbConf = value("--smb-conf");
        } else if (arg == "--shared-memory") {
            options.sharedMemory = true;
        } else if (arg == "--smb-auth" || arg.rfind("--smb-auth=", 0) == 0) {
            const std::string file = value("--smb-auth");
            if (options.error.empty())
                ReadSmbAuthFile(file, options.smb.login, options.error);
        } else if (arg == "--smb-port" || arg.rfind("--smb-port=", 0) == 0) {
            const std::string text = value("--smb-port");
            char* end = nullptr;
            const long port = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || port < 1 || port > 65535) {
                if (options.error.empty())
                    options.error = "--smb-port needs a port from 1 to 65535";
            } else {
                options.smb.port = uint16_t(port);
            }
        } else {
            // Qt's own options (-platform, -display, ...) are taken out before this runs.
            options.error = "unknown option " + arg;
        }
        if (!options.error.empty())
            break;
    }
    return options;
}

} // namespace quillon
