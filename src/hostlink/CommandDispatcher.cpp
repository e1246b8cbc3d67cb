#include "CommandDispatcher.h"

#include "core/RaceCommands.h"

namespace quillon {
namespace {

constexpr std::string_view kIdle = "CMD~IDLE";
constexpr std::string_view kReady = "CMD~READY";
constexpr std::string_view kStart = "CMD~START";
constexpr std::string_view kArrival = "CMD~ARRIVAL";
constexpr std::string_view kEndArrival = "CMD~ENDARRIVAL";
constexpr std::string_view kSave = "CMD~SAVE";
constexpr std::string_view kStop = "CMD~STOP";
constexpr std::string_view kTime = "TIME";
// Keyword plus one "~" separator before a parameter.
constexpr size_t kArrivalParamOffset = kArrival.size() + 1;
constexpr size_t kEndArrivalParamOffset = kEndArrival.size() + 1;

bool Contains(std::string_view block, std::string_view keyword) {
    return block.find(keyword) != std::string_view::npos;
}

} // namespace

std::string_view ParameterAfter(std::string_view block, size_t keywordPos, size_t offset) {
    const size_t begin = keywordPos + offset;
    if (begin > block.size())
        return {};
    const size_t end = block.find('@', begin);
    if (end == std::string_view::npos)
        return {};
    return block.substr(begin, end - begin);
}

void DispatchCommands(std::string_view block, RaceCommands& commands) {
    // The block ends at its first zero byte, as a received text does.
    if (const size_t zero = block.find('\0'); zero != std::string_view::npos) {
        block = block.substr(0, zero);
    }
    if (Contains(block, kIdle))
        commands.OnIdle();
    if (Contains(block, kReady))
        commands.OnReady();
    if (Contains(block, kStart))
        commands.OnStart();
    if (const size_t at = block.find(kArrival); at != std::string_view::npos) {
        commands.OnArrival(ParameterAfter(block, at, kArrivalParamOffset));
    }
    if (const size_t at = block.find(kEndArrival); at != std::string_view::npos) {
        commands.OnEndArrival(ParameterAfter(block, at, kEndArrivalParamOffset));
    }
    if (Contains(block, kSave))
        commands.OnSaveCommand();
    if (Contains(block, kStop))
        commands.OnStop();
    // The clock reply's value follows the last "~" anywhere in the block. A "TIME" without
    // any "~" carries no value at all and must not reset the race clock.
    if (const size_t tilde = block.rfind('~'); Contains(block, kTime) && tilde != block.npos) {
        commands.OnTimeReply(ParameterAfter(block, tilde + 1, 0));
    }
}

} // namespace quillon
