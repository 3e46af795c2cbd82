// White-box fixture for the write, exchange and download roads: the library's objects with the
// board and log stand-ins and a manual clock. The instance is created without a registry, so its
// thread never runs: a test drives the passes itself and the stand-in board takes every frame.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FakeBoard.h"
#include "Protocol.h"
#include "UnitInterface.h"
#include "rtl/Clock.h"
#include "rtl/Library.h"

inline void ResetLibraryData() {
    for (auto& r : NodeRecords)
        for (auto& u : r.Unit) u.store(0);
    for (auto* words : {AliveBits, OperationalBits})
        for (int i = 0; i < 7; ++i) words[i].store(0);
    for (auto& u : SystemValues) u.store(0);
    TProtocol::ClearPendingCommand();
    SdoTransactionNode.store(0);
    LastSdoReply.Store({});
    for (auto& f : ChangeFlags) f = 0;
    for (auto& u : UnitTable) u = 0;
    LineNumber = 0;
}

using Bytes = std::vector<uint8_t>;

class RoadTest : public ::testing::Test {
protected:
    rtl::ManualClock clock;
    rtl::ScopedClock scopedClock{clock};

    void SetUp() override {
        ResetBoard();
        ClearLog();
        ResetLibraryData();
        rtl::SetLibraryOverride("Xat11reg.dll", "/nonexistent/libXat11reg.so");
        _MORVANDProtocolCreate(1);
    }
    void TearDown() override {
        _DestroyCANThread();
        rtl::SetLibraryOverride("Xat11reg.dll", "");
    }

    static TProtocol& P() { return *Protocol.load(); }
    // One pass of the protocol thread as far as writes and exchanges go.
    static void Pass() {
        P().SendPendingCommand();
        P().SuperviseSdo();
    }
    static std::vector<TSentFrame> TakeSent() {
        std::lock_guard g(BoardLock());
        auto sent = std::move(Board().Sent);
        Board().Sent.clear();
        return sent;
    }
    static void Receive(uint32_t id, Bytes data) {
        VCI_CAN_OBJ o = Frame(id, std::move(data));
        OnVciReceive(0, 1, &o);
    }
    static void SdoReply(uint8_t node, Bytes data) { Receive(0x580u + node, std::move(data)); }
    static void Heartbeat(uint8_t node, uint8_t state) { Receive(0x700u + node, {state}); }
    static uint16_t State(uint8_t node) { return TNodeDatabase::GetValue(0, node); }
    static uint16_t Value(uint8_t entry, uint8_t node) { return TNodeDatabase::GetValue(entry, node); }
    void AdvanceMs(uint32_t ms) { clock.Advance(ms); }
};

inline bool operator==(const TSentFrame& a, const TSentFrame& b) { return a.Id == b.Id && a.Data == b.Data; }
inline std::ostream& operator<<(std::ostream& os, const TSentFrame& f) {
    os << std::hex << "0x" << f.Id << " [";
    for (size_t i = 0; i < f.Data.size(); ++i) os << (i ? " " : "") << unsigned(f.Data[i]);
    return os << "]" << std::dec;
}
