#include "board/SimBackend.h"

#include <algorithm>

namespace vci {

bool SimBackend::Start(uint32_t bitRate, size_t txEntries, size_t maxBatch, Receive receive, std::string* error) {
    network_->SetBitRate(bitRate);
    objects_.resize(maxBatch);
    // The sink holds the back-end: a board cancelled from its own callback goes when the call returns.
    auto sink = [this, self = shared_from_this(), receive = std::move(receive)](const sim::Delivered* frames,
                                                                                size_t count) {
        for (size_t i = 0; i < count; ++i) {
            VCI_CAN_OBJ& o = objects_[i];
            o.time_stamp = frames[i].stamp;
            o.id = frames[i].frame.id;
            o.len = frames[i].frame.len;
            std::copy(frames[i].frame.data.begin(), frames[i].frame.data.end(), o.data);
            o.status = frames[i].lostAfter ? VCI_RX_OVERRUN : 0;
            if (frames[i].lostAfter) losses_.Lost(std::chrono::steady_clock::now());
        }
        receive(objects_.data(), uint16_t(count));
    };
    // Marked before the bus starts: its first callbacks may already cancel the board.
    attached_ = true;
    if (network_->AttachHost(std::move(sink), txEntries, maxBatch, kRxFramesPerMs)) return true;
    attached_ = false;
    *error = "the simulated network serves another board already";
    return false;
}

int SimBackend::Transmit(uint32_t id, uint8_t len, const uint8_t* data) {
    sim::Frame frame;
    frame.id = id;
    frame.len = len;
    std::copy_n(data, len, frame.data.begin());
    return network_->HostTransmit(frame);
}

}  // namespace vci
