// libVCI11UN6: the board calls. A prepared board owns a back-end chosen by the board type and
// number the registry lists; configuration calls only record values, VCI_StartCan starts the bus.
#include "board/VCI11UN6.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "board/Backend.h"
#include "sim/Frame.h"

namespace {

constexpr int32_t kOk = 1, kNotQueued = 0;
constexpr int32_t kBadBoard = -1, kBadArgument = -2, kNotReady = -3, kRefused = -4;
constexpr uint16_t kTxQueue = 1, kRxQueue = 2, kFirstBuffer = 0x10;

struct Board {
    VCI_t_UsrMsgCallback message = nullptr;
    VCI_t_UsrRxIntCallback receive = nullptr;
    VCI_t_UsrExcCallback exception = nullptr;
    std::shared_ptr<vci::Backend> backend;

    std::mutex m;  // the configuration below
    uint32_t bitRate = 0;
    uint16_t txEntries = 0, rxEntries = 0, buffers = 0;
    std::atomic<bool> started{false};
};

std::mutex boardsLock;
std::array<std::shared_ptr<Board>, 4> boards;

std::shared_ptr<Board> Find(uint16_t handle) {
    std::lock_guard lock(boardsLock);
    return handle < boards.size() ? boards[handle] : nullptr;
}

void Tell(VCI_t_UsrMsgCallback message, const std::string& text) {
    if (message) message(text.c_str());
}

}  // namespace

extern "C" {

int32_t VCI2_PrepareBoard(uint32_t board_type, uint16_t board_index, const char*, uint8_t,
                          VCI_t_UsrMsgCallback msg_cb, VCI_t_UsrRxIntCallback rx_cb, VCI_t_UsrExcCallback exc_cb) {
    std::string error;
    // Also called later, from the board's threads.
    auto note = [msg_cb](const std::string& text) { Tell(msg_cb, text); };
    auto backend = vci::MakeBackend(board_type, board_index, &error, note);
    if (!backend) {
        Tell(msg_cb, "board type " + std::to_string(board_type) + " number " + std::to_string(board_index) + ": " + error);
        return kRefused;
    }
    auto board = std::make_shared<Board>();
    board->message = msg_cb;
    board->receive = rx_cb;
    board->exception = exc_cb;
    board->backend = std::move(backend);
    std::lock_guard lock(boardsLock);
    for (size_t i = 0; i < boards.size(); ++i) {
        if (!boards[i]) {
            boards[i] = std::move(board);
            return int32_t(i);
        }
    }
    return kRefused;
}

int32_t VCI_CancelBoard(uint16_t board) {
    std::shared_ptr<Board> b;
    {
        std::lock_guard lock(boardsLock);
        if (board >= boards.size() || !boards[board]) return kBadBoard;
        b = std::move(boards[board]);
    }
    b->started = false;
    b->backend->Stop();
    return kOk;
}

int32_t VCI_InitCan(uint16_t board, uint8_t can, uint8_t bt0, uint8_t bt1, uint8_t) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (can != 0) return kBadArgument;
    std::lock_guard lock(b->m);
    b->bitRate = sim::BitRateFromTiming(bt0, bt1);
    return kOk;
}

// Every frame is accepted whatever the mask: the protocol relies on seeing the whole bus.
int32_t VCI_SetAccMask(uint16_t board, uint8_t can, uint32_t, uint32_t) {
    if (!Find(board)) return kBadBoard;
    return can == 0 ? kOk : kBadArgument;
}

int32_t VCI_ConfigQueue(uint16_t board, uint8_t can, uint8_t type, uint16_t entries, uint16_t, uint16_t, uint16_t,
                        uint16_t* queue) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (can != 0 || type > 1 || entries == 0 || !queue) return kBadArgument;
    std::lock_guard lock(b->m);
    if (b->started) return kNotReady;
    (type == 0 ? b->txEntries : b->rxEntries) = entries;
    *queue = type == 0 ? kTxQueue : kRxQueue;
    return kOk;
}

int32_t VCI_ConfigBuffer(uint16_t board, uint8_t can, uint8_t, uint32_t, uint16_t* buffer) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (can != 0 || !buffer) return kBadArgument;
    std::lock_guard lock(b->m);
    *buffer = uint16_t(kFirstBuffer + b->buffers++);
    return kOk;
}

int32_t VCI_AssignRxQueObj(uint16_t board, uint16_t queue, uint8_t, uint32_t, uint32_t) {
    if (!Find(board)) return kBadBoard;
    return queue == kRxQueue ? kOk : kBadArgument;
}

int32_t VCI_StartCan(uint16_t board, uint8_t can) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (can != 0) return kBadArgument;
    std::lock_guard lock(b->m);
    if (b->started) return kOk;
    if (b->bitRate == 0 || b->txEntries == 0) return kNotReady;
    // Without a receive queue frames are taken one at a time and dropped.
    const size_t batch = b->rxEntries ? b->rxEntries : 1;
    const VCI_t_UsrRxIntCallback callback = b->rxEntries ? b->receive : nullptr;
    auto receive = [callback](VCI_CAN_OBJ* objects, uint16_t count) {
        if (callback) callback(kRxQueue, count, objects);
    };
    std::string error;
    if (!b->backend->Start(b->bitRate, b->txEntries, batch, receive, &error)) {
        if (b->exception) b->exception(0, kNotReady, 0, error.c_str());
        return kNotReady;
    }
    b->started = true;
    return kOk;
}

int32_t VCI_TransmitObj(uint16_t board, uint16_t queue, uint32_t id, uint8_t len, const uint8_t* data) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (queue != kTxQueue || id > 0x7FF || len > 8 || (len > 0 && !data)) return kBadArgument;
    if (!b->started) return kNotReady;
    return b->backend->Transmit(id, len, data) == 1 ? kOk : kNotQueued;
}

int32_t VCI_ReadQueStatus(uint16_t board, uint16_t queue) {
    auto b = Find(board);
    if (!b) return kBadBoard;
    if (queue != kTxQueue) return kBadArgument;
    return b->started ? b->backend->QueueLevel() : 0;
}

}  // extern "C"
