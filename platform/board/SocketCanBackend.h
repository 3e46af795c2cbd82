// A SocketCAN interface as a board: standard data frames only. The transmit queue is the board's
// own (its fill level is what the caller paces itself by); a writer thread hands frames to the
// socket, the board's thread reads. The interface's bit rate is the system's to set
// (ip link set can0 type can bitrate 125000).
//
// While the interface is down (also when it is down at the start, or gone with its adapter) nothing
// is queued (Transmit answers 0) and frames already queued are dropped; the board says so once
// through its note ("<interface>: interface down") and again when an interface of that name is up
// ("<interface>: interface up"), from when frames flow as before.
//
// Received frames go to the receive callback at the board's pace (kRxFramesPerMs); a backlog waits
// in the socket's buffer. Frames the kernel dropped there are told as every board tells a loss.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/Backend.h"

namespace vci {

class SocketCanBackend : public Backend {
public:
    // nullptr with the reason when the interface cannot be opened (no CAN support, no such interface).
    static std::shared_ptr<SocketCanBackend> Open(const std::string& interfaceName, std::string* error, Note note);
    ~SocketCanBackend() override;

    bool Start(uint32_t bitRate, size_t txEntries, size_t maxBatch, Receive receive, std::string* error) override;
    int Transmit(uint32_t id, uint8_t len, const uint8_t* data) override;
    int QueueLevel() const override;
    void Stop() override;

private:
    SocketCanBackend(int socket, int wakeup, std::string name, int index, Note note)
        : socket_(socket), wakeup_(wakeup), name_(std::move(name)), note_(std::move(note)), index_(index) {}
    void ReadLoop(std::shared_ptr<Backend> self, Receive receive, size_t maxBatch);
    void WriteLoop();
    bool InterfaceUp();
    void SetDown(bool down);
    static void JoinOrDetach(std::thread& thread);

    const int socket_;
    const int wakeup_;  // eventfd that ends the reader's wait
    const std::string name_;
    const Note note_;
    std::atomic<bool> down_{false};
    int index_;  // the interface the socket is bound to; the reader's
    std::chrono::steady_clock::time_point start_;

    mutable std::mutex m_;
    std::condition_variable queued_;
    struct Outgoing {
        uint32_t id;
        uint8_t len;
        uint8_t data[8];
    };
    std::deque<Outgoing> txQueue_;
    size_t txEntries_ = 0;
    bool running_ = false;
    std::thread reader_, writer_;
};

}  // namespace vci
