#include "AppStrings.h"

#include <algorithm>

#include "Schedule.h"
#include "TextFile.h"
#include "rtl/Files.h"
#include "rtl/StringList.h"

namespace {

constexpr size_t kFields = 5;  // key and four texts

// A text between quotes; a quote inside is doubled, which the reader turns back into one.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    out += '"';
    return out;
}

bool EndsWithBreak(const std::string& text) {
    return text.empty() || text.back() == '\n' || text.back() == '\r';
}

}  // namespace

TAppStrings::TAppStrings(const std::string& name) : path_(BaseDir + name) {
    entries_.reserve(100);
    current_ = entries_.size();
}

bool TAppStrings::Load() {
    auto text = ReadTextFile(path_, ": ", errorText_);
    if (!text) return false;
    fileEndsWithBreak_ = EndsWithBreak(*text);
    for (const std::string& line : rtl::SplitLines(*text)) {
        if (line.empty() || line[0] == ';') continue;
        std::vector<std::string> fields = rtl::SplitCommaText(line);
        if (fields.size() < kFields) continue;
        TEntry entry;
        entry.Key = std::move(fields[0]);
        for (size_t i = 0; i < entry.Text.size(); ++i) entry.Text[i] = std::move(fields[i + 1]);
        keyWidth_ = std::max(keyWidth_, entry.Key.size());
        textWidth_ = std::max(textWidth_, entry.Text[0].size());
        AddEntry(std::move(entry));
    }
    return true;
}

void TAppStrings::AddEntry(TEntry entry) {
    entries_.push_back(std::move(entry));
    current_ = entries_.size() - 1;
}

bool TAppStrings::Find(const std::string& key) {
    for (current_ = 0; current_ < entries_.size(); ++current_)
        if (entries_[current_].Key == key) return true;
    return false;
}

std::string TAppStrings::GetString(const std::string& key) {
    if (!Find(key)) return "?" + key;
    return entries_[current_].Text[static_cast<size_t>(std::clamp(LanguageIndex, 0, 3))];
}

std::string TAppStrings::FormatLine(const TEntry& entry) {
    // Each column is padded to the widest seen so far; a wider value widens the column.
    auto padded = [](const std::string& value, size_t& width) {
        std::string piece = Quoted(value);
        if (width > value.size())
            piece.append(width - value.size(), ' ');
        else
            width = value.size();
        return piece + ' ';
    };
    std::string line = padded(entry.Key, keyWidth_);
    for (const std::string& text : entry.Text) line += padded(text, textWidth_);
    return line + "\r\n";
}

bool TAppStrings::Register(const std::string& key, const std::string& text1,
                           const std::string& text2, const std::string& text3,
                           const std::string& text4) {
    if (Find(key)) return true;
    AddEntry(TEntry{key, {text1, text2, text3, text4}});
    std::string line = FormatLine(entries_.back());
    if (!fileEndsWithBreak_) line = "\r\n" + line;
    if (!rtl::AppendToFile(path_, line)) return false;
    fileEndsWithBreak_ = true;
    return true;
}

bool TAppStrings::Reset() {
    const std::string backup = BackupPath();
    // A backup still here is the last complete content (an earlier rewrite did not finish): the
    // file may be partial, so it must not replace that backup.
    if (!rtl::FileExists(backup) && !rtl::CopyFile(path_, backup, true)) return false;
    if (!rtl::WriteWholeFile(path_, "")) return false;
    entries_.clear();
    current_ = 0;
    keyWidth_ = 0;
    textWidth_ = 0;
    errorText_.clear();
    fileEndsWithBreak_ = true;
    return true;
}

bool RestoreFromBackup(const std::string& path) {
    const std::string backup = path + ".bak";
    if (!rtl::FileExists(backup)) return true;
    // The copy replaces the file as a whole or not at all, so the file is never deleted first.
    if (!rtl::CopyFile(backup, path, false)) return false;
    return rtl::DeleteFile(backup);
}
