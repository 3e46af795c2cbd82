// libXat11reg: the board registry. Only the version check, the enumeration and the configuration
// do real work; the other functions exist for callers that resolve them and answer "not supported".
#include "registry/Xat11reg.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <string_view>

#include "registry/RegistryFile.h"

#ifndef XAT11REG_PRODUCT_VERSION
#define XAT11REG_PRODUCT_VERSION "01,01,0,0"
#endif

namespace {

constexpr int32_t kOk = 0, kRefused = 1, kNotSupported = -1;

// "aa,bb,c,d" as four numbers.
bool ParseVersion(const char* text, std::array<unsigned, 4>& fields) {
    if (!text) return false;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') return false;
        unsigned v = 0;
        while (*p >= '0' && *p <= '9' && v < 100000) v = v * 10 + unsigned(*p++ - '0');
        fields[i] = v;
        if (i < 3 && *p++ != ',') return false;
    }
    return *p == '\0';
}

}  // namespace

extern "C" {

int32_t XAT_GetProductVersion(char* text, uint32_t size) {
    const size_t length = std::strlen(XAT11REG_PRODUCT_VERSION);
    if (!text || size <= length) return kRefused;
    std::memcpy(text, XAT11REG_PRODUCT_VERSION, length + 1);
    return kOk;
}

// 0 when the caller's library name is ours and the version it needs is ours (same first field,
// the rest not newer than ours).
int32_t XAT_CheckProductVersion(const char* file, const char* version) {
    if (!file) return kRefused;
    std::string_view name(file);
    if (auto slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.size() != 12 || strncasecmp(name.data(), "Xat11reg.dll", 12) != 0) return kRefused;
    std::array<unsigned, 4> wanted{}, ours{};
    if (!ParseVersion(version, wanted) || !ParseVersion(XAT11REG_PRODUCT_VERSION, ours)) return kRefused;
    if (wanted[0] != ours[0]) return kRefused;
    return wanted <= ours ? kOk : kRefused;
}

// Calls back for every registered board: first argument 0 for the default board (the first one
// listed), 1 for the others; second the entry for XAT_GetConfig; then board type and number.
int32_t XAT_EnumHwEntry(XAT_EnumCallback callback, void* context) {
    if (!callback) return kRefused;
    const auto entries = xatreg::ReadRegistry(xatreg::RegistryPath());
    for (size_t i = 0; i < entries.size(); ++i)
        callback(i == 0 ? 0 : 1, uint32_t(i), entries[i].type, entries[i].number, nullptr, context);
    return kOk;
}

int32_t XAT_GetConfig(uint32_t entry, XATxxReg* config) {
    const auto entries = xatreg::ReadRegistry(xatreg::RegistryPath());
    if (!config || entry >= entries.size()) return kRefused;
    std::memset(config, 0, sizeof *config);
    config->board_no = entries[entry].number;
    config->board_type = entries[entry].type;
    std::memcpy(config->interface_name, entries[entry].interfaceName.c_str(), entries[entry].interfaceName.size());
    return kOk;
}

int32_t XAT_SelectHardware(void) { return kNotSupported; }
int32_t XAT_InstallHardware(void) { return kNotSupported; }
int32_t XAT_GetXatRegKey(void) { return kNotSupported; }
int32_t XAT_GetRegKeyFromHwEntry(void) { return kNotSupported; }
int32_t XAT_CreateNewHwEntry(void) { return kNotSupported; }
int32_t XAT_DeleteHwEntry(void) { return kNotSupported; }
int32_t XAT_FindHwEntry(void) { return kNotSupported; }
int32_t XAT_GetHwEntryVar(void) { return kNotSupported; }
int32_t XAT_SetHwEntryVarString(void) { return kNotSupported; }
int32_t XAT_SetHwEntryVarDWORD(void) { return kNotSupported; }
int32_t XAT_SetDefaultHwEntry(void) { return kNotSupported; }
int32_t XAT_GetDefaultHwEntry(void) { return kNotSupported; }
int32_t XAT_GetNewCardType(void) { return kNotSupported; }

}  // extern "C"
