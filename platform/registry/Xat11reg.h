/* The board registry, loaded at run time by name ("Xat11reg.dll"). Function pointer types of its
 * seventeen exports; only the version check, the enumeration and the configuration do real work. */
#ifndef XAT11REG_H
#define XAT11REG_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What XAT_GetConfig fills: a u16 board number, then a u32 board type, then the registry's own. */
#pragma pack(push, 1)
typedef struct XATxxReg {
    uint16_t board_no;
    uint32_t board_type;
    char interface_name[32]; /* SocketCAN interface, e.g. "can0"; empty for the simulated network */
    uint8_t reserved[64];
} XATxxReg;
#pragma pack(pop)

/* Called for each registered board: a0 is 0 for the board to take (the default one), a1 the entry
 * to give XAT_GetConfig, a5 the caller's context. Returns 0. */
typedef int32_t (*XAT_EnumCallback)(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, void* a4, void* a5);

typedef int32_t (*PF_XAT_GetProductVersion)(char* text, uint32_t size);
typedef int32_t (*PF_XAT_CheckProductVersion)(const char* file, const char* version);
typedef int32_t (*PF_XAT_EnumHwEntry)(XAT_EnumCallback callback, void* context);
typedef int32_t (*PF_XAT_GetConfig)(uint32_t entry, XATxxReg* config);
typedef int32_t (*PF_XAT_Generic)(void); /* the registry functions nothing calls */

int32_t XAT_GetProductVersion(char* text, uint32_t size);
int32_t XAT_CheckProductVersion(const char* file, const char* version);
int32_t XAT_EnumHwEntry(XAT_EnumCallback callback, void* context);
int32_t XAT_GetConfig(uint32_t entry, XATxxReg* config);
int32_t XAT_SelectHardware(void);
int32_t XAT_InstallHardware(void);
int32_t XAT_GetXatRegKey(void);
int32_t XAT_GetRegKeyFromHwEntry(void);
int32_t XAT_CreateNewHwEntry(void);
int32_t XAT_DeleteHwEntry(void);
int32_t XAT_FindHwEntry(void);
int32_t XAT_GetHwEntryVar(void);
int32_t XAT_SetHwEntryVarString(void);
int32_t XAT_SetHwEntryVarDWORD(void);
int32_t XAT_SetDefaultHwEntry(void);
int32_t XAT_GetDefaultHwEntry(void);
int32_t XAT_GetNewCardType(void);

#ifdef __cplusplus
}
#endif
#endif
