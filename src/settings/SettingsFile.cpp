#include "SettingsFile.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "IniFile.h"
#include "text/TextNumbers.h"

namespace quillon {
namespace {

constexpr const char* kRecorderSection = "Quillon";
constexpr const char* kCameraSection = "QuillonID_Camera";
constexpr const char* kMissingValue = "0";

std::string IntText(int64_t value) {
    return std::to_string(value);
}

std::string ExposureText(float ms) {
    std::array<char, 64> buffer{};
    const auto r = std::to_chars(buffer.data(), buffer.data() + buffer.size(), double(ms),
                                 std::chars_format::fixed, 3);
    return std::string(buffer.data(), r.ptr);
}

// The frame rate is stored as its integer part plus one, and read back as written; the camera
// snaps it to a rate it has.
std::string FramerateText(float fps) {
    if (!std::isfinite(fps))
        return "0";
    return IntText(int64_t(std::clamp(double(fps), -2.0e9, 2.0e9)) + 1);
}

float FiniteOr(double value, float fallback, bool mustBePositive) {
    const auto f = float(value);
    if (!std::isfinite(f) || (mustBePositive && !(f > 0.0f)))
        return fallback;
    return f;
}

struct Reader {
    const IniFile& ini;
    int32_t Int(const char* section, const char* key) const {
        return ParseInt(ini.Get(section, key, kMissingValue));
    }
    uint32_t Unsigned(const char* section, const char* key) const {
        return uint32_t(Int(section, key));
    }
    double Decimal(const char* section, const char* key) const {
        return ParseDecimal(ini.Get(section, key, kMissingValue));
    }
};

void ReadRecorderSection(const Reader& r, AppSettings& app) {
    app.Directory = r.Int(kRecorderSection, "Directory");
    app.Port = r.Int(kRecorderSection, "Port");
    if (app.Port <= 0 || app.Port > 65535)
        app.Port = kDefaultPort;
    app.FramesBefore =
        std::clamp(r.Int(kRecorderSection, "FramesBefore"), kMinFramesBefore, kMaxFramesAround);
    app.FramesAfter =
        std::clamp(r.Int(kRecorderSection, "FramesAfter"), kMinFramesAfter, kMaxFramesAround);
    app.BufferLenght =
        RingLengthFor(r.Int(kRecorderSection, "BufferLenght"), app.FramesBefore, app.FramesAfter);
    app.Filetype = FiletypeFromText(r.ini.Get(kRecorderSection, "Filetype", kMissingValue));
    app.SavePerformanceLog = r.Int(kRecorderSection, "SavePerformanceLog");
}

void ReadCameraSection(const Reader& r, CameraSettings& cam) {
    const CameraSettings defaults;
    // Exposure 0 is passed on (the camera refuses it and says so); only non-numbers are mended.
    cam.Exposure = FiniteOr(r.Decimal(kCameraSection, "Exposure"), defaults.Exposure, false);
    // The frame rate divides the windows around an arrival: it must stay positive.
    cam.Framerate = FiniteOr(r.Decimal(kCameraSection, "Framerate"), defaults.Framerate, true);
    cam.Width = r.Unsigned(kCameraSection, "Width");
    cam.Height = r.Unsigned(kCameraSection, "Height");
    cam.PixelFormat = r.Unsigned(kCameraSection, "PixelFormat");
    cam.XOffset = r.Unsigned(kCameraSection, "XOffset");
    cam.YOffset = r.Unsigned(kCameraSection, "YOffset");
    cam.Gain = r.Unsigned(kCameraSection, "Gain");
    cam.RedGain = r.Unsigned(kCameraSection, "RedGain");
    cam.GreenGain1 = r.Unsigned(kCameraSection, "GreenGain1");
    cam.GreenGain2 = r.Unsigned(kCameraSection, "GreenGain2");
    cam.BlueGain = r.Unsigned(kCameraSection, "BlueGain");
    cam.Sharpen = r.Int(kCameraSection, "Sharpen");
    // The image is divided by the reduction: only full (1) and half (2) size exist.
    cam.Reduction = r.Unsigned(kCameraSection, "Reduction") == 2 ? 2 : 1;
    cam.Brightnes = std::clamp(r.Int(kCameraSection, "Brightnes"), -255, 255);
    cam.Contrast = std::clamp(r.Int(kCameraSection, "Contrast"), 0, 900);
    cam.MeanValue = std::clamp(r.Int(kCameraSection, "MeanValue"), -1, 255);
    cam.AutoCorrection = r.Int(kCameraSection, "AutoCorrection");
}

} // namespace

std::string SettingsPath() {
    std::array<char, 4096> exe{};
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    std::string path = n > 0 ? std::string(exe.data(), size_t(n)) : std::string();
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    return SettingsPathFor(dir, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

std::string SettingsPathFor(const std::string& programDir, const char* xdgConfigHome,
                            const char* home) {
    const std::string beside = programDir + "/settings.ini";
    // access() asks with the effective user's rights and knows read-only mounts; an existing
    // file must itself be writable, or the save at shutdown would fail.
    const bool systemFolder = programDir == "/usr" || programDir.rfind("/usr/", 0) == 0;
    const bool fileWritable =
        ::access(beside.c_str(), F_OK) != 0 || ::access(beside.c_str(), W_OK) == 0;
    if (!systemFolder && ::access(programDir.c_str(), W_OK) == 0 && fileWritable)
        return beside;

    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') { // relative ones are ignored
        base = xdgConfigHome;
    } else {
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = ::getpwuid(::geteuid());
            home = user != nullptr ? user->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    const std::string dir = base + "/quillon-id";
    std::error_code ignored; // a folder that cannot be made shows as a failed save
    std::filesystem::create_directories(dir, ignored);
    return dir + "/settings.ini";
}

void SetDefaultSettings(AppSettings& app, CameraSettings& camera) {
    app = AppSettings{};
    const int32_t frameTime = camera.FrameTimeMs;
    camera = CameraSettings{};
    camera.FrameTimeMs = frameTime;
}

int32_t RingLengthFor(int32_t bufferLength, int32_t framesBefore, int32_t framesAfter) {
    const int64_t least = 10 * (int64_t(framesBefore) + int64_t(framesAfter));
    return int32_t(std::clamp<int64_t>(std::max<int64_t>(bufferLength, least), 1,
                                       std::max<int64_t>(least, kMaxBufferLength)));
}

const char* FiletypeText(int32_t filetype) {
    switch (filetype) {
    case kFileAvi:
        return "AVI";
    case kFileWmv:
        return "WMV";
    case kFileWmvAll:
        return "WMV (ALL)";
    default:
        return "VLV";
    }
}

int32_t FiletypeFromText(const std::string& text) {
    if (text == "AVI")
        return kFileAvi;
    if (text == "WMV")
        return kFileWmv;
    if (text == "WMV (ALL)")
        return kFileWmvAll;
    return kFileVlv;
}

bool LoadSettingsFile(const std::string& path, AppSettings& app, CameraSettings& camera) {
    IniFile ini;
    if (!ini.Load(path))
        return false;
    const Reader reader{ini};
    ReadRecorderSection(reader, app);
    ReadCameraSection(reader, camera);
    return true;
}

CameraFileLoad LoadCameraSettingsFile(const std::string& path, AppSettings& app,
                                      CameraSettings& camera, GainValues& gains) {
    IniFile ini;
    if (!ini.Load(path))
        return CameraFileLoad::kUnreadable;
    const Reader reader{ini};
    ReadRecorderSection(reader, app);
    double exposure = reader.Decimal(kCameraSection, "Exposure");
    double rate = reader.Decimal(kCameraSection, "Framerate");
    if (exposure == 0.0)
        exposure = 0.1;
    if (rate == 0.0)
        rate = 1.0;
    const auto usable = [](double v) { return std::isfinite(float(v)) && v > 0.0; };
    if (!usable(exposure) || !usable(rate))
        return CameraFileLoad::kRecorderOnly;

    CameraSettings loaded = camera;
    ReadCameraSection(reader, loaded);
    loaded.Exposure = float(exposure);
    loaded.Framerate = float(rate);
    if (loaded.Width == 0)
        loaded.Width = 80;
    if (loaded.Height == 0)
        loaded.Height = 80;
    gains = {loaded.Gain, loaded.RedGain, loaded.GreenGain1, loaded.GreenGain2, loaded.BlueGain};
    loaded.Gain = camera.Gain;
    loaded.RedGain = camera.RedGain;
    loaded.GreenGain1 = camera.GreenGain1;
    loaded.GreenGain2 = camera.GreenGain2;
    loaded.BlueGain = camera.BlueGain;
    camera = loaded;
    return CameraFileLoad::kAll;
}

bool SaveSettingsFile(const std::string& path, const AppSettings& app, const CameraSettings& cam) {
    IniFile ini;
    const auto put = [&ini](const char* section, const char* key, const std::string& value) {
        ini.Set(section, key, value);
    };
    put(kRecorderSection, "Directory", IntText(app.Directory));
    put(kRecorderSection, "Port", IntText(app.Port));
    put(kRecorderSection, "FramesBefore", IntText(app.FramesBefore));
    put(kRecorderSection, "FramesAfter", IntText(app.FramesAfter));
    put(kRecorderSection, "BufferLenght", IntText(app.BufferLenght));
    put(kRecorderSection, "Filetype", FiletypeText(app.Filetype));
    put(kRecorderSection, "SavePerformanceLog", IntText(app.SavePerformanceLog));
    put(kCameraSection, "Exposure", ExposureText(cam.Exposure));
    put(kCameraSection, "Framerate", FramerateText(cam.Framerate));
    put(kCameraSection, "Width", IntText(int32_t(cam.Width)));
    put(kCameraSection, "Height", IntText(int32_t(cam.Height)));
    put(kCameraSection, "PixelFormat", IntText(int32_t(cam.PixelFormat)));
    put(kCameraSection, "XOffset", IntText(int32_t(cam.XOffset)));
    put(kCameraSection, "YOffset", IntText(int32_t(cam.YOffset)));
    put(kCameraSection, "Gain", IntText(int32_t(cam.Gain)));
    put(kCameraSection, "RedGain", IntText(int32_t(cam.RedGain)));
    put(kCameraSection, "GreenGain1", IntText(int32_t(cam.GreenGain1)));
    put(kCameraSection, "GreenGain2", IntText(int32_t(cam.GreenGain2)));
    put(kCameraSection, "BlueGain", IntText(int32_t(cam.BlueGain)));
    put(kCameraSection, "Sharpen", IntText(cam.Sharpen));
    put(kCameraSection, "Reduction", IntText(int32_t(cam.Reduction)));
    put(kCameraSection, "Brightnes", IntText(cam.Brightnes));
    put(kCameraSection, "Contrast", IntText(cam.Contrast));
    put(kCameraSection, "MeanValue", IntText(cam.MeanValue));
    put(kCameraSection, "AutoCorrection", IntText(cam.AutoCorrection));
    return ini.Save(path);
}

} // namespace quillon
