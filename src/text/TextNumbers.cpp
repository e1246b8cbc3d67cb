#include "text/TextNumbers.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace quillon {
namespace {

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t SkipSpace(std::string_view text, size_t i) {
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return i;
}

} // namespace

int32_t ParseInt(std::string_view text) {
    size_t i = SkipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit; // saturate; keep consuming digits
        }
    }
    return int32_t(negative ? -value : value);
}

double ParseDecimal(std::string_view text) {
    // from_chars is independent of the process locale (Qt sets the user's locale, whose
    // decimal separator may be a comma) and reads no hex or "inf" spellings in this format.
    text.remove_prefix(SkipSpace(text, 0));
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !(IsDigit(text[0]) || text[0] == '.'))
        return 0.0;
    double value = 0.0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    // Numbers beyond double's range count as unreadable, like text without digits.
    if (result.ec != std::errc())
        return 0.0;
    return negative ? -value : value;
}

} // namespace quillon
