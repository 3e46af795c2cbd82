/* The log server: one instance per process, shared by the program and the library. Every call is
 * harmless in any order; SendString never blocks its caller for long. */
#ifndef PELKIN_H
#define PELKIN_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UM_LOGSTATE 0x4C9 /* WM_USER+201, posted to the subscribed window; low byte of wParam = state */

void _PELKINSubscribe(void* window);
/* Log files go under dir, named from name; a file covers `duration` days (0: one file for ever). */
void _PELKINCreate(const char* dir, const char* name, uint16_t duration);
void _PELKINEnDisReq(uint8_t enable);
void _PELKINSendString(const char* text);
void _PELKINEnd(void);
void _PELKINDestroy(void);
void _PELKINUnsubscribe(void);

#ifdef __cplusplus
}
#endif
#endif
