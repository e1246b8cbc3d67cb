#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::host {

// One message from the recorder, as the host tool sees it.
struct Reply {
    enum class Kind { Ack, FileName, Error, TimeRequest, KeepAlive };
    Kind kind;
    std::string text;  // the whole message as received
    std::string value; // Ack: the command word; FileName/Error: what follows "~"; TimeRequest: tick
};

// Splits the recorder's stream into messages. Replies carry no terminator (only FILENAME ends
// in "@"), so a message is recognised by its prefix and known shape. A clock request whose
// digits reach the end of the data received so far may still grow: it is kept back until more
// data comes or the caller says the stream is quiet.
class ReplyParser {
public:
    void Feed(const std::string& bytes) { m_pending += bytes; }
    // The next complete message, if any. With `quiet` a trailing clock request counts as whole.
    std::optional<Reply> Next(bool quiet);
    // Bytes that fit no known message are skipped one by one and counted.
    size_t SkippedBytes() const { return m_skipped; }

private:
    std::string m_pending;
    size_t m_skipped = 0;
};

} // namespace quillon::host
