#include "NodeDatabase.h"

#include <bit>
#include <mutex>

TNodeRecord NodeRecords[RecordCount];
TUnit AliveBits[7];
TUnit OperationalBits[7];
TUnit SystemValues[3];
TCommandBlock CommandBlock;
uint8_t PendingMarks[PendingMarkCount];
uint8_t ParameterValues[20];
uint8_t CommandFrameData[8];
std::atomic<uint8_t> SdoTransactionNode{0};
TLastSdoReply LastSdoReply;
uint8_t ChangeFlags[NodeCount];
std::atomic<rtl::TCriticalSection*> ChangeFlagLock{nullptr};

namespace {

constexpr uint8_t Field = SkField, Bit = SkBit, Word = SkWord, S = SkSigned, RO = SkReadOnly;

// Record unit n (1..16) of the table of the node record, as an index into TNodeRecord::Unit.
constexpr uint8_t Rec(int n) { return uint8_t(VarRecord + n - 1); }

constexpr TValueDescriptor Make(uint8_t var, uint8_t mask, uint8_t change, uint8_t storage) {
    return TValueDescriptor{var, mask, change, storage};
}

constexpr std::array<TValueDescriptor, EntryCount> BuildDescriptors() {
    std::array<TValueDescriptor, EntryCount> d{};
    d[0] = Make(Rec(1), 0xFF, 0x21, Field);
    d[1] = Make(Rec(2), 0x7F, 0x11, Field);
    d[2] = Make(Rec(3), 0xFF, 0x01, Field);
    d[3] = Make(Rec(4), 0x7F, 0x11, Field | S);
    d[4] = Make(Rec(5), 0x70, 0x21, Field);
    d[5] = Make(Rec(5), 0x07, 0x21, Field);
    d[6] = Make(Rec(6), 0x70, 0x11, Field | S);
    d[7] = Make(Rec(6), 0x07, 0x11, Field);
    d[8] = Make(Rec(7), 0x60, 0x11, Field);
    d[9] = Make(Rec(7), 0x0F, 0x11, Field);
    d[10] = Make(Rec(8), 0x0F, 0x21, Field);
    d[11] = Make(Rec(9), 0, 0x12, Word | S);
    d[12] = Make(Rec(2), 0x80, 0x21, Bit);
    d[13] = Make(Rec(7), 0x10, 0x11, Bit);
    d[14] = Make(Rec(7), 0x80, 0x11, Bit);
    d[15] = Make(Rec(6), 0x08, 0x11, Bit);
    d[16] = Make(Rec(6), 0x80, 0x11, Bit);
    d[17] = Make(Rec(5), 0x08, 0x11, Bit);
    d[18] = Make(Rec(5), 0x80, 0x11, Bit);
    d[19] = Make(Rec(4), 0x80, 0x11, Bit);
    d[20] = Make(Rec(11), 0xFF, 0x21, Field);
    d[21] = Make(Rec(12), 0, 0x22, Word | S | RO);
    d[22] = Make(Rec(13), 0, 0x22, Word | S | RO);
    d[23] = Make(Rec(14), 0, 0x22, Word | S | RO);
    d[24] = Make(Rec(10), 0, 0x22, Word | S | RO);
    d[25] = Make(Rec(15), 0xFF, 0x11, Field | RO);
    d[26] = Make(Rec(8), 0xF0, 0x11, Field | RO);
    d[27] = Make(Rec(16), 0, 0x11, Word | RO);
    for (int i = 0; i < 10; ++i) {
        d[28 + i] = Make(uint8_t(VarRecord + 16 + i), 0x7F, 0x21, Field);
        d[38 + i] = Make(uint8_t(VarRecord + 26 + i), 0xFF, 0x21, Field | S);
    }
    for (int i = 0; i < 7; ++i) {
        d[48 + i] = Make(uint8_t(VarAlive + i), 0, 0x21, Word | RO);
        d[55 + i] = Make(uint8_t(VarOperational + i), 0, 0x21, Word | RO);
    }
    d[62] = Make(VarSystem + 0, 0, 0x12, Word | S);
    d[63] = Make(VarSystem + 1, 0, 0x12, Word | S);
    d[64] = Make(VarSystem + 2, 0xFF, 0x11, Field);
    d[65] = Make(VarCommandTarget, 0xFF, 0x01, Field);
    for (int k = 0; k < 20; ++k) {
        const TValueDescriptor m = d[k];
        d[FirstMirrorEntry + k] = Make(uint8_t(VarMirror + m.Variable), m.Mask, m.ChangeKind, m.StorageKind);
    }
    return d;
}

template <size_t N>
constexpr std::array<std::array<uint8_t, N>, 2> EmptyMap() {
    std::array<std::array<uint8_t, N>, 2> m{};
    for (auto& row : m) row.fill(NoEntry);
    return m;
}

constexpr std::array<std::array<uint8_t, DeviceMapSize>, 2> BuildDeviceMap() {
    auto m = EmptyMap<DeviceMapSize>();
    auto& a = m[0];
    a[1] = 11, a[4] = 24, a[5] = 21, a[6] = 22, a[7] = 23;
    auto& n = m[1];
    const uint8_t low[] = {3, 6, 7, 8, 9, 14, 15, 16, 17, 18, 19, 25, 26, 1, 13, 27};  // indexes 1..16
    for (int i = 0; i < 16; ++i) n[1 + i] = low[i];
    n[18] = 0, n[19] = 20, n[20] = 10, n[21] = 4, n[22] = 5, n[23] = 12;
    for (int i = 24; i <= 43; ++i) n[i] = uint8_t(i + 4);
    return m;
}

constexpr std::array<std::array<uint8_t, SystemMapSize>, 2> BuildSystemMap() {
    auto m = EmptyMap<SystemMapSize>();
    m[0][1] = 62, m[0][2] = 63;
    m[1][1] = 64;
    for (int i = 0; i < 7; ++i) {
        m[1][5 + i] = uint8_t(48 + i);
        m[1][12 + i] = uint8_t(55 + i);
    }
    return m;
}

}  // namespace

const std::array<TValueDescriptor, EntryCount> ValueDescriptors = BuildDescriptors();
const std::array<std::array<uint8_t, DeviceMapSize>, 2> DeviceIndexMap = BuildDeviceMap();
const std::array<std::array<uint8_t, SystemMapSize>, 2> SystemIndexMap = BuildSystemMap();

namespace {

// The unit an entry lives in for the node; null when the node has no such unit.
TUnit* UnitOf(const TValueDescriptor& d, uint8_t node) {
    const uint8_t v = d.Variable;
    if (v < VarAlive) return node < RecordCount ? &NodeRecords[node].Unit[v] : nullptr;
    if (v < VarOperational) return &AliveBits[v - VarAlive];
    if (v < VarSystem) return &OperationalBits[v - VarOperational];
    if (v < VarCommandTarget) return &SystemValues[v - VarSystem];
    if (v == VarCommandTarget) return &CommandBlock.Target;
    return &CommandBlock.Mirror[v - VarMirror];
}

// The descriptor of an entry reachable through GetValue / SetValue (not 65, not above 85).
const TValueDescriptor* Reachable(uint8_t entry) {
    if (entry >= EntryCount || entry == 65) return nullptr;
    return &ValueDescriptors[entry];
}

uint16_t Decode(const TValueDescriptor& d, uint16_t unit) {
    if (d.StorageKind & SkWord) return unit;
    if (d.StorageKind & SkBit) return (unit & d.Mask) ? 1 : 0;
    const int shift = std::countr_zero(d.Mask);
    const int width = std::popcount(d.Mask);
    uint16_t v = uint16_t((unit & d.Mask) >> shift);
    if ((d.StorageKind & SkSigned) && (v & (1u << (width - 1)))) v = uint16_t(v | (0xFFFFu << width));
    return v;
}

uint16_t Encode(const TValueDescriptor& d, uint16_t unit, uint16_t value) {
    if (d.StorageKind & SkWord) return value;
    if (d.StorageKind & SkBit) return value ? uint16_t(unit | d.Mask) : uint16_t(unit & ~d.Mask);
    const int shift = std::countr_zero(d.Mask);
    const uint16_t bits = uint16_t((value & (d.Mask >> shift)) << shift);
    return uint16_t((unit & ~d.Mask) | bits);
}

// Replaces the entry's bits in the unit without disturbing a concurrent writer of its other bits;
// true when the stored value changed.
bool Store(const TValueDescriptor& d, TUnit& unit, uint16_t value) {
    uint16_t old = unit.load(std::memory_order_relaxed);
    uint16_t now;
    do {
        now = Encode(d, old, value);
        if (now == old) return false;
    } while (!unit.compare_exchange_weak(old, now, std::memory_order_acq_rel, std::memory_order_relaxed));
    return true;
}

constexpr uint64_t Pack(TSdoReply r) {
    return uint64_t(r.Abort) << 33 | uint64_t(r.Stale) << 32 | uint32_t(r.Node) << 24 | uint32_t(r.Index) << 8 | r.Sub;
}

bool SetBit(TUnit* words, uint8_t node, bool on) {
    if (node < FirstDevice || node > SystemNode) return false;
    const uint16_t bit = uint16_t(1u << ((node - FirstDevice) % 16));
    TUnit& w = words[(node - FirstDevice) / 16];
    const uint16_t old = on ? w.fetch_or(bit) : w.fetch_and(uint16_t(~bit));
    return bool(old & bit) != on;
}

bool TestBit(const TUnit* words, uint8_t node) {
    if (node < FirstDevice || node > SystemNode) return false;
    return words[(node - FirstDevice) / 16].load() & (1u << ((node - FirstDevice) % 16));
}

}  // namespace

// ---- TLastSdoReply

TSdoReply TLastSdoReply::Load() const {
    const uint64_t p = packed_.load(std::memory_order_acquire);
    return TSdoReply{uint8_t(p >> 24), uint16_t(p >> 8), uint8_t(p), bool(p >> 32 & 1), bool(p >> 33 & 1)};
}

void TLastSdoReply::Store(TSdoReply reply) { packed_.store(Pack(reply), std::memory_order_release); }

void TLastSdoReply::UseUp(TSdoReply seen) {
    uint64_t expected = Pack(seen);
    packed_.compare_exchange_strong(expected, Pack(TSdoReply{0, seen.Index, seen.Sub}), std::memory_order_acq_rel);
}

void TLastSdoReply::MarkStale(TSdoReply seen) {
    uint64_t expected = Pack(seen);
    seen.Stale = true;
    packed_.compare_exchange_strong(expected, Pack(seen), std::memory_order_acq_rel);
}

// ---- TNodeDatabase

uint8_t TNodeDatabase::MapValueIndex(uint8_t node, uint8_t index, uint8_t kind) {
    if (kind != 2 && kind != 3) return NoEntry;
    if (node == SystemNode) return index < SystemMapSize ? SystemIndexMap[kind - 2][index] : NoEntry;
    return index < DeviceMapSize ? DeviceIndexMap[kind - 2][index] : NoEntry;
}

uint16_t TNodeDatabase::GetValue(uint8_t entry, uint8_t node) {
    const TValueDescriptor* d = Reachable(entry);
    if (!d) return 0;
    const TUnit* unit = UnitOf(*d, node);
    return unit ? Decode(*d, unit->load(std::memory_order_acquire)) : 0;
}

void TNodeDatabase::SetValue(uint8_t entry, uint8_t node, bool force, uint16_t value) {
    const TValueDescriptor* d = Reachable(entry);
    if (!d) return;
    TUnit* unit = UnitOf(*d, node);
    if (!unit) return;
    if (Store(*d, *unit, value) || force) MarkNodeChanged(d->ChangeKind, node);
}

bool TNodeDatabase::StoreValue(uint8_t entry, uint8_t node, uint16_t value) {
    const TValueDescriptor* d = Reachable(entry);
    TUnit* unit = d ? UnitOf(*d, node) : nullptr;
    if (!unit) return false;
    Store(*d, *unit, value);
    return true;
}

uint16_t TNodeDatabase::GetValueEx(uint8_t entry, uint8_t node) {
    if (entry == EntryPresence) return IsNodeAlive(node);
    if (entry == EntryOperational) return IsNodeOperational(node);
    return GetValue(entry, node);
}

void TNodeDatabase::SetValueEx(uint8_t entry, uint8_t node, uint16_t value) {
    if (entry == EntryPresence)
        SetNodeAlive(node, value != 0);
    else if (entry == EntryOperational)
        SetNodeOperational(node, value != 0);
    else
        SetValue(entry, node, false, value);
}

bool TNodeDatabase::ReadValue(uint8_t node, uint8_t index, uint8_t kind, uint16_t& out) {
    const uint8_t entry = MapValueIndex(node, index, kind);
    if (entry == NoEntry) return false;
    const TValueDescriptor* d = Reachable(entry);
    const TUnit* unit = d ? UnitOf(*d, node) : nullptr;
    if (!unit) return false;
    out = Decode(*d, unit->load(std::memory_order_acquire));
    return true;
}

bool TNodeDatabase::IsNodeAlive(uint8_t node) { return TestBit(AliveBits, node); }
bool TNodeDatabase::IsNodeOperational(uint8_t node) { return TestBit(OperationalBits, node); }

void TNodeDatabase::SetNodeAlive(uint8_t node, bool on) {
    if (SetBit(AliveBits, node, on)) MarkNodeChanged(0x21, SystemNode);
}

void TNodeDatabase::SetNodeOperational(uint8_t node, bool on) {
    if (SetBit(OperationalBits, node, on)) MarkNodeChanged(0x21, SystemNode);
}

void TNodeDatabase::MarkNodeChanged(uint8_t changeKind, uint8_t node) {
    if (!(changeKind & (CkLowNibble | CkHighNibble)) || node >= NodeCount) return;
    uint8_t bit = 0;
    switch (changeKind & 0x03) {
    case CkInteger: bit = node == SystemNode ? 0x08 : 0x02; break;
    case CkAnalog: bit = node == SystemNode ? 0x04 : 0x01; break;
    default: return;
    }
    if (changeKind & CkHighNibble) bit = uint8_t(bit << 4);
    rtl::TCriticalSection* lock = ChangeFlagLock.load(std::memory_order_acquire);
    if (!lock) return;
    std::lock_guard guard(*lock);
    ChangeFlags[node] |= bit;
}

uint8_t TNodeDatabase::TakeNodeChanged(uint8_t node) {
    rtl::TCriticalSection* lock = ChangeFlagLock.load(std::memory_order_acquire);
    if (node >= NodeCount || !lock) return 0;
    std::lock_guard guard(*lock);
    const uint8_t v = ChangeFlags[node];
    ChangeFlags[node] = 0;
    return v;
}

void TNodeDatabase::SetNodeChanged(uint8_t node, uint8_t value) {
    rtl::TCriticalSection* lock = ChangeFlagLock.load(std::memory_order_acquire);
    if (node >= NodeCount || !lock) return;
    std::lock_guard guard(*lock);
    ChangeFlags[node] = value;
}
