// A bus behind a prepared board: the simulated network or a SocketCAN interface.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "board/VCI11UN6.h"

namespace vci {

// The most received frames a board hands to the receive callback in a millisecond (and at once).
// A bus at its limit carries up to about 2.6; the rest of the rate takes up a backlog the board kept
// while the machine stalled. Three a millisecond fill the protocol library's 19-frame ring in no
// less than 5 ms, so a receiver that reads every 4 ms, a little late at times, loses nothing,
// whatever the receiver behind it does.
constexpr size_t kRxFramesPerMs = 3;

// Informational texts of a board (such as an interface that went down), also from its threads.
using Note = std::function<void(const std::string&)>;

// Says that received frames were lost (who + ": received frames lost"): once, and again only
// after a second without losses, so that a lasting flood is one line. The frames themselves carry
// VCI_RX_OVERRUN on the newest one kept before each gap.
class LossNote {
public:
    LossNote(std::string who, Note note) : who_(std::move(who)), note_(std::move(note)) {}
    void Lost(std::chrono::steady_clock::time_point now);

private:
    const std::string who_;
    const Note note_;
    std::chrono::steady_clock::time_point last_{};
    bool any_ = false;
};

class Backend : public std::enable_shared_from_this<Backend> {
public:
    // Called on the board's own thread with received frames, at most the batch size at a time.
    using Receive = std::function<void(VCI_CAN_OBJ* objects, uint16_t count)>;

    virtual ~Backend() = default;
    // Starts the bus; false (with the reason) when it cannot run.
    virtual bool Start(uint32_t bitRate, size_t txEntries, size_t maxBatch, Receive receive, std::string* error) = 0;
    // 1: queued; 0: not queued (queue full, refused, not started). Safe from any thread.
    virtual int Transmit(uint32_t id, uint8_t len, const uint8_t* data) = 0;
    // Frames queued and not yet sent.
    virtual int QueueLevel() const = 0;
    // Stops the bus; once it returns no Receive call runs or will run (called from Receive itself,
    // the running call is the last). The board's thread keeps the back-end alive while it runs.
    virtual void Stop() = 0;
};

// The back-end for a board the registry lists; nullptr with the reason when there is none.
std::shared_ptr<Backend> MakeBackend(uint32_t boardType, uint16_t boardNumber, std::string* error, const Note& note);

}  // namespace vci
