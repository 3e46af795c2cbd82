// The timing thread and the refresh dispatch. Every few milliseconds the thread rewrites SysTick
// (and the date and time texts when the second changed), posts UM_REFRESH to the application window
// every 100 ms (UM_TICK500 every 500 ms) and, unless paused, runs its entries (the node poller) on
// its own thread. The application message handler turns each UM_REFRESH into one run of
// RefreshList on the user-interface thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "Schedule.h"
#include "logserver/Pelkin.h"  // UM_LOGSTATE
#include "rtl/Thread.h"

constexpr uint32_t UM_TICK500 = rtl::WM_USER + 101;
constexpr uint32_t UM_REFRESH = rtl::WM_USER + 102;

// Frames the entries took from the library's receive ring in the pass under way (the poller adds
// them); the pass paces the next one by them.
extern std::atomic<uint32_t> DrainedFrames;

// The rest between the scheduler's passes. The poller drains the library's 19-frame receive ring
// on every pass; the shortest frames at 125 kbit/s fill it in about 8 ms, and a pass that waits for a
// CPU on a busy machine comes milliseconds late. Frames arriving at one a millisecond or faster
// therefore shorten the rest to 1 ms, until QuietMs pass without such a drain: longer than the ring
// takes to fill at the bus's limit, so a board that hands over a late batch still finds the short
// rest. So does a pass more than QuietMs late: the machine stalled, and the board hands on what it
// kept meanwhile. A quiet bus keeps the 4 ms rest.
class TPassPace {
public:
    static constexpr uint32_t SlowMs = 4, FastMs = 1, QuietMs = 10;
    // After a pass at tick whose drain found frames: the rest before the next pass.
    uint32_t Next(uint32_t tick, uint32_t frames);

private:
    uint32_t lastTick_ = 0;
    bool passed_ = false;
    uint32_t fastUntil_ = 0;
    bool fast_ = false;
};

class TScheduler : public rtl::TThread {
public:
    explicit TScheduler(bool createSuspended);
    // Ends the thread (a never-resumed one without running its loop); the end handler runs here.
    ~TScheduler() override;

    // Only while the thread is suspended, before its first Resume.
    void AddEntry(TFuncPtr entry);
    size_t EntryCount() const;

    // One pass of the loop without its rest: texts, tick, due messages, entries. Returns the rest
    // before the next pass: the pace's, never past the next refresh. Tests call it on a scheduler
    // that was never resumed.
    uint32_t Pass();

    // Non-zero: the entries are skipped; the texts, the tick and the messages go on.
    std::atomic<uint8_t> Paused{0};

protected:
    void Execute() override;

private:
    // The end handler: frees the entries, logs the end.
    void SchedulerTerminate(rtl::TThread* thread);

    uint32_t Next100 = 0;
    uint32_t Next500 = 0;
    uint32_t Tick = 0;
    uint64_t TextSecond = UINT64_MAX;  // second of the system time the texts were made for
    TPassPace Pace;
    std::unique_ptr<TFuncPtrList> Entries;
};

// A message as the application's loop takes it from its queue.
struct TMessage {
    rtl::HWND Window = nullptr;
    uint32_t Message = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

// Installed by the form layer: removes every UM_REFRESH still waiting for the application window.
extern std::function<void()> DiscardQueuedRefresh;

// The application's message hook: Alt+F4 asks the application to terminate, UM_REFRESH runs the
// refresh list once and drops the refreshes queued behind it, UM_LOGSTATE keeps the log server's
// state. handled := true for these; other messages are left alone.
void AppMessageHandler(const TMessage& msg, bool& handled);

// Frees the list with its entries; a null list is ignored.
void FreeFuncPtrList(std::unique_ptr<TFuncPtrList>& list);
