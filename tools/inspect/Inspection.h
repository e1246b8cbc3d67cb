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

enum class Kind { Vlv, Avi, WindowsMedia };
// The file's kind by its content; a file whose start says nothing is taken for the own
// container, which has no magic number of its own.
Kind Recognise(const InputFile& file);

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

// One frame of an AVI recording as the chunks on disk give it: the video chunk's data and the
// time from the timing chunk after it. Only whole pairs count.
struct AviFrame {
    uint64_t data;
    uint32_t size;
    uint32_t time;
};
std::vector<AviFrame> ReadAviFrames(const InputFile& file);

// The ASF File Properties object: its file size and packet count are filled in when the muxer
// finishes, so 0 there marks a recording that never finished.
struct AsfFileProperties {
    bool found = false;
    uint64_t headerBytes = 0; // the header object's size: the data object follows it
    uint64_t fileSize = 0;
    uint64_t packets = 0;
    uint32_t packetSize = 0;
};
AsfFileProperties ReadAsfFileProperties(const InputFile& file);

// Makes a recording that was cut short (power loss, killed process, full disk) whole again:
// sizes, counts and indexes from what is really on disk, a partly written last frame left out.
// The file is rewritten into a temporary file beside it, which then replaces it. Refuses files
// that are not recordings of ours. out tells what was done; false with the reason in error.
bool RepairAvi(const InputFile& file, std::ostream& out, std::string& error);
bool RepairWindowsMedia(const InputFile& file, std::ostream& out, std::string& error);

// A new file that is to replace path: made beside it (same file system, so the rename is
// atomic), with path's permissions; removed again unless Commit succeeds.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::string& path);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    bool IsReady() const { return !m_temp.empty(); }
    const std::string& Path() const { return m_temp; }
    const std::string& Error() const { return m_error; }
    // Brings the new file to the disk and renames it over the old one.
    bool Commit();

private:
    std::string m_target;
    std::string m_temp;
    std::string m_error;
    bool m_committed = false;
};

} // namespace quillon::inspect
