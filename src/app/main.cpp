#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CQuillonApp.h"
#include "ProgramOptions.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return std::fputs(quillon::ProgramInfo::Help(), stdout) < 0;
        if (std::strcmp(argv[i], "--version") == 0)
            return std::fputs(quillon::ProgramInfo::Version(), stdout) < 0;
    }
    // Without a display the recorder still runs, offscreen, steered by its host.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    quillon::CQuillonApp app(argc, argv);
    return app.InitInstance();
}
