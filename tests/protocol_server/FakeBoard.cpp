#include "FakeBoard.h"

#include <algorithm>
#include <cstring>

#include "logserver/Pelkin.h"

namespace {
TFakeBoard board;
std::mutex boardLock;
std::mutex logLock;
std::vector<std::string> logLines;

void Record(std::string call) {
    std::lock_guard g(boardLock);
    board.Calls.push_back(std::move(call));
}
}  // namespace

int TFakeBoard::Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(Calls.begin(), Calls.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
}

TFakeBoard& Board() { return board; }
std::mutex& BoardLock() { return boardLock; }
void ResetBoard() {
    std::lock_guard g(boardLock);
    board = TFakeBoard{};
}

std::vector<std::string> LogLines() {
    std::lock_guard g(logLock);
    return logLines;
}
void ClearLog() {
    std::lock_guard g(logLock);
    logLines.clear();
}
bool Logged(const std::string& line) {
    auto lines = LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

VCI_CAN_OBJ Frame(uint32_t id, std::vector<uint8_t> data, uint32_t stamp) {
    VCI_CAN_OBJ o{};
    o.time_stamp = stamp;
    o.id = id;
    o.len = static_cast<uint8_t>(data.size());
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 8), o.data);
    return o;
}

void Receive(std::vector<VCI_CAN_OBJ> frames) {
    VCI_t_UsrRxIntCallback cb;
    {
        std::lock_guard g(boardLock);
        cb = board.Receive;
    }
    if (cb) cb(0, static_cast<uint16_t>(frames.size()), frames.data());
}

extern "C" {

int32_t VCI2_PrepareBoard(uint32_t type, uint16_t index, const char*, uint8_t, VCI_t_UsrMsgCallback,
                          VCI_t_UsrRxIntCallback rx, VCI_t_UsrExcCallback) {
    std::lock_guard g(boardLock);
    board.Calls.push_back("PrepareBoard " + std::to_string(type) + " " + std::to_string(index));
    if (board.PrepareResult >= 0) board.Receive = rx;
    return board.PrepareResult;
}
int32_t VCI_CancelBoard(uint16_t b) {
    std::lock_guard g(boardLock);
    board.Calls.push_back("CancelBoard " + std::to_string(b));
    board.Receive = nullptr;
    return 0;
}
int32_t VCI_InitCan(uint16_t, uint8_t, uint8_t bt0, uint8_t bt1, uint8_t) {
    Record("InitCan " + std::to_string(bt0) + " " + std::to_string(bt1));
    return 0;
}
int32_t VCI_SetAccMask(uint16_t, uint8_t, uint32_t, uint32_t) { Record("SetAccMask"); return 0; }
int32_t VCI_ConfigQueue(uint16_t, uint8_t, uint8_t type, uint16_t entries, uint16_t, uint16_t, uint16_t, uint16_t* q) {
    Record("ConfigQueue " + std::to_string(type) + " " + std::to_string(entries));
    *q = static_cast<uint16_t>(10 + type);
    return 0;
}
int32_t VCI_ConfigBuffer(uint16_t, uint8_t, uint8_t, uint32_t, uint16_t* b) { Record("ConfigBuffer"); *b = 0; return 0; }
int32_t VCI_AssignRxQueObj(uint16_t, uint16_t, uint8_t, uint32_t, uint32_t) { Record("AssignRxQueObj"); return 0; }
int32_t VCI_StartCan(uint16_t, uint8_t) { Record("StartCan"); return 0; }
int32_t VCI_TransmitObj(uint16_t, uint16_t, uint32_t id, uint8_t len, const uint8_t* data) {
    std::lock_guard g(boardLock);
    board.Sent.push_back({id, std::vector<uint8_t>(data, data + len)});
    return board.TransmitResult;
}
int32_t VCI_ReadQueStatus(uint16_t, uint16_t) { return 0; }

void _PELKINSubscribe(void*) {}
void _PELKINCreate(const char*, const char*, uint16_t) {}
void _PELKINEnDisReq(uint8_t) {}
void _PELKINSendString(const char* text) {
    std::lock_guard g(logLock);
    logLines.emplace_back(text ? text : "");
}
void _PELKINEnd(void) {}
void _PELKINDestroy(void) {}
void _PELKINUnsubscribe(void) {}

}  // extern "C"
