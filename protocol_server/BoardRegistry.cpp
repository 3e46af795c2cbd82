#include "BoardRegistry.h"

#include <mutex>

#include "rtl/Library.h"

TBoardRegistry BoardRegistry;
XATxxReg BoardConfig;

namespace {

std::mutex registryLock;
uint32_t holders = 0;
rtl::HMODULE registry = nullptr;

// Present in every registry the board library works with; only two of them are called.
const char* const requiredFunctions[] = {
    "XAT_SelectHardware",     "XAT_InstallHardware",      "XAT_GetConfig",         "XAT_GetXatRegKey",
    "XAT_GetRegKeyFromHwEntry", "XAT_CreateNewHwEntry",   "XAT_DeleteHwEntry",     "XAT_FindHwEntry",
    "XAT_EnumHwEntry",        "XAT_GetHwEntryVar",        "XAT_SetHwEntryVarString", "XAT_SetHwEntryVarDWORD",
    "XAT_SetDefaultHwEntry",  "XAT_GetDefaultHwEntry",    "XAT_GetNewCardType",
};

}  // namespace

bool LoadBoardRegistry() {
    std::lock_guard guard(registryLock);
    if (holders != 0) {
        ++holders;
        return false;
    }
    rtl::HMODULE lib = rtl::LoadLibrary("Xat11reg.dll");
    if (!lib) return false;
    auto check = reinterpret_cast<PF_XAT_CheckProductVersion>(rtl::GetProcAddress(lib, "XAT_CheckProductVersion"));
    if (!rtl::GetProcAddress(lib, "XAT_GetProductVersion") || !check || check("Xat11reg.dll", "01,01,0,0") != 0) {
        rtl::FreeLibrary(lib);
        return false;
    }
    registry = lib;
    holders = 1;
    return true;
}

bool UnloadBoardRegistry() {
    std::lock_guard guard(registryLock);
    if (holders == 0) return true;
    if (--holders != 0) return false;
    BoardRegistry = TBoardRegistry{};
    rtl::FreeLibrary(registry);
    registry = nullptr;
    return true;
}

bool ResolveBoardRegistry() {
    std::lock_guard guard(registryLock);
    if (!registry) return false;
    for (const char* name : requiredFunctions)
        if (!rtl::GetProcAddress(registry, name)) return false;
    BoardRegistry.EnumHwEntry = reinterpret_cast<PF_XAT_EnumHwEntry>(rtl::GetProcAddress(registry, "XAT_EnumHwEntry"));
    BoardRegistry.GetConfig = reinterpret_cast<PF_XAT_GetConfig>(rtl::GetProcAddress(registry, "XAT_GetConfig"));
    return true;
}
