// The library's node database: static, zero when the library is loaded and kept across destroy and
// re-create of the protocol instance. Every value has an entry 0..85; ValueDescriptors says where it
// lies and how it is read and written. Callers address values by (node, index, kind), mapped to an
// entry by the two index maps.
//
// Every storage unit is an atomic 16-bit word (a byte unit uses the low 8 bits), so the receive
// thread, the protocol thread and the callers may read and write values without a lock: a bit or a
// field is replaced by compare-and-swap and never loses a concurrent update of the same unit.
// Only ChangeFlags take a lock, ChangeFlagLock, which exists while a protocol instance exists.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "rtl/CriticalSection.h"

constexpr uint8_t NodeCount = 128;      // nodes 0..127 have a change-flag byte
constexpr uint8_t RecordCount = 127;    // nodes 0..126 have a record; node 127's values are global
constexpr uint8_t FirstDevice = 21;     // presence and operational bits exist for nodes 21..127
constexpr uint8_t SystemNode = 127;
constexpr uint8_t EntryCount = 86;
constexpr uint8_t NoEntry = 255;        // MapValueIndex: the triple has no entry
constexpr uint8_t EntryPresence = 250;  // pseudo entries of GetValueEx / SetValueEx
constexpr uint8_t EntryOperational = 251;
constexpr uint8_t FirstMirrorEntry = 66;  // entries 66..85 mirror entries 0..19 in the CommandBlock

// TValueDescriptor::StorageKind
constexpr uint8_t SkReadOnly = 0x01;
constexpr uint8_t SkSigned = 0x08;
constexpr uint8_t SkBit = 0x10;
constexpr uint8_t SkField = 0x20;
constexpr uint8_t SkWord = 0x40;

// TValueDescriptor::ChangeKind: the nibble of the change-flag byte, and the class in bits 0-1.
constexpr uint8_t CkLowNibble = 0x10;
constexpr uint8_t CkHighNibble = 0x20;
constexpr uint8_t CkInteger = 0x01;
constexpr uint8_t CkAnalog = 0x02;

using TUnit = std::atomic<uint16_t>;

// Storage units of a node record. Units 0..15 are the record's sixteen units in order; 16..25 hold
// entries 28..37 and 26..35 entries 38..47, one each.
constexpr uint8_t RecordUnits = 36;
struct TNodeRecord {
    TUnit Unit[RecordUnits];
};

// TValueDescriptor::Variable
constexpr uint8_t VarRecord = 0;          // + unit 0..35 of the node's record
constexpr uint8_t VarAlive = 36;          // + word 0..6 of AliveBits
constexpr uint8_t VarOperational = 43;    // + word 0..6 of OperationalBits
constexpr uint8_t VarSystem = 50;         // + 0..2: the system values (entries 62, 63, 64)
constexpr uint8_t VarCommandTarget = 53;  // CommandBlock.Target
constexpr uint8_t VarMirror = 54;         // + record unit 0..8: CommandBlock.Mirror

struct TValueDescriptor {
    uint8_t Variable;
    uint8_t Mask;         // bits of the unit holding the value (bit and field kinds)
    uint8_t ChangeKind;
    uint8_t StorageKind;
};
extern const std::array<TValueDescriptor, EntryCount> ValueDescriptors;

// (index) -> entry, NoEntry where the triple has none. [0] is kind 2 (analog), [1] kind 3.
constexpr uint8_t DeviceMapSize = 44;  // device indexes 0..43
constexpr uint8_t SystemMapSize = 19;  // node 127 indexes 0..18
extern const std::array<std::array<uint8_t, DeviceMapSize>, 2> DeviceIndexMap;
extern const std::array<std::array<uint8_t, SystemMapSize>, 2> SystemIndexMap;

// The one pending write of the callers: target node (0 = nothing pending) and the mirrors of
// entries 0..19. The mirrors have the layout of record units 0..8 (one copy of each unit), so every
// mirror has bits of its own and entry k's descriptor applies to mirror k unchanged.
struct TCommandBlock {
    TUnit Target;
    TUnit Mirror[9];
};

// One SDO reply as recorded for the supervisor and _GoBootLdrConfirmed (node 127 recorded as 126).
struct TSdoReply {
    uint8_t Node;
    uint16_t Index;
    uint8_t Sub;
    bool Stale = false;  // on record before the open exchange began: it answers nothing there
    bool Abort = false;  // the node refused the request (command byte 0x80)
};

// The fields of the last SDO reply, always read and written together.
class TLastSdoReply {
public:
    TSdoReply Load() const;
    void Store(TSdoReply reply);
    // Sets the responder node to 0 unless another reply was stored since `seen` was loaded.
    void UseUp(TSdoReply seen);
    // Marks the reply stale, keeping it on record, unless another was stored since `seen`.
    void MarkStale(TSdoReply seen);

private:
    std::atomic<uint64_t> packed_{0};
};

// The data, all static.
extern TNodeRecord NodeRecords[RecordCount];
extern TUnit AliveBits[7];
extern TUnit OperationalBits[7];
extern TUnit SystemValues[3];
extern TCommandBlock CommandBlock;
// Marks 28..47: record entries 28..47 pending; 48 + k: mirror of entry k (0..19) pending.
// Under the command sender's lock; plain bytes, so that an access without it is a data race that
// the thread sanitizer reports.
constexpr uint8_t PendingMarkCount = 68;
extern uint8_t PendingMarks[PendingMarkCount];
// The values written for entries 28..47, with the record's bits, waiting for their download: the
// record takes one only when the node acknowledges it. Under the command sender's lock.
constexpr uint8_t FirstParameterEntry = 28;
extern uint8_t ParameterValues[20];
extern uint8_t CommandFrameData[8];  // protocol thread only
extern std::atomic<uint8_t> SdoTransactionNode;  // node of the open SDO exchange, 0 = none
extern TLastSdoReply LastSdoReply;
extern uint8_t ChangeFlags[NodeCount];  // under ChangeFlagLock
// Created and freed with the protocol instance; null while there is none.
extern std::atomic<rtl::TCriticalSection*> ChangeFlagLock;

// The operations on the database. They need no protocol instance; those on ChangeFlags do nothing
// (TakeNodeChanged: 0) while ChangeFlagLock does not exist. TProtocol inherits them, so they are
// also reached as TProtocol::GetValue and so on.
struct TNodeDatabase {
    static uint8_t MapValueIndex(uint8_t node, uint8_t index, uint8_t kind);
    // Entries 0..85; 0 above 85, and 0 for a record entry of a node without a record.
    static uint16_t GetValue(uint8_t entry, uint8_t node);
    // Raises the entry's change bit in the node's byte when the value changed or force is set.
    static void SetValue(uint8_t entry, uint8_t node, bool force, uint16_t value);
    // As GetValue / SetValue (force false), plus EntryPresence and EntryOperational (0 or 1).
    static uint16_t GetValueEx(uint8_t entry, uint8_t node);
    static void SetValueEx(uint8_t entry, uint8_t node, uint16_t value);
    // Stores by the entry's storage rules without raising a change bit (the callers' write path).
    // False when nothing can be stored there (no such entry, or no record for the node).
    static bool StoreValue(uint8_t entry, uint8_t node, uint16_t value);
    // False (out untouched) when the triple has no entry or the node has no such value.
    static bool ReadValue(uint8_t node, uint8_t index, uint8_t kind, uint16_t& out);

    static bool IsNodeAlive(uint8_t node);
    static bool IsNodeOperational(uint8_t node);
    // A flip raises 0x80 in node 127's byte; nodes outside 21..127 are ignored.
    static void SetNodeAlive(uint8_t node, bool on);
    static void SetNodeOperational(uint8_t node, bool on);

    static void MarkNodeChanged(uint8_t changeKind, uint8_t node);
    static uint8_t TakeNodeChanged(uint8_t node);
    static void SetNodeChanged(uint8_t node, uint8_t value);
};
