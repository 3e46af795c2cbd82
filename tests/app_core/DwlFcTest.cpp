#include <gtest/gtest.h>

#include "AppStrings.h"
#include "CoreFixture.h"
#include "DwlFc.h"
#include "Fancoil.h"

namespace {

class Download : public ::testing::Test {
protected:
    Download() : table_(MakeTable()), model_(*table_) {}
    static std::unique_ptr<TAppStrings> MakeTable() {
        auto table = std::make_unique<TAppStrings>("USR\\none.cfg");  // no descriptions
        return table;
    }
    void Present(std::initializer_list<int> nodes) {
        std::array<uint16_t, 7> words{};
        for (int n : nodes) words[(n - 21) / 16] |= uint16_t(1u << ((n - 21) % 16));
        for (int k = 0; k < 7; ++k) model_.Store(127, 5 + k, int16_t(words[k]), TFancoil::kTypeInteger);
    }
    void Version(int node, uint16_t v) { model_.Store(node, 16, int16_t(v), TFancoil::kTypeInteger); }

    TempBase base_;
    std::unique_ptr<TAppStrings> table_;
    TFancoil model_;
    TDwlFc table;
};

TEST_F(Download, EmptyNetwork) {
    table.Fill(model_);
    for (int slot = 0; slot < TDwlFc::kSlots; ++slot) EXPECT_EQ(table.GetNode(slot), 0);
    uint8_t cursor = 0;
    EXPECT_EQ(table.NextSelected(cursor), 0);
    EXPECT_EQ(cursor, 0);
}

TEST_F(Download, PresentNodesFillFirstSlotsWithSupervisorVersionFromNode126) {
    Version(25, 0x1603);
    Version(30, 0x4601);
    Version(126, 0x2001);
    Version(127, 0x7777);
    Present({25, 30, 127});
    table.Fill(model_);
    EXPECT_EQ(table.GetNode(0), 25);
    EXPECT_EQ(table.GetNode(1), 30);
    EXPECT_EQ(table.GetNode(2), 127);
    EXPECT_EQ(table.GetNode(3), 0);
    EXPECT_EQ(table.VersionText(0), "01.06.003");
    EXPECT_EQ(table.GetVersion(2), 0x2001);

    Present({126, 127});
    table.Fill(model_);
    EXPECT_EQ(table.GetVersion(0), 0x2001);
    EXPECT_EQ(table.GetVersion(1), 0x2001);
}

TEST_F(Download, StatesStayWithSlotsAcrossRefill) {
    Present({25, 30, 127});
    table.Fill(model_);
    table.Select(1);
    Present({30, 127});
    table.Fill(model_);
    EXPECT_EQ(table.GetNode(1), 127);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateSelected);
}

TEST_F(Download, NextSelectedWalksToTheFirstEmptySlot) {
    Present({25, 30, 40});
    table.Fill(model_);
    table.Select(0);
    table.Select(2);
    table.MarkDone(1);
    uint8_t cursor = 0;
    EXPECT_EQ(table.NextSelected(cursor), 25);
    EXPECT_EQ(cursor, 1);
    EXPECT_EQ(table.NextSelected(cursor), 40);
    EXPECT_EQ(cursor, 3);
    EXPECT_EQ(table.NextSelected(cursor), 0);
    EXPECT_EQ(cursor, 3);
    for (uint8_t start : {uint8_t{128}, uint8_t{200}, uint8_t{255}}) {
        cursor = start;
        EXPECT_EQ(table.NextSelected(cursor), 0);
        EXPECT_EQ(cursor, start);
    }
}

TEST_F(Download, SlotOperationsAndVersionText) {
    table.SetVersion(5, 0xFFFF);
    EXPECT_EQ(table.VersionText(5), "15.15.255");
    EXPECT_EQ(table.VersionText(6), "00.00.000");
    table.MarkFailed(5);
    EXPECT_EQ(table.GetState(5), TDwlFc::StateFailed);
    table.ClearState(5);
    EXPECT_EQ(table.GetState(5), TDwlFc::StateNone);
    for (int slot : {-1, 128, 255}) {
        table.Select(slot);
        table.SetVersion(slot, 1);
        EXPECT_EQ(table.GetState(slot), 0);
        EXPECT_EQ(table.GetNode(slot), 0);
        EXPECT_EQ(table.VersionText(slot), "00.00.000");
    }
}

}  // namespace
