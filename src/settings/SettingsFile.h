#pragma once

#include <string>

#include "AppSettings.h"
#include "CameraSettings.h"

namespace quillon {

// Upper bounds that keep the ring and the windows around an arrival within memory and
// integer range whatever a settings file holds.
constexpr int32_t kMaxFramesAround = 5000;
constexpr int32_t kMaxBufferLength = 100000;
constexpr int32_t kMinFramesBefore = 15;
constexpr int32_t kMinFramesAfter = 10;
constexpr int32_t kDefaultPort = 2000;

// Where settings.ini lives: beside the running program when its folder can take the file (a
// copied program, the build folder); otherwise, as for the installed program in /usr/bin, in
// $XDG_CONFIG_HOME/quillon-id/ (default ~/.config/quillon-id/), whose folder is created here so
// that the save at shutdown finds it. Folders under /usr are the system's and never used, even
// for root, who could write there.
std::string SettingsPath();
// The same choice for a given program folder and environment (for tests).
std::string SettingsPathFor(const std::string& programDir, const char* xdgConfigHome,
                            const char* home);

// Both records at the values used when settings.ini is missing.
void SetDefaultSettings(AppSettings& app, CameraSettings& camera);

// Reads the 25 keys in their fixed order with their read rules; a missing key reads as "0".
// False when the file cannot be read (the records are then left untouched).
bool LoadSettingsFile(const std::string& path, AppSettings& app, CameraSettings& camera);

// The five gains of a settings file, in thousandths: master, red, green 1, green 2, blue.
struct GainValues {
    uint32_t gain = 0, red = 0, green1 = 0, green2 = 0, blue = 0;
};

// How far reading a camera settings file got.
enum class CameraFileLoad {
    kUnreadable,   // nothing changed
    kRecorderOnly, // the recorder section was taken; the camera values were unusable
    kAll,          // both records were taken, the gains are in `gains`
};

// The camera properties dialog's reader: the recorder section as LoadSettingsFile reads it;
// then camera values of 0 become usable ones (Exposure 0.1 ms, Framerate 1 fps, Width and
// Height 80). When exposure and frame rate are then positive, every camera key but the five
// gains goes into `camera`, and the gains into `gains` (the record keeps its own).
CameraFileLoad LoadCameraSettingsFile(const std::string& path, AppSettings& app,
                                      CameraSettings& camera, GainValues& gains);

// Replaces the file with exactly the 25 keys. False when it could not be written.
bool SaveSettingsFile(const std::string& path, const AppSettings& app,
                      const CameraSettings& camera);

// Raises BufferLenght to ten times the frames around an arrival, within the bounds above.
int32_t RingLengthFor(int32_t bufferLength, int32_t framesBefore, int32_t framesAfter);

// The texts of the file kinds as settings.ini and the preferences show them.
const char* FiletypeText(int32_t filetype);
int32_t FiletypeFromText(const std::string& text);

} // namespace quillon
