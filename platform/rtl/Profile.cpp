#include "rtl/Profile.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "rtl/Files.h"
#include "rtl/StringList.h"

namespace rtl {
namespace {

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n";
    auto b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    auto e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

// Letters A to Z fold to lower case; other bytes match only themselves, under any locale.
bool SameName(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return fold(x) == fold(y); });
}

// "[name]" (blanks around the name allowed) gives the name.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return line.empty() || line.front() == ';';
}

// For "key = value" lines: the trimmed key and value.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
    if (IsComment(line) || SectionName(line)) return std::nullopt;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return std::pair{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::string Unquote(std::string_view v) {
    const bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    if (quoted) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// The file's lines; a DOS end-of-file byte closing the file is not part of the last value.
bool LoadProfile(std::string_view file, std::vector<std::string>& lines) {
    auto text = ReadWholeFile(file);
    if (!text) return false;
    if (!text->empty() && text->back() == '\x1A') text->pop_back();
    lines = SplitLines(*text);
    return true;
}

// Index of the first line of the section's body, or -1.
int FindSection(const std::vector<std::string>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i]);
        if (name && SameName(*name, section)) return static_cast<int>(i) + 1;
    }
    return -1;
}

// Index of the line the key's value is read from (the first match in the first matching section), or -1.
int FindKey(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
    int i = FindSection(lines, section);
    if (i < 0) return -1;
    for (size_t k = static_cast<size_t>(i); k < lines.size() && !SectionName(lines[k]); ++k) {
        auto kv = KeyValue(lines[k]);
        if (kv && SameName(kv->first, key)) return static_cast<int>(k);
    }
    return -1;
}

}  // namespace

int LeadingInt(std::string_view text, int defaultValue) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : defaultValue;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, std::string_view file) {
    std::vector<std::string> lines;
    if (!LoadProfile(file, lines)) return std::string(defaultText);
    const int k = FindKey(lines, section, key);
    return k < 0 ? std::string(defaultText) : Unquote(KeyValue(lines[size_t(k)])->second);
}

int PrivateProfileLine(std::string_view section, std::string_view key, std::string_view file) {
    std::vector<std::string> lines;
    return LoadProfile(file, lines) ? FindKey(lines, section, key) + 1 : 0;
}

int FirstForeignProfileLine(std::string_view file, std::string* text) {
    std::vector<std::string> lines;
    if (!LoadProfile(file, lines)) return 0;
    for (size_t k = 0; k < lines.size(); ++k) {
        if (IsComment(lines[k]) || SectionName(lines[k]) || KeyValue(lines[k])) continue;
        if (text) *text = Trim(lines[k]);
        return static_cast<int>(k) + 1;
    }
    return 0;
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         std::string_view file) {
    static const std::string absent = "\x01";
    std::string text = GetPrivateProfileString(section, key, absent, file);
    if (text == absent) return defaultValue;
    return LeadingInt(text, defaultValue);
}

int GetPrivateProfileDecimal(std::string_view section, std::string_view key, int defaultValue,
                              std::string_view file) {
    const std::string text = GetPrivateProfileString(section, key, "", file);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : defaultValue;
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file) {
    std::vector<std::string> lines;
    if (FileExists(file) && !LoadProfile(file, lines)) return false;
    const std::string entry = std::string(key) + "=" + std::string(value);
    int body = FindSection(lines, section);
    if (body < 0) {
        if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    } else {
        size_t k = static_cast<size_t>(body);
        size_t lastEntry = k;  // new keys go after the section's last non-blank line
        bool replaced = false;
        for (; k < lines.size() && !SectionName(lines[k]); ++k) {
            auto kv = KeyValue(lines[k]);
            if (kv && SameName(kv->first, key)) {
                lines[k] = entry;
                replaced = true;
                break;
            }
            if (!Trim(lines[k]).empty()) lastEntry = k + 1;
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<long>(lastEntry), entry);
    }
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return WriteWholeFile(file, text);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultText) const {
    return GetPrivateProfileString(section, key, defaultText, path_);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    return GetPrivateProfileInt(section, key, defaultValue, path_);
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    return WritePrivateProfileString(section, key, value, path_);
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WritePrivateProfileString(section, key, std::to_string(value), path_);
}

}  // namespace rtl
