#include "RxMsgRing.h"

TRxMsgRing RxMsgRing;

void TRxMsgRing::Capture(const TRxMsg& frame) {
    std::lock_guard lock(lock_);
    if (stopped_.load(std::memory_order_relaxed)) return;
    const auto slot = static_cast<uint16_t>((writeIndex_.load(std::memory_order_relaxed) + 1) % kSlots);
    records_[slot] = frame;
    // The slot is complete before the index that names it is published.
    writeIndex_.store(slot, std::memory_order_release);
    if (suspended_.load(std::memory_order_relaxed) && slot == anchor_.load(std::memory_order_relaxed)) {
        stopped_.store(1, std::memory_order_release);
        suspended_.store(0, std::memory_order_release);
    }
}

void TRxMsgRing::Run() {
    std::lock_guard lock(lock_);
    suspended_.store(0, std::memory_order_release);
    stopped_.store(0, std::memory_order_release);
}

void TRxMsgRing::Suspend(uint16_t framesAhead) {
    std::lock_guard lock(lock_);
    anchor_.store(static_cast<uint16_t>((writeIndex_.load(std::memory_order_relaxed) + framesAhead) % kSlots),
                  std::memory_order_release);
    stopped_.store(0, std::memory_order_release);
    suspended_.store(1, std::memory_order_release);
}

uint16_t TRxMsgRing::Stop() {
    std::lock_guard lock(lock_);
    const uint16_t newest = writeIndex_.load(std::memory_order_relaxed);
    anchor_.store(newest, std::memory_order_release);
    suspended_.store(0, std::memory_order_release);
    stopped_.store(1, std::memory_order_release);
    return newest;
}

void TRxMsgRing::Clear() {
    std::lock_guard lock(lock_);
    records_.fill(TRxMsg{});
    writeIndex_.store(0, std::memory_order_release);
    anchor_.store(0, std::memory_order_release);
}

TRxMsg TRxMsgRing::Record(uint16_t slot) const {
    std::lock_guard lock(lock_);
    return records_[slot % kSlots];
}
