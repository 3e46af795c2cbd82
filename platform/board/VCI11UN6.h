/* The interface-board library: prepare a board, configure controller 0, transmit through a queue,
 * receive through a callback on the board's own thread. Handles are u16; controller is always 0. */
#ifndef VCI11UN6_H
#define VCI11UN6_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One received frame as the receive callback hands it over: 18 bytes, little-endian, packed. */
#pragma pack(push, 1)
typedef struct VCI_CAN_OBJ {
    uint32_t time_stamp; /* units of 100 us */
    uint32_t id;         /* 11-bit standard identifier */
    uint8_t len;         /* bits 0-3: data bytes */
    uint8_t data[8];
    uint8_t status;      /* VCI_RX_OVERRUN: frames after this one were lost */
} VCI_CAN_OBJ;
#pragma pack(pop)

/* Set in status of the newest frame kept before received frames were lost (a receive buffer of
 * the board or of the system was full). */
#define VCI_RX_OVERRUN 0x40

typedef void (*VCI_t_UsrMsgCallback)(const char* text);
typedef void (*VCI_t_UsrRxIntCallback)(uint32_t que_hdl, uint16_t count, VCI_CAN_OBJ* objects);
typedef void (*VCI_t_UsrExcCallback)(uint32_t func_num, int32_t err_code, uint16_t ext_err, const char* text);

/* Board types the registry reports. */
enum { VCI_BOARD_SIMULATED = 1, VCI_BOARD_SOCKETCAN = 2 };

/* >= 0: the board handle; < 0: failure. */
int32_t VCI2_PrepareBoard(uint32_t board_type, uint16_t board_index, const char* text, uint8_t text_len,
                          VCI_t_UsrMsgCallback msg_cb, VCI_t_UsrRxIntCallback rx_cb,
                          VCI_t_UsrExcCallback exc_cb);
int32_t VCI_CancelBoard(uint16_t board);
/* bt0/bt1: (0x03, 0x1C) 125 kbit/s, (0x07, 0x1C) 62.5 kbit/s. */
int32_t VCI_InitCan(uint16_t board, uint8_t can, uint8_t bt0, uint8_t bt1, uint8_t mode);
int32_t VCI_SetAccMask(uint16_t board, uint8_t can, uint32_t code, uint32_t mask);
/* type 0 transmit, 1 receive. */
int32_t VCI_ConfigQueue(uint16_t board, uint8_t can, uint8_t type, uint16_t entries, uint16_t int_limit,
                        uint16_t int_time, uint16_t ts_res, uint16_t* queue);
int32_t VCI_ConfigBuffer(uint16_t board, uint8_t can, uint8_t type, uint32_t id, uint16_t* buffer);
int32_t VCI_AssignRxQueObj(uint16_t board, uint16_t queue, uint8_t mode, uint32_t id, uint32_t mask);
int32_t VCI_StartCan(uint16_t board, uint8_t can);
/* 1: the frame is queued. */
int32_t VCI_TransmitObj(uint16_t board, uint16_t queue, uint32_t id, uint8_t len, const uint8_t* data);
/* Frames still waiting in the queue; negative on error. */
int32_t VCI_ReadQueStatus(uint16_t board, uint16_t queue);

#ifdef __cplusplus
}
#endif
#endif
