#include "sim/Frame.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameBits, WithoutStuffingAFrameIs47BitsPlus8PerByte) {
    for (uint8_t len = 0; len <= 8; ++len) EXPECT_EQ(sim::FrameBitsUnstuffed(len), 47u + 8u * len);
    EXPECT_EQ(sim::FrameBitsUnstuffed(8), 111u);
}

TEST(FrameBits, AllZeroFrameGetsAStuffBitAfterEveryFiveZeros) {
    // Identifier 0, no data: 34 dominant bits up to the CRC (which is 0 too), 6 stuff bits, 13 fixed.
    EXPECT_EQ(sim::FrameBits(sim::Frame(0x000, {})), 53u);
}

TEST(FrameBits, EightByteFramesTake111To135Bits) {
    const sim::Frame frames[] = {
        sim::Frame(0x000, {0, 0, 0, 0, 0, 0, 0, 0}),
        sim::Frame(0x7FF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
        sim::Frame(0x555, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}),
        sim::Frame(0x628, {0x40, 0x0F, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00}),
        sim::Frame(0x1A8, {0x15, 0x16, 0x12, 0x31, 0x44, 0x00, 0x90, 0x01}),
        sim::Frame(0x3C0, {0x78, 0x3C, 0x1E, 0x0F, 0x87, 0xC3, 0xE1, 0xF0}),
    };
    for (const auto& f : frames) {
        const unsigned bits = sim::FrameBits(f);
        EXPECT_GE(bits, 111u) << std::hex << f.id;
        EXPECT_LE(bits, 135u) << std::hex << f.id;
        // At 125 kbit/s a bit lasts 8 us: 888 to 1080 us; at 62.5 kbit/s twice that.
        EXPECT_GE(bits * 8, 888u);
        EXPECT_LE(bits * 8, 1080u);
    }
    // Long runs of equal bits are stuffed, alternating ones are not.
    EXPECT_GT(sim::FrameBits(frames[0]), 111u + 15u);
    EXPECT_LT(sim::FrameBits(frames[2]), sim::FrameBits(frames[0]));
}

TEST(BitRateFromTiming, ControllerTimingBytes) {
    struct Case {
        uint8_t bt0, bt1;
        uint32_t bitRate;
    } cases[] = {{0x03, 0x1C, 125000}, {0x07, 0x1C, 62500}, {0x01, 0x1C, 250000}, {0x00, 0x1C, 500000}, {0x00, 0x14, 1000000}};
    for (const auto& c : cases) EXPECT_EQ(sim::BitRateFromTiming(c.bt0, c.bt1), c.bitRate) << int(c.bt0);
}

}  // namespace
