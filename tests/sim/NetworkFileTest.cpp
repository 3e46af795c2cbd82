#include "sim/NetworkFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "sim/Network.h"

namespace {

using namespace std::literals;

std::string WriteTemp(const std::string& text) {
    char name[] = "/tmp/simnetXXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    std::ofstream(name) << text;
    return name;
}

TEST(NetworkFile, ShippedDescription) {
    std::string error;
    auto net = sim::Network::Load(TELVOX_SOURCE_DIR "/dist/sim/network.ini", &error);
    ASSERT_TRUE(net) << error;
    const auto numbers = net->NodeNumbers();
    EXPECT_EQ(numbers.size(), 13u);
    EXPECT_EQ(numbers.back(), 127);
    int groupsOf21 = 0, groupsOf30 = 0;
    for (uint8_t n : numbers) {
        const auto info = net->NodeState(n);
        groupsOf21 += info->values.master == 21;
        groupsOf30 += info->values.master == 30;
    }
    EXPECT_GE(groupsOf21, 3);
    EXPECT_GE(groupsOf30, 3);
}

TEST(NetworkFile, ValuesAndPeriods) {
    const auto path = WriteTemp(
        "[Network]\nNodes = 040, 127\nHeartbeatMs = 500\n"  // a leading zero is still decimal
        "[Node40]\nVersion = 0x4600\nState = preoperational\nMaster = 127\nSetPoint = -3\nFan = 3\nKY = 09\n"
        "Sensors = 21.5, -0.5, 30, 8.04\nParams2006 = 1,2,3,4,5,6,7,8,9,10\nStatusMs = 0\nOffset = -0x3\n"
        "[Node127]\nSystemValues = 85, -450, 2\nVersion = 0X3107\n");  // as files from before the decimal rule
    std::vector<sim::NodeConfig> nodes;
    std::string error;
    ASSERT_TRUE(sim::ReadNetworkFile(path, &nodes, &error)) << error;
    unlink(path.c_str());
    ASSERT_EQ(nodes.size(), 2u);
    const auto& n = nodes[0];
    EXPECT_EQ(n.number, 40);
    EXPECT_EQ(n.version, 0x4600);
    EXPECT_FALSE(n.operational);
    EXPECT_EQ(n.values.master, 127);
    EXPECT_EQ(n.values.setPoint, -3);
    EXPECT_EQ(n.values.offset, -3);
    EXPECT_EQ(n.values.fan, 3);
    EXPECT_EQ(n.values.ky, 9);
    EXPECT_EQ(n.values.analog, (std::array<int16_t, 4>{215, -5, 300, 80}));
    EXPECT_EQ(n.values.params2006[9], 10);
    EXPECT_EQ(n.heartbeatPeriod, 500 * sim::kMs);
    EXPECT_EQ(n.statusPeriod, 0u);
    EXPECT_EQ(nodes[1].values.system[1], -450);
    EXPECT_EQ(nodes[1].values.systemByte, 2);
    EXPECT_EQ(nodes[1].version, 0x3107);
}

// Each error names the file, the line and what is wrong there.
TEST(NetworkFile, ErrorsNameTheirPlace) {
    struct Case {
        std::string_view text;
        const char* error;
    } cases[] = {
        {"[Network]\nNodes = 20\n", "line 2: [Network] Nodes"},
        {"[Network]\nNodes = 126\n", "line 2: [Network] Nodes"},
        {"[Network]\nNodes = 30, 30\n", "line 2: [Network] Nodes"},
        {"[Network]\nNodes = 30\n[Node30]\nSetPoint = 64\n", "line 4: [Node30] SetPoint"},
        {"[Network]\nNodes = 30\n[Node30]\nMaster = abc\n", "line 4: [Node30] Master"},
        {"[Network]\nNodes = 30\n[Node30]\nState = running\n", "line 4: [Node30] State"},
        {"[Network]\nNodes = 30\n[Node30]\nSensors = 1, 2, 3\n", "line 4: [Node30] Sensors"},
        {"[Network]\nNodes = 30\n[Node30]\nParams2007 = 1,2,3,4,5,6,7,8,9,200\n", "line 4: [Node30] Params2007"},
        {"[Network]\nNodes = 30\nAnalogMs = -1\n", "line 3: [Network] AnalogMs"},
        // the line of the key that is read, counted over CR LF, comments and other sections
        {"; c\r\n[Node30]\r\nFan = 9\r\n[network]\r\nNODES = 30\r\n[NODE30]\r\nFan = 1\r\n",
         "line 3: [Node30] Fan"},
        {"[Network]\nNodes = 30\n\n[Node30]\nSensors = 25.6; 12.0 x\n", "line 5: [Node30] Sensors"},
        {"[Network]\nNodes = 30\n[Node30]\n  SetPoint 22\nFan = 9\n", "line 4: \"SetPoint 22\" has no '='"},
        {"[Network]\nNodes = 30\n[Node30\n", "line 3: \"[Node30\" has no ']'"},
        {"[Network]\nNodes = 127\n[Node127]\nSystemValues = 85, 450, 300\n", "line 4: [Node127] SystemValues"},
        {"[Network]\nNodes = 127\n[Node127]\nSystemValues = 85, 450, -1\n", "line 4: [Node127] SystemValues"},
        {"[Network]\nNodes = 30\n[Node30]\nSetPoint = 5\0abc\n"sv, "line 4: [Node30] SetPoint"},
        // of several faults the earliest line, whatever order the keys are read in
        {"[Network]\nNodes = 30\n[Node30]\nFan = 9\nSetPoint = 64\nParams2007 = 1,2,3,4,5,6,7,8,9,200\n",
         "line 4: [Node30] Fan"},
        {"[Network]\nNodes = 30\n[Node30]\nSetPoint = 64\n\nFan 3\n", "line 4: [Node30] SetPoint"},
    };
    for (const auto& c : cases) {
        const auto path = WriteTemp(std::string(c.text));
        std::vector<sim::NodeConfig> nodes;
        std::string error;
        EXPECT_FALSE(sim::ReadNetworkFile(path, &nodes, &error)) << c.text;
        EXPECT_EQ(error.find(path + ": " + c.error), 0u) << error;
        unlink(path.c_str());
    }
    std::string error;
    EXPECT_FALSE(sim::Network::Load("/nonexistent/network.ini", &error));
    EXPECT_NE(error.find("not found"), std::string::npos);
}

}  // namespace
