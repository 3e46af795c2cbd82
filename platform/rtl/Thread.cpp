#include "rtl/Thread.h"

#include <pthread.h>

#include <cassert>
#include <chrono>
#include <string>

namespace rtl {

void SetThreadName(const char* name) { pthread_setname_np(pthread_self(), std::string(name).substr(0, 15).c_str()); }

TThread::TThread(bool createSuspended) {
    if (!createSuspended) Resume();
}

TThread::~TThread() {
    // A running body would call into a half-destroyed object: derived classes must Finish() first.
    assert(!thread_.joinable() || finished_);
    if (thread_.joinable()) thread_.join();
}

void TThread::Run() {
    Execute();
    std::lock_guard lock(m_);
    finished_ = true;
    cv_.notify_all();
}

void TThread::Resume() {
    std::lock_guard lock(m_);
    if (!started_) {
        started_ = true;
        thread_ = std::thread(&TThread::Run, this);
        return;
    }
    suspended_ = false;
    cv_.notify_all();
}

void TThread::Terminate() {
    std::lock_guard lock(m_);
    terminated_ = true;
    cv_.notify_all();
}

bool TThread::Terminated() const {
    std::lock_guard lock(m_);
    return terminated_;
}

bool TThread::Suspended() const {
    std::lock_guard lock(m_);
    return !started_ || suspended_;
}

bool TThread::Finished() const {
    std::lock_guard lock(m_);
    return finished_;
}

void TThread::Suspend() {
    std::unique_lock lock(m_);
    if (terminated_) return;
    suspended_ = true;
    cv_.wait(lock, [this] { return !suspended_ || terminated_; });
    suspended_ = false;
}

void TThread::Wake() {
    std::lock_guard lock(m_);
    woken_ = true;
    cv_.notify_all();
}

void TThread::Rest(uint32_t ms) {
    std::unique_lock lock(m_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return woken_ || terminated_; });
    woken_ = false;
}

void TThread::WaitFor() {
    {
        std::unique_lock lock(m_);
        if (!started_) return;
        cv_.wait(lock, [this] { return finished_; });
        if (endHandlerRun_) return;
        endHandlerRun_ = true;
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    if (OnTerminate) OnTerminate(this);
}

void TThread::Finish() {
    Terminate();
    bool start;
    {
        std::lock_guard lock(m_);
        start = !started_;
    }
    if (start) Resume();
    WaitFor();
}

}  // namespace rtl
