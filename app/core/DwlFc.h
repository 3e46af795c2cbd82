// The download table behind the program download window: per slot a node, its firmware version
// word and the slot's download state. User-interface thread only.
#pragma once
#include <array>
#include <cstdint>
#include <string>

class TFancoil;

class TDwlFc {
public:
    static constexpr int kSlots = 128;
    enum : uint8_t { StateNone = 0, StateSelected = 1, StateDone = 2, StateFailed = 3 };

    // Refills nodes and versions with the present nodes in ascending order (node 127 with the
    // version word of node 126, where its version arrives); states are kept.
    void Fill(const TFancoil& model);

    // Slots outside the table read 0 and are not written.
    uint8_t GetNode(int slot) const;
    uint8_t GetState(int slot) const;
    uint16_t GetVersion(int slot) const;
    void ClearState(int slot) { SetState(slot, StateNone); }
    void Select(int slot) { SetState(slot, StateSelected); }
    void MarkDone(int slot) { SetState(slot, StateDone); }
    void MarkFailed(int slot) { SetState(slot, StateFailed); }
    void SetVersion(int slot, uint16_t version);
    // "vv.rr.bbb" of the slot's version word.
    std::string VersionText(int slot) const;

    // From the cursor's slot on, the node of the next selected slot (the cursor then names the
    // slot after it), or 0 at the end of the table (the cursor then names that end).
    uint8_t NextSelected(uint8_t& cursor) const;

private:
    void SetState(int slot, uint8_t state);

    std::array<uint8_t, kSlots> Node{};
    std::array<uint16_t, kSlots> Version{};
    std::array<uint8_t, kSlots> State{};
};
