#pragma once

#include <string_view>

namespace quillon {

// The race operations a host can ask for, by TCP or through shared memory. Parameters are
// the host's texts, converted by the operations themselves.
class RaceCommands {
public:
    virtual ~RaceCommands() = default;
    virtual void OnIdle() = 0;
    virtual void OnReady() = 0;
    virtual void OnStart() = 0;
    virtual void OnArrival(std::string_view text) = 0;
    virtual void OnEndArrival(std::string_view text) = 0;
    virtual void OnSaveCommand() = 0;
    virtual void OnStop() = 0;
    virtual void OnTimeReply(std::string_view text) = 0;
};

} // namespace quillon
