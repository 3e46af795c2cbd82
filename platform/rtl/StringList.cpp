#include "rtl/StringList.h"

#include "rtl/Files.h"

namespace rtl {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

bool LoadLines(std::string_view path, std::vector<std::string>& lines) {
    auto text = ReadWholeFile(path);
    if (!text) return false;
    lines = SplitLines(*text);
    return true;
}

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::vector<std::string> SplitCommaText(std::string_view s) {
    s = s.substr(0, s.find('\0'));  // a NUL ends the text, as it would a C string
    std::vector<std::string> fields;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    if (i >= n) return fields;
    for (;;) {
        std::string field;
        if (s[i] == '"') {
            ++i;
            while (i < n) {
                if (s[i] == '"') {
                    if (i + 1 < n && s[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += s[i++];
            }
        } else {
            while (i < n && !IsBlank(s[i]) && s[i] != ',') field += s[i++];
        }
        fields.push_back(std::move(field));
        while (i < n && IsBlank(s[i])) ++i;
        if (i >= n) break;
        if (s[i] == ',') {
            ++i;
            if (i >= n) {
                fields.emplace_back();  // a trailing comma stands for one empty field
                break;
            }
            while (i < n && IsBlank(s[i])) ++i;
            if (i >= n) {
                fields.emplace_back();
                break;
            }
        }
    }
    return fields;
}

}  // namespace rtl
