// The simulated CAN bus with its fan-coil nodes. Frames take the time they take at the bus's bit
// rate (stuff bits counted), the lowest identifier wins arbitration, every node hears every frame
// but its own. One host port stands for the interface board: its transmit queue drains at bus
// pace, it receives every frame but its own, and it is served on the bus thread the port starts.
//
// Time runs in one of three ways: with the wall clock (the shipped program), only when a test
// calls Advance (Manual), or as fast as the machine allows (Unthrottled, for stress tests).
// All members may be called from any thread.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rtl/Pace.h"
#include "sim/Frame.h"
#include "sim/Node.h"

namespace sim {

enum class TimeMode { RealTime, Manual, Unthrottled };

// Received frames the host port keeps for its host at the most.
constexpr size_t kHostRxCapacity = 1024;

// Who put a frame on the bus: a node number, or one of these.
constexpr int kSenderHost = -1, kSenderInjected = -2, kSenderBackground = -3;

struct BusFrame {
    Time start = 0, end = 0;
    Frame frame;
    int sender = 0;
};

// A frame as the host port receives it: the end of the frame in units of 100 us; lostAfter when
// the host port's queue was full and later frames were dropped.
struct Delivered {
    uint32_t stamp = 0;
    Frame frame;
    bool lostAfter = false;
};

class Network : public std::enable_shared_from_this<Network> {
public:
    Network();
    ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // A network with the nodes of a description file; nullptr with the reason when it is unusable.
    static std::shared_ptr<Network> Load(const std::string& path, std::string* error);
    // Adds a node that boots at once (a node with the same number is replaced).
    void AddNode(const NodeConfig& config);

    // The network the board library's simulated back-end runs on: the one a test installed, else
    // the one its description file describes (loaded once, then kept, so the nodes live on while
    // the board is cancelled and prepared again). nullptr with the reason when the file is missing
    // or cannot be read whole; the next call reads it again.
    static std::shared_ptr<Network> Shared(std::string* error = nullptr);
    static void Install(std::shared_ptr<Network> network);  // nullptr: forget the installed one
    static std::string DefaultDescriptionPath();             // sim/network.ini beside this library
    static void SetDescriptionPath(std::string path);       // a test's own file; "": the default

    // --- the bus
    void SetBitRate(uint32_t bitsPerSecond);
    uint32_t BitRate() const;
    void SetTimeMode(TimeMode mode);
    TimeMode Mode() const;
    Time Now() const;
    // Runs the bus for dt of bus time (Manual). When a host is attached, returns after the host
    // has been handed every frame that ended by then. Not to be called from the host's sink.
    void Advance(Time dt);

    // --- the host port
    using HostSink = std::function<void(const Delivered* frames, size_t count)>;
    // Starts serving the host: sink is called on the bus thread with received frames, in batches
    // of at most maxBatch. With perMs, frames go to a real-time host at no more than perMs a
    // millisecond; the others wait in the host port's queue, which holds kHostRxCapacity frames.
    // False when a host is attached already.
    bool AttachHost(HostSink sink, size_t txEntries, size_t maxBatch, size_t perMs = 0);
    // Stops the bus thread; once it returns the sink is not called again. Pending transmissions
    // are dropped.
    void DetachHost();
    bool HostAttached() const;
    // 1: queued; 0: the queue is full, transmits are refused, or no host is attached.
    int HostTransmit(const Frame& frame);
    // Frames queued and not yet completely on the bus.
    int HostQueueLevel() const;
    // How far behind the bus the host is: now less the end of the oldest frame not yet handed to
    // it (0 when none waits).
    Time HostLag() const;

    // --- bus faults
    void SetRefuseTransmit(bool refuse);
    // Frames from a device outside the network, all ready at once (a burst when count > 1).
    void Inject(const Frame& frame, unsigned count = 1);
    // Traffic of another device keeping the bus busy for the given share of time (0 to 100 %).
    void SetBackgroundLoad(unsigned percent, const Frame& pattern = Frame(0x7C0, {0, 0, 0, 0, 0, 0, 0, 0}));

    // --- nodes
    std::vector<uint8_t> NodeNumbers() const;
    std::optional<NodeInfo> NodeState(uint8_t number) const;
    void SetFaults(uint8_t number, const NodeFaults& faults);
    // Changes a node's values (a test's stand-in for the room).
    void ChangeValues(uint8_t number, const std::function<void(NodeValues&)>& change);

    // --- observation: every frame that completed on the bus while capturing
    void SetCapture(bool on);
    std::vector<BusFrame> TakeCapture();

private:
    Node* FindNode(uint8_t number) const;
    Time RealNow() const;  // lock held
    void Anchor();         // lock held: bus time now corresponds to the wall clock now
    Time NextTimer() const;
    Time EarliestReady() const;
    Time NextEvent() const;
    bool RunUntil(Time until, size_t hostLimit);  // false when it stopped for the host limit
    void StartFrame();
    void FinishFrame();
    void Dispatch(const Frame& frame, int sender);
    void BusLoop(std::shared_ptr<Network> self, HostSink sink, uint64_t generation);
    void Deliver(std::unique_lock<std::mutex>& lock, const HostSink& sink, uint64_t generation,
                 std::vector<Delivered>& batch, size_t count);
    bool OnBusThread() const;

    mutable std::mutex m_;
    std::condition_variable wake_;       // the bus thread: work may be there
    std::condition_variable delivered_;  // Advance: the host took its frames

    TimeMode mode_ = TimeMode::RealTime;
    uint32_t bitRate_ = 125000;
    Time now_ = 0;
    std::chrono::steady_clock::time_point realAnchor_;
    Time busAnchor_ = 0;

    std::vector<std::unique_ptr<Node>> nodes_;
    bool busy_ = false;
    BusFrame onWire_;

    struct Timed {
        Time ready;
        Frame frame;
    };
    std::deque<Timed> hostTx_;
    size_t hostTxEntries_ = 0;
    bool refuseTransmit_ = false;
    std::deque<Timed> injected_;
    unsigned backgroundPercent_ = 0;
    Frame backgroundFrame_;
    Time backgroundNext_ = kNever;

    bool capture_ = false;
    std::vector<BusFrame> captured_;

    bool hostAttached_ = false;
    size_t maxBatch_ = 1;
    struct Received {
        Time end;
        Delivered frame;
    };
    std::deque<Received> hostRx_;
    std::optional<rtl::TPace> hostPace_;  // real time only
    int delivering_ = 0;                 // bus threads inside the sink
    std::atomic<uint64_t> generation_{0};  // a bus thread runs while this is the value it started with
    std::thread busThread_;
};

}  // namespace sim
