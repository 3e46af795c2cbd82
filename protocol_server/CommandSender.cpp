// The callers' pending write and the command sender. A write is stored in the CommandBlock mirror
// or among the parameter values waiting for their download, and marked pending; once per pass the
// protocol thread turns what is pending into at most one command frame and one further frame (a
// node-state request, the start of an upload, or one download) and clears every mark.
#include <cstring>
#include <mutex>

#include "Protocol.h"

namespace {

// Guards the CommandBlock, the parameter values and the marks between the callers and the sender,
// so that a write reaches the sender whole (target, value and mark) or not at all, and an exchange
// is never opened between a caller's check of SdoTransactionNode and its write.
std::mutex CommandLock;

constexpr uint8_t SpecialNode = 16;
constexpr uint8_t LastDevice = 125;
constexpr uint8_t BookedSystemNode = 126;  // node 127 as its SDO replies are booked
constexpr uint8_t FirstGroup = 128;
constexpr uint8_t LastGroup = 191;
constexpr uint8_t EntryGroup = 20;
constexpr uint8_t MarkMirror = 48;  // + entry 0..19

constexpr bool IsDevice(uint8_t node) { return node >= FirstDevice && node <= LastDevice; }

// A field of the command frame: the mirror of Entry, Width bits at Shift of byte Byte, valid bit Valid.
struct TFrameField {
    uint8_t Entry, Byte, Shift, Width, Valid;
};
constexpr TFrameField FrameFields[] = {
    {3, 0, 0, 7, 7},  {7, 1, 0, 3, 3},  {6, 1, 4, 3, 7},  {9, 2, 0, 4, 4},
    {8, 2, 5, 2, 7},  {13, 3, 2, 1, 3}, {14, 3, 4, 1, 5}, {15, 3, 6, 1, 7},
    {16, 4, 0, 1, 1}, {17, 4, 2, 1, 3}, {18, 4, 4, 1, 5}, {19, 4, 6, 1, 7},
};
constexpr uint8_t EntryAlwaysPacked = 13;
constexpr uint8_t EntryWordField = 11;  // bytes 5-6, valid bit 15

// The lowest device whose group value is the address; 0 when none holds it.
uint8_t GroupHolder(uint8_t group) {
    for (uint8_t n = FirstDevice; n <= LastDevice; ++n)
        if (TNodeDatabase::GetValue(EntryGroup, n) == group) return n;
    return 0;
}

// Identifier of the command frame for the target; 0 when the target has none.
uint32_t CommandIdentifier(uint8_t target) {
    if (target == SpecialNode) return 0x410;
    if (IsDevice(target)) return 0x200u + target;
    if (target == BookedSystemNode) return 0x37E;
    if (target >= FirstGroup && target <= LastGroup) {
        const uint8_t holder = GroupHolder(target);
        return holder ? 0x300u + holder : 0;
    }
    return 0;
}

// Marks whose write needs a frame of its own after the command frame: one of them per pass.
bool IsStepMark(uint8_t mark) {
    if (mark >= 28 && mark <= 47) return true;
    return mark == MarkMirror + 0 || mark == MarkMirror + 1 || mark == MarkMirror + 4 ||
           mark == MarkMirror + 5 || mark == MarkMirror + 10 || mark == MarkMirror + 12;
}

// True when a write of `mark` for the node can be carried together with what is already pending:
// same target, and no other write already claims the one further frame of the pass.
bool CanJoinPending(uint8_t node, uint8_t mark) {
    const uint8_t target = uint8_t(CommandBlock.Target.load());
    if (target == 0) return true;
    if (target != node) return false;
    if (!IsStepMark(mark)) return true;
    for (uint8_t m = 28; m < PendingMarkCount; ++m)
        if (m != mark && IsStepMark(m) && PendingMarks[m]) return false;
    return true;
}

// Stores the value (a command field in its mirror, a parameter beside the record, which takes it
// only with the node's acknowledgement) and marks it pending for the node.
bool MarkPending(uint8_t node, uint8_t mark, uint16_t value) {
    if (!CanJoinPending(node, mark)) return false;
    if (mark >= MarkMirror)
        TNodeDatabase::StoreValue(uint8_t(FirstMirrorEntry + mark - MarkMirror), node, value);
    else
        ParameterValues[mark - FirstParameterEntry] = uint8_t(value & ValueDescriptors[mark].Mask);
    PendingMarks[mark] = 1;
    CommandBlock.Target.store(node);
    if (TProtocol* p = Protocol.load()) p->Wake();
    return true;
}

// A node leaves its group with 0; it joins one only while no other device holds the address, since
// a group command reaches the group through its one holder.
bool WriteGroup(uint8_t node, uint16_t value) {
    if (!IsDevice(node)) return false;
    if (value != 0) {
        if (value < FirstGroup || value > LastGroup) return false;
        const uint8_t holder = GroupHolder(uint8_t(value));
        if (holder != 0 && holder != node) return false;
    }
    return TNodeDatabase::StoreValue(EntryGroup, node, value);
}

uint16_t Mirror(uint8_t entry) { return TNodeDatabase::GetValue(FirstMirrorEntry + entry, 0); }

}  // namespace

bool TProtocol::WriteValue(uint8_t node, uint8_t index, uint8_t kind, int16_t value) {
    const uint8_t entry = MapValueIndex(node, index, kind);
    if (entry == NoEntry || (ValueDescriptors[entry].StorageKind & SkReadOnly)) return false;
    const auto v = static_cast<uint16_t>(value);
    // The supervisory controller's system values are stored at once; its next frame overwrites them.
    if (node == SystemNode) return StoreValue(entry, node, v);

    std::lock_guard lock(CommandLock);
    if (entry < 20) {
        if (node != SpecialNode && (node < FirstDevice || node > LastGroup)) return false;
        if (SdoTransactionNode.load() != 0) return false;
        return MarkPending(node, uint8_t(MarkMirror + entry), v);
    }
    if (entry == EntryGroup) return WriteGroup(node, v);
    if (entry >= 28 && entry <= 47) {
        if (!IsDevice(node)) return false;
        return MarkPending(node, entry, v);
    }
    return false;
}

bool TProtocol::PackCommandData() {
    std::memset(CommandFrameData, 0, sizeof CommandFrameData);
    bool packed = false;
    for (const TFrameField& f : FrameFields) {
        const bool marked = PendingMarks[MarkMirror + f.Entry] != 0;
        if (!marked && f.Entry != EntryAlwaysPacked) continue;
        const auto bits = uint8_t(Mirror(f.Entry) & ((1u << f.Width) - 1));
        CommandFrameData[f.Byte] |= uint8_t(bits << f.Shift | 1u << f.Valid);
        if (f.Entry != EntryAlwaysPacked) packed = true;
    }
    if (PendingMarks[MarkMirror + EntryWordField]) {
        const uint16_t w = Mirror(EntryWordField) | 0x8000u;
        CommandFrameData[5] = uint8_t(w);
        CommandFrameData[6] = uint8_t(w >> 8);
        packed = true;
    }
    return packed;
}

void TProtocol::SendNodeCommand(uint8_t command, uint8_t node) {
    const uint8_t data[8] = {command, 0, 0, 0, 0, 0, 0, 0};
    Transmit(node, 8, data);
}

uint8_t TProtocol::FirstPending2006() {
    for (uint8_t k = 1; k <= 10; ++k)
        if (PendingMarks[27 + k]) return k;
    return 0;
}

uint8_t TProtocol::FirstPending2007() {
    for (uint8_t k = 1; k <= 10; ++k)
        if (PendingMarks[37 + k]) return k;
    return 0;
}

void TProtocol::ClearPendingCommand() {
    CommandBlock.Target.store(0);
    for (auto& unit : CommandBlock.Mirror) unit.store(0);
    std::memset(CommandFrameData, 0, sizeof CommandFrameData);
    std::memset(PendingMarks, 0, sizeof PendingMarks);
    std::memset(ParameterValues, 0, sizeof ParameterValues);
}

void TProtocol::SendPendingCommand() {
    std::lock_guard lock(CommandLock);
    // The 0x200C download due after a 0x2005 sequence takes a pass of its own; a caller's write
    // pending meanwhile goes out in the next pass.
    if (Due200CNode != 0) {
        const uint8_t node = Due200CNode;
        Due200CNode = 0;
        Send200C(node);
        return;
    }
    const auto target = uint8_t(CommandBlock.Target.load());
    if (target == 0) return;
    if (PackCommandData()) {
        const uint32_t id = CommandIdentifier(target);
        if (id != 0) Transmit(id, 7, CommandFrameData);
    }
    if (IsDevice(target)) {
        SendDeviceStep(target);
    } else if (target == BookedSystemNode) {
        // The supervisory controller is asked as node 127; its reply is booked as 126.
        if (Mirror(0) == StateVersion) {
            OpenSdoExchange(BookedSystemNode);
            SetValue(EntryExchangeState, BookedSystemNode, true, StateVersion);
            SendSdoUpload(0x200F, 0, SystemNode);
        } else {
            SetValue(EntryExchangeState, BookedSystemNode, true, StateFailed);
        }
    } else {
        // Node 16 has a record and learns the refusal; a group address has none.
        SetValue(EntryExchangeState, target, true, StateFailed);
    }
    ClearPendingCommand();
}

void TProtocol::SendDeviceStep(uint8_t node) {
    if (PendingMarks[MarkMirror + 0]) {
        const uint16_t mode = Mirror(0);
        switch (mode) {
        case 1: SetValue(EntryExchangeState, node, true, StateIdle); break;
        case StateUpload:
            OpenSdoExchange(node);
            SetValue(EntryExchangeState, node, true, StateUpload);
            SendSdoUpload(0x2005, 1, node);
            break;
        case StateOperational:
        case StatePreOperational:
            OpenSdoExchange(node);
            SetValue(EntryExchangeState, node, true, mode);
            SendNodeCommand(mode == StateOperational ? 0x01 : 0x80, node);
            break;
        case StateVersion:
            OpenSdoExchange(node);
            SetValue(EntryExchangeState, node, true, StateVersion);
            SendSdoUpload(0x200F, 0, node);
            break;
        default:
            if (const uint8_t open = SdoTransactionNode.load()) CloseSdoExchange(open, StateFailed);
            break;
        }
        return;
    }
    if (PendingMarks[MarkMirror + 1]) {
        const uint16_t v = Mirror(1);
        if (v == SystemNode || IsDevice(uint8_t(v))) SendDownloadInFlight(0x2008, 1, 1, node, v);
        return;
    }
    struct TStep {
        uint8_t Entry;
        uint16_t Index;
    };
    for (const TStep s : {TStep{4, 0x200A}, TStep{5, 0x2009}, TStep{10, 0x200B}}) {
        if (PendingMarks[MarkMirror + s.Entry]) {
            SendDownloadInFlight(s.Index, 1, s.Entry, node, Mirror(s.Entry));
            return;
        }
    }
    if (PendingMarks[MarkMirror + 12]) {
        Flag200C = Mirror(12) != 0;
        if (Flag200C) {
            Pending200C = 0;
            SendDownloadInFlight(0x200C, 1, 12, node, 1);
        } else {
            // Clearing the flag goes after a fresh upload of the parameters.
            OpenSdoExchange(node);
            Pending200C = 1;
            Pending200CNode = node;
            SetValue(EntryExchangeState, node, true, StateUpload);
            SendSdoUpload(0x2005, 1, node);
        }
        return;
    }
    if (const uint8_t k = FirstPending2006()) {
        SendDownloadInFlight(0x2006, k, uint8_t(27 + k), node, ParameterValues[k - 1]);
    } else if (const uint8_t k7 = FirstPending2007()) {
        SendDownloadInFlight(0x2007, k7, uint8_t(37 + k7), node, ParameterValues[9 + k7]);
    }
}

void TProtocol::Send200C(uint8_t node) {
    Pending200C = 0;
    SendDownloadInFlight(0x200C, 1, 12, node, Flag200C);
}
