#include "Protocol.h"

#include <algorithm>

#include "logserver/Pelkin.h"
#include "rtl/Clock.h"

std::atomic<TProtocol*> Protocol{nullptr};
std::atomic<rtl::TCriticalSection*> RxRingLock{nullptr};

void LogLine(const char* text) { _PELKINSendString(text); }

TProtocol::TProtocol(bool createSuspended) : rtl::TThread(createSuspended) {
    for (auto& d : HeartbeatDeadline) d.store(0);
    for (int n = FirstDevice; n <= SystemNode; ++n) SetDeadline(HeartbeatDeadline[n], 0);
}

TProtocol::~TProtocol() {
    // The body's closing step cancels the board; a thread that never ran a pass still runs it.
    Finish();
    CloseBoard();
}

bool TProtocol::IsIdle() const { return Busy == 0 && Suspended(); }

void TProtocol::CloseBoard() {
    if (BoardPrepared && !BoardCancelled.exchange(true)) VCI_CancelBoard(Board);
}

void TProtocol::SetDeadline(std::atomic<uint64_t>& deadline, int32_t ms) {
    const auto units = static_cast<int32_t>(static_cast<int64_t>(ms) * 10000);
    deadline.store(rtl::GetSystemTimeAsFileTime() + static_cast<uint64_t>(static_cast<int64_t>(units)));
}

bool TProtocol::DeadlinePassed(uint64_t deadline) { return deadline < rtl::GetSystemTimeAsFileTime(); }

void TProtocol::CheckHeartbeats() {
    for (int n = FirstDevice; n <= SystemNode; ++n) {
        const auto node = static_cast<uint8_t>(n);
        const uint64_t deadline = HeartbeatDeadline[n].load();
        if (!IsNodeAlive(node) || !DeadlinePassed(deadline)) continue;
        // A heartbeat decoded since the deadline was read has re-armed it: the node stays.
        std::lock_guard guard(HeartbeatLock);
        if (HeartbeatDeadline[n].load() != deadline) continue;
        SetValueEx(EntryPresence, node, 0);
        SetValueEx(EntryOperational, node, 0);
    }
}

uint32_t TProtocol::RestMs() const {
    // A command or an exchange follows the replies the receive thread books: a pass every ms.
    if (CommandBlock.Target.load() != 0 || Due200CNode != 0 || SdoTransactionNode.load() != 0) return 1;
    // A node that turns present during a rest expires 3000 ms on, well after the longest rest.
    uint64_t first = UINT64_MAX;
    for (int n = FirstDevice; n <= SystemNode; ++n)
        if (IsNodeAlive(static_cast<uint8_t>(n))) first = std::min(first, HeartbeatDeadline[n].load());
    const uint64_t now = rtl::GetSystemTimeAsFileTime();
    if (first == UINT64_MAX || first >= now + uint64_t(MaxRestMs) * 10000) return MaxRestMs;
    // Passed when strictly earlier than now: one ms past the deadline.
    return first < now ? 1 : static_cast<uint32_t>((first - now) / 10000) + 1;
}

void TProtocol::Execute() {
    rtl::SetThreadName("TProtocol");
    while (!Terminated()) {
        if (Flags.fetch_and(static_cast<uint8_t>(~ResetStatRequest)) & ResetStatRequest) {
            // Callers may be reading the record through their pointer right now: only counters
            // that are not zero are written, so resetting a record of zeros writes nothing.
            for (size_t i = 0; i < sizeof Stat.Counter / sizeof Stat.Counter[0]; ++i)
                if (Stat.Counter[i] != 0) Stat.Counter[i] = 0;
            LogLine("Reset stat");
        }
        CheckHeartbeats();
        SendPendingCommand();
        SuperviseSdo();
        // Once termination is asked for the thread no longer suspends itself, so that whoever
        // waits for its end is not left hanging.
        if (SuspendRequest.exchange(0) && !Terminated()) {
            LogLine("TProtocol:Suspend");
            Suspend();
        }
        Rest(RestMs());
    }
    CloseBoard();
    LogLine("TProtocol:Protocol on terminate");
}
