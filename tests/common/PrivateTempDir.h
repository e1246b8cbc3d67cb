#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace quillon {

// A temporary directory of its own as $TMPDIR while it lives: the key files, and so the System V
// keys, of this test then differ from those of every other run on the machine.
class PrivateTempDir {
public:
    PrivateTempDir() {
        char pattern[] = "/tmp/quillon-shm-XXXXXX";
        path = mkdtemp(pattern);
        const char* old = getenv("TMPDIR");
        m_old = old ? old : "";
        m_hadOld = old != nullptr;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~PrivateTempDir() {
        if (m_hadOld) {
            setenv("TMPDIR", m_old.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        std::filesystem::remove_all(path);
    }
    std::filesystem::path path;

private:
    std::string m_old;
    bool m_hadOld = false;
};

} // namespace quillon
