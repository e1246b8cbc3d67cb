#pragma once

#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <filesystem>
#include <optional>
#include <string>

namespace quillon {

// A temporary directory of its own as $TMPDIR while it lives: the key files, and so the System V
// keys, of this test then differ from those of every other run on the machine.
class PrivateTempDir {
public:
    PrivateTempDir() {
        char pattern[] = "/tmp/quillon-shm-XXXXXX";
        path = mkdtemp(pattern);
        if (const char* old = getenv("TMPDIR"))
            m_old = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~PrivateTempDir() {
        // What a killed process left (a segment, a semaphore) goes with its key file, which is
        // the only way to find it.
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            const key_t key = ftok(entry.path().c_str(), 'Q');
            if (const int id = key == -1 ? -1 : shmget(key, 0, 0); id != -1)
                shmctl(id, IPC_RMID, nullptr);
            if (const int id = key == -1 ? -1 : semget(key, 0, 0); id != -1)
                semctl(id, 0, IPC_RMID);
        }
        m_old ? setenv("TMPDIR", m_old->c_str(), 1) : unsetenv("TMPDIR");
        std::filesystem::remove_all(path);
    }
    std::filesystem::path path;

private:
    std::optional<std::string> m_old;
};

} // namespace quillon
