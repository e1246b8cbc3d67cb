// make_seeds OUTDIR: writes small recordings of every kind through the product's own writers,
// for the inspect fuzz targets to start from. Each is a few kilobytes: tiny frames, few of them.
//
//   vlv/finished.vlv, vlv/cut.vlv            the own container, whole and cut inside a record
//   avi/finished.avi, avi/unfinished.avi     a plain AVI, and one whose writer never finished
//   avi/opendml.avi                          three RIFF segments (OpenDML), two frames each
//   wmv/trailer.wmv, wmv/every-frame.wmv     Windows Media with and without frame-time trailer
//   settings/written.ini                     settings.ini as the program writes it at exit

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/AviWriter.h"
#include "recording/ByteFields.h"
#include "recording/LocalFileOutput.h"
#include "recording/QuillonFile.h"
#include "settings/SettingsFile.h"

namespace {

using namespace quillon;

constexpr uint32_t kWidth = 8;
constexpr uint32_t kHeight = 4;
constexpr uint32_t kRate = 25;

std::vector<uint8_t> Frame(uint32_t index, uint32_t bytesPerPixel) {
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * bytesPerPixel);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7 + index * 31);
    PutLe32(frame.data(), index + 1); // the sequence number the admission rule reads
    return frame;
}

void Record(const std::string& path, uint32_t frames, uint16_t bitsPerPixel, bool everyFrame) {
    CQuillonFile file(path, kRate, kWidth, kHeight);
    if (everyFrame)
        file.SetEveryFrame();
    for (uint32_t i = 0; i < frames; ++i) {
        const std::vector<uint8_t> frame = Frame(i, bitsPerPixel / 8);
        file.WriteFrame(kWidth, kHeight, frame.data(), bitsPerPixel, 1000 + 40 * i, i + 1);
    }
    if (file.HasFailed())
        std::fprintf(stderr, "%s: %s\n", path.c_str(), file.GetLastError().c_str());
}

void Cut(const std::string& from, const std::string& to, uint64_t bytesOff) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, std::filesystem::file_size(to) - bytesOff);
}

// A writer that is never finished: what a crash leaves behind.
void Unfinished(const std::string& path, uint32_t frames) {
    LocalFileOutput output(path);
    AviWriter writer(output);
    writer.Create(kRate, kWidth, kHeight);
    for (uint32_t i = 0; i < frames; ++i) {
        const std::vector<uint8_t> frame = Frame(i, 3);
        writer.WriteFrame(kWidth, kHeight, frame.data(), 24, 1000 + 40 * i);
    }
    output.Flush();
}

void OpenDml(const std::string& path) {
    LocalFileOutput output(path);
    AviWriter writer(output, 2);
    writer.Create(kRate, kWidth, kHeight);
    for (uint32_t i = 0; i < 6; ++i) {
        const std::vector<uint8_t> frame = Frame(i, 3);
        writer.WriteFrame(kWidth, kHeight, frame.data(), 24, 1000 + 40 * i);
    }
    writer.Finish();
    output.Close();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR\n");
        return 1;
    }
    const std::string out = argv[1];
    for (const char* kind : {"vlv", "avi", "wmv", "settings"})
        std::filesystem::create_directories(out + "/" + kind);

    Record(out + "/vlv/finished.vlv", 3, 8, false);
    Cut(out + "/vlv/finished.vlv", out + "/vlv/cut.vlv", 7);
    Record(out + "/avi/finished.avi", 3, 24, false);
    Unfinished(out + "/avi/unfinished.avi", 2);
    OpenDml(out + "/avi/opendml.avi");
    Record(out + "/wmv/trailer.wmv", 3, 24, false);
    Record(out + "/wmv/every-frame.wmv", 3, 24, true);

    AppSettings app;
    app.Filetype = kFileAvi;
    CameraSettings camera;
    camera.Framerate = 100.0f;
    camera.Width = 800;
    camera.Height = 400;
    SaveSettingsFile(out + "/settings/written.ini", app, camera);
    return 0;
}
