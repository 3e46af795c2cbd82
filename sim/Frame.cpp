#include "sim/Frame.h"

namespace sim {
namespace {

// Bits from the start of frame to the end of the CRC sequence, most significant first; these are
// the bits the transmitter stuffs.
class BitString {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) bits_[count_++] = (value >> i) & 1u;
    }
    // CAN CRC-15 (polynomial 0x4599) over the bits put so far.
    uint16_t Crc() const {
        uint16_t crc = 0;
        for (int i = 0; i < count_; ++i) {
            bool next = bits_[i] ^ ((crc >> 14) & 1u);
            crc = uint16_t((crc << 1) & 0x7FFF);
            if (next) crc ^= 0x4599;
        }
        return crc;
    }
    // Number of stuff bits: after five equal bits the transmitter inserts the complement, which
    // itself starts the next run.
    int StuffBits() const {
        int stuffed = 0, run = 0;
        uint8_t last = 2;
        for (int i = 0; i < count_; ++i) {
            if (bits_[i] == last) {
                if (++run == 5) {
                    ++stuffed;
                    last = !last;
                    run = 1;
                }
            } else {
                last = bits_[i];
                run = 1;
            }
        }
        return stuffed;
    }
    int Count() const { return count_; }

private:
    uint8_t bits_[1 + 11 + 3 + 4 + 64 + 15]{};
    int count_ = 0;
};

// CRC delimiter, ACK slot and delimiter, end of frame, intermission.
constexpr unsigned kTrailerBits = 1 + 2 + 7 + 3;

}  // namespace

unsigned FrameBitsUnstuffed(uint8_t len) {
    if (len > 8) len = 8;
    return 1 + 11 + 3 + 4 + 8u * len + 15 + kTrailerBits;
}

unsigned FrameBits(const Frame& frame) {
    const uint8_t len = frame.len > 8 ? 8 : frame.len;
    BitString bits;
    bits.Put(0, 1);                  // start of frame
    bits.Put(frame.id & 0x7FF, 11);  // identifier
    bits.Put(0, 3);                  // RTR, IDE, r0: standard data frame
    bits.Put(len, 4);
    for (int i = 0; i < len; ++i) bits.Put(frame.data[i], 8);
    bits.Put(bits.Crc(), 15);
    return unsigned(bits.Count() + bits.StuffBits()) + kTrailerBits;
}

uint32_t BitRateFromTiming(uint8_t bt0, uint8_t bt1) {
    const uint32_t prescaler = 2u * ((bt0 & 0x3Fu) + 1);  // 16 MHz clock, time quantum
    const uint32_t tseg1 = (bt1 & 0x0Fu) + 1, tseg2 = ((bt1 >> 4) & 0x07u) + 1;
    const uint32_t quanta = 1 + tseg1 + tseg2;
    return 16'000'000u / (prescaler * quanta);
}

}  // namespace sim
