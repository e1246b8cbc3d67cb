#pragma once

// What every inspector shares: the file being read, the options, and the list of problems
// that --check turns into a failing exit status.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quillon::inspect {

class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Error() const { return m_error; }
    const std::string& Path() const { return m_path; }
    uint64_t Size() const { return m_size; }
    // Reads exactly size bytes at offset; false if the file ends before.
    bool Read(uint64_t offset, void* data, size_t size) const;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
    std::string m_path;
    std::string m_error;
};

struct Options {
    bool check = false;
    std::string exportDir; // empty: no export
};

struct Inspection {
    std::vector<std::string> problems;
    uint32_t exported = 0;
    void Problem(const std::string& text) { problems.push_back(text); }
};

// Recognises the file's kind by its content and runs the inspector of that kind.
void Inspect(const InputFile& file, const Options& options, std::ostream& out, Inspection& result);

// One per file kind; each prints what it finds to out.
void InspectVlv(const InputFile& file, const Options& options, std::ostream& out,
                Inspection& result);
void InspectAvi(const InputFile& file, const Options& options, std::ostream& out,
                Inspection& result);
void InspectWindowsMedia(const InputFile& file, const Options& options, std::ostream& out,
                         Inspection& result);

// "frame_000042.png" inside the export folder.
std::string ExportPath(const Options& options, uint32_t frame);

} // namespace quillon::inspect
