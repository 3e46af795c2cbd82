// Process-wide state of the program, shared by the configuration objects, the node model and the
// windows. Start-up creates the objects, shutdown frees them; until then every reference is null,
// and a failed start-up leaves the references of its later steps null.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtl/Messages.h"

class TAppStrings;
class TSetupFile;
class TUIFile;
class TScheduler;
class TFancoil;
class TDwlFc;

// One callback entry: the function and the object that registered it.
using TCallback = void (*)(void* data);
struct TFuncPtr {
    TCallback Function = nullptr;
    void* Data = nullptr;
};
using TFuncPtrList = std::vector<TFuncPtr>;

// A text that one thread replaces while others read it; every reader gets a whole text.
class TSharedText {
public:
    std::string Get() const;
    void Set(std::string text);

private:
    mutable std::mutex m_;
    std::string text_;
};

// Directory of the executable, with its trailing separator; prefix of the text-file paths.
extern std::string BaseDir;
// Which of the four texts of a string-table entry is shown (0..3).
extern int LanguageIndex;
extern TSharedText DateText;          // "dd/mm/yyyy", written by the scheduler thread
extern TSharedText TimeText;          // "hh:nn:ss", written by the scheduler thread
extern std::atomic<uint32_t> SysTick;  // millisecond tick of the scheduler's last pass
extern std::atomic<uint8_t> LogState;  // last state the log server reported

extern std::unique_ptr<TAppStrings> AppStr;  // "USR\AppStr.cfg": captions and labels
extern std::unique_ptr<TAppStrings> FanStr;  // "USR\FanStr.cfg": node descriptions
// Repaint callbacks of the windows and the parameter-row file; nothing runs them.
extern std::unique_ptr<TFuncPtrList> InvalidateList;
// Refresh callbacks, run on the user-interface thread at every refresh message.
extern std::unique_ptr<TFuncPtrList> RefreshList;
extern std::unique_ptr<TSetupFile> SetupFile;  // "IN\TELVOX.ini"
extern std::unique_ptr<TUIFile> UIFile;        // "USR\UI.csv"
extern std::unique_ptr<TScheduler> Scheduler;
extern std::unique_ptr<TFancoil> FancoilData;
extern std::unique_ptr<TDwlFc> DwlFc;

// The command line's switches. Only the menu reads Flags.
struct _CmdLineData {
    static constexpr uint8_t ReadSwitch = 0x01 | 0x08;   // /R<name>
    static constexpr uint8_t WriteSwitch = 0x02 | 0x04;  // /W<name>
    static constexpr uint8_t MenuLocked = 0x40;
    static std::string FileName;
    static uint8_t Flags;
};

// Set by the form layer before start-up: the window that receives the scheduler's messages and
// the log server's state.
extern rtl::HWND AppWindowHandle;
// Installed by the form layer: asks the application to end its message loop. Empty: nothing.
extern std::function<void()> RequestTerminate;
// A start ended by a "FATAL ERROR" box: the program's exit status is then not 0, so that a start
// script can tell it from a normal end.
extern bool StartRefused;
// Shows the reason in a "FATAL ERROR" box and marks the start as refused.
void ShowFatal(const std::string& text);
// Where start-up takes the base directory from: the executable's folder (tests point it elsewhere).
extern std::function<std::string()> BaseDirSource;

void ScheduleGlobalsInit();
// Fills _CmdLineData from the process arguments (argv[0] is the program and is skipped).
void ParseCommandLine(int argc, const char* const* argv);
// Builds every process-wide object, connects the log server, starts the protocol library and the
// scheduler. A failure shows a "FATAL ERROR" box, asks the application to terminate and leaves
// the later objects null. Runs once, on the user-interface thread, before the windows exist. While
// another program holds the base directory, it fails so before it reads or writes any file.
void ScheduleStartup(int argc = 0, const char* const* argv = nullptr);
// Takes everything down again in order; harmless whatever state start-up reached.
void ScheduleShutdown();
void ScheduleGlobalsExit();
