// Windows private-profile (ini) files. Section and key names match without regard to case; blanks
// around names and values are trimmed; a value wholly inside a pair of double or of single quotes
// loses them; ';' starts a comment only at the start of a line; a DOS end-of-file byte ending the
// file is dropped; the first matching section and key win; an absent file, section or key gives
// the default. Writing replaces the key's line in place or adds it to its section (creating file
// and section when missing) and keeps every other line; lines are written with CR LF, read with
// CR LF or LF. A write that does not land (a read-only file or folder, a full disk) returns false
// and leaves the file as it was.
#pragma once
#include <string>
#include <string_view>

namespace rtl {

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultText, std::string_view file);
// The value's leading decimal number (optional sign); the default when the key is absent or the
// value does not start with one.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         std::string_view file);
// The value when the whole of it is a decimal number, else the default ("1 ; 125k" is not one).
// The library's settings are read by this rule, by the library and by the menu alike.
int GetPrivateProfileDecimal(std::string_view section, std::string_view key, int defaultValue,
                             std::string_view file);
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file);

// For a reader that takes a file whole and says where it is wrong (lines count from 1): the line
// GetPrivateProfileString reads the key's value from, 0 when it reads none; the first line that is
// neither blank, a comment, a section header nor key = value (with its text), 0 when there is none.
int PrivateProfileLine(std::string_view section, std::string_view key, std::string_view file);
int FirstForeignProfileLine(std::string_view file, std::string* text);

// The leading decimal number of a text (blanks first are skipped), or the default without one.
int LeadingInt(std::string_view text, int defaultValue);

// Object form, as the system's settings classes use it.
class TIniFile {
public:
    explicit TIniFile(std::string path) : path_(std::move(path)) {}
    const std::string& FileName() const { return path_; }
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultText) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);

private:
    std::string path_;
};

}  // namespace rtl
