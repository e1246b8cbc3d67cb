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

namespace {

using namespace quillon;
using namespace quillon::inspect;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitDamaged = 2;

int Usage() {
    std::cerr << "usage: quillon-inspect [--check] [--export DIR] FILE\n";
    return kExitUsage;
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
