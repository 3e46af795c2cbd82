// A network on manual time with its bus captured, for tests that drive nodes frame by frame.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/Network.h"

namespace simtest {

using sim::Frame;
using sim::kMs;
using sim::Time;

inline sim::NodeConfig Device(uint8_t number, uint8_t master, bool operational = true) {
    sim::NodeConfig c;
    c.number = number;
    c.version = 0x4601;
    c.operational = operational;
    c.values.master = master;
    c.values.setPoint = 21;
    c.values.analog = {215, 450, 300, 85};
    for (int i = 0; i < 10; ++i) {
        c.values.params2006[i] = uint8_t(i + 1);
        c.values.params2007[i] = int8_t(-(i + 1));
    }
    return c;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        net->SetTimeMode(sim::TimeMode::Manual);
        net->SetCapture(true);
    }
    void Add(const sim::NodeConfig& c) { net->AddNode(c); }
    // Past every node's boot-up and first heartbeat; the capture starts empty.
    void Boot() { Run(200 * kMs); }
    std::vector<sim::BusFrame> Run(Time dt) {
        net->Advance(dt);
        return net->TakeCapture();
    }
    // A frame from outside (in these tests: the protocol library's side), then dt of bus time.
    std::vector<sim::BusFrame> Send(const Frame& f, Time dt = 10 * kMs) {
        net->Inject(f);
        return Run(dt);
    }
    static std::vector<Frame> WithId(const std::vector<sim::BusFrame>& frames, uint32_t id) {
        std::vector<Frame> out;
        for (const auto& f : frames)
            if (f.frame.id == id) out.push_back(f.frame);
        return out;
    }
    static std::vector<sim::BusFrame> From(const std::vector<sim::BusFrame>& frames, int sender) {
        std::vector<sim::BusFrame> out;
        for (const auto& f : frames)
            if (f.sender == sender) out.push_back(f);
        return out;
    }
    sim::NodeValues Values(uint8_t n) const { return net->NodeState(n)->values; }

    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
};

}  // namespace simtest

// Frames print as identifier and bytes in failure messages.
namespace sim {
inline void PrintTo(const Frame& f, std::ostream* os) {
    *os << std::hex << "0x" << f.id << " [";
    for (int i = 0; i < f.len; ++i) *os << (i ? " " : "") << int(f.data[i]);
    *os << "]" << std::dec;
}
}  // namespace sim
