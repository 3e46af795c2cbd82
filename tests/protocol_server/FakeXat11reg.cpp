// A board registry for the set-up tests, built in variants that lack one function each. Its
// answers come from the environment at each call, so a test steers it without holding it loaded:
// FAKE_XAT_CHECK (result of the version check), FAKE_XAT_BOARD ("type,number"; absent: no board).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registry/Xat11reg.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef FAKE_XAT_NO_PRODUCT_VERSION
EXPORT int32_t XAT_GetProductVersion(char*, uint32_t) { return 0; }
#endif
#ifndef FAKE_XAT_NO_CHECK
EXPORT int32_t XAT_CheckProductVersion(const char*, const char*) {
    const char* v = std::getenv("FAKE_XAT_CHECK");
    return v ? std::atoi(v) : 0;
}
#endif

EXPORT int32_t XAT_EnumHwEntry(XAT_EnumCallback callback, void* context) {
    if (std::getenv("FAKE_XAT_BOARD")) {
        callback(1, 99, 0, 0, nullptr, context);  // not the one to take
        callback(0, 7, 0, 0, nullptr, context);
    }
    return 0;
}

EXPORT int32_t XAT_GetConfig(uint32_t entry, XATxxReg* config) {
    unsigned type = 0, number = 0;
    if (entry != 7 || std::sscanf(std::getenv("FAKE_XAT_BOARD"), "%u,%u", &type, &number) != 2) return -1;
    std::memset(config, 0, sizeof *config);
    config->board_type = type;
    config->board_no = static_cast<uint16_t>(number);
    return 0;
}

#ifndef FAKE_XAT_NO_SELECT
EXPORT int32_t XAT_SelectHardware(void) { return 0; }
#endif
EXPORT int32_t XAT_InstallHardware(void) { return 0; }
EXPORT int32_t XAT_GetXatRegKey(void) { return 0; }
EXPORT int32_t XAT_GetRegKeyFromHwEntry(void) { return 0; }
EXPORT int32_t XAT_CreateNewHwEntry(void) { return 0; }
EXPORT int32_t XAT_DeleteHwEntry(void) { return 0; }
EXPORT int32_t XAT_FindHwEntry(void) { return 0; }
EXPORT int32_t XAT_GetHwEntryVar(void) { return 0; }
EXPORT int32_t XAT_SetHwEntryVarString(void) { return 0; }
EXPORT int32_t XAT_SetHwEntryVarDWORD(void) { return 0; }
EXPORT int32_t XAT_SetDefaultHwEntry(void) { return 0; }
EXPORT int32_t XAT_GetDefaultHwEntry(void) { return 0; }
EXPORT int32_t XAT_GetNewCardType(void) { return 0; }
