// The log server: callers stamp their text and put it in a bounded queue; one writer thread moves
// the queue into the log files. Create, End and Destroy are serialised among themselves so that two
// threads shutting down at once cannot start or join the writer twice.
#include "logserver/Pelkin.h"

#include "rtl/Clock.h"
#include "rtl/Files.h"
#include "rtl/Messages.h"
#include "rtl/Thread.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Entry {
    rtl::LocalTime stamp;
    std::string text;
};

long DayNumber(const rtl::LocalTime& t) {
    using namespace std::chrono;
    return sys_days(year(t.year) / t.month / t.day).time_since_epoch().count();
}

std::string DroppedLine(uint64_t count) {
    return std::to_string(count) + " texts dropped (log queue full)";
}

// The writer's side: which file is open and where the next line goes.
class LogFile {
public:
    LogFile(std::string base, uint16_t period) : base_(std::move(base)), period_(period) {}
    ~LogFile() { Close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // False when the line could not be written.
    bool Write(const Entry& e) {
        if (!Open(e.stamp)) return false;
        const rtl::LocalTime& t = e.stamp;
        return std::fprintf(file_, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s\n", t.year, t.month, t.day,
                            t.hour, t.minute, t.second, t.millisecond, e.text.c_str()) >= 0;
    }
    bool Flush() { return file_ == nullptr || std::fflush(file_) == 0; }
    void Close() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
    }

private:
    bool Open(const rtl::LocalTime& t) {
        std::string name = base_;
        if (period_ != 0) {
            long day = DayNumber(t);
            if (file_ != nullptr && day >= firstDay_ && day < firstDay_ + period_) return true;
            char date[16];
            std::snprintf(date, sizeof date, "_%04d%02d%02d", t.year, t.month, t.day);
            name += date;
            firstDay_ = day;
            Close();
        } else if (file_ != nullptr) {
            return true;
        }
        name += ".log";
        file_ = std::fopen(name.c_str(), "ab");
        // Said once until a file opens again, not at every line that is lost.
        if (file_ == nullptr && !openFailed_)
            std::fprintf(stderr, "Pelkin: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
        openFailed_ = file_ == nullptr;
        return file_ != nullptr;
    }

    const std::string base_;
    const uint16_t period_;
    std::FILE* file_ = nullptr;
    long firstDay_ = 0;
    bool openFailed_ = false;
};

class LogServer {
public:
    // What is still queued at exit reaches the file; no window is told, it may be gone.
    ~LogServer() {
        Unsubscribe();
        End();
    }

    void Subscribe(void* window) {
        std::lock_guard lk(m_);
        window_ = window;
    }
    void Unsubscribe() { Subscribe(nullptr); }

    void Create(const char* dir, const char* name, uint16_t duration) {
        std::lock_guard life(life_);
        std::lock_guard lk(m_);
        if (phase_ != Phase::None) return;
        std::string folder = dir != nullptr ? dir : "";
        std::error_code ignored;  // an unusable folder shows as a file error on the first line
        if (!folder.empty()) std::filesystem::create_directories(rtl::NativePath(folder), ignored);
        if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
        std::string base = rtl::NativePath(folder + (name != nullptr ? name : ""));
        phase_ = Phase::Running;
        enabled_ = true;
        fileOk_ = true;
        stop_ = false;
        held_ = false;
        dropped_ = 0;
        writer_ = std::thread(&LogServer::Writer, this, std::move(base), duration);
        Changed();
    }

    void Enable(bool on) {
        std::lock_guard lk(m_);
        if (phase_ != Phase::Running) return;
        enabled_ = on;
        Changed();
    }

    void Send(const char* text) {
        if (text == nullptr || !accepting_.load(std::memory_order_relaxed)) return;
        Entry e{rtl::GetLocalTime(), text};
        bool wake;
        {
            std::lock_guard lk(m_);
            if (!accepting_.load(std::memory_order_relaxed)) return;
            size_t need = dropped_ != 0 ? 2 : 1;
            if (queue_.size() + need > PELKIN_QUEUE_CAPACITY) {
                ++dropped_;
                return;
            }
            wake = queue_.empty();
            if (dropped_ != 0) {
                queue_.push_back({e.stamp, DroppedLine(dropped_)});
                dropped_ = 0;
            }
            queue_.push_back(std::move(e));
        }
        // Outside the lock, so that the woken writer does not run into it.
        if (wake) wake_.notify_one();
    }

    void Hold(bool on) {
        std::unique_lock lk(m_);
        held_ = on;
        wake_.notify_one();
        if (!on) taken_.wait(lk, [&] { return queue_.empty() || phase_ != Phase::Running; });
    }

    void End() {
        std::lock_guard life(life_);
        EndWriter();
    }

    void Destroy() {
        std::lock_guard life(life_);
        EndWriter();
        std::lock_guard lk(m_);
        phase_ = Phase::None;
        Changed();
    }

private:
    enum class Phase { None, Running, Ended };

    // Called with m_ held after every change of what decides the state.
    void Changed() {
        accepting_.store(phase_ == Phase::Running && enabled_, std::memory_order_relaxed);
        uint8_t state = phase_ == Phase::None  ? PELKIN_STATE_NONE
                        : phase_ == Phase::Ended ? PELKIN_STATE_ENDED
                        : !enabled_             ? PELKIN_STATE_OFF
                        : !fileOk_              ? PELKIN_STATE_FILE_ERROR
                                                : PELKIN_STATE_ON;
        if (state == reported_) return;
        reported_ = state;
        // Posted under the lock so that the window sees the states in the order they happened.
        if (window_ != nullptr) rtl::PostMessage(window_, UM_LOGSTATE, state, 0);
    }

    // With life_ held.
    void EndWriter() {
        std::thread writer;
        {
            std::lock_guard lk(m_);
            if (phase_ != Phase::Running) return;
            phase_ = Phase::Ended;
            stop_ = true;
            writer = std::move(writer_);
            Changed();
        }
        wake_.notify_one();
        writer.join();
    }

    void Writer(std::string base, uint16_t period) {
        rtl::SetThreadName("Pelkin writer");
        LogFile file(std::move(base), period);
        std::unique_lock lk(m_);
        for (;;) {
            wake_.wait(lk, [&] { return stop_ || (!queue_.empty() && !held_); });
            if (queue_.empty()) break;
            std::deque<Entry> batch;
            batch.swap(queue_);
            taken_.notify_all();
            lk.unlock();
            bool ok = true;
            for (const Entry& e : batch) ok = file.Write(e) && ok;
            ok = file.Flush() && ok;
            lk.lock();
            if (fileOk_ != ok) {
                fileOk_ = ok;
                Changed();
            }
        }
        // Texts dropped after the last one that found room.
        if (dropped_ != 0) file.Write({rtl::GetLocalTime(), DroppedLine(dropped_)});
        dropped_ = 0;
    }

    std::mutex life_;
    std::mutex m_;
    std::condition_variable wake_;   // the writer: texts queued, release or stop
    std::condition_variable taken_;  // Hold(false): the writer took the queue
    std::atomic<bool> accepting_{false};  // mirrors Running && enabled_ for the unlocked first check
    Phase phase_ = Phase::None;
    bool enabled_ = false;
    bool fileOk_ = true;
    bool stop_ = false;
    bool held_ = false;
    uint64_t dropped_ = 0;
    std::deque<Entry> queue_;
    std::thread writer_;
    void* window_ = nullptr;
    uint8_t reported_ = PELKIN_STATE_NONE;
};

LogServer server;

}  // namespace

extern "C" {

void _PELKINSubscribe(void* window) { server.Subscribe(window); }
void _PELKINCreate(const char* dir, const char* name, uint16_t duration) {
    server.Create(dir, name, duration);
}
void _PELKINEnDisReq(uint8_t enable) { server.Enable(enable != 0); }
void _PELKINSendString(const char* text) { server.Send(text); }
void _PELKINEnd(void) { server.End(); }
void _PELKINDestroy(void) { server.Destroy(); }
void _PELKINUnsubscribe(void) { server.Unsubscribe(); }
void _PELKINTestHold(uint8_t hold) { server.Hold(hold != 0); }

}  // extern "C"
