#include <dlfcn.h>

#include "BoardRegistry.h"
#include "MorvandFixture.h"

namespace {

using BoardSetupTest = MorvandTest;

bool RegistryHeld(const char* path) {
    void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

std::vector<std::string> Calls() {
    std::lock_guard g(BoardLock());
    return Board().Calls;
}

TEST_F(BoardSetupTest, BitTimingFollowsTheSpeed) {
    for (uint8_t high : {1, 0}) {
        ResetBoard();
        ASSERT_TRUE(_MORVANDProtocolCreate(high));
        EXPECT_EQ(Instance().HighSpeed, high);
        EXPECT_EQ(Calls(),
                  (std::vector<std::string>{"PrepareBoard 1 0", high ? "InitCan 3 28" : "InitCan 7 28", "SetAccMask",
                                            "ConfigQueue 0 120", "ConfigBuffer", "ConfigBuffer", "ConfigBuffer",
                                            "ConfigBuffer", "ConfigBuffer", "ConfigBuffer", "ConfigBuffer",
                                            "ConfigBuffer", "ConfigBuffer", "ConfigBuffer", "ConfigQueue 1 50",
                                            "AssignRxQueObj", "StartCan"}));
        EXPECT_EQ(Instance().TxQueue, 10);
        EXPECT_EQ(Instance().RxQueue, 11);
        _MORVANDProtocolDestroy();
    }
    EXPECT_FALSE(RegistryHeld(FAKE_XAT_FULL));
}

TEST_F(BoardSetupTest, TakesTypeAndNumberOfTheRegisteredBoard) {
    setenv("FAKE_XAT_BOARD", "2,3", 1);
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    EXPECT_EQ(Calls().front(), "PrepareBoard 2 3");
}

struct FailureCase {
    const char* what;
    const char* registry;
    const char* check;
    int32_t prepare;
    int prepares, cancels;
};

TEST_F(BoardSetupTest, EveryFailureReportsAndReleasesTheRegistry) {
    const FailureCase cases[] = {
        {"registry missing", "/nonexistent/libXat11reg.so", nullptr, 3, 0, 0},
        {"no XAT_GetProductVersion", FAKE_XAT_NO_PRODUCT_VERSION, nullptr, 3, 0, 0},
        {"no XAT_CheckProductVersion", FAKE_XAT_NO_CHECK, nullptr, 3, 0, 0},
        {"version refused", FAKE_XAT_FULL, "1", 3, 0, 0},
        {"no XAT_SelectHardware", FAKE_XAT_NO_SELECT, nullptr, 3, 0, 0},
        {"board refused", FAKE_XAT_FULL, nullptr, -2, 1, 1},
    };
    for (const auto& c : cases) {
        ResetBoard();
        ClearLog();
        Board().PrepareResult = c.prepare;
        UseRegistry(c.registry);
        if (c.check) setenv("FAKE_XAT_CHECK", c.check, 1);
        else unsetenv("FAKE_XAT_CHECK");

        EXPECT_FALSE(_MORVANDProtocolCreate(1)) << c.what;
        EXPECT_TRUE(Logged("MORVAND Protocol USB-CAN Not Initialized")) << c.what;
        EXPECT_FALSE(RegistryHeld(c.registry)) << c.what;
        EXPECT_TRUE(_MORVANDProtocolDestroy());
        std::lock_guard g(BoardLock());
        EXPECT_EQ(Board().Count("PrepareBoard"), c.prepares) << c.what;
        EXPECT_EQ(Board().Count("CancelBoard"), c.cancels) << c.what << ": cancelled once, and only when prepared";
        EXPECT_EQ(Board().Count("InitCan"), 0) << c.what;
    }
}

TEST_F(BoardSetupTest, ASetUpWhileTheRegistryIsHeldFailsWithoutLeakingAHolder) {
    ASSERT_TRUE(LoadBoardRegistry());
    EXPECT_FALSE(_MORVANDProtocolCreate(1));
    EXPECT_TRUE(UnloadBoardRegistry()) << "only the test's own holder was left";
    EXPECT_FALSE(RegistryHeld(FAKE_XAT_FULL));
    _MORVANDProtocolDestroy();
    EXPECT_TRUE(_MORVANDProtocolCreate(1)) << "the next set-up works";
}

}  // namespace
