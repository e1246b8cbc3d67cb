// settings.ini as people edit it by hand: whatever the file holds, the values read must be
// usable (ports, windows around an arrival, ring length, file kind, reduction, a positive frame
// rate), and a file the program writes must read back as the same values.

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "ScratchFile.h"
#include "settings/SettingsFile.h"

namespace {

using namespace quillon;
using quillon::fuzz::Broken;
using quillon::fuzz::ScratchFile;

void CheckUsable(const AppSettings& app, const CameraSettings& camera) {
    if (app.Port < 1 || app.Port > 65535)
        Broken("port out of range");
    if (app.FramesBefore < kMinFramesBefore || app.FramesBefore > kMaxFramesAround ||
        app.FramesAfter < kMinFramesAfter || app.FramesAfter > kMaxFramesAround)
        Broken("frames around an arrival out of range");
    if (app.BufferLenght < 10 * (app.FramesBefore + app.FramesAfter))
        Broken("ring shorter than ten times the frames around an arrival");
    if (app.Filetype < kFileVlv || app.Filetype > kFileWmvAll)
        Broken("unknown file kind");
    if (camera.Reduction != 1 && camera.Reduction != 2)
        Broken("reduction other than 1 or 2");
    if (!std::isfinite(camera.Framerate) || !(camera.Framerate > 0.0f))
        Broken("frame rate not positive");
    if (!std::isfinite(camera.Exposure))
        Broken("exposure not a number");
    if (camera.Brightnes < -255 || camera.Brightnes > 255 || camera.Contrast < 0 ||
        camera.Contrast > 900)
        Broken("brightness or contrast out of range");
}

// Every value but the frame rate, which is stored as its integer part plus one, and the
// exposure, stored with three decimals.
bool SameExceptRateAndExposure(const AppSettings& a, const CameraSettings& c, const AppSettings& b,
                               const CameraSettings& d) {
    return a.Directory == b.Directory && a.Port == b.Port && a.FramesBefore == b.FramesBefore &&
           a.FramesAfter == b.FramesAfter && a.BufferLenght == b.BufferLenght &&
           a.Filetype == b.Filetype && a.SavePerformanceLog == b.SavePerformanceLog &&
           c.XOffset == d.XOffset && c.YOffset == d.YOffset && c.Width == d.Width &&
           c.Height == d.Height && c.PixelFormat == d.PixelFormat && c.Sharpen == d.Sharpen &&
           c.Reduction == d.Reduction && c.AutoCorrection == d.AutoCorrection && c.Gain == d.Gain &&
           c.RedGain == d.RedGain && c.GreenGain1 == d.GreenGain1 && c.GreenGain2 == d.GreenGain2 &&
           c.BlueGain == d.BlueGain && c.Brightnes == d.Brightnes && c.Contrast == d.Contrast &&
           c.MeanValue == d.MeanValue;
}

std::string g_writtenDir;

void RemoveWritten() {
    ::unlink((g_writtenDir + "/settings.ini").c_str());
    ::rmdir(g_writtenDir.c_str());
}

std::string WrittenPath() {
    // tmpfs: writing through a temporary file and a rename costs no disk.
    g_writtenDir = "/dev/shm/quillon-fuzz-" + std::to_string(::getpid());
    ::mkdir(g_writtenDir.c_str(), 0700);
    std::atexit(&RemoveWritten);
    return g_writtenDir + "/settings.ini";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile input("settings.ini");
    static const std::string written = WrittenPath();
    input.Fill(data, size);

    AppSettings app;
    CameraSettings camera;
    if (!LoadSettingsFile(input.Path(), app, camera))
        Broken("a readable file was not read");
    CheckUsable(app, camera);

    if (!SaveSettingsFile(written, app, camera))
        Broken("settings could not be written");
    AppSettings app2;
    CameraSettings camera2;
    if (!LoadSettingsFile(written, app2, camera2))
        Broken("written settings could not be read");
    CheckUsable(app2, camera2);
    if (!SameExceptRateAndExposure(app, camera, app2, camera2))
        Broken("written settings read back differently");
    if (std::fabs(double(camera2.Exposure) - double(camera.Exposure)) >
        0.0005 + std::fabs(double(camera.Exposure)) * 1e-6)
        Broken("exposure read back differently");
    return 0;
}
