// The program's node model: per node the present, operational and changed marks, the analog and
// integer values, the firmware version word and the description; node 127 (the supervisory
// controller) adds its system values and the presence bitmaps of nodes 21 to 127.
//
// One writer (the poller on the scheduler thread) files values through Store; the windows read
// them on the user-interface thread. Each value is a relaxed atomic of its own width, so a reader
// sees every byte or word either old or new; the changed marks are taken under Lock. The placed
// marks and the descriptions belong to the user-interface thread alone.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "rtl/CriticalSection.h"

class TAppStrings;

class TFancoil {
public:
    static constexpr int kNodes = 128;  // nodes 0..127; values exist for 21..127
    static constexpr int kZem = 127;    // the supervisory controller
    static constexpr int kTypeAnalog = 2;
    static constexpr int kTypeInteger = 3;
    using TNodeList = std::array<uint8_t, kNodes>;

    // Takes the description of node i from the key "FC<i>" of the description table; a text
    // holding "?" (a missing key among them) gives no description.
    explicit TFancoil(TAppStrings& descriptions);

    // One pass of the poller (scheduler thread): reads the value groups the protocol library
    // flags as changed for nodes 21 to 127 into the model, marks the nodes that gave a value, and
    // drains the library's received frames into RxMsgRing.
    void Poll();
    // The scheduler entry's function; data is the model.
    static void PollEntry(void* model);

    // Files one value read from the protocol library (type 2 analog, 3 integer); values without
    // a place in the model are ignored. Never touches the changed marks.
    void Store(int node, int index, int16_t value, int type);

    void SetChanged(int node);
    // The node's changed mark, cleared by the call.
    uint8_t TakeChanged(int node);

    bool IsPresent(int node) const;
    bool IsOperational(int node) const;
    // Integer index 14 of a node names its group master.
    bool IsGroupMaster(int node) const;
    bool IsInGroup(int node, int master) const;

    // 0 for a node outside 21..127, a node not present, or an index without a value.
    int ReadAnalog(int index, int node) const;
    int ReadInteger(int index, int node) const;
    // The stored firmware version word, whether the node is present or not.
    uint16_t VersionWord(int node) const;

    // Stores the text trimmed of blanks and control characters.
    void SetDescription(int node, const std::string& text);
    const std::string& GetDescription(int node) const;
    // Rewrites the description table's file with one entry "FC<n>" per described node. Its
    // backup is deleted only when every line was written; false when the rewrite failed (the
    // backup, if made, stays for start-up to restore).
    bool SaveDescriptions(TAppStrings& table) const;

    // Tree pass: NextPreOperNode until 0, ZemGroup once, NextGroup until false, ClearPlaced.
    // Every node is handed out at most once per pass; lists are the master first, then its
    // members in ascending order, then zeros.
    uint8_t NextPreOperNode();
    bool ZemGroup(TNodeList& list);
    bool NextGroup(TNodeList& list);
    void ClearPlaced();

private:
    template <typename T>
    using Row = std::array<std::atomic<T>, kNodes>;
    static constexpr int kIntegerRows = 44;  // integer indexes 1..43

    void SetPresentBits(int firstNode, uint16_t mask);
    void SetOperationalBits(int firstNode, uint16_t mask);
    static void SetBits(Row<uint8_t>& flags, int firstNode, uint16_t mask);
    uint8_t Master(int node) const;
    bool Listable(int node) const;  // not yet placed, present and operational
    void AppendMembers(int master, TNodeList& list, size_t& count);

    rtl::TCriticalSection Lock;
    std::array<uint8_t, kNodes> Changed{};  // guarded by Lock

    std::array<std::atomic<int16_t>, 2> ZemAnalog{};
    std::atomic<int8_t> ZemInteger1{0};
    Row<uint8_t> Present{};
    Row<uint8_t> Operational{};
    std::array<Row<int16_t>, 4> Analog{};              // analog indexes 4..7
    std::array<Row<uint8_t>, kIntegerRows> Integer{};  // row = integer index
    Row<uint16_t> Version{};

    std::array<uint8_t, kNodes> Placed{};
    std::array<std::string, kNodes> Description;
};
