// quillon-inspect: tells the people who receive recordings what a file holds.
//
//   quillon-inspect [--check] [--export DIR] FILE
//   quillon-inspect --repair FILE
//
// Recognises the kind (own container, AVI, Windows Media with or without frame-time trailer),
// prints header fields, the frame count and each frame's time (and, for the own container, its
// sequence number). --export writes every frame as a PNG image into DIR. --check exits with
// status 2 and says why when the file is damaged or truncated. --repair makes an AVI or Windows
// Media recording that was cut short whole again, in place.

#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "Inspection.h"

namespace {

using namespace quillon;
using namespace quillon::inspect;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitDamaged = 2;
constexpr int kExitUsage = 2;

constexpr char kUsage[] = "Usage: quillon-inspect [--check] [--export DIR] FILE\n"
                          "  or:  quillon-inspect --repair FILE\n";

int Usage() {
    std::cerr << kUsage << "Try 'quillon-inspect --help' for more information.\n";
    return kExitUsage;
}

int Help() {
    std::cout
        << kUsage
        << "Tells what a Quillon ID recording (.vlv, AVI, Windows Media) holds: its kind,\n"
           "header fields, frame count and every frame's race time.\n"
           "\n"
           "  --check        exit with status 2, saying why, when the file is damaged\n"
           "  --export DIR   write every frame as a PNG image into DIR\n"
           "  --repair       make an AVI or Windows Media recording that was cut short\n"
           "                 (power loss, killed recorder, full disk) whole again, in place:\n"
           "                 sizes, counts and indexes from the frames on disk, a partly\n"
           "                 written last frame left out; other files are refused\n"
           "  --help         display this help and exit\n"
           "  --version      output version information and exit\n"
           "\n"
           "Exit status: 0 sound (or repaired), 1 the file cannot be read or repaired,\n"
           "2 damaged (with --check) or a wrong command line.\n";
    return kExitOk;
}

// Repairs in place; a file that is already sound is left as it is.
int Repair(const InputFile& file) {
    const Kind kind = Recognise(file);
    if (kind == Kind::Vlv) {
        std::cerr << "quillon-inspect: " << file.Path()
                  << ": not an AVI or Windows Media recording of Quillon ID\n";
        return kExitFailed;
    }
    std::ostringstream ignored;
    Inspection inspection;
    const Options check{true, {}};
    if (kind == Kind::Avi)
        InspectAvi(file, check, ignored, inspection);
    else
        InspectWindowsMedia(file, check, ignored, inspection);
    if (inspection.problems.empty()) {
        std::cout << "sound: nothing to repair\n";
        return kExitOk;
    }
    std::string error;
    const bool repaired = kind == Kind::Avi ? RepairAvi(file, std::cout, error)
                                            : RepairWindowsMedia(file, std::cout, error);
    if (repaired)
        return kExitOk;
    std::cerr << "quillon-inspect: " << file.Path() << ": " << error << "\n";
    return kExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string path;
    bool repair = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return Help();
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "quillon-inspect (Quillon ID) " QUILLON_VERSION "\n";
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--repair") == 0)
            repair = true;
        else if (std::strcmp(argv[i], "--check") == 0)
            options.check = true;
        else if (std::strcmp(argv[i], "--export") == 0 && i + 1 < argc)
            options.exportDir = argv[++i];
        else if (argv[i][0] == '-' || !path.empty())
            return Usage();
        else
            path = argv[i];
    }
    if (path.empty() || (repair && (options.check || !options.exportDir.empty())))
        return Usage();

    InputFile file(path);
    if (!file.IsOpen()) {
        std::cerr << "quillon-inspect: cannot open " << path << ": " << file.Error() << "\n";
        return kExitFailed;
    }
    if (repair)
        return Repair(file);
    if (!options.exportDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.exportDir, error);
        if (error) {
            std::cerr << "quillon-inspect: cannot create " << options.exportDir << ": "
                      << error.message() << "\n";
            return kExitFailed;
        }
    }

    std::cout << "file: " << path << "\nsize: " << file.Size() << " bytes\n";
    Inspection result;
    Inspect(file, options, std::cout, result);
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
