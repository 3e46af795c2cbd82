#include "board/SocketCanBackend.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "rtl/Pace.h"

namespace vci {
namespace {

// The kernel forgets a socket's filter with its interface: it is set again with every bind.
bool Bind(int s, int index) {
    // Standard data frames only: the extended-format and remote bits must be clear.
    can_filter filter{0, CAN_EFF_FLAG | CAN_RTR_FLAG};
    if (setsockopt(s, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter) < 0) return false;
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = index;
    return bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

// One frame, without waiting, and the kernel's count of frames the socket dropped before it.
ssize_t ReadFrame(int s, can_frame& frame, uint32_t& drops, int flags = 0) {
    iovec data{&frame, sizeof frame};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof drops)];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(s, &message, flags | MSG_DONTWAIT);
    drops = 0;  // the kernel adds the count only once it is not 0
    for (cmsghdr* c = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr; c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
    return got;
}

// The frames the socket has dropped so far; known when the kernel does not say.
uint32_t KernelDrops(int s, uint32_t known) {
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (getsockopt(s, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 || length <= SK_MEMINFO_DROPS * sizeof info[0])
        return known;
    return info[SK_MEMINFO_DROPS];
}

// A send or receive error that means the interface is down or gone.
bool InterfaceLost(int error) { return error == ENETDOWN || error == ENODEV || error == ENXIO; }

}  // namespace

std::shared_ptr<SocketCanBackend> SocketCanBackend::Open(const std::string& interfaceName, std::string* error,
                                                         Note note) {
    const int s = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (s < 0) {
        *error = "no SocketCAN support: " + std::string(std::strerror(errno));
        return nullptr;
    }
    auto fail = [&](const std::string& why) -> std::shared_ptr<SocketCanBackend> {
        *error = interfaceName + ": " + why;
        close(s);
        return nullptr;
    };
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) return fail("no such interface");
    if (!Bind(s, int(index))) return fail(std::strerror(errno));
    const int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) < 0) return fail(std::strerror(errno));
    const int wakeup = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeup < 0) return fail(std::strerror(errno));
    return std::shared_ptr<SocketCanBackend>(
        new SocketCanBackend(s, wakeup, interfaceName, int(index), std::move(note)));
}

SocketCanBackend::~SocketCanBackend() {
    Stop();
    close(socket_);
    close(wakeup_);
}

bool SocketCanBackend::Start(uint32_t, size_t txEntries, size_t maxBatch, Receive receive, std::string*) {
    std::lock_guard lock(m_);
    if (running_) return true;
    running_ = true;
    txEntries_ = txEntries;
    start_ = std::chrono::steady_clock::now();
    reader_ = std::thread(&SocketCanBackend::ReadLoop, this, shared_from_this(), std::move(receive), maxBatch);
    writer_ = std::thread(&SocketCanBackend::WriteLoop, this);
    return true;
}

int SocketCanBackend::Transmit(uint32_t id, uint8_t len, const uint8_t* data) {
    std::lock_guard lock(m_);
    if (!running_ || down_ || txQueue_.size() >= txEntries_) return 0;
    Outgoing frame{id, len, {}};
    std::memcpy(frame.data, data, len);
    txQueue_.push_back(frame);
    queued_.notify_one();
    return 1;
}

int SocketCanBackend::QueueLevel() const {
    std::lock_guard lock(m_);
    return int(txQueue_.size());
}

void SocketCanBackend::JoinOrDetach(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();  // stopped from the receive callback: the reader ends when it returns
    else
        thread.join();
}

void SocketCanBackend::Stop() {
    {
        std::lock_guard lock(m_);
        if (!running_) return;
        running_ = false;
        txQueue_.clear();
        queued_.notify_all();
    }
    const uint64_t one = 1;
    if (write(wakeup_, &one, sizeof one) < 0) { /* the reader also polls running_ */ }
    JoinOrDetach(reader_);
    JoinOrDetach(writer_);
}

void SocketCanBackend::WriteLoop() {
    std::unique_lock lock(m_);
    while (true) {
        queued_.wait(lock, [&] { return !running_ || !txQueue_.empty(); });
        if (!running_) return;
        const Outgoing next = txQueue_.front();
        lock.unlock();
        can_frame frame{};
        frame.can_id = next.id & CAN_SFF_MASK;
        frame.can_dlc = next.len;
        std::memcpy(frame.data, next.data, next.len);
        bool sent = false;
        while (!sent) {
            if (::write(socket_, &frame, sizeof frame) == ssize_t(sizeof frame)) {
                sent = true;
            } else if (errno == EAGAIN || errno == ENOBUFS) {
                pollfd p{socket_, POLLOUT, 0};
                poll(&p, 1, 10);  // the interface's queue is full: wait for room
                std::lock_guard check(m_);
                if (!running_) return;
            } else {
                if (InterfaceLost(errno)) SetDown(true);
                break;  // a frame the interface refuses is dropped, not retried for ever
            }
        }
        lock.lock();
        if (!txQueue_.empty()) txQueue_.pop_front();
    }
}

void SocketCanBackend::ReadLoop(std::shared_ptr<Backend> self, Receive receive, size_t maxBatch) {
    std::vector<VCI_CAN_OBJ> batch(maxBatch);
    rtl::TPace pace(kRxFramesPerMs, std::chrono::milliseconds(1));
    LossNote losses(name_, note_);
    uint32_t drops = KernelDrops(socket_, 0);  // the count at the newest frame read
    pollfd waits[2] = {{socket_, POLLIN, 0}, {wakeup_, POLLIN, 0}};
    SetDown(!InterfaceUp());
    while (true) {
        {
            std::lock_guard lock(m_);
            if (!running_) break;
        }
        auto now = std::chrono::steady_clock::now();
        const size_t allowed = std::min(pace.Allowance(now), maxBatch);
        if (allowed == 0) {
            // The frames wait in the socket's buffer until the pace allows the next.
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(pace.Next() - now);
            if (poll(&waits[1], 1, int(std::max<int64_t>(rest.count(), 1))) < 0 && errno != EINTR) break;
            if (waits[1].revents) break;
            continue;
        }
        if ((poll(waits, 2, 100) < 0 && errno != EINTR) || waits[1].revents) break;
        now = std::chrono::steady_clock::now();
        size_t count = 0;
        can_frame frame{};
        ssize_t got = 0;
        uint32_t frameDrops = 0;
        while (count < allowed && (got = ReadFrame(socket_, frame, frameDrops)) == ssize_t(sizeof frame)) {
            if (frameDrops != drops) {
                if (count > 0) batch[count - 1].status |= VCI_RX_OVERRUN;
                losses.Lost(now);
                drops = frameDrops;
            }
            VCI_CAN_OBJ& o = batch[count++];
            o.time_stamp = uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(now - start_).count() / 100);
            o.id = frame.can_id & CAN_SFF_MASK;
            o.len = frame.can_dlc > 8 ? 8 : frame.can_dlc;
            std::memcpy(o.data, frame.data, 8);
            o.status = 0;
        }
        const int readError = got < 0 ? errno : 0;
        // A gap right after the newest frame read: the next frame waiting tells, or the socket's
        // own count when none waits, before that frame is handed on.
        if (count > 0) {
            can_frame next{};
            uint32_t after = 0;
            if (count < allowed || ReadFrame(socket_, next, after, MSG_PEEK) != ssize_t(sizeof next))
                after = KernelDrops(socket_, drops);
            if (after != drops) {
                batch[count - 1].status |= VCI_RX_OVERRUN;
                losses.Lost(now);
                drops = after;
            }
        }
        // The kernel tells a socket once that its interface went down or away; that it is up
        // again is only seen by asking, at the latest after one poll period.
        if (InterfaceLost(readError))
            SetDown(true);
        else if (down_ && (count > 0 || InterfaceUp()))
            SetDown(false);
        if (count > 0) {
            pace.Took(count, now);
            receive(batch.data(), uint16_t(count));
        }
    }
    self.reset();  // may be the last owner
}

// An adapter plugged in again is a new interface of the same name: the socket is bound to it afresh.
bool SocketCanBackend::InterfaceUp() {
    ifreq request{};
    std::strncpy(request.ifr_name, name_.c_str(), IFNAMSIZ - 1);
    if (ioctl(socket_, SIOCGIFFLAGS, &request) != 0 || !(request.ifr_flags & IFF_UP)) return false;
    const int index = int(if_nametoindex(name_.c_str()));
    if (index != index_ && !Bind(socket_, index)) return false;
    index_ = index;
    return true;
}

void SocketCanBackend::SetDown(bool down) {
    if (down_.exchange(down) != down && note_) note_(name_ + (down ? ": interface down" : ": interface up"));
}

}  // namespace vci
