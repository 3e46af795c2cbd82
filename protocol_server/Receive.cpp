// Receive path: every frame the board delivers is kept in the ring and decoded into the database.
#include <cstring>
#include <mutex>

#include "Protocol.h"

static_assert(sizeof(VCI_CAN_OBJ) == 18 && sizeof(TRxMsg) == 20, "frame records cross the boundary whole");

namespace {

constexpr uint32_t FnStatus = 0x180, FnAnalog = 0x280, FnSystem = 0x380, FnSdoReply = 0x580, FnHeartbeat = 0x700;

constexpr uint8_t SdoUploadReply = 0x40, SdoDownloadAck = 0x60, SdoAbort = 0x80;

uint16_t Word(const uint8_t* d) { return static_cast<uint16_t>(d[0] | d[1] << 8); }

}  // namespace

void OnVciReceive(uint32_t, uint16_t count, VCI_CAN_OBJ* objects) {
    TProtocol* p = Protocol.load(std::memory_order_acquire);
    if (!p || !objects) return;
    for (uint16_t i = 0; i < count; ++i) {
        p->PutRxMsg(objects[i]);
        p->DecodeFrame(objects[i]);
    }
}

bool TProtocol::PutRxMsg(const VCI_CAN_OBJ& object) {
    // Never waits for the reader: the database behind the ring stays current whoever reads it.
    rtl::TCriticalSection* lock = RxRingLock.load(std::memory_order_acquire);
    if (!lock) return false;
    std::lock_guard guard(*lock);
    const uint8_t next = RingWrite + 1 == RingSlots ? 0 : RingWrite + 1;
    if (next == RingRead) {
        Ring[RingWrite].Status |= MORVAND_RX_OVERRUN;
        return false;
    }
    std::memcpy(&Ring[next], &object, sizeof object);
    Ring[next].Spare[0] = Ring[next].Spare[1] = 0;
    RingWrite = next;
    return true;
}

bool TProtocol::GetRxMsg(TRxMsg* destination) {
    rtl::TCriticalSection* lock = RxRingLock.load(std::memory_order_acquire);
    if (!lock || !destination) return false;
    std::lock_guard guard(*lock);
    if (RingWrite == RingRead) return false;
    const uint8_t next = RingRead + 1 == RingSlots ? 0 : RingRead + 1;
    std::memcpy(destination, &Ring[next], sizeof(TRxMsg));
    RingRead = next;
    return true;
}

void TProtocol::DecodeFrame(const VCI_CAN_OBJ& object) {
    const uint32_t function = object.id & 0x780;
    const auto node = static_cast<uint8_t>(object.id & 0x7F);
    switch (function) {
    case FnStatus: DecodeStatus(node, object.data); break;
    case FnAnalog: DecodeAnalog(node, object.data); break;
    case FnSystem: DecodeSystem(node, object.data); break;
    case FnHeartbeat: DecodeHeartbeat(node, object.data); break;
    case FnSdoReply: DecodeSdoReply(node, object.data); break;
    default: break;
    }
}

void TProtocol::DecodeStatus(uint8_t node, const uint8_t* d) {
    // Fields are stored by their descriptors, which keep only the bits each entry holds.
    SetValueEx(1, node, d[0]);
    SetValueEx(3, node, d[1]);
    SetValueEx(4, node, d[2] >> 4);
    SetValueEx(5, node, d[2]);
    SetValueEx(6, node, d[3] >> 4);
    SetValueEx(7, node, d[3]);
    SetValueEx(8, node, d[4] >> 5);
    SetValueEx(9, node, d[4]);
    SetValueEx(26, node, d[5] >> 4);
    SetValueEx(10, node, d[5]);
    SetValueEx(19, node, d[6] & 0x80);
    SetValueEx(18, node, d[6] & 0x40);
    SetValueEx(17, node, d[6] & 0x20);
    SetValueEx(16, node, d[6] & 0x10);
    SetValueEx(15, node, d[6] & 0x08);
    SetValueEx(14, node, d[6] & 0x04);
    SetValueEx(12, node, d[6] & 0x01);
    SetValueEx(25, node, d[7]);
}

void TProtocol::DecodeAnalog(uint8_t node, const uint8_t* d) {
    // 15-bit signed values: bit 15 of the frame is replaced by the sign bit 14.
    for (uint8_t i = 0; i < 4; ++i) {
        const uint16_t w = Word(d + 2 * i);
        SetValueEx(static_cast<uint8_t>(21 + i), node, static_cast<uint16_t>((w & 0x7FFF) | (w & 0x4000) << 1));
    }
}

void TProtocol::DecodeSystem(uint8_t node, const uint8_t* d) {
    SetValueEx(62, node, Word(d));
    SetValueEx(63, node, Word(d + 2));
    SetValueEx(64, node, d[4]);
}

void TProtocol::DecodeHeartbeat(uint8_t node, const uint8_t* d) {
    const uint8_t state = d[0];
    if (state == 0) {
        SetValueEx(EntryPresence, node, 0);
        SetValueEx(EntryOperational, node, 0);
        return;
    }
    if (state != 5 && state != 127) return;
    // The deadline is armed before presence is set, so that the supervision never sees a fresh
    // presence with the stale deadline and drops the node again at once.
    std::lock_guard guard(HeartbeatLock);
    SetDeadline(HeartbeatDeadline[node], HeartbeatTimeoutMs);
    SetValueEx(EntryPresence, node, 1);
    SetValueEx(EntryOperational, node, state == 5);
}

void TProtocol::DecodeSdoReply(uint8_t node, const uint8_t* d) {
    if (node == SystemNode) node = 126;
    const TSdoReply reply{node, Word(d + 1), d[3], false, (d[0] & 0xF0) == SdoAbort};
    const uint8_t k = reply.Sub;
    switch (d[0] & 0xF0) {
    case SdoUploadReply:
        if (reply.Index == 0x2005 && k >= 1 && k <= 5) {
            SetValueEx(static_cast<uint8_t>(26 + 2 * k), node, d[4]);
            SetValueEx(static_cast<uint8_t>(27 + 2 * k), node, d[5]);
            SetValueEx(static_cast<uint8_t>(36 + 2 * k), node, d[6]);
            SetValueEx(static_cast<uint8_t>(37 + 2 * k), node, d[7]);
        } else if (reply.Index == 0x200F) {
            SetValueEx(27, node, Word(d + 4));
        }
        break;
    case SdoDownloadAck: {
        // The node acknowledges the download in flight; the value stored is the one sent. An
        // acknowledgement that answers no download of ours stores nothing.
        uint8_t entry = NoEntry;
        switch (reply.Index) {
        case 0x2006: entry = k >= 1 && k <= 10 ? static_cast<uint8_t>(27 + k) : NoEntry; break;
        case 0x2007: entry = k >= 1 && k <= 10 ? static_cast<uint8_t>(37 + k) : NoEntry; break;
        case 0x2008: entry = 1; break;
        case 0x2009: entry = 5; break;
        case 0x200A: entry = 4; break;
        case 0x200B: entry = 10; break;
        case 0x200C: entry = 12; break;
        default: break;
        }
        uint16_t value = 0;
        if (entry != NoEntry && AcknowledgedValue(node, reply.Index, k, value)) SetValue(entry, node, true, value);
        break;
    }
    default: break;
    }
    // Recorded after the values, so that an exchange seen ended finds them in place.
    LastSdoReply.Store(reply);
}
