// The parameter-row file "UI.csv": which values the windows show for a node and how. Rows are
// read by fixed character columns; section [PARAMETRI] holds the device rows, [ZEM] the rows of
// node 127.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TUIWinDefRow {
    // Cuts the fields out of one line by their columns.
    explicit TUIWinDefRow(std::string_view line);

    // The row as one log line, in the dump header's columns.
    std::string ToText() const;

    std::string Name;
    std::string Units;
    uint8_t NumDec = 0;
    char Type = 0;  // 'A' analog, 'I' integer; 0 when the field is blank
    uint8_t RO = 0;
    int32_t Min = 0;
    int32_t Max = 0;
    uint8_t Address = 0;
};

// A number field: decimal with an optional sign, or hexadecimal after "$", "x", "X", "0x", "0X".
// Anything else (an empty field, a stray character, a value out of 32 bits) gives 0.
int32_t UIFieldToInt(std::string_view field);

class TUIWinDefRows {
public:
    // Appends the row; a row already holding its type and address is reported in a box
    // ("TIPO/INDIRIZZO DUPLICATO") and both are kept.
    void Add(std::unique_ptr<TUIWinDefRow> row);
    void Clear();
    size_t Count() const { return rows_.size(); }
    const TUIWinDefRow& Row(size_t i) const { return *rows_[i]; }

    // The log lines of the list: title, column header, one line per row.
    std::vector<std::string> DumpLines() const;
    void Dump() const;

private:
    std::vector<std::unique_ptr<TUIWinDefRow>> rows_;
};

class TUIFile {
public:
    // Registers itself in InvalidateList when that list exists (hence neither copied nor moved).
    TUIFile();
    TUIFile(const TUIFile&) = delete;
    TUIFile& operator=(const TUIFile&) = delete;

    // Path := BaseDir + "USR\" + name; both row lists are emptied.
    void SetFile(const std::string& name);
    // Reads the rows; false with ErrorText() when the file is missing or cannot be read.
    bool Load();
    std::vector<std::string> DumpLines() const;
    void Dump() const;

    const std::string& Path() const { return path_; }
    const std::string& ErrorText() const { return errorText_; }
    const std::string& Section() const { return section_; }

    TUIWinDefRows ParamRows;
    TUIWinDefRows ZemRows;

private:
    std::string path_;
    std::string section_;  // empty until a section line is met
    std::string errorText_;
};
