#include "CQuillonApp.h"

#include <cstdio>

#include "CQuillonDlg.h"
#include "ProgramOptions.h"
#include "SignalCloser.h"
#include "core/TickSource.h"

namespace quillon {

CQuillonApp::CQuillonApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Quillon ID");
    setOrganizationName("Norvexa");
}

int CQuillonApp::InitInstance() {
    std::vector<std::string> args;
    for (int i = 1; i < arguments().size(); ++i)
        args.push_back(arguments()[i].toStdString());
    const ProgramOptions options = ProgramOptions::Parse(args);
    if (!options.error.empty()) {
        std::fprintf(stderr, "quillon-id: %s\n%s", options.error.c_str(), ProgramInfo::Usage());
        return 2;
    }
    ConfigureSmbClient(options.smb);
    MonotonicTickSource ticks;
    std::unique_ptr<CQuillonDlg> dlg;
    // A stop from outside closes whatever box is open and the window, like its close box. Set
    // up before the window, so that a stop during its construction waits in the signal pipe
    // for the first event loop instead of killing the program. SIGUSR1 clicks the hidden
    // "Shared memory" box.
    SignalCloser closer(
        [&dlg] {
            if (dlg)
                dlg->EndFromOutside();
        },
        [&dlg] {
            if (dlg)
                dlg->SharedMemoryBox().click();
        });
    dlg = std::make_unique<CQuillonDlg>(options, ticks);
    if (!dlg->IsUsable())
        return 1;
    const bool started = dlg->OnInitDialog();
    if (started && !dlg->IsEnding()) {
        dlg->show();
        dlg->exec();
    }
    // A start-up that failed (no camera) is a failure; one stopped from outside is not.
    const int exitCode = started || dlg->IsEnding() ? 0 : 1;
    dlg.reset(); // the destructor finishes the recording and writes the settings
    return exitCode;
}

} // namespace quillon
