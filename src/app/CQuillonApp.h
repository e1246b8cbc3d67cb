#pragma once

#include <QApplication>

namespace quillon {

// The application: sets the names, runs the main window modally once, and ends.
class CQuillonApp final : public QApplication {
    Q_OBJECT

public:
    CQuillonApp(int& argc, char** argv);
    // Runs the program; the exit code is 0 after an orderly shutdown (also one asked for by
    // SIGTERM or SIGINT), non-zero when the program could not start.
    int InitInstance();
};

} // namespace quillon
