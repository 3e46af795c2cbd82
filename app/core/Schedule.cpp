#include "Schedule.h"

#include <cstdio>

#include "AppStrings.h"
#include "DwlFc.h"
#include "Fancoil.h"
#include "Morvand.h"
#include "Scheduler.h"
#include "SetupFile.h"
#include "UIFile.h"
#include "logserver/Pelkin.h"
#include "rtl/Files.h"
#include "rtl/Profile.h"

std::string TSharedText::Get() const {
    std::lock_guard lock(m_);
    return text_;
}

void TSharedText::Set(std::string text) {
    std::lock_guard lock(m_);
    text_ = std::move(text);
}

std::string BaseDir;
int LanguageIndex = 0;
TSharedText DateText;
TSharedText TimeText;
std::atomic<uint32_t> SysTick{0};
std::atomic<uint8_t> LogState{0};

std::unique_ptr<TAppStrings> AppStr;
std::unique_ptr<TAppStrings> FanStr;
std::unique_ptr<TFuncPtrList> InvalidateList;
std::unique_ptr<TFuncPtrList> RefreshList;
std::unique_ptr<TSetupFile> SetupFile;
std::unique_ptr<TUIFile> UIFile;
std::unique_ptr<TScheduler> Scheduler;
std::unique_ptr<TFancoil> FancoilData;
std::unique_ptr<TDwlFc> DwlFc;

std::string _CmdLineData::FileName;
uint8_t _CmdLineData::Flags = 0;

rtl::HWND AppWindowHandle = nullptr;
std::function<void()> RequestTerminate;
bool StartRefused = false;
std::function<std::string()> BaseDirSource = [] { return rtl::ExecutableDir(); };

namespace {

constexpr const char* kLibrarySettings = ".//Morvand.ini";

// Held from start-up to shutdown: one program per installation, or two would write the same files.
std::unique_ptr<rtl::TFolderLock> InstallationLock;

// Shows the reason, asks the application to end; start-up then returns at once.
void Fatal(const std::string& text) {
    ShowFatal(text);
    if (RequestTerminate) RequestTerminate();
}

struct TLogSettings {
    bool enabled;
    uint16_t duration;
};

// [General] logEn and logDur of the library's settings file, read by the library's rule: a value
// that is not wholly a number reads as its key's absent default.
TLogSettings ReadLogSettings() {
    int logEn = rtl::GetPrivateProfileDecimal("General", "logEn", 99, kLibrarySettings);
    int logDur = rtl::GetPrivateProfileDecimal("General", "logDur", 999, kLibrarySettings);
    if (logEn == 99) logEn = 0;
    if (logDur < 0 || logDur > 998) logDur = 0;
    return {logEn != 0, static_cast<uint16_t>(logDur)};
}

}  // namespace

void ShowFatal(const std::string& text) {
    StartRefused = true;
    rtl::MessageBox(text, "FATAL ERROR", rtl::MB_OK);
}

void ScheduleGlobalsInit() {
    StartRefused = false;
    BaseDir.clear();
    DateText.Set("");
    TimeText.Set("");
    _CmdLineData::FileName.clear();
}

void ParseCommandLine(int argc, const char* const* argv) {
    _CmdLineData::Flags = 0;
    _CmdLineData::FileName.clear();
    for (int i = 1; i < argc && argv; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg.size() < 2 || arg[0] != '/') continue;
        if (arg[1] == 'W') _CmdLineData::Flags |= _CmdLineData::WriteSwitch;
        else if (arg[1] == 'R') _CmdLineData::Flags |= _CmdLineData::ReadSwitch;
        else continue;
        _CmdLineData::FileName = arg.substr(2);
    }
    constexpr uint8_t kSwitchBits = _CmdLineData::ReadSwitch | _CmdLineData::WriteSwitch;
    const bool read = _CmdLineData::Flags & 0x01, write = _CmdLineData::Flags & 0x02;
    if (read && write) _CmdLineData::Flags &= static_cast<uint8_t>(~kSwitchBits);
    if ((read || write) && _CmdLineData::FileName.empty())
        _CmdLineData::Flags &= static_cast<uint8_t>(~kSwitchBits);
    if (_CmdLineData::Flags & 0x03) _CmdLineData::Flags |= _CmdLineData::MenuLocked;
}

void ScheduleStartup(int argc, const char* const* argv) {
    ParseCommandLine(argc, argv);
    BaseDir = BaseDirSource ? BaseDirSource() : rtl::ExecutableDir();
    InstallationLock = std::make_unique<rtl::TFolderLock>(BaseDir);
    if (InstallationLock->HeldElsewhere())
        return Fatal("TELVOX GIA' IN ESECUZIONE IN QUESTA CARTELLA\r\n" + rtl::NativePath(BaseDir));
    InvalidateList = std::make_unique<TFuncPtrList>();
    RefreshList = std::make_unique<TFuncPtrList>();

    AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg");
    if (!AppStr->Load()) return Fatal(AppStr->ErrorText());

    FanStr = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
    // A rewrite cut short leaves the previous descriptions in the backup beside the file. When the
    // backup cannot be put back it stays where it is, for the next start or the next rewrite.
    RestoreFromBackup(FanStr->Path());
    if (!FanStr->Load()) return Fatal(FanStr->ErrorText());

    const TLogSettings log = ReadLogSettings();
    _PELKINSubscribe(AppWindowHandle);
    _PELKINCreate(BaseDir.c_str(), "LOG", log.duration);
    _PELKINEnDisReq(log.enabled ? 1 : 0);

    SetupFile = std::make_unique<TSetupFile>("IN\\TELVOX.ini");
    SetupFile->Read();

    UIFile = std::make_unique<TUIFile>();
    UIFile->SetFile("UI.csv");
    if (!UIFile->Load()) return Fatal(UIFile->ErrorText());
    UIFile->Dump();

    // The poller's entry goes in while the thread is still suspended.
    Scheduler = std::make_unique<TScheduler>(true);
    FancoilData = std::make_unique<TFancoil>(*FanStr);
    Scheduler->AddEntry(TFuncPtr{&TFancoil::PollEntry, FancoilData.get()});
    DwlFc = std::make_unique<TDwlFc>();

    const int result = _CreateCANThread(".//Morvand");
    if (result != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Create Protocol error: %d; USB-CAN or file.ini", result);
        return Fatal(text);
    }
    Scheduler->Resume();
    _PELKINSendString("BEGIN APPLICATION");
}

void ScheduleShutdown() {
    // The scheduler goes first so that its poller never meets the library or the model gone.
    Scheduler.reset();
    _DestroyCANThread();
    UIFile.reset();
    SetupFile.reset();
    AppStr.reset();
    FanStr.reset();
    FancoilData.reset();
    DwlFc.reset();
    _PELKINEnd();
    _PELKINDestroy();
    _PELKINUnsubscribe();
    FreeFuncPtrList(InvalidateList);
    FreeFuncPtrList(RefreshList);
    InstallationLock.reset();
}

void ScheduleGlobalsExit() {
    _CmdLineData::FileName.clear();
    TimeText.Set("");
    DateText.Set("");
    BaseDir.clear();
}
