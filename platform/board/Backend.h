// A bus behind a prepared board: the simulated network or a SocketCAN interface.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "board/VCI11UN6.h"

namespace vci {

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
// note receives informational texts (such as an interface that went down), also later from the
// board's own threads.
std::shared_ptr<Backend> MakeBackend(uint32_t boardType, uint16_t boardNumber, std::string* error,
                                     const std::function<void(const std::string&)>& note);

}  // namespace vci
