// Process-wide state of the program, shared by the configuration objects, the node model and the
// windows. Start-up creates the objects, shutdown frees them; until then every reference is null.
#pragma once
#include <memory>
#include <string>
#include <vector>

class TAppStrings;

// One callback entry: the function and the object that registered it.
using TCallback = void (*)(void* data);
struct TFuncPtr {
    TCallback Function = nullptr;
    void* Data = nullptr;
};
using TFuncPtrList = std::vector<TFuncPtr>;

// Directory of the executable, with its trailing separator; prefix of the text-file paths.
extern std::string BaseDir;
// Which of the four texts of a string-table entry is shown (0..3).
extern int LanguageIndex;

extern std::unique_ptr<TAppStrings> AppStr;  // "USR\AppStr.cfg": captions and labels
extern std::unique_ptr<TAppStrings> FanStr;  // "USR\FanStr.cfg": node descriptions
// Repaint callbacks of the windows and the parameter-row file; nothing runs them.
extern std::unique_ptr<TFuncPtrList> InvalidateList;
