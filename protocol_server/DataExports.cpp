// The data and download exports: thin entries onto the protocol instance or the static node
// database. Values, writes and the boot-loader confirmation work without an instance; the ring, the
// change flags and the board need one.
#include "Morvand.h"
#include "Protocol.h"

namespace {
constexpr uint16_t BootLoaderObject = 0x2010;
TProtocol* Instance() { return Protocol.load(std::memory_order_acquire); }
}  // namespace

extern "C" {

bool _GetRxMsg(TRxMsg* msg) {
    TProtocol* p = Instance();
    return p && msg && p->GetRxMsg(msg);
}

bool _RdDBValue(uint8_t node, uint8_t index, uint8_t kind, uint16_t* value) {
    return value && TNodeDatabase::ReadValue(node, index, kind, *value);
}

bool _WrDBValue(uint8_t node, uint8_t index, uint8_t kind, int16_t value) {
    return TProtocol::WriteValue(node, index, kind, value);
}

uint8_t _NodeChanged(uint8_t node) { return Instance() ? TNodeDatabase::TakeNodeChanged(node) : 0; }

void _ForceNodeChanged(uint8_t node, uint8_t value) {
    if (Instance()) TNodeDatabase::SetNodeChanged(node, value);
}

bool _SendGoBootLdr(uint8_t node) {
    TProtocol* p = Instance();
    return p && p->SendSdoDownload(BootLoaderObject, 0, 0, node);
}

bool _GoBootLdrConfirmed(uint16_t node) {
    const TSdoReply r = LastSdoReply.Load();
    return r.Node == node && r.Index == BootLoaderObject;
}

bool _SendErase(void) {
    TProtocol* p = Instance();
    return p && p->SendErase();
}

bool _SendLine(uint8_t kind, const char* record) {
    TProtocol* p = Instance();
    return p && p->SendLine(kind, record);
}

bool _SendCRC(uint16_t crc) {
    TProtocol* p = Instance();
    return p && p->SendCrc(crc);
}

int32_t _ReadTxQueueStatus(void) {
    TProtocol* p = Instance();
    return p ? p->ReadTxQueueStatus() : 0;
}

}  // extern "C"
