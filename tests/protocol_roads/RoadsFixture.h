// White-box fixture for the write, exchange and download roads: the instance is created but never
// started, so a test drives the passes itself and the stand-in board takes every frame.
#pragma once
#include <cstdint>
#include <vector>

#include "MorvandFixture.h"
#include "UnitInterface.h"

using Bytes = std::vector<uint8_t>;

class RoadTest : public MorvandTest {
protected:
    void SetUp() override {
        MorvandTest::SetUp();
        for (auto& u : UnitTable) u = 0;
        LineNumber = 0;
        ASSERT_TRUE(_MORVANDProtocolCreate(1));
    }

public:
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
protected:
    void AdvanceMs(uint32_t ms) { clock.Advance(ms); }
};

inline bool operator==(const TSentFrame& a, const TSentFrame& b) { return a.Id == b.Id && a.Data == b.Data; }
inline std::ostream& operator<<(std::ostream& os, const TSentFrame& f) {
    os << std::hex << "0x" << f.Id << " [";
    for (size_t i = 0; i < f.Data.size(); ++i) os << (i ? " " : "") << unsigned(f.Data[i]);
    return os << "]" << std::dec;
}
