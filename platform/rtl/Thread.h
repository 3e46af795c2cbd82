// Worker thread with the life cycle the system's threads rely on: created suspended, started by
// Resume, able to suspend itself from its body until the next Resume, asked to end by Terminate.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace rtl {

// Names the calling thread as the system's tools show it (at most 15 characters are kept).
void SetThreadName(const char* name);

class TThread {
public:
    explicit TThread(bool createSuspended);
    // Derived classes must call Finish() in their own destructor, before their members go, because
    // the body may still be running. This destructor only asserts that it was done.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a thread created suspended, or wakes one that suspended itself.
    void Resume();
    // Asks the body to end; it polls Terminated(). A thread suspended by itself is woken so that it can.
    void Terminate();
    bool Terminated() const;
    // True while never started or while suspended by itself.
    bool Suspended() const;
    bool Finished() const;
    // Ends a Rest of the body early; a wake that finds the body busy ends its next Rest at once.
    void Wake();
    // Blocks until the body has returned (returns at once for a thread never started) and then,
    // once, runs OnTerminate on the calling thread.
    void WaitFor();

    // The end handler, run by the first WaitFor after the body returned (in practice the GUI thread).
    std::function<void(TThread*)> OnTerminate;

protected:
    virtual void Execute() = 0;
    // Self-suspension from the body: blocks until Resume. Returns at once when termination has been
    // requested, so that a waiter never hangs.
    void Suspend();
    // Sleeps up to ms milliseconds of real time, less when Wake or Terminate comes first. Virtual so
    // that a test can see the rests a body asks for and move a manual clock by them instead.
    virtual void Rest(uint32_t ms);
    // Destruction steps: Terminate; start a never-started thread (its body then sees Terminated at
    // once and runs no pass); wake a suspended one; WaitFor.
    void Finish();

private:
    void Run();

    mutable std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    bool started_ = false;
    bool suspended_ = false;
    bool terminated_ = false;
    bool finished_ = false;
    bool endHandlerRun_ = false;
    bool woken_ = false;
};

}  // namespace rtl
