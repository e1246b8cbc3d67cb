// quillon-inspect: tells the people who receive recordings what a file holds.
//
//   quillon-inspect [--check] [--export DIR] FILE
//
// Recognises the kind (own container, AVI, Windows Media with or without frame-time trailer),
// prints header fields, the frame count and each frame's time (and, for the own container, its
// sequence number). --export writes every frame as a PNG image into DIR. --check exits with
// status 2 and says why when the file is damaged or truncated.

#include <cstring>
#include <filesystem>
#include <iostream>

#include "Inspection.h"
#include "recording/AviFormat.h"

namespace {

using namespace quillon;
using namespace quillon::inspect;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitDamaged = 2;
constexpr uint8_t kAsfHeaderStart[4] = {0x30, 0x26, 0xB2, 0x75};
constexpr char kTrailerMarker[] = "VLWMV";

int Usage() {
    std::cerr << "usage: quillon-inspect [--check] [--export DIR] FILE\n";
    return kExitUsage;
}

enum class Kind { Vlv, Avi, WindowsMedia };

// By content first; a file whose start says nothing is taken for the own container, which has
// no magic number of its own.
Kind Recognise(const InputFile& file) {
    uint8_t start[12] = {};
    file.Read(0, start, std::min<uint64_t>(sizeof start, file.Size()));
    if (IsFourCC(start, avi::kRiff) && IsFourCC(start + 8, avi::kFormAvi))
        return Kind::Avi;
    if (std::memcmp(start, kAsfHeaderStart, sizeof kAsfHeaderStart) == 0)
        return Kind::WindowsMedia;
    char tail[5] = {};
    if (file.Size() >= sizeof tail && file.Read(file.Size() - sizeof tail, tail, sizeof tail) &&
        std::memcmp(tail, kTrailerMarker, sizeof tail) == 0)
        return Kind::WindowsMedia;
    return Kind::Vlv;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            options.check = true;
        else if (std::strcmp(argv[i], "--export") == 0 && i + 1 < argc)
            options.exportDir = argv[++i];
        else if (argv[i][0] == '-' || !path.empty())
            return Usage();
        else
            path = argv[i];
    }
    if (path.empty())
        return Usage();

    InputFile file(path);
    if (!file.IsOpen()) {
        std::cerr << "quillon-inspect: cannot open " << path << ": " << file.Error() << "\n";
        return kExitUsage;
    }
    if (!options.exportDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.exportDir, error);
        if (error) {
            std::cerr << "quillon-inspect: cannot create " << options.exportDir << ": "
                      << error.message() << "\n";
            return kExitUsage;
        }
    }

    std::cout << "file: " << path << "\nsize: " << file.Size() << " bytes\n";
    Inspection result;
    switch (Recognise(file)) {
    case Kind::Avi:
        InspectAvi(file, options, std::cout, result);
        break;
    case Kind::WindowsMedia:
        InspectWindowsMedia(file, options, std::cout, result);
        break;
    case Kind::Vlv:
        InspectVlv(file, options, std::cout, result);
        break;
    }
    if (!options.exportDir.empty())
        std::cout << "exported: " << result.exported << " PNG images to " << options.exportDir
                  << "\n";
    for (const std::string& problem : result.problems)
        std::cerr << (options.check ? "damaged: " : "warning: ") << problem << "\n";
    if (!options.check)
        return kExitOk;
    if (!result.problems.empty())
        return kExitDamaged;
    std::cout << "check: sound\n";
    return kExitOk;
}
