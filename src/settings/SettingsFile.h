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

// Replaces the file with exactly the 25 keys. False when it could not be written.
bool SaveSettingsFile(const std::string& path, const AppSettings& app,
                      const CameraSettings& camera);

// Raises BufferLenght to ten times the frames around an arrival, within the bounds above.
int32_t RingLengthFor(int32_t bufferLength, int32_t framesBefore, int32_t framesAfter);

// The texts of the file kinds as settings.ini and the preferences show them.
const char* FiletypeText(int32_t filetype);
int32_t FiletypeFromText(const std::string& text);

}  // namespace quillon
