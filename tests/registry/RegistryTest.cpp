// The registry as the board set-up loads it (by name, functions by name), and each way it can fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "board/VCI11UN6.h"
#include "registry/RegistryFile.h"
#include "registry/Xat11reg.h"
#include "rtl/Library.h"
#include "sim/Network.h"

namespace {

const char* const kFunctions[] = {
    "XAT_GetProductVersion", "XAT_CheckProductVersion", "XAT_SelectHardware", "XAT_InstallHardware",
    "XAT_GetConfig", "XAT_GetXatRegKey", "XAT_GetRegKeyFromHwEntry", "XAT_CreateNewHwEntry",
    "XAT_DeleteHwEntry", "XAT_FindHwEntry", "XAT_EnumHwEntry", "XAT_GetHwEntryVar",
    "XAT_SetHwEntryVarString", "XAT_SetHwEntryVarDWORD", "XAT_SetDefaultHwEntry", "XAT_GetDefaultHwEntry",
    "XAT_GetNewCardType",
};

using Call = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;

int32_t Record(uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3, void* a4, void* a5) {
    EXPECT_EQ(a4, nullptr);
    static_cast<std::vector<Call>*>(a5)->emplace_back(a0, a1, a2, a3);
    return 0;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        path = "/tmp/xat11reg_test_" + std::to_string(getpid()) + ".reg";
        setenv("XAT11REG_FILE", path.c_str(), 1);
    }
    void TearDown() override {
        if (module) rtl::FreeLibrary(module);
        rtl::SetLibraryOverride("Xat11reg.dll", "");
        unsetenv("XAT11REG_FILE");
        unlink(path.c_str());
    }
    void Write(const std::string& text) { std::ofstream(path) << text; }
    // The installation's registry unless told otherwise (the test does not lie beside it).
    rtl::HMODULE Load(const std::string& file = REGISTRY_LIBRARY) {
        rtl::SetLibraryOverride("Xat11reg.dll", file);
        module = rtl::LoadLibrary("Xat11reg.dll");
        return module;
    }
    template <class F>
    F Get(const char* name) {
        return reinterpret_cast<F>(rtl::GetProcAddress(module, name));
    }
    std::vector<Call> Enumerate() {
        std::vector<Call> calls;
        Get<PF_XAT_EnumHwEntry>("XAT_EnumHwEntry")(Record, &calls);
        return calls;
    }

    std::string path;
    rtl::HMODULE module = nullptr;
};

TEST_F(Registry, AllSeventeenFunctionsResolveByName) {
    ASSERT_TRUE(Load());
    for (const char* name : kFunctions) EXPECT_TRUE(rtl::GetProcAddress(module, name)) << name;
    char version[16] = {};
    EXPECT_EQ(Get<PF_XAT_GetProductVersion>("XAT_GetProductVersion")(version, sizeof version), 0);
    EXPECT_STREQ(version, "01,01,0,0");
    EXPECT_NE(Get<PF_XAT_GetProductVersion>("XAT_GetProductVersion")(version, 9), 0);  // no room
}

TEST_F(Registry, VersionCheck) {
    struct Case {
        const char* file;
        const char* version;
        bool accepted;
    } cases[] = {
        {"Xat11reg.dll", "01,01,0,0", true},  {"XAT11REG.DLL", "01,01,0,0", true},
        {"Xat11reg.dll", "01,00,5,0", true},  {"Xat11reg.dll", "01,01,0,1", false},
        {"Xat11reg.dll", "01,02,0,0", false}, {"Xat11reg.dll", "02,01,0,0", false},
        {"Xat11reg.dll", "00,01,0,0", false}, {"Other.dll", "01,01,0,0", false},
        {"Xat11reg.dll", "1.1.0.0", false},   {"Xat11reg.dll", "01,01,0", false},
        {"Xat11reg.dll", nullptr, false},     {nullptr, "01,01,0,0", false},
    };
    ASSERT_TRUE(Load());
    auto check = Get<PF_XAT_CheckProductVersion>("XAT_CheckProductVersion");
    for (const auto& c : cases)
        EXPECT_EQ(check(c.file, c.version) == 0, c.accepted) << (c.file ? c.file : "-") << " " << (c.version ? c.version : "-");
}

TEST_F(Registry, EnumerationAndConfiguration) {
    struct Case {
        const char* text;
        std::vector<Call> calls;  // first argument 0 for the default board, then entry, type, number
        std::string interfaceName;  // of entry 0
    } cases[] = {
        {"simulated 0\n", {{0, 0, VCI_BOARD_SIMULATED, 0}}, ""},
        {"; boards\n\n# more\nsocketcan 1 vcan0\r\nsimulated 0\n",
         {{0, 0, VCI_BOARD_SOCKETCAN, 1}, {1, 1, VCI_BOARD_SIMULATED, 0}}, "vcan0"},
        {"  socketcan\t2  \n", {{0, 0, VCI_BOARD_SOCKETCAN, 2}}, ""},
        {"bogus 0\n7 4\n", {{0, 0, 0, 0}, {1, 1, 7, 4}}, ""},  // types no board library knows
        {"simulated x\nsimulated 70000\nsocketcan 0 abcdefghijklmnop\nsimulated\nsimulated 0 a b\n", {}, ""},
        {"", {}, ""},
    };
    ASSERT_TRUE(Load());
    auto getConfig = Get<PF_XAT_GetConfig>("XAT_GetConfig");
    for (const auto& c : cases) {
        Write(c.text);
        EXPECT_EQ(Enumerate(), c.calls) << c.text;
        XATxxReg config;
        std::memset(&config, 0xEE, sizeof config);
        if (c.calls.empty()) {
            EXPECT_NE(getConfig(0, &config), 0);
            const uint16_t untouched = config.board_no;
            EXPECT_EQ(untouched, 0xEEEE);
            continue;
        }
        EXPECT_EQ(getConfig(0, &config), 0);
        const uint32_t type = config.board_type;  // packed: read it out first
        const uint16_t number = config.board_no;
        EXPECT_EQ(type, std::get<2>(c.calls[0]));
        EXPECT_EQ(number, std::get<3>(c.calls[0]));
        EXPECT_EQ(std::string(config.interface_name), c.interfaceName);
        EXPECT_NE(getConfig(uint32_t(c.calls.size()), &config), 0);
    }
    unlink(path.c_str());
    EXPECT_TRUE(Enumerate().empty());  // no file: no board
}

TEST_F(Registry, RecordStartsWithU16NumberThenU32Type) {
    Write("socketcan 513 can3\n");
    ASSERT_TRUE(Load());
    uint8_t raw[sizeof(XATxxReg)] = {};
    Get<PF_XAT_GetConfig>("XAT_GetConfig")(0, reinterpret_cast<XATxxReg*>(raw));
    EXPECT_EQ(raw[0] | raw[1] << 8, 513);
    EXPECT_EQ(raw[2] | raw[3] << 8 | raw[4] << 16 | raw[5] << 24, VCI_BOARD_SOCKETCAN);
}

TEST_F(Registry, ShippedRegistryListsTheSimulatedNetwork) {
    const auto entries = xatreg::ReadRegistry(TELVOX_SOURCE_DIR "/dist/Xat11reg.reg");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, uint32_t(VCI_BOARD_SIMULATED));
    EXPECT_EQ(entries[0].number, 0);
}

// --- each way the set-up must survive

TEST_F(Registry, NotLoadable) {
    EXPECT_FALSE(Load("/nonexistent/libXat11reg.so"));
    Write("simulated 0\n");
    EXPECT_FALSE(Load(path));  // a file, but no library
}

TEST_F(Registry, VersionFunctionMissing) {
    ASSERT_TRUE(Load(WITHOUT_XAT_CheckProductVersion));
    EXPECT_FALSE(rtl::GetProcAddress(module, "XAT_CheckProductVersion"));
    EXPECT_TRUE(rtl::GetProcAddress(module, "XAT_GetProductVersion"));
    rtl::FreeLibrary(module);
    ASSERT_TRUE(Load(WITHOUT_XAT_GetProductVersion));
    EXPECT_FALSE(rtl::GetProcAddress(module, "XAT_GetProductVersion"));
    EXPECT_TRUE(rtl::GetProcAddress(module, "XAT_CheckProductVersion"));
}

TEST_F(Registry, VersionCheckRefuses) {
    ASSERT_TRUE(Load(REFUSING_REGISTRY));
    EXPECT_NE(Get<PF_XAT_CheckProductVersion>("XAT_CheckProductVersion")("Xat11reg.dll", "01,01,0,0"), 0);
}

TEST_F(Registry, OneOfTheFifteenMissing) {
    ASSERT_TRUE(Load(WITHOUT_XAT_GetNewCardType));
    int present = 0;
    for (const char* name : kFunctions) present += rtl::GetProcAddress(module, name) != nullptr;
    EXPECT_EQ(present, 16);
    EXPECT_FALSE(rtl::GetProcAddress(module, "XAT_GetNewCardType"));
    EXPECT_EQ(Get<PF_XAT_CheckProductVersion>("XAT_CheckProductVersion")("Xat11reg.dll", "01,01,0,0"), 0);
}

TEST_F(Registry, NoBoardRegistered) {
    Write("; nothing installed\n");
    ASSERT_TRUE(Load());
    EXPECT_TRUE(Enumerate().empty());
}

TEST_F(Registry, BoardTheBoardLibraryRefuses) {
    sim::Network::Install(std::make_shared<sim::Network>());
    ASSERT_TRUE(Load());
    for (const char* text : {"simulated 2\n", "bogus 0\n", "socketcan 0 nosuchcan\n"}) {
        Write(text);
        XATxxReg config{};
        ASSERT_EQ(Get<PF_XAT_GetConfig>("XAT_GetConfig")(0, &config), 0);
        EXPECT_LT(VCI2_PrepareBoard(config.board_type, config.board_no, nullptr, 0, nullptr, nullptr, nullptr), 0) << text;
    }
    Write("simulated 0\n");
    XATxxReg config{};
    Get<PF_XAT_GetConfig>("XAT_GetConfig")(0, &config);
    const int32_t board = VCI2_PrepareBoard(config.board_type, config.board_no, nullptr, 0, nullptr, nullptr, nullptr);
    EXPECT_GE(board, 0);
    VCI_CancelBoard(uint16_t(board));
    sim::Network::Install(nullptr);
}

}  // namespace
