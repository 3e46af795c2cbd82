/* The protocol-server library: every export, with C linkage and the names callers import.
 * Boolean results are non-zero for true; every buffer is the caller's. */
#ifndef MORVAND_H
#define MORVAND_H
#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MORVAND_API __attribute__((visibility("default")))
#else
#define MORVAND_API
#endif

#pragma pack(push, 1)
/* One received frame, 20 bytes: the board's 18-byte object unchanged, then two spare bytes. */
typedef struct TRxMsg {
    uint32_t TimeStamp; /* board time stamp */
    uint32_t Id;        /* CAN identifier */
    uint8_t Len;        /* bits 0-3: number of data bytes */
    uint8_t Data[8];
    uint8_t Status;     /* board status; MORVAND_RX_OVERRUN added by the receive ring */
    uint8_t Spare[2];   /* always 0 */
} TRxMsg;

/* Statistics record handed out by _MORVANDGetDLLStatPtr; nothing fills it, it reads as zeros. */
typedef struct TDLLStat {
    uint32_t Counter[81];
} TDLLStat;
#pragma pack(pop)

/* Set in TRxMsg.Status of the newest kept frame when later frames were lost: the ring was full, or
   a receive buffer before the library was. */
#define MORVAND_RX_OVERRUN 0x40

/* Life cycle. */
/* 0 running, 1 settings file (base + ".ini") missing, 2 topSpeed not 0 or 1, 3 board not initialised. */
MORVAND_API int16_t _CreateCANThread(const char* baseName);
MORVAND_API int16_t _DestroyCANThread(void); /* always 0 */
MORVAND_API bool _MORVANDSubscribe(void* window);
MORVAND_API bool _MORVANDUnsubscribe(void);
MORVAND_API bool _MORVANDProtocolCreate(uint8_t highSpeed);
MORVAND_API bool _MORVANDProtocolDestroy(void);
MORVAND_API bool _MORVANDProtocolBegin(void);
MORVAND_API bool _MORVANDProtocolSuspend(void);
MORVAND_API bool _MORVANDProtocolEnd(void);
MORVAND_API bool _MORVANDIsProtocolBusy(void);
MORVAND_API TDLLStat* _MORVANDGetDLLStatPtr(void); /* null without an instance */
MORVAND_API void _MORVANDResetDLLStat(void);

/* Data access and download. Kind 2 = analog (signed 16-bit), kind 3 = integer or flag. */
/* The oldest received frame of the ring (19 at most). The ring never holds the library back: every
   frame is decoded into the database when it arrives, whoever reads the ring and however slowly. A
   frame that finds the ring full is dropped and the newest kept one marked with MORVAND_RX_OVERRUN;
   frames the board or the system lost before they reached the library are marked the same way. */
MORVAND_API bool _GetRxMsg(TRxMsg* msg);
MORVAND_API bool _RdDBValue(uint8_t node, uint8_t index, uint8_t kind, uint16_t* value);
MORVAND_API bool _WrDBValue(uint8_t node, uint8_t index, uint8_t kind, int16_t value);
MORVAND_API uint8_t _NodeChanged(uint8_t node);
MORVAND_API void _ForceNodeChanged(uint8_t node, uint8_t value);
MORVAND_API bool _SendGoBootLdr(uint8_t node);
MORVAND_API bool _GoBootLdrConfirmed(uint16_t node);
MORVAND_API bool _SendErase(void);
/* kind 0..5: the piece of one Intel HEX record (text without its ':') to send. */
MORVAND_API bool _SendLine(uint8_t kind, const char* record);
MORVAND_API bool _SendCRC(uint16_t crc);
MORVAND_API int32_t _ReadTxQueueStatus(void); /* frames waiting; negative on error */

/* Unit-based interface. */
MORVAND_API int16_t InitDriverEx(const char* baseName, int32_t* state, int16_t mode);
MORVAND_API int16_t LocDrvClose(void);
MORVAND_API int16_t GetUnitStatus(int16_t unit);
MORVAND_API int16_t ReadDBValue(int16_t unit, uint16_t index, int16_t type, uint16_t* value);
MORVAND_API int16_t SendValue(int16_t unit, uint16_t index, int16_t type, int16_t value);

#ifdef __cplusplus
}
#endif
#endif
