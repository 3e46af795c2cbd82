// One standard CAN data frame as the simulated bus carries it, and the bus time it takes.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>

namespace sim {

// Bus time in nanoseconds since the network was made.
using Time = uint64_t;
constexpr Time kUs = 1000;
constexpr Time kMs = 1000 * kUs;
constexpr Time kNever = ~Time(0);

struct Frame {
    uint32_t id = 0;  // 11-bit identifier
    uint8_t len = 0;  // 0..8
    std::array<uint8_t, 8> data{};

    Frame() = default;
    Frame(uint32_t id, std::initializer_list<uint8_t> bytes) : id(id), len(uint8_t(bytes.size())) {
        uint8_t i = 0;
        for (uint8_t b : bytes)
            if (i < 8) data[i++] = b;
        if (len > 8) len = 8;
    }
    bool operator==(const Frame& o) const {
        if (id != o.id || len != o.len) return false;
        for (int i = 0; i < len; ++i)
            if (data[i] != o.data[i]) return false;
        return true;
    }
};

// Bits a standard data frame occupies on the wire: start of frame to the end of the intermission,
// stuff bits included (an 8-byte frame: 111 without stuffing, at most 135).
unsigned FrameBits(const Frame& frame);
// The same without stuffing.
unsigned FrameBitsUnstuffed(uint8_t len);

// Bit rate given by the controller's two bus-timing bytes (16 MHz controller clock):
// (0x03, 0x1C) is 125 kbit/s, (0x07, 0x1C) 62.5 kbit/s.
uint32_t BitRateFromTiming(uint8_t bt0, uint8_t bt1);

}  // namespace sim
