#include "Scheduler.h"

#include <algorithm>
#include <cstdio>

#include "rtl/Clock.h"

std::function<void()> DiscardQueuedRefresh;
std::atomic<uint32_t> DrainedFrames{0};

uint32_t TPassPace::Next(uint32_t tick, uint32_t frames) {
    const uint32_t since = std::max<uint32_t>(tick - lastTick_, 1);
    // A pass that comes late found the machine stalled: the board hands on what it kept meanwhile.
    const bool late = passed_ && since > QuietMs;
    passed_ = true;
    lastTick_ = tick;
    if (frames >= since || late) {
        fast_ = true;
        fastUntil_ = tick + QuietMs;
    } else if (fast_ && static_cast<int32_t>(tick - fastUntil_) >= 0) {
        fast_ = false;
    }
    return fast_ ? FastMs : SlowMs;
}

namespace {

constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uintptr_t VK_F4 = 0x73;

std::string DateOf(const rtl::LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", t.day, t.month, t.year);
    return text;
}

std::string TimeOf(const rtl::LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

}  // namespace

// The base thread is always created suspended: a thread started from the base constructor would
// run before this object's members exist.
TScheduler::TScheduler(bool createSuspended)
    : rtl::TThread(true), Tick(rtl::GetTickCount()), Entries(std::make_unique<TFuncPtrList>()) {
    OnTerminate = [this](rtl::TThread* thread) { SchedulerTerminate(thread); };
    SysTick.store(Tick);
    if (!createSuspended) Resume();
}

TScheduler::~TScheduler() { Finish(); }

void TScheduler::AddEntry(TFuncPtr entry) {
    if (Entries) Entries->push_back(entry);
}

size_t TScheduler::EntryCount() const { return Entries ? Entries->size() : 0; }

void TScheduler::Execute() {
    // Ended before it ever ran (destroyed while never resumed): no pass at all.
    if (Terminated()) return;
    rtl::SetThreadName("TScheduler");
    _PELKINSendString("Scheduler start event");
    while (!Terminated()) Rest(Pass());
}

uint32_t TScheduler::Pass() {
    const uint64_t second = rtl::GetSystemTimeAsFileTime() / 10'000'000;
    if (second != TextSecond) {
        TextSecond = second;
        DateText.Set(DateOf(rtl::GetLocalTime()));
        TimeText.Set(TimeOf(rtl::GetLocalTime()));
    }
    Tick = rtl::GetTickCount();
    SysTick.store(Tick);
    if (Tick > Next500) {
        rtl::PostMessage(AppWindowHandle, UM_TICK500, 0, 0);
        Next500 = Tick + 500;
    }
    if (Tick > Next100) {
        rtl::PostMessage(AppWindowHandle, UM_REFRESH, 0, 0);
        Next100 = Tick + 100;
    }
    DrainedFrames.store(0, std::memory_order_relaxed);
    if (Paused.load() == 0 && Entries) {
        for (const TFuncPtr& entry : *Entries)
            if (entry.Function) entry.Function(entry.Data);
    }
    // Not past the next refresh, so that its period keeps to the millisecond.
    return std::min(Pace.Next(Tick, DrainedFrames.load(std::memory_order_relaxed)), Next100 - Tick + 1);
}

void TScheduler::SchedulerTerminate(rtl::TThread*) {
    Entries.reset();
    _PELKINSendString("Scheduler on terminate event");
}

void AppMessageHandler(const TMessage& msg, bool& handled) {
    switch (msg.Message) {
        case WM_SYSKEYDOWN:
            if (msg.WParam != VK_F4) return;
            if (RequestTerminate) RequestTerminate();
            handled = true;
            return;
        case UM_REFRESH:
            // By index: a callback may register further entries while the list runs.
            for (size_t i = 0; RefreshList && i < RefreshList->size(); ++i) {
                const TFuncPtr entry = (*RefreshList)[i];
                if (entry.Function) entry.Function(entry.Data);
            }
            if (DiscardQueuedRefresh) DiscardQueuedRefresh();
            handled = true;
            return;
        case UM_LOGSTATE:
            LogState.store(static_cast<uint8_t>(msg.WParam & 0xFF));
            handled = true;
            return;
        default:
            return;
    }
}

void FreeFuncPtrList(std::unique_ptr<TFuncPtrList>& list) { list.reset(); }
