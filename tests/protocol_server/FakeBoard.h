// Stand-ins for the board library and the log server, linked into the white-box test program:
// they record every call and let a test play frames into the receive callback.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/VCI11UN6.h"

struct TSentFrame {
    uint32_t Id;
    std::vector<uint8_t> Data;
};

struct TFakeBoard {
    // Steering.
    int32_t PrepareResult = 3;
    int32_t TransmitResult = 1;
    // Record.
    std::vector<std::string> Calls;  // "PrepareBoard 1 0", "InitCan 3 28", "CancelBoard 3" ...
    std::vector<TSentFrame> Sent;
    VCI_t_UsrRxIntCallback Receive = nullptr;

    int Count(const std::string& prefix) const;
};

// The board as the library sees it; reset by Reset().
TFakeBoard& Board();
std::mutex& BoardLock();
void ResetBoard();

// Log lines the library sent, in order.
std::vector<std::string> LogLines();
void ClearLog();
bool Logged(const std::string& line);

// One received frame as the board hands it over.
VCI_CAN_OBJ Frame(uint32_t id, std::vector<uint8_t> data, uint32_t stamp = 0);
// Plays frames into the receive callback the library gave the board.
void Receive(std::vector<VCI_CAN_OBJ> frames);
