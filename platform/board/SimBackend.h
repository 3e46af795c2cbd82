// The simulated network as a board: the board's thread is the network's bus thread.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "board/Backend.h"
#include "sim/Network.h"

namespace vci {

class SimBackend : public Backend {
public:
    SimBackend(std::shared_ptr<sim::Network> network, Note note)
        : network_(std::move(network)), losses_("simulated network", std::move(note)) {}
    ~SimBackend() override { Stop(); }

    bool Start(uint32_t bitRate, size_t txEntries, size_t maxBatch, Receive receive, std::string* error) override;
    int Transmit(uint32_t id, uint8_t len, const uint8_t* data) override;
    int QueueLevel() const override { return network_->HostQueueLevel(); }
    void Stop() override {
        if (attached_.exchange(false)) network_->DetachHost();
    }

private:
    std::shared_ptr<sim::Network> network_;
    std::atomic<bool> attached_{false};  // the network serves this board (and no other)
    std::vector<VCI_CAN_OBJ> objects_;  // used on the bus thread only
    LossNote losses_;                   // likewise
};

}  // namespace vci
