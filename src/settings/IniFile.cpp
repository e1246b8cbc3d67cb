#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

namespace quillon {
namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

bool IniFile::Load(const std::string& path) {
    m_sections.clear();
    // Read errors count as unreadable, not as an empty file: a folder named settings.ini, say,
    // opens but reads nothing, and its defaults must not pass for the operator's settings.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        text.append(chunk, size_t(n));
    }
    ::close(fd);
    Parse(text);
    return true;
}

void IniFile::Parse(std::string_view text) {
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = Trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            const std::string_view name =
                Trim(line.substr(1, close == line.npos ? line.npos : close - 1));
            current = FindSection(name);
            if (current == nullptr) {
                m_sections.push_back({std::string(name), {}});
                current = &m_sections.back();
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2); // quotes around a value are dropped
        }
        const bool known = std::any_of(current->entries.begin(), current->entries.end(),
                                       [&](const auto& e) { return SameName(e.first, key); });
        if (!known)
            current->entries.emplace_back(key, value.substr(0, kMaxValueLength));
    }
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
    for (Section& s : m_sections) {
        if (SameName(s.name, name))
            return &s;
    }
    return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
    return const_cast<IniFile*>(this)->FindSection(name);
}

std::string IniFile::Get(std::string_view section, std::string_view key,
                         std::string_view fallback) const {
    if (const Section* s = FindSection(section)) {
        for (const auto& [k, v] : s->entries) {
            if (SameName(k, key))
                return v;
        }
    }
    return std::string(fallback.substr(0, kMaxValueLength));
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (s == nullptr) {
        m_sections.push_back({std::string(section), {}});
        s = &m_sections.back();
    }
    for (auto& [k, v] : s->entries) {
        if (SameName(k, key)) {
            v = value;
            return;
        }
    }
    s->entries.emplace_back(key, value);
}

std::string IniFile::Text() const {
    std::string text;
    for (const Section& s : m_sections) {
        text += "[" + s.name + "]\n";
        for (const auto& [k, v] : s.entries)
            text += k + "=" + v + "\n";
    }
    return text;
}

bool IniFile::Save(const std::string& path) const {
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, Text()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace quillon
