#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

// A small INI file reader and writer with the rules settings.ini has always had: section and
// key names match without regard to letter case, the first of duplicate keys wins, values are
// trimmed and cut to 259 characters, and a missing value reads as a given default text.
class IniFile {
public:
    static constexpr size_t kMaxValueLength = 259;

    // Reads `path`; false (and an empty file) when it cannot be read.
    bool Load(const std::string& path);
    void Parse(std::string_view text);

    std::string Get(std::string_view section, std::string_view key,
                    std::string_view fallback) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as text, sections and keys in the order they were first set or read.
    std::string Text() const;
    // Writes the text through a temporary file and a rename, so a crash while writing leaves
    // either the old file or the new one, never half of one.
    bool Save(const std::string& path) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;

    std::vector<Section> m_sections;
};

} // namespace quillon
