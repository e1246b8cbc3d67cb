#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CQuillonApp.h"
#include "ProgramOptions.h"
#include "camera/AravisDevice.h"

namespace {

// "--list-cameras": every camera Aravis finds, one a line under a heading, in columns. It needs
// no display, so it runs before the application object exists.
int ListCameras() {
    const std::vector<quillon::AravisDeviceInfo> devices = quillon::ListAravisDevices();
    if (devices.empty()) {
        std::printf("No camera found.\n");
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {
        {"ID", "VENDOR MODEL", "SERIAL", "PROTOCOL", "ADDRESS"}};
    for (const auto& d : devices)
        rows.push_back({d.id, d.vendor + " " + d.model, d.serial, d.protocol, d.address});
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return std::fputs(quillon::ProgramInfo::Help(), stdout) < 0;
        if (std::strcmp(argv[i], "--version") == 0)
            return std::fputs(quillon::ProgramInfo::Version(), stdout) < 0;
        if (std::strcmp(argv[i], "--list-cameras") == 0)
            return ListCameras();
    }
    // Without a display the recorder still runs, offscreen, steered by its host.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    quillon::CQuillonApp app(argc, argv);
    return app.InitInstance();
}
