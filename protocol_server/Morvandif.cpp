// Exported interface: the life cycle of the one protocol instance.
#include <string>

#include "Protocol.h"
#include "rtl/Files.h"
#include "rtl/Profile.h"

namespace {

void* SubscriberWindow = nullptr;
// The library has no window: this stands for its own handle, so that the subscription
// _CreateCANThread makes is taken until _DestroyCANThread.
char LibraryWindow;

}  // namespace

extern "C" {

int16_t _CreateCANThread(const char* baseName) {
    if (!baseName) return 1;
    const std::string file = std::string(baseName) + ".ini";
    if (!rtl::FileExists(file)) return 1;
    const int topSpeed = rtl::GetPrivateProfileDecimal("General", "topSpeed", 99, file);
    if (topSpeed != 0 && topSpeed != 1) return 2;
    _MORVANDSubscribe(&LibraryWindow);
    if (!_MORVANDProtocolCreate(topSpeed == 1 ? 1 : 0)) return 3;
    _MORVANDProtocolBegin();
    return 0;
}

int16_t _DestroyCANThread(void) {
    _MORVANDProtocolEnd();
    _MORVANDProtocolDestroy();
    _MORVANDUnsubscribe();
    return 0;
}

bool _MORVANDSubscribe(void* window) {
    if (SubscriberWindow) return false;
    SubscriberWindow = window;
    return true;
}

bool _MORVANDUnsubscribe(void) {
    if (!SubscriberWindow) return false;
    SubscriberWindow = nullptr;
    return true;
}

bool _MORVANDProtocolCreate(uint8_t highSpeed) {
    if (Protocol.load()) {
        LogLine("MORVAND Protocol NOT Created: already existent");
        return false;
    }
    auto* p = new TProtocol(true);
    ChangeFlagLock.store(new rtl::TCriticalSection);
    RxRingLock.store(new rtl::TCriticalSection);
    Protocol.store(p);
    LogLine("MORVAND Protocol Created");
    p->HighSpeed = highSpeed ? 1 : 0;
    const bool ready = p->InitBoard();
    if (!ready) LogLine("MORVAND Protocol USB-CAN Not Initialized");
    return ready;
}

bool _MORVANDProtocolDestroy(void) {
    TProtocol* p = Protocol.load();
    if (!p) return false;
    // Deleting ends the thread (a never-started one too), which cancels the board: no receive
    // callback can come once the locks are gone.
    Protocol.store(nullptr);
    delete p;
    delete ChangeFlagLock.exchange(nullptr);
    delete RxRingLock.exchange(nullptr);
    LogLine("MORVAND Protocol Destroyed");
    return true;
}

bool _MORVANDProtocolBegin(void) {
    TProtocol* p = Protocol.load();
    if (!p || !p->Suspended()) return false;
    LogLine("MORVANDProtocolBegin");
    p->Resume();
    return true;
}

bool _MORVANDProtocolSuspend(void) {
    TProtocol* p = Protocol.load();
    if (!p || p->Suspended()) return false;
    LogLine("MORVANDProtocolSuspend");
    p->SuspendRequest.store(1);
    p->Wake();
    return true;
}

bool _MORVANDProtocolEnd(void) {
    TProtocol* p = Protocol.load();
    if (!p) return false;
    LogLine("MORVANDProtocolEnd");
    if (!p->Suspended()) {
        p->Terminate();
        p->WaitFor();
    }
    return true;
}

bool _MORVANDIsProtocolBusy(void) {
    TProtocol* p = Protocol.load();
    return !p || !p->IsIdle();
}

TDLLStat* _MORVANDGetDLLStatPtr(void) {
    TProtocol* p = Protocol.load();
    return p ? &p->Stat : nullptr;
}

void _MORVANDResetDLLStat(void) {
    LogLine("MORVANDResetDLLStat");
    if (TProtocol* p = Protocol.load()) {
        p->Flags.fetch_or(ResetStatRequest);
        p->Wake();
    }
}

}  // extern "C"
