/* The log server: one instance per process, shared by the program and the library. Every call is
 * harmless in any order; SendString never blocks its caller for long.
 *
 * Files: each line is "YYYY-MM-DD hh:mm:ss.mmm text" (local time of the moment it was sent, LF
 * ended), appended to <dir>/<name>.log when duration is 0, otherwise to <dir>/<name>_YYYYMMDD.log,
 * dated the day its first line was stamped; a new file starts with the first line stamped duration
 * days or more after that date (or before it, when the clock went back). The folder is created when
 * missing. A file that cannot be opened is named once on standard error with the reason
 * ("Pelkin: cannot open <file>: <reason>"), and again only after a file has opened meanwhile.
 *
 * Texts wait in a queue of PELKIN_QUEUE_CAPACITY entries drained by the server's own thread; a text
 * that finds it full is dropped and counted, and the count is written as a line "N texts dropped
 * (log queue full)" where the gap was. Texts sent before Create, after End or while disabled are
 * dropped without a trace. Create starts the log enabled and EnDisReq acts on a created log only; a
 * second Create before Destroy is ignored.
 * End writes what is queued and closes the file; Destroy forgets the log (a later Create starts
 * afresh). */
#ifndef PELKIN_H
#define PELKIN_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UM_LOGSTATE 0x4C9 /* WM_USER+201, posted to the subscribed window; low byte of wParam = state */

/* States posted with UM_LOGSTATE whenever the state changes. */
#define PELKIN_STATE_NONE 0       /* no log: never created, or destroyed */
#define PELKIN_STATE_ON 1         /* recording */
#define PELKIN_STATE_OFF 2        /* created but disabled */
#define PELKIN_STATE_ENDED 3      /* ended, not yet destroyed */
#define PELKIN_STATE_FILE_ERROR 4 /* the log file cannot be written: texts are lost until it can */

#define PELKIN_QUEUE_CAPACITY 16384

void _PELKINSubscribe(void* window);
/* Log files go under dir, named from name; a file covers `duration` days (0: one file for ever). */
void _PELKINCreate(const char* dir, const char* name, uint16_t duration);
void _PELKINEnDisReq(uint8_t enable);
void _PELKINSendString(const char* text);
void _PELKINEnd(void);
void _PELKINDestroy(void);
void _PELKINUnsubscribe(void);

/* Tests only: while held, the writer takes nothing from the queue; releasing returns once it has
 * taken what was queued. */
void _PELKINTestHold(uint8_t hold);

#ifdef __cplusplus
}
#endif
#endif
