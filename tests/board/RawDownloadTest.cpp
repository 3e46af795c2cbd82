// A firmware download through the raw board calls: three nodes in their boot loaders take one
// image at once and restart with its version; with a wrong CRC they stay silent.
#include "board/BoardFixture.h"
#include "sim/HexDownload.h"
#include "sim/SimFixture.h"

namespace {

using namespace boardtest;
using sim::Frame;
using sim::kMs;

class RawDownload : public BoardTest {
protected:
    const std::vector<uint8_t> nodes = {40, 41, 42};
    std::map<uint16_t, std::vector<uint8_t>> blocks;

    void SetUp() override {
        BoardTest::SetUp();
        std::vector<uint8_t> program(600);
        for (size_t i = 0; i < program.size(); ++i) program[i] = uint8_t(i * 7 + 3);
        blocks = {{0x0000, program}, {0x1F08, {0xDE, 0xAD, 0xBE, 0xEF}}, {sim::kVersionAddress, {0x02, 0x47}}};
        for (uint8_t n : nodes) net->AddNode(simtest::Device(n, n));
        net->AddNode(simtest::Device(50, 50));  // not downloaded
        Start();
        net->Advance(300 * kMs);
        received.Take();
    }

    static std::vector<Frame> FramesFrom(const std::vector<VCI_CAN_OBJ>& objects, uint8_t node) {
        std::vector<Frame> out;
        for (const auto& o : objects)
            if ((o.id & 0x7F) == node && o.id != node) out.push_back(FrameOf(o));
        return out;
    }

    // Everything up to the CRC frame, paced by the transmit queue's fill level.
    void SendImage() {
        for (uint8_t n : nodes) {
            ASSERT_EQ(Transmit(Frame(0x600 + n, {0x2B, 0x10, 0x20, 0x00, 0xA5, 0x5A, 0x00, 0x00})), 1);
            net->Advance(10 * kMs);
            const auto answer = WithId(received.Take(), 0x580 + n);
            EXPECT_EQ(answer, std::vector<Frame>{Frame(0x580 + n, {0x60, 0x10, 0x20, 0x00, 0, 0, 0, 0})}) << int(n);
        }
        net->Advance(6000 * kMs);
        const auto quiet = received.Take();
        for (uint8_t n : nodes) EXPECT_TRUE(FramesFrom(quiet, n).empty()) << "node " << int(n) << " in its boot loader";
        EXPECT_FALSE(FramesFrom(quiet, 50).empty());
        ASSERT_EQ(Transmit(simtest::EraseFrame()), 1);
        net->Advance(2000 * kMs);

        const auto records = simtest::HexRecords(blocks);
        int highest = 0;
        for (size_t at = 0; at < records.size();) {
            for (size_t r = 0; r < 4 && at < records.size(); ++r, ++at)
                for (const auto& piece : simtest::RecordPieces(records[at])) ASSERT_EQ(Transmit(piece), 1);
            highest = std::max(highest, int(Level()));
            while (Level() > 0) net->Advance(kMs);
        }
        EXPECT_GT(highest, 12);  // a batch fills the queue, the bus drains it
    }

    static std::vector<Frame> WithId(const std::vector<VCI_CAN_OBJ>& objects, uint32_t id) {
        std::vector<Frame> out;
        for (const auto& o : objects)
            if (o.id == id) out.push_back(FrameOf(o));
        return out;
    }

    uint16_t ImageCrc() const {
        const auto image = simtest::ImageOf(blocks);
        return sim::Crc16(image.data(), image.size());
    }
};

TEST_F(RawDownload, ThreeNodesRestartWithTheNewVersion) {
    SendImage();
    ASSERT_EQ(Transmit(simtest::CrcFrame(ImageCrc())), 1);
    net->Advance(3000 * kMs);
    const auto objects = received.Take();
    for (uint8_t n : nodes) {
        std::vector<uint8_t> states;
        for (const auto& o : objects)
            if (o.id == 0x700u + n) states.push_back(o.data[0]);
        ASSERT_GE(states.size(), 2u) << int(n);
        EXPECT_EQ(states[0], 0) << int(n);
        EXPECT_EQ(states[1], 5) << int(n);
        // The version the image carries, asked as the program asks.
        ASSERT_EQ(Transmit(Frame(0x600 + n, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0})), 1);
        net->Advance(10 * kMs);
        const auto answer = WithId(received.Take(), 0x580 + n);
        EXPECT_EQ(answer, std::vector<Frame>{Frame(0x580 + n, {0x4B, 0x0F, 0x20, 0x00, 0x02, 0x47, 0, 0})}) << int(n);
    }
    EXPECT_EQ(net->NodeState(50)->version, 0x4601);
}

TEST_F(RawDownload, WrongCrcLeavesTheNodesSilent) {
    SendImage();
    ASSERT_EQ(Transmit(simtest::CrcFrame(uint16_t(ImageCrc() + 1))), 1);
    net->Advance(15000 * kMs);
    const auto objects = received.Take();
    for (uint8_t n : nodes) {
        EXPECT_TRUE(FramesFrom(objects, n).empty()) << int(n);
        EXPECT_EQ(net->NodeState(n)->version, 0x4601);
    }
}

}  // namespace
