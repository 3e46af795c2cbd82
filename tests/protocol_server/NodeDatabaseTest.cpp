#include <thread>

#include "MorvandFixture.h"

namespace {

class NodeDatabaseTest : public MorvandTest {
protected:
    void SetUp() override {
        MorvandTest::SetUp();
        ASSERT_TRUE(_MORVANDProtocolCreate(1));  // the change flags need the instance's lock
    }
    static int16_t Signed(uint8_t entry, uint8_t node) { return static_cast<int16_t>(TProtocol::GetValue(entry, node)); }
};

struct StoreCase {
    uint8_t entry;
    uint16_t written;
    int16_t read;
};

TEST_F(NodeDatabaseTest, StoresEachKindByItsBitsAndSign) {
    const StoreCase cases[] = {
        {6, 0xFFFF, -1}, {6, 9, 1},     {6, 4, -4},      {3, 0x7F, -1},  {3, 63, 63},   {3, 0x40, -64},
        {26, 15, 15},    {26, 16, 0},   {38, 0x80, -128}, {47, 127, 127}, {28, 0xFF, 127}, {12, 5, 1},
        {12, 0, 0},      {11, 0x8000, -32768}, {8, 7, 3}, {27, 0xBEEF, static_cast<int16_t>(0xBEEF)},
    };
    for (const auto& c : cases) {
        TProtocol::SetValue(c.entry, 40, false, c.written);
        EXPECT_EQ(Signed(c.entry, 40), c.read) << "entry " << int(c.entry) << " written " << c.written;
    }
}

TEST_F(NodeDatabaseTest, EntriesSharingAUnitKeepEachOthersBits) {
    // Unit 5 holds entries 4 (bits 4-6), 5 (0-2), 17 (bit 3) and 18 (bit 7).
    TProtocol::SetValue(4, 40, false, 6);
    TProtocol::SetValue(5, 40, false, 3);
    TProtocol::SetValue(17, 40, false, 1);
    TProtocol::SetValue(18, 40, false, 1);
    TProtocol::SetValue(17, 40, false, 0);
    EXPECT_EQ(TProtocol::GetValue(4, 40), 6);
    EXPECT_EQ(TProtocol::GetValue(5, 40), 3);
    EXPECT_EQ(TProtocol::GetValue(17, 40), 0);
    EXPECT_EQ(TProtocol::GetValue(18, 40), 1);
    EXPECT_EQ(TProtocol::GetValue(4, 41), 0) << "records are per node";
}

TEST_F(NodeDatabaseTest, EveryCommandMirrorHasBitsOfItsOwn) {
    for (uint8_t k = 0; k < 20; ++k) {
        ClearDatabase();
        TProtocol::SetValue(FirstMirrorEntry + k, 40, false, 0xFFFF);
        for (uint8_t j = 0; j < 20; ++j) {
            if (j == k) continue;
            EXPECT_EQ(TProtocol::GetValue(FirstMirrorEntry + j, 40), 0) << "mirror " << int(j) << " after writing " << int(k);
        }
        EXPECT_EQ(TProtocol::GetValue(k, 40), 0) << "a mirror is not the record";
    }
}

struct ChangeCase {
    uint8_t entry, node;
    uint16_t value;
    uint8_t bits;
};

TEST_F(NodeDatabaseTest, RaisesTheChangeBitOfTheEntryInTheNodesByte) {
    const ChangeCase cases[] = {
        {11, 40, 5, 0x01}, {1, 40, 5, 0x02},   {21, 40, 5, 0x10},  {0, 40, 5, 0x20},  {2, 40, 5, 0x00},
        {62, 127, 5, 0x04}, {64, 127, 5, 0x08}, {62, 40, 6, 0x01}, {64, 40, 6, 0x02}, {47, 40, 1, 0x20},
    };
    for (const auto& c : cases) {
        TProtocol::SetValue(c.entry, c.node, false, c.value);
        EXPECT_EQ(TProtocol::TakeNodeChanged(c.node), c.bits) << "entry " << int(c.entry) << " node " << int(c.node);
        EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0);
    }
}

TEST_F(NodeDatabaseTest, ChangeBitOnlyOnChangeOrForceAndReturnedOnce) {
    TProtocol::SetValue(1, 40, false, 7);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0x02);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0);
    TProtocol::SetValue(1, 40, false, 7);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0) << "same value";
    TProtocol::SetValue(1, 40, true, 7);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0x02) << "forced";
    TProtocol::SetNodeChanged(40, 0xFF);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0xFF);
    EXPECT_EQ(TProtocol::TakeNodeChanged(128), 0);
}

TEST_F(NodeDatabaseTest, PresenceBitsRaise0x80OfNode127OnEveryFlip) {
    TProtocol::SetNodeAlive(30, true);
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0x80);
    TProtocol::SetNodeAlive(30, true);
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0) << "already present";
    uint16_t word = 0;
    ASSERT_TRUE(TProtocol::ReadValue(127, 5, 3, word));
    EXPECT_EQ(word, 1u << 9) << "node 30 is bit 9 of the first word";
    EXPECT_EQ(TProtocol::GetValueEx(EntryPresence, 30), 1);
    TProtocol::SetNodeAlive(30, false);
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0x80);
    for (uint8_t node : {0, 20, 128, 255}) {
        TProtocol::SetNodeAlive(node, true);
        TProtocol::SetNodeOperational(node, true);
        EXPECT_FALSE(TProtocol::IsNodeAlive(node));
        EXPECT_FALSE(TProtocol::IsNodeOperational(node));
    }
    TProtocol::SetNodeOperational(127, true);
    ASSERT_TRUE(TProtocol::ReadValue(127, 18, 3, word));
    EXPECT_EQ(word, 1u << ((127 - 21) % 16));
}

struct MapCase {
    uint8_t node, index, kind, entry;
};

TEST_F(NodeDatabaseTest, MapsValueAddressesToEntries) {
    const MapCase cases[] = {
        {40, 1, 2, 11},  {40, 4, 2, 24},  {40, 7, 2, 23},   {40, 1, 3, 3},    {40, 16, 3, 27},  {40, 18, 3, 0},
        {40, 23, 3, 12}, {40, 24, 3, 28}, {40, 43, 3, 47},  {127, 1, 2, 62},  {127, 2, 2, 63},  {127, 1, 3, 64},
        {127, 5, 3, 48}, {127, 18, 3, 61}, {127, 6, 2, NoEntry}, {40, 17, 3, NoEntry}, {40, 44, 3, NoEntry},
        {40, 1, 1, NoEntry}, {40, 2, 2, NoEntry}, {127, 2, 3, NoEntry}, {127, 19, 3, NoEntry}, {40, 0, 3, NoEntry},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TProtocol::MapValueIndex(c.node, c.index, c.kind), c.entry)
            << int(c.node) << "," << int(c.index) << "," << int(c.kind);
}

TEST_F(NodeDatabaseTest, ReadValueFailsWithoutAnEntryOrARecord) {
    uint16_t word = 0x1234;
    EXPECT_FALSE(TProtocol::ReadValue(40, 17, 3, word));
    EXPECT_FALSE(TProtocol::ReadValue(128, 1, 3, word)) << "nodes above 126 have no record";
    EXPECT_EQ(word, 0x1234);
    TProtocol::SetValue(3, 128, false, 5);
    EXPECT_EQ(TProtocol::GetValue(3, 128), 0);
    EXPECT_EQ(TProtocol::GetValue(86, 40), 0);
}

TEST_F(NodeDatabaseTest, ConcurrentWritersOfOneUnitLoseNothing) {
    // Entries 4 and 5 share a unit; presence bits of nodes 21..36 share a word.
    constexpr int rounds = 20000;
    std::thread a([] {
        for (int i = 0; i < rounds; ++i) {
            TProtocol::SetValue(4, 40, false, static_cast<uint16_t>(i % 8));
            TProtocol::SetNodeAlive(static_cast<uint8_t>(21 + i % 8), i % 2 == 0);
        }
        TProtocol::SetValue(4, 40, false, 6);
        for (uint8_t n = 21; n < 29; ++n) TProtocol::SetNodeAlive(n, true);
    });
    std::thread b([] {
        for (int i = 0; i < rounds; ++i) {
            TProtocol::SetValue(5, 40, false, static_cast<uint16_t>(i % 8));
            TProtocol::SetNodeAlive(static_cast<uint8_t>(29 + i % 8), i % 2 == 0);
        }
        TProtocol::SetValue(5, 40, false, 3);
        for (uint8_t n = 29; n < 37; ++n) TProtocol::SetNodeAlive(n, true);
    });
    a.join();
    b.join();
    EXPECT_EQ(TProtocol::GetValue(4, 40), 6);
    EXPECT_EQ(TProtocol::GetValue(5, 40), 3);
    EXPECT_EQ(TProtocol::GetValue(48, 0), 0xFFFF);
}

}  // namespace
