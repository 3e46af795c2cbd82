// The main window's position, size and state, kept in section [UI] of the program's own settings
// file. Read once at start, written when the menu closes.
#pragma once
#include <string>

#include "rtl/Profile.h"

class TSetupFile {
public:
    // Path := BaseDir + name; the file need not exist.
    explicit TSetupFile(const std::string& name);

    void SetDefaults();
    // Always true: a missing file, section or WINTOP (or a WINTOP of 99) gives the defaults.
    bool Read();
    // False when the file could not be written.
    bool Write();

    const std::string& Path() const { return Ini.FileName(); }
    const std::string& ErrorText() const { return errorText_; }

    int Top = 0;
    int Left = 0;
    int Width = 0;
    int Height = 0;
    int State = 0;

private:
    rtl::TIniFile Ini;
    std::string errorText_;
};
