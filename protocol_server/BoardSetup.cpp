// Board set-up: find the board through the registry, prepare it with the library's callbacks,
// configure controller 0 and start it.
#include <cstdio>
#include <string>

#include "BoardRegistry.h"
#include "Protocol.h"

namespace {

int32_t OnHwEntry(uint32_t first, uint32_t entry, uint32_t, uint32_t, void*, void* found) {
    if (first == 0) {
        if (BoardRegistry.GetConfig) BoardRegistry.GetConfig(entry, &BoardConfig);
        if (found) *static_cast<uint8_t*>(found) = 1;
    }
    return 0;
}

// The board's notes (a board that cannot be prepared, an interface gone down) also go to the log,
// where a technician looks for them.
void OnVciMessage(const char* text) {
    const std::string line = "Message: [" + std::string(text ? text : "") + "]";
    std::printf("%s\n", line.c_str());
    LogLine(line.c_str());
}

void OnVciException(uint32_t, int32_t, uint16_t, const char*) {}

}  // namespace

bool TProtocol::InitBoard() { return PrepareBoard() && ConfigureCan(); }

bool TProtocol::PrepareBoard() {
    if (!LoadBoardRegistry()) {
        UnloadBoardRegistry();  // gives back the holder a load that found the registry held added
        return false;
    }
    if (!ResolveBoardRegistry()) {
        UnloadBoardRegistry();
        return false;
    }
    uint8_t found = 0;
    BoardRegistry.EnumHwEntry(OnHwEntry, &found);
    const int32_t result = VCI2_PrepareBoard(BoardConfig.board_type, BoardConfig.board_no, nullptr, 0, OnVciMessage,
                                             OnVciReceive, OnVciException);
    Board = static_cast<uint16_t>(result);
    BoardPrepared = true;
    UnloadBoardRegistry();
    if (result < 0) {
        CloseBoard();
        return false;
    }
    return true;
}

bool TProtocol::ConfigureCan() {
    VCI_InitCan(Board, 0, HighSpeed ? 0x03 : 0x07, 0x1C, 0);
    VCI_SetAccMask(Board, 0, 0, 0);
    VCI_ConfigQueue(Board, 0, 0, 120, 0, 0, 0, &TxQueue);
    for (uint16_t i = 0; i < 10; ++i) VCI_ConfigBuffer(Board, 0, 0, 0x100u + i, &Buffers[i]);
    VCI_ConfigQueue(Board, 0, 1, 50, 1, 0, 100, &RxQueue);
    VCI_AssignRxQueObj(Board, RxQueue, 1, 0x296, 0xF800);
    VCI_StartCan(Board, 0);
    return true;
}
