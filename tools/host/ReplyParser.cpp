#include "ReplyParser.h"

#include <array>
#include <cctype>
#include <string_view>

namespace quillon::host {
namespace {

constexpr std::array<std::string_view, 7> kAcks = {"IDLE",       "READY", "START", "ARRIVAL",
                                                   "ENDARRIVAL", "SAVE",  "STOP"};
constexpr std::string_view kAckPrefix = "RE~";
constexpr std::string_view kFileNamePrefix = "FILENAME~";
constexpr std::string_view kErrorPrefix = "ERROR~";
constexpr std::string_view kTimePrefix = "TIME~";

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Where the next known message starts after `from`, or npos.
size_t NextMessageStart(std::string_view s, size_t from) {
    size_t best = std::string_view::npos;
    for (std::string_view p : {kAckPrefix, kFileNamePrefix, kErrorPrefix, kTimePrefix}) {
        const size_t at = s.find(p, from);
        if (at < best)
            best = at;
    }
    return best;
}

} // namespace

std::optional<Reply> ReplyParser::Next(bool quiet) {
    while (!m_pending.empty()) {
        const std::string_view s = m_pending;
        std::optional<Reply> reply;
        size_t used = 0;
        if (s[0] == ' ') {
            reply = Reply{Reply::Kind::KeepAlive, " ", ""};
            used = 1;
        } else if (StartsWith(s, kAckPrefix)) {
            const std::string_view rest = s.substr(kAckPrefix.size());
            for (std::string_view word : kAcks) {
                if (StartsWith(rest, word)) {
                    reply = Reply{Reply::Kind::Ack, std::string(s.substr(0, 3 + word.size())),
                                  std::string(word)};
                    used = kAckPrefix.size() + word.size();
                    break;
                }
            }
            if (!reply && rest.size() < 10)
                return std::nullopt; // the word may be incomplete
        } else if (StartsWith(s, kFileNamePrefix)) {
            const size_t at = s.find('@');
            if (at == std::string_view::npos)
                return std::nullopt;
            used = at + 1;
            reply =
                Reply{Reply::Kind::FileName, std::string(s.substr(0, used)),
                      std::string(s.substr(kFileNamePrefix.size(), at - kFileNamePrefix.size()))};
        } else if (StartsWith(s, kErrorPrefix)) {
            size_t end = NextMessageStart(s, kErrorPrefix.size());
            if (end == std::string_view::npos) {
                if (!quiet)
                    return std::nullopt;
                end = s.size();
            }
            used = end;
            reply = Reply{Reply::Kind::Error, std::string(s.substr(0, end)),
                          std::string(s.substr(kErrorPrefix.size(), end - kErrorPrefix.size()))};
        } else if (StartsWith(s, kTimePrefix)) {
            size_t end = kTimePrefix.size();
            if (end < s.size() && s[end] == '-')
                ++end;
            while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end])))
                ++end;
            if (end == s.size() && !quiet)
                return std::nullopt;
            used = end;
            reply = Reply{Reply::Kind::TimeRequest, std::string(s.substr(0, end)),
                          std::string(s.substr(kTimePrefix.size(), end - kTimePrefix.size()))};
        } else if (s.size() < kFileNamePrefix.size() && !quiet &&
                   (std::string_view(kFileNamePrefix).substr(0, s.size()) == s ||
                    std::string_view(kErrorPrefix).substr(0, s.size()) == s ||
                    std::string_view(kTimePrefix).substr(0, s.size()) == s ||
                    std::string_view(kAckPrefix).substr(0, s.size()) == s)) {
            return std::nullopt; // the start of a message: wait for the rest
        }
        if (reply) {
            m_pending.erase(0, used);
            return reply;
        }
        m_pending.erase(0, 1);
        ++m_skipped;
    }
    return std::nullopt;
}

} // namespace quillon::host
