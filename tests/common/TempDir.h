#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace quillon::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end of its scope.
class TempDir {
public:
    explicit TempDir(const char* prefix = "quillon-test") {
        const char* base = std::getenv("TMPDIR");
        m_path = std::string(base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
        if (mkdtemp(m_path.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace quillon::test
