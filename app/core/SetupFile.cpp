#include "SetupFile.h"

#include "Schedule.h"

namespace {
constexpr const char* kSection = "UI";
constexpr int kAbsent = 99;  // WINTOP's sentinel: the file holds no settings
}  // namespace

TSetupFile::TSetupFile(const std::string& name) : Ini(BaseDir + name) {}

void TSetupFile::SetDefaults() {
    Top = 0;
    Left = 0;
    Width = 640;
    Height = 480;
    State = 0;
}

bool TSetupFile::Read() {
    // A value that is no number reads as its key's default.
    if (Ini.ReadInteger(kSection, "WINTOP", kAbsent) == kAbsent) {
        SetDefaults();
        return true;
    }
    Top = Ini.ReadInteger(kSection, "WINTOP", 0);
    Left = Ini.ReadInteger(kSection, "WINLEFT", 0);
    Width = Ini.ReadInteger(kSection, "WINWIDTH", 0);
    Height = Ini.ReadInteger(kSection, "WINHEIGHT", 0);
    State = Ini.ReadInteger(kSection, "WINSTATUS", 0);
    return true;
}

bool TSetupFile::Write() {
    bool ok = Ini.WriteInteger(kSection, "WINTOP", Top);
    ok = Ini.WriteInteger(kSection, "WINLEFT", Left) && ok;
    ok = Ini.WriteInteger(kSection, "WINWIDTH", Width) && ok;
    ok = Ini.WriteInteger(kSection, "WINHEIGHT", Height) && ok;
    ok = Ini.WriteInteger(kSection, "WINSTATUS", State) && ok;
    return ok;
}
