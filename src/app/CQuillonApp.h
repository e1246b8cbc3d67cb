#pragma once

#include <QApplication>

namespace quillon {

// The application: sets the names, runs the main window modally once, and ends.
class CQuillonApp final : public QApplication {
    Q_OBJECT

public:
    CQuillonApp(int& argc, char** argv);
    // Runs the program; the exit code is 0 after an orderly shutdown.
    int InitInstance();
};

}  // namespace quillon
