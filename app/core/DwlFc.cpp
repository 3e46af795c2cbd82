#include "DwlFc.h"

#include <cstdio>

#include "Fancoil.h"

namespace {
bool InTable(int slot) { return slot >= 0 && slot < TDwlFc::kSlots; }
}  // namespace

void TDwlFc::Fill(const TFancoil& model) {
    int n = 0;
    for (size_t i = 0; i < kSlots; ++i) {
        Node[i] = 0;
        Version[i] = 0;
        while (n < TFancoil::kNodes && !model.IsPresent(n)) ++n;
        if (n < TFancoil::kNodes) {
            Node[i] = static_cast<uint8_t>(n);
            Version[i] = model.VersionWord(n == TFancoil::kZem ? 126 : n);
        }
        ++n;
    }
}

uint8_t TDwlFc::GetNode(int slot) const { return InTable(slot) ? Node[static_cast<size_t>(slot)] : 0; }

uint8_t TDwlFc::GetState(int slot) const {
    return InTable(slot) ? State[static_cast<size_t>(slot)] : 0;
}

uint16_t TDwlFc::GetVersion(int slot) const {
    return InTable(slot) ? Version[static_cast<size_t>(slot)] : 0;
}

void TDwlFc::SetState(int slot, uint8_t state) {
    if (InTable(slot)) State[static_cast<size_t>(slot)] = state;
}

void TDwlFc::SetVersion(int slot, uint16_t version) {
    if (InTable(slot)) Version[static_cast<size_t>(slot)] = version;
}

std::string TDwlFc::VersionText(int slot) const {
    const unsigned v = GetVersion(slot);
    char text[16];
    std::snprintf(text, sizeof text, "%02u.%02u.%03u", (v & 0xF000) >> 12, (v & 0x0F00) >> 8,
                  v & 0xFF);
    return text;
}

uint8_t TDwlFc::NextSelected(uint8_t& cursor) const {
    // The cursor stops at the table's end as at an empty slot.
    while (cursor < kSlots && Node[cursor] != 0) {
        const uint8_t slot = cursor++;
        if (State[slot] == StateSelected) return Node[slot];
    }
    return 0;
}
