#include <gtest/gtest.h>

#include <thread>

#include "AppStrings.h"
#include "CoreFixture.h"
#include "Fancoil.h"

namespace {

constexpr int A = TFancoil::kTypeAnalog;
constexpr int I = TFancoil::kTypeInteger;

// A model whose description table holds the given file content.
class Model : public ::testing::Test {
protected:
    explicit Model(const std::string& descriptions = "")
        : table_(MakeTable(base_, descriptions)), model_(*table_) {}

    static std::unique_ptr<TAppStrings> MakeTable(const TempBase& base, const std::string& content) {
        base.Write("USR/FanStr.cfg", content);
        auto table = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
        EXPECT_TRUE(table->Load());
        return table;
    }
    // Presence and operational words of node 127 for the given nodes.
    void SetNodes(std::initializer_list<int> present, std::initializer_list<int> operational) {
        std::array<uint16_t, 7> p{}, o{};
        for (int n : present) p[(n - 21) / 16] |= uint16_t(1u << ((n - 21) % 16));
        for (int n : operational) o[(n - 21) / 16] |= uint16_t(1u << ((n - 21) % 16));
        for (int k = 0; k < 7; ++k) {
            model_.Store(127, 5 + k, int16_t(p[k]), I);
            model_.Store(127, 12 + k, int16_t(o[k]), I);
        }
    }

    TempBase base_;
    std::unique_ptr<TAppStrings> table_;
    TFancoil model_;
};

struct StoreCase {
    int node, type, index;
    uint16_t stored;
    int read;
};

class Storage : public Model, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(Storage, ReadsBackAsTheTableSays) {
    const StoreCase& c = GetParam();
    SetNodes({40, 127}, {});
    model_.Store(c.node, c.index, int16_t(c.stored), c.type);
    model_.Store(c.node, c.index, 1, 1);  // an unknown type changes nothing
    EXPECT_EQ(c.type == A ? model_.ReadAnalog(c.index, c.node) : model_.ReadInteger(c.index, c.node), c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Storage,
    ::testing::Values(StoreCase{40, I, 1, 0x01FF, 255}, StoreCase{40, I, 14, 40, 40},
                      StoreCase{40, I, 33, 0x0080, 128}, StoreCase{40, I, 2, 0xFFFD, -3},
                      StoreCase{40, I, 34, 0x0080, -128}, StoreCase{40, I, 43, 0x00FF, -1},
                      StoreCase{40, I, 6, 0x0100, 1}, StoreCase{40, I, 23, 0x8000, 1},
                      StoreCase{40, I, 16, 0x1603, 5635}, StoreCase{40, I, 16, 0xFFFF, 65535},
                      StoreCase{40, I, 15, 5, 0}, StoreCase{40, I, 17, 5, 0}, StoreCase{40, I, 0, 5, 0},
                      StoreCase{40, I, 44, 5, 0}, StoreCase{40, I, -1, 5, 0},
                      StoreCase{40, A, 1, 5, 0}, StoreCase{40, A, 4, 0xFF38, -200},
                      StoreCase{40, A, 7, 0x7FFF, 32767}, StoreCase{40, A, 8, 5, 0},
                      StoreCase{127, A, 1, 215, 215}, StoreCase{127, A, 2, 0xFFFB, -5},
                      StoreCase{127, A, 3, 5, 0}, StoreCase{127, I, 1, 0x00C8, -56},
                      StoreCase{127, I, 2, 5, 0}));

TEST_F(Model, ReadersGiveZeroOutsideDevicesAndForAbsentNodes) {
    for (int node : {20, 40}) {
        model_.Store(node, 1, 9, I);
        model_.Store(node, 4, 9, A);
    }
    EXPECT_EQ(model_.ReadInteger(1, 40), 0);
    SetNodes({21, 40}, {});  // node 20 has no presence bit: it never reads
    EXPECT_EQ(model_.ReadInteger(1, 20), 0);
    EXPECT_EQ(model_.ReadInteger(1, 40), 9);  // kept while absent
    EXPECT_EQ(model_.ReadAnalog(4, 40), 9);
    for (int node : {-1, 128, 255, 300}) {
        model_.Store(node, 1, 9, I);
        model_.SetChanged(node);
        model_.SetDescription(node, "x");
        EXPECT_EQ(model_.ReadInteger(1, node), 0);
        EXPECT_EQ(model_.ReadAnalog(4, node), 0);
        EXPECT_FALSE(model_.IsPresent(node));
        EXPECT_EQ(model_.TakeChanged(node), 0);
        EXPECT_EQ(model_.GetDescription(node), "");
        EXPECT_EQ(model_.VersionWord(node), 0);
    }
}

TEST_F(Model, BitmapWordsRewriteTheirNodesOnly) {
    model_.Store(127, 11, int16_t(0xFFFF), I);  // nodes 117..132: only up to 127 exist
    for (int n = 117; n <= 127; ++n) EXPECT_TRUE(model_.IsPresent(n)) << n;
    EXPECT_FALSE(model_.IsPresent(116));
    model_.Store(127, 5, int16_t(0xFFFF), I);
    model_.Store(127, 5, 0x0001, I);
    EXPECT_TRUE(model_.IsPresent(21));
    for (int n = 22; n <= 36; ++n) EXPECT_FALSE(model_.IsPresent(n)) << n;
    model_.Store(127, 13, 0x0002, I);  // operational word 1: nodes 37..52
    EXPECT_TRUE(model_.IsOperational(38));
    EXPECT_FALSE(model_.IsOperational(37));
    EXPECT_EQ(model_.TakeChanged(127), 0);  // Store never marks
}

TEST_F(Model, ChangedMarkIsTakenOnce) {
    model_.SetChanged(30);
    EXPECT_EQ(model_.TakeChanged(30), 1);
    EXPECT_EQ(model_.TakeChanged(30), 0);
}

TEST_F(Model, GroupIterators) {
    SetNodes({22, 30, 31, 40, 41, 50, 55, 127}, {30, 31, 40, 41, 50, 127});
    model_.Store(30, 14, 30, I);
    model_.Store(31, 14, 30, I);
    model_.Store(40, 14, 40, I);
    model_.Store(41, 14, 30, I);
    model_.Store(50, 14, 99, I);  // master not in the network: handed out by no iterator
    model_.Store(55, 14, 127, I);  // present, not operational

    EXPECT_EQ(model_.NextPreOperNode(), 22);
    EXPECT_EQ(model_.NextPreOperNode(), 55);
    EXPECT_EQ(model_.NextPreOperNode(), 0);

    TFancoil::TNodeList list;
    list.fill(7);
    EXPECT_TRUE(model_.ZemGroup(list));
    EXPECT_EQ(list[0], 127);
    EXPECT_EQ(list[1], 0);
    EXPECT_TRUE(model_.NextGroup(list));
    EXPECT_EQ((std::vector<int>{list[0], list[1], list[2], list[3]}), (std::vector<int>{30, 31, 41, 0}));
    EXPECT_TRUE(model_.NextGroup(list));
    EXPECT_EQ((std::vector<int>{list[0], list[1]}), (std::vector<int>{40, 0}));
    EXPECT_FALSE(model_.NextGroup(list));
    EXPECT_EQ(list, TFancoil::TNodeList{});
    model_.ClearPlaced();
    EXPECT_EQ(model_.NextPreOperNode(), 22);
}

TEST_F(Model, ZemGroupWithoutSupervisor) {
    SetNodes({30}, {30});
    model_.Store(30, 14, 127, I);
    TFancoil::TNodeList list;
    list.fill(7);
    EXPECT_FALSE(model_.ZemGroup(list));
    EXPECT_EQ(list, TFancoil::TNodeList{});
    EXPECT_FALSE(model_.NextGroup(list));  // 127 is placed: never a group of its own
}

TEST_F(Model, FullNetworkFitsOneList) {
    std::vector<int> all;
    for (int n = 21; n <= 127; ++n) {
        model_.Store(n, 14, 127, I);
        all.push_back(n);
    }
    model_.Store(127, 5, -1, I);
    for (int k = 0; k < 7; ++k) {
        model_.Store(127, 5 + k, -1, I);
        model_.Store(127, 12 + k, -1, I);
    }
    TFancoil::TNodeList list;
    ASSERT_TRUE(model_.ZemGroup(list));
    EXPECT_EQ(list[0], 127);
    EXPECT_EQ(list[106], 126);
    EXPECT_EQ(list[107], 0);
}

class Descriptions : public Model {
protected:
    Descriptions() : Model("FC21 Office a a a\r\nFC22 \"what?\" a a a\r\n\"FC127\" \"Supervisor\" a a a\r\n") {}
};

TEST_F(Descriptions, TakenFromTheTable) {
    EXPECT_EQ(model_.GetDescription(21), "Office");
    EXPECT_EQ(model_.GetDescription(22), "");
    EXPECT_EQ(model_.GetDescription(23), "");
    EXPECT_EQ(model_.GetDescription(127), "Supervisor");
    model_.SetDescription(23, " \t Kitchen  ");
    EXPECT_EQ(model_.GetDescription(23), "Kitchen");
}

TEST_F(Descriptions, SaveWritesOneLinePerDescribedNodeAndDropsBackup) {
    model_.SetDescription(21, "");
    model_.SetDescription(30, "Hall \"B\"");
    ASSERT_TRUE(model_.SaveDescriptions(*table_));
    EXPECT_FALSE(base_.Exists("USR/FanStr.cfg.bak"));
    EXPECT_EQ(base_.Read("USR/FanStr.cfg"),
              "\"FC30\" \"Hall \"\"B\"\"\" \"Hall \"\"B\"\"\" \"Hall \"\"B\"\"\" \"Hall \"\"B\"\"\" \r\n"
              "\"FC127\" \"Supervisor\" \"Supervisor\" \"Supervisor\" \"Supervisor\" \r\n");
    TAppStrings reread("USR\\FanStr.cfg");
    ASSERT_TRUE(reread.Load());
    TFancoil again(reread);
    EXPECT_EQ(again.GetDescription(30), "Hall \"B\"");
}

TEST_F(Descriptions, FailedRewriteKeepsBackupForRestore) {
    const std::string before = base_.Read("USR/FanStr.cfg");
    for (int n = 21; n < 127; ++n) model_.SetDescription(n, std::string(40, 'd'));
    {
        FileSizeLimit limit(before.size() + 300);  // the backup fits, the new lines do not
        EXPECT_FALSE(model_.SaveDescriptions(*table_));
    }
    EXPECT_EQ(base_.Read("USR/FanStr.cfg.bak"), before);
    EXPECT_TRUE(RestoreFromBackup(base_.At("USR\\FanStr.cfg")));
    EXPECT_EQ(base_.Read("USR/FanStr.cfg"), before);
}

TEST_F(Descriptions, FailedResetWritesNothing) {
    std::filesystem::create_directory(base_.At("USR/FanStr.cfg.bak"));
    const std::string before = base_.Read("USR/FanStr.cfg");
    model_.SetDescription(40, "New");
    EXPECT_FALSE(model_.SaveDescriptions(*table_));
    EXPECT_EQ(base_.Read("USR/FanStr.cfg"), before);
}

TEST_F(Model, PollerAndWindowMayRunTogether) {
    SetNodes({40}, {40});
    std::thread poller([this] {
        for (int i = 0; i < 20000; ++i) {
            model_.Store(40, 1 + i % 43, int16_t(i), I);
            model_.Store(40, 4 + i % 4, int16_t(i), A);
            model_.Store(127, 5 + i % 14, int16_t(i), I);
            model_.SetChanged(40);
        }
    });
    int marks = 0;
    for (int i = 0; i < 20000; ++i) {
        marks += model_.TakeChanged(40);
        (void)model_.ReadInteger(1 + i % 43, 40);
        (void)model_.ReadAnalog(4 + i % 4, 40);
        (void)model_.IsOperational(21 + i % 107);
    }
    poller.join();
    marks += model_.TakeChanged(40);
    EXPECT_GE(marks, 1);
}

}  // namespace
