#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// One recording as the save path uses it: frames in, each with its race time and camera
// frame number; deleting it finishes the file. Calls never overlap (the save path hands the
// recording between the user-interface thread and the save worker).
class Recording {
public:
    virtual ~Recording() = default;
    virtual void WriteFrame(uint32_t width, uint32_t height, const uint8_t* data,
                            uint16_t bitsPerPixel, uint32_t time, uint32_t sequence) = 0;
    virtual bool IsEveryFrame() const = 0;
    // The file could be created and set up.
    virtual bool IsOpen() const = 0;
    virtual const std::string& Path() const = 0;
    // Writing stopped for good (a full disk, a lost share); the reason for the operator.
    virtual bool HasFailed() const { return false; }
    virtual std::string LastError() const { return {}; }
};

} // namespace quillon
