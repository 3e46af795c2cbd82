// The program's message ring: 10,000 received frames captured by the node poller on the scheduler
// thread, shown, paged and saved by the message-log window on the user-interface thread.
//
// Capture states: RUN (both flags 0) stores every frame; SUSP stores until the write index reaches
// the anchor, then switches to STOP by itself; STOP drops every frame. WriteIndex is the slot
// written last (0 at start and after a clear, so the first frame goes to slot 1).
//
// The capture and the window's commands (Run, Suspend, Stop, Clear) each act under one lock, so a
// command never pairs a new flag with an old anchor, a stop's anchor is exactly the last frame
// written, and a clear never meets a frame half-stored. The window learns of a stop the capture
// made by itself from Stopped() at its next refresh.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "Morvand.h"

class TRxMsgRing {
public:
    static constexpr uint16_t kSlots = 10000;

    // Capture side (scheduler thread): one frame drained from the library. Dropped in STOP.
    void Capture(const TRxMsg& frame);

    // Window side.
    void Run();                              // flags 0; indexes kept
    void Suspend(uint16_t framesAhead);      // anchor := write index + framesAhead
    uint16_t Stop();                         // anchor := write index (the newest kept); returned
    void Clear();                            // all slots zero, write index and anchor 0; flags kept

    // A copy of one slot, read whole.
    TRxMsg Record(uint16_t slot) const;
    uint16_t WriteIndex() const { return writeIndex_.load(std::memory_order_acquire); }
    uint16_t Anchor() const { return anchor_.load(std::memory_order_acquire); }
    bool Suspended() const { return suspended_.load(std::memory_order_acquire) != 0; }
    bool Stopped() const { return stopped_.load(std::memory_order_acquire) != 0; }

    // The record _GetRxMsg fills before the capture copies it; the scheduler thread's alone.
    TRxMsg Scratch{};

private:
    mutable std::mutex lock_;
    std::array<TRxMsg, kSlots> records_{};  // guarded by lock_
    // Written under lock_; read by the window without it.
    std::atomic<uint16_t> writeIndex_{0};
    std::atomic<uint16_t> anchor_{0};
    std::atomic<uint8_t> suspended_{0};
    std::atomic<uint8_t> stopped_{0};
};

// The program's one ring.
extern TRxMsgRing RxMsgRing;
