#include "UIFile.h"

#include <cstdio>
#include <limits>

#include "Schedule.h"
#include "TextFile.h"
#include "logserver/Pelkin.h"
#include "rtl/Messages.h"
#include "rtl/StringList.h"

namespace {

constexpr const char* kParamSection = "[PARAMETRI]";
constexpr const char* kZemSection = "[ZEM]";
constexpr const char* kDumpHeader =
    "Parameter name--- Units------ NumDec- Type--- RO-- Min----- Max----- Address-";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Columns first..last (1-based) of the line, trimmed of blanks and control characters; empty
// where the line ends before them.
std::string_view Column(std::string_view line, size_t first, size_t last) {
    if (line.size() < first) return {};
    std::string_view field = line.substr(first - 1, last - first + 1);
    while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
    while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
    return field;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Format(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

void DoNothing(void*) {}

}  // namespace

int32_t UIFieldToInt(std::string_view field) {
    size_t prefix = 0;
    if (field.starts_with("0x") || field.starts_with("0X"))
        prefix = 2;
    else if (field.starts_with("$") || field.starts_with("x") || field.starts_with("X"))
        prefix = 1;
    if (prefix != 0) {
        std::string_view digits = field.substr(prefix);
        if (digits.empty() || digits.size() > 8) return 0;
        uint32_t value = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) return 0;
            value = value * 16 + static_cast<uint32_t>(d);
        }
        return static_cast<int32_t>(value);
    }
    bool negative = false;
    if (!field.empty() && (field[0] == '+' || field[0] == '-')) {
        negative = field[0] == '-';
        field.remove_prefix(1);
    }
    if (field.empty()) return 0;
    int64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

TUIWinDefRow::TUIWinDefRow(std::string_view line)
    : Name(Column(line, 1, 18)),
      Units(Column(line, 19, 29)),
      NumDec(static_cast<uint8_t>(UIFieldToInt(Column(line, 31, 37)))),
      RO(static_cast<uint8_t>(UIFieldToInt(Column(line, 47, 50)))),
      Min(UIFieldToInt(Column(line, 52, 59))),
      Max(UIFieldToInt(Column(line, 61, 68))),
      Address(static_cast<uint8_t>(UIFieldToInt(Column(line, 70, 77)))) {
    std::string_view type = Column(line, 39, 45);
    Type = type.empty() ? 0 : type[0];
}

std::string TUIWinDefRow::ToText() const {
    // A blank type prints as a blank: a zero byte would cut the log line short.
    return Format("%-20s %-11s %7d %6c %4d %8d %8d %6d", Name.c_str(), Units.c_str(),
                  int{NumDec}, Type != 0 ? Type : ' ', int{RO}, Min, Max,
                  int{Address});
}

void TUIWinDefRows::Add(std::unique_ptr<TUIWinDefRow> row) {
    for (const auto& existing : rows_) {
        if (existing->Type == row->Type && existing->Address == row->Address) {
            rtl::MessageBox("TIPO/INDIRIZZO DUPLICATO\r\n" + row->Name + "\r\n" + existing->Name,
                            "ATTENZIONE", rtl::MB_OK);
            break;
        }
    }
    rows_.push_back(std::move(row));
}

void TUIWinDefRows::Clear() { rows_.clear(); }

std::vector<std::string> TUIWinDefRows::DumpLines() const {
    std::vector<std::string> lines{"UI ROW DEFINITIONS", kDumpHeader};
    for (const auto& row : rows_) lines.push_back(row->ToText());
    return lines;
}

void TUIWinDefRows::Dump() const {
    for (const std::string& line : DumpLines()) _PELKINSendString(line.c_str());
}

TUIFile::TUIFile() {
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{DoNothing, this});
}

void TUIFile::SetFile(const std::string& name) {
    path_ = BaseDir + "USR\\" + name;
    ParamRows.Clear();
    ZemRows.Clear();
}

bool TUIFile::Load() {
    auto text = ReadTextFile(path_, "", errorText_);
    if (!text) return false;
    section_.clear();
    for (const std::string& line : rtl::SplitLines(*text)) {
        if (line.empty() || line[0] == ';') continue;
        if (rtl::SplitCommaText(line).empty()) continue;  // blanks and control characters only
        if (line == kParamSection || line == kZemSection) {
            section_ = line;
            continue;
        }
        auto row = std::make_unique<TUIWinDefRow>(line);
        if (section_ == kZemSection)
            ZemRows.Add(std::move(row));
        else
            ParamRows.Add(std::move(row));
    }
    return true;
}

std::vector<std::string> TUIFile::DumpLines() const {
    std::vector<std::string> lines{""};
    for (const std::string& line : ParamRows.DumpLines()) lines.push_back(line);
    lines.emplace_back();
    for (const std::string& line : ZemRows.DumpLines()) lines.push_back(line);
    lines.emplace_back();
    return lines;
}

void TUIFile::Dump() const {
    for (const std::string& line : DumpLines()) _PELKINSendString(line.c_str());
}
