// Critical section as the system uses them: recursive, entered and left explicitly.
#pragma once
#include <mutex>

namespace rtl {

class TCriticalSection {
public:
    void Enter() { m_.lock(); }
    void Leave() { m_.unlock(); }
    // For std::lock_guard and friends.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex m_;
};

}  // namespace rtl
