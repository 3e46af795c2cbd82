#include <filesystem>
#include <fstream>

#include "MorvandFixture.h"

namespace {

class LifeCycleTest : public MorvandTest {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("morvand_life_" + std::to_string(getpid()));
    std::string base = (dir / "Morvand").string();

    void SetUp() override {
        MorvandTest::SetUp();
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        MorvandTest::TearDown();
        std::filesystem::remove_all(dir);
    }
    void WriteIni(const std::string& text) { std::ofstream(base + ".ini") << text; }
};

TEST_F(LifeCycleTest, CreateResults) {
    const struct {
        const char* ini;  // null: no file
        const char* check;
        int16_t result;
        const char* timing;
    } cases[] = {
        {nullptr, nullptr, 1, nullptr},
        {"[General]\r\nlogEn=1\r\n", nullptr, 2, nullptr},
        {"[General]\r\ntopSpeed=5\r\n", nullptr, 2, nullptr},
        {"[General]\r\ntopSpeed=1x\r\n", nullptr, 2, nullptr},
        {"[General]\r\ntopSpeed=1\r\n", nullptr, 0, "InitCan 3 28"},
        {"[general]\r\nTOPSPEED = 0\r\n", nullptr, 0, "InitCan 7 28"},
        {"[General]\r\ntopSpeed=1\r\n", "1", 3, nullptr},
    };
    for (const auto& c : cases) {
        ResetBoard();
        ClearLog();
        std::filesystem::remove(base + ".ini");
        if (c.ini) WriteIni(c.ini);
        if (c.check) setenv("FAKE_XAT_CHECK", c.check, 1);
        else unsetenv("FAKE_XAT_CHECK");
        const char* ini = c.ini ? c.ini : "(none)";
        EXPECT_EQ(_CreateCANThread(base.c_str()), c.result) << ini;
        EXPECT_EQ(Protocol.load() != nullptr, c.result == 0 || c.result == 3) << ini;
        if (c.result == 1 || c.result == 2) {
            EXPECT_TRUE(LogLines().empty()) << ini;
        }
        if (c.result == 0) {
            EXPECT_EQ(LogLines(), (std::vector<std::string>{"MORVAND Protocol Created", "MORVANDProtocolBegin"}));
            std::lock_guard g(BoardLock());
            EXPECT_EQ(Board().Count(c.timing), 1) << ini;
        }
        if (c.result == 3) {
            EXPECT_TRUE(Logged("MORVAND Protocol USB-CAN Not Initialized"));
            EXPECT_FALSE(_MORVANDIsProtocolBusy()) << "kept suspended, never started";
        }
        _DestroyCANThread();
    }
    EXPECT_EQ(_CreateCANThread(nullptr), 1);
}

TEST_F(LifeCycleTest, CreateWhileAnInstanceExistsIsRefused) {
    WriteIni("[General]\r\ntopSpeed=1\r\n");
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    TProtocol* first = Protocol.load();
    EXPECT_EQ(_CreateCANThread(base.c_str()), 3);
    EXPECT_TRUE(Logged("MORVAND Protocol NOT Created: already existent"));
    EXPECT_EQ(Protocol.load(), first);
}

TEST_F(LifeCycleTest, DestroyTwice) {
    WriteIni("[General]\r\ntopSpeed=0\r\n");
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    EXPECT_EQ(_DestroyCANThread(), 0);
    const auto lines = LogLines();
    for (const char* line : {"MORVANDProtocolEnd", "TProtocol:Protocol on terminate", "MORVAND Protocol Destroyed"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    ClearLog();
    EXPECT_EQ(_DestroyCANThread(), 0);
    EXPECT_TRUE(LogLines().empty());
    const struct {
        const char* name;
        bool result;
    } steps[] = {{"Destroy", _MORVANDProtocolDestroy()}, {"End", _MORVANDProtocolEnd()},
                 {"Begin", _MORVANDProtocolBegin()},     {"Suspend", _MORVANDProtocolSuspend()}};
    for (const auto& s : steps) EXPECT_FALSE(s.result) << s.name << " without an instance";
    EXPECT_EQ(_MORVANDGetDLLStatPtr(), nullptr);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(LifeCycleTest, SubscriberHandleIsKeptUntilUnsubscribed) {
    int a = 0, b = 0;
    EXPECT_TRUE(_MORVANDSubscribe(nullptr)) << "stored, though it stands for none";
    EXPECT_TRUE(_MORVANDSubscribe(&a));
    EXPECT_FALSE(_MORVANDSubscribe(&b));
    EXPECT_TRUE(_MORVANDUnsubscribe());
    EXPECT_FALSE(_MORVANDUnsubscribe());
    WriteIni("[General]\r\ntopSpeed=1\r\n");
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    EXPECT_FALSE(_MORVANDSubscribe(&a)) << "the library subscribed itself";
    _DestroyCANThread();
    EXPECT_TRUE(_MORVANDSubscribe(&a));
}

TEST_F(LifeCycleTest, ValuesAndChangeFlagsSurviveARestart) {
    WriteIni("[General]\r\ntopSpeed=1\r\n");
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    Receive({Frame(0x180 + 45, {0, 0x21, 0, 0, 0, 0, 0, 0}), Frame(0x700 + 45, {5})});
    EXPECT_EQ(_DestroyCANThread(), 0);
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    EXPECT_EQ(TProtocol::GetValue(3, 45), 0x21);
    EXPECT_EQ(TProtocol::TakeNodeChanged(45), 0x02);
    EXPECT_TRUE(TProtocol::IsNodeAlive(45));
}

}  // namespace
