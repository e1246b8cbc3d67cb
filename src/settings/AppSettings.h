#pragma once

#include <cstdint>

namespace quillon {

// Recording kinds; the numbers are what settings.ini and the preferences store.
enum FileKind : int32_t {
    kFileVlv = 1,    // own raw container ".vlv"
    kFileAvi = 2,    // AVI with a timing stream
    kFileWmv = 3,    // Windows Media with a frame-time trailer
    kFileWmvAll = 4, // Windows Media, every frame recorded
};

// The file extension, without its dot, that each kind writes. Both Windows Media kinds write
// ".wmv" files; anything unknown records as ".vlv".
constexpr const char* FileExtension(int32_t kind) {
    switch (kind) {
    case kFileAvi:
        return "avi";
    case kFileWmv:
    case kFileWmvAll:
        return "wmv";
    default:
        return "vlv";
    }
}

// The recorder section of settings.ini. Owned by the main window; everyone else works on it
// in place through a pointer. Touched on the user-interface thread only.
struct AppSettings {
    int32_t Directory = 0; // 0 local share, 1 the host's share
    int32_t Port = 2000;
    int32_t FramesBefore = 15;
    int32_t FramesAfter = 10;
    int32_t BufferLenght = 250; // ring length; the key is spelled so in existing files
    int32_t Filetype = kFileVlv;
    int32_t SavePerformanceLog = 0;
};

} // namespace quillon
