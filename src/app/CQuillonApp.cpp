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
    for (int i = 1; i < arguments().size(); ++i) args.push_back(arguments()[i].toStdString());
    const ProgramOptions options = ProgramOptions::Parse(args);
    if (!options.error.empty()) {
        std::fprintf(stderr, "quillon-id: %s\nusage: quillon-id [--camera sim|aravis[:ID]] "
                             "[--smb-conf PATH] [--smb-auth FILE] [--smb-port PORT]\n",
                     options.error.c_str());
        return 2;
    }
    ConfigureSmbClient(options.smb);
    MonotonicTickSource ticks;
    auto dlg = std::make_unique<CQuillonDlg>(options, ticks);
    if (!dlg->IsUsable()) return 1;
    // A stop from outside closes the window like its close box.
    SignalCloser closer([window = dlg.get()] { window->reject(); });
    if (dlg->OnInitDialog()) {
        dlg->show();
        dlg->exec();
    }
    dlg.reset();  // the destructor finishes the recording and writes the settings
    return 0;
}

}  // namespace quillon
