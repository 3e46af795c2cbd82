// A keyed text table kept in a text file: one entry per line, a key and four texts, quoted or
// blank-separated. Keys the program registers with defaults and that the file lacks are appended
// to it, so the file collects every text in use and the user can edit them.
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <vector>

class TAppStrings {
public:
    struct TEntry {
        std::string Key;
        std::array<std::string, 4> Text;
    };

    // Path := BaseDir + name. The file is not read yet.
    explicit TAppStrings(const std::string& name);

    // Adds the file's entries to the table. False with ErrorText() when the file is missing or
    // cannot be read.
    bool Load();
    // Scans from the first entry; true at the first exact key match, which becomes Current().
    bool Find(const std::string& key);
    // The shown text of the key, or "?" followed by the key when the table lacks it.
    std::string GetString(const std::string& key);
    // Adds an absent key to the table and appends its line to the file; a present key changes
    // nothing. False when the line could not be written (the entry stays in the table).
    bool Register(const std::string& key, const std::string& text1, const std::string& text2,
                  const std::string& text3, const std::string& text4);
    // Starts a rewrite: keeps the file's content in the backup, empties the file and the table.
    // A backup left by an unfinished rewrite is kept as it is. False, with file and table
    // untouched, when no backup could be made or the file could not be emptied.
    bool Reset();

    const std::string& Path() const { return path_; }
    std::string BackupPath() const { return path_ + ".bak"; }
    const std::string& ErrorText() const { return errorText_; }
    const std::vector<TEntry>& Entries() const { return entries_; }
    size_t KeyWidth() const { return keyWidth_; }
    size_t TextWidth() const { return textWidth_; }

private:
    void AddEntry(TEntry entry);
    // The line Register appends for an entry, widening the column widths as it goes.
    std::string FormatLine(const TEntry& entry);

    std::string path_;
    std::vector<TEntry> entries_;
    size_t current_ = 0;  // index into entries_; entries_.size() when none
    size_t keyWidth_ = 0;
    size_t textWidth_ = 0;
    std::string errorText_;
    // Whether the file ends with a line break, so that an appended line starts a line of its own.
    bool fileEndsWithBreak_ = true;
};

// Puts back a file from the ".bak" copy that an interrupted rewrite left beside it. The backup is
// deleted only once the file holds its content. True when there was nothing to restore or the
// restore succeeded; false when a backup exists and could not be put back (both files kept).
bool RestoreFromBackup(const std::string& path);
