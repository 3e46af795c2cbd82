#include "sim/Network.h"

#include <dlfcn.h>

#include <algorithm>
#include <utility>

#include "rtl/Thread.h"
#include "sim/NetworkFile.h"

namespace sim {
namespace {

// Bus time an unthrottled bus runs between two looks at its host.
constexpr Time kUnthrottledSlice = 100 * kMs;

std::mutex sharedLock;
std::shared_ptr<Network> sharedNetwork;
std::string descriptionPath;  // "": the default

// Nodes switched on together do not all boot in the same instant.
Time BootStagger(uint8_t number) { return kMs + (number % 16) * 3 * kMs; }

}  // namespace

Network::Network() : realAnchor_(std::chrono::steady_clock::now()) {}

Network::~Network() { DetachHost(); }

std::shared_ptr<Network> Network::Load(const std::string& path, std::string* error) {
    std::vector<NodeConfig> nodes;
    if (!ReadNetworkFile(path, &nodes, error)) return nullptr;
    auto network = std::make_shared<Network>();
    for (const NodeConfig& n : nodes) network->AddNode(n);
    return network;
}

std::string Network::DefaultDescriptionPath() {
    Dl_info info{};
    std::string dir;
    if (dladdr(reinterpret_cast<void*>(&Network::DefaultDescriptionPath), &info) && info.dli_fname) {
        dir = info.dli_fname;
        dir.resize(dir.find_last_of('/') == std::string::npos ? 0 : dir.find_last_of('/') + 1);
    }
    return dir + "sim/network.ini";
}

std::shared_ptr<Network> Network::Shared(std::string* error) {
    std::lock_guard lock(sharedLock);
    std::string why;
    if (!sharedNetwork) {
        sharedNetwork = Load(descriptionPath.empty() ? DefaultDescriptionPath() : descriptionPath, &why);
        if (!sharedNetwork && error) *error = why;
    }
    return sharedNetwork;
}

void Network::SetDescriptionPath(std::string path) {
    std::lock_guard lock(sharedLock);
    descriptionPath = std::move(path);
}

void Network::Install(std::shared_ptr<Network> network) {
    std::lock_guard lock(sharedLock);
    sharedNetwork = std::move(network);
}

void Network::AddNode(const NodeConfig& config) {
    std::lock_guard lock(m_);
    auto node = std::make_unique<Node>(config);
    node->Boot(now_ + BootStagger(config.number));
    auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](auto& n) { return n->Number() == config.number; });
    if (busy_ && onWire_.sender == config.number) busy_ = false;  // the old node's frame is cut off
    if (it != nodes_.end())
        *it = std::move(node);
    else
        nodes_.push_back(std::move(node));
    wake_.notify_all();
}

Node* Network::FindNode(uint8_t number) const {
    for (auto& n : nodes_)
        if (n->Number() == number) return n.get();
    return nullptr;
}

// --- time

Time Network::RealNow() const {
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - realAnchor_);
    return busAnchor_ + Time(std::max<int64_t>(elapsed.count(), 0));
}

void Network::Anchor() {
    realAnchor_ = std::chrono::steady_clock::now();
    busAnchor_ = now_;
}

void Network::SetBitRate(uint32_t bitsPerSecond) {
    std::lock_guard lock(m_);
    if (bitsPerSecond) bitRate_ = bitsPerSecond;
}

uint32_t Network::BitRate() const {
    std::lock_guard lock(m_);
    return bitRate_;
}

void Network::SetTimeMode(TimeMode mode) {
    std::lock_guard lock(m_);
    if (mode == TimeMode::RealTime && mode_ != TimeMode::RealTime) Anchor();
    mode_ = mode;
    wake_.notify_all();
}

TimeMode Network::Mode() const {
    std::lock_guard lock(m_);
    return mode_;
}

Time Network::Now() const {
    std::lock_guard lock(m_);
    return now_;
}

bool Network::OnBusThread() const { return busThread_.get_id() == std::this_thread::get_id(); }

void Network::Advance(Time dt) {
    std::unique_lock lock(m_);
    const Time until = now_ + dt;
    for (;;) {
        // From the sink itself the frames can only be handed over after it returns.
        const bool wait = hostAttached_ && !OnBusThread();
        const bool reached = RunUntil(until, wait ? kHostRxCapacity : SIZE_MAX);
        if (wait) {
            wake_.notify_all();
            const uint64_t generation = generation_;
            delivered_.wait(lock, [&] { return (hostRx_.empty() && delivering_ == 0) || generation != generation_; });
        }
        if (reached) return;
    }
}

// --- the event loop

Time Network::NextTimer() const {
    Time t = kNever;
    for (auto& n : nodes_) t = std::min(t, n->NextTimer());
    return t;
}

Time Network::EarliestReady() const {
    Time t = backgroundNext_;
    if (!hostTx_.empty()) t = std::min(t, hostTx_.front().ready);
    if (!injected_.empty()) t = std::min(t, injected_.front().ready);
    for (auto& n : nodes_) t = std::min(t, n->EarliestReady());
    return t;
}

Time Network::NextEvent() const {
    return std::min(NextTimer(), busy_ ? onWire_.end : EarliestReady());
}

bool Network::RunUntil(Time until, size_t hostLimit) {
    for (;;) {
        if (hostRx_.size() >= hostLimit) return false;
        const Time timer = NextTimer();
        if (busy_) {
            const Time t = std::min(timer, onWire_.end);
            if (t > until) break;
            now_ = std::max(now_, t);
            if (timer <= onWire_.end) {
                for (auto& n : nodes_)
                    if (n->NextTimer() <= now_) n->Wake(now_);
            } else {
                FinishFrame();
            }
            continue;
        }
        const Time t = std::min(timer, EarliestReady());
        if (t > until) break;
        now_ = std::max(now_, t);
        if (timer <= now_) {
            for (auto& n : nodes_)
                if (n->NextTimer() <= now_) n->Wake(now_);
            continue;
        }
        StartFrame();
    }
    now_ = std::max(now_, until);
    return true;
}

void Network::StartFrame() {
    const Frame* best = nullptr;
    int sender = 0;
    auto consider = [&](const Frame* f, int from) {
        if (f && (!best || f->id < best->id)) {
            best = f;
            sender = from;
        }
    };
    if (!hostTx_.empty() && hostTx_.front().ready <= now_) consider(&hostTx_.front().frame, kSenderHost);
    for (auto& n : nodes_) consider(n->Ready(now_), n->Number());
    if (!injected_.empty() && injected_.front().ready <= now_) consider(&injected_.front().frame, kSenderInjected);
    if (backgroundNext_ <= now_) consider(&backgroundFrame_, kSenderBackground);
    if (!best) return;
    const Time bitTime = 1'000'000'000ull / bitRate_;
    onWire_ = BusFrame{now_, now_ + FrameBits(*best) * bitTime, *best, sender};
    busy_ = true;
}

void Network::FinishFrame() {
    busy_ = false;
    const BusFrame& done = onWire_;
    switch (done.sender) {
    case kSenderHost:
        hostTx_.pop_front();
        break;
    case kSenderInjected:
        injected_.pop_front();
        break;
    case kSenderBackground: {
        const Time duration = done.end - done.start;
        backgroundNext_ = backgroundPercent_ == 0 ? kNever
                                                  : done.end + duration * (100 - backgroundPercent_) / backgroundPercent_;
        break;
    }
    default:
        if (Node* n = FindNode(uint8_t(done.sender))) n->Transmitted(done.frame);
    }
    if (capture_) captured_.push_back(done);
    Dispatch(done.frame, done.sender);
}

void Network::Dispatch(const Frame& frame, int sender) {
    if (hostAttached_ && sender != kSenderHost) {
        // A full queue drops the frame, as a board's receive buffer does, and says so on the newest kept.
        if (hostRx_.size() < kHostRxCapacity)
            hostRx_.push_back({now_, {uint32_t(now_ / (100 * kUs)), frame}});
        else
            hostRx_.back().frame.lostAfter = true;
    }
    for (auto& n : nodes_)
        if (n->Number() != sender) n->Receive(frame, now_);

    // Command frames: to one device, to everyone (0x410), to the controller's group (0x37E), or to
    // the group of device h (0x300 + h): h and every device with the same master.
    const uint32_t id = frame.id;
    const uint8_t h = uint8_t(id & 0x7F);
    std::optional<uint8_t> groupMaster;
    bool everyone = false;
    if ((id & 0x780) == 0x200 && h >= 21 && h <= 125) {
        if (Node* n = FindNode(h); n && n->Number() != sender) n->ApplyCommand(frame, now_);
        return;
    }
    if (id == 0x410) {
        everyone = true;
    } else if (id == 0x37E) {
        groupMaster = kController;
    } else if ((id & 0x780) == 0x300 && h >= 21 && h <= 125) {
        const Node* head = FindNode(h);
        groupMaster = head ? head->Master() : h;
    } else {
        return;
    }
    for (auto& n : nodes_)
        if (n->Number() != sender && (everyone || n->Master() == groupMaster || n->Number() == h))
            n->ApplyCommand(frame, now_);
}

// --- the host port

bool Network::AttachHost(HostSink sink, size_t txEntries, size_t maxBatch, size_t perMs) {
    std::lock_guard lock(m_);
    if (hostAttached_) return false;
    hostAttached_ = true;
    hostTxEntries_ = txEntries;
    maxBatch_ = std::max<size_t>(maxBatch, 1);
    if (perMs)
        hostPace_.emplace(perMs, std::chrono::milliseconds(1));
    else
        hostPace_.reset();
    hostTx_.clear();
    hostRx_.clear();
    Anchor();  // bus time stood still while no host was there
    busThread_ = std::thread(&Network::BusLoop, this, weak_from_this().lock(), std::move(sink), ++generation_);
    return true;
}

void Network::DetachHost() {
    std::unique_lock lock(m_);
    if (!hostAttached_) return;
    hostAttached_ = false;
    ++generation_;
    hostTx_.clear();
    hostRx_.clear();
    if (busy_ && onWire_.sender == kSenderHost) busy_ = false;  // the controller stops mid-frame
    wake_.notify_all();
    delivered_.notify_all();
    std::thread thread = std::move(busThread_);
    lock.unlock();
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();  // called from the sink: the loop ends when the sink returns
    else if (thread.joinable())
        thread.join();
}

bool Network::HostAttached() const {
    std::lock_guard lock(m_);
    return hostAttached_;
}

int Network::HostTransmit(const Frame& frame) {
    std::lock_guard lock(m_);
    if (!hostAttached_ || refuseTransmit_ || hostTx_.size() >= hostTxEntries_) return 0;
    hostTx_.push_back({mode_ == TimeMode::RealTime ? std::max(now_, RealNow()) : now_, frame});
    wake_.notify_all();
    return 1;
}

int Network::HostQueueLevel() const {
    std::lock_guard lock(m_);
    return int(hostTx_.size());
}

Time Network::HostLag() const {
    std::lock_guard lock(m_);
    if (hostRx_.empty()) return 0;
    const Time now = mode_ == TimeMode::RealTime ? RealNow() : now_;
    return now > hostRx_.front().end ? now - hostRx_.front().end : 0;
}

void Network::BusLoop(std::shared_ptr<Network> self, HostSink sink, uint64_t generation) {
    rtl::SetThreadName("sim bus");
    std::vector<Delivered> batch;
    std::unique_lock lock(m_);
    while (generation_ == generation) {
        const TimeMode mode = mode_;
        // A paced host takes frames as the clock allows, whoever reads them after it; meanwhile
        // the bus runs on and the frames wait here.
        const bool paced = hostPace_ && mode == TimeMode::RealTime;
        const auto wall = std::chrono::steady_clock::now();
        if (!hostRx_.empty()) {
            const size_t allowed = paced ? hostPace_->Allowance(wall) : hostRx_.size();
            if (allowed > 0) {
                const size_t count = std::min(allowed, hostRx_.size());
                if (paced) hostPace_->Took(count, wall);
                Deliver(lock, sink, generation, batch, count);
                continue;
            }
        }
        if (mode == TimeMode::Manual) {
            wake_.wait(lock);
            continue;
        }
        const bool caughtUp = RunUntil(mode == TimeMode::RealTime ? RealNow() : now_ + kUnthrottledSlice,
                                       paced ? SIZE_MAX : maxBatch_);
        if (!caughtUp || (!hostRx_.empty() && (!paced || hostPace_->Allowance(wall) > 0))) continue;
        const Time next = NextEvent();
        if (next != kNever && mode == TimeMode::Unthrottled) continue;
        auto until = std::chrono::steady_clock::time_point::max();
        if (next != kNever)
            until = realAnchor_ + std::chrono::nanoseconds(next > busAnchor_ ? next - busAnchor_ : 0);
        if (!hostRx_.empty()) until = std::min(until, hostPace_->Next());
        if (until == std::chrono::steady_clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, until);
    }
    lock.unlock();
    self.reset();  // may be the last owner
}

void Network::Deliver(std::unique_lock<std::mutex>& lock, const HostSink& sink, uint64_t generation,
                      std::vector<Delivered>& batch, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        batch.push_back(hostRx_.front().frame);
        hostRx_.pop_front();
    }
    const size_t maxBatch = maxBatch_;
    ++delivering_;
    lock.unlock();
    for (size_t at = 0; at < batch.size() && generation_ == generation; at += maxBatch)
        sink(batch.data() + at, std::min(maxBatch, batch.size() - at));
    lock.lock();
    batch.clear();
    --delivering_;
    delivered_.notify_all();
}

// --- faults and observation

void Network::SetRefuseTransmit(bool refuse) {
    std::lock_guard lock(m_);
    refuseTransmit_ = refuse;
}

void Network::Inject(const Frame& frame, unsigned count) {
    std::lock_guard lock(m_);
    const Time ready = mode_ == TimeMode::RealTime && hostAttached_ ? std::max(now_, RealNow()) : now_;
    for (unsigned i = 0; i < count; ++i) injected_.push_back({ready, frame});
    wake_.notify_all();
}

void Network::SetBackgroundLoad(unsigned percent, const Frame& pattern) {
    std::lock_guard lock(m_);
    backgroundPercent_ = std::min(percent, 100u);
    backgroundFrame_ = pattern;
    if (backgroundPercent_ == 0)
        backgroundNext_ = kNever;
    else if (backgroundNext_ == kNever)
        backgroundNext_ = mode_ == TimeMode::RealTime && hostAttached_ ? std::max(now_, RealNow()) : now_;
    wake_.notify_all();
}

std::vector<uint8_t> Network::NodeNumbers() const {
    std::lock_guard lock(m_);
    std::vector<uint8_t> numbers;
    for (auto& n : nodes_) numbers.push_back(n->Number());
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<NodeInfo> Network::NodeState(uint8_t number) const {
    std::lock_guard lock(m_);
    if (const Node* n = FindNode(number)) return n->Info();
    return std::nullopt;
}

void Network::SetFaults(uint8_t number, const NodeFaults& faults) {
    std::lock_guard lock(m_);
    if (Node* n = FindNode(number)) n->SetFaults(faults);
    wake_.notify_all();
}

void Network::ChangeValues(uint8_t number, const std::function<void(NodeValues&)>& change) {
    std::lock_guard lock(m_);
    if (Node* n = FindNode(number)) change(n->Values());
}

void Network::SetCapture(bool on) {
    std::lock_guard lock(m_);
    capture_ = on;
}

std::vector<BusFrame> Network::TakeCapture() {
    std::lock_guard lock(m_);
    return std::exchange(captured_, {});
}

}  // namespace sim
