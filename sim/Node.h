// One node of the simulated fan-coil network: a device (21..125) or the supervisory controller
// (127). It sends heartbeats and its process frames, obeys command frames and node-state requests,
// serves the manufacturer objects by SDO and runs its boot loader when told to.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/BootLoader.h"
#include "sim/Frame.h"

namespace sim {

constexpr uint8_t kController = 127;
constexpr uint8_t kHeartbeatBoot = 0, kHeartbeatPreOperational = 127, kHeartbeatOperational = 5;

// The values a node reports, in the units its frames carry them.
struct NodeValues {
    // Status frame (0x180 + node).
    uint8_t master = 0;   // byte 0: group master (the node itself heads a group, 127: the controller)
    int8_t setPoint = 0;  // byte 1: set-point in degrees, -64..63
    uint8_t lg = 0;       // byte 2 bits 4-6
    uint8_t ld = 0;       // byte 2 bits 0-2
    int8_t offset = 0;    // byte 3 bits 4-6 ("IF"), -4..3
    uint8_t mode = 0;     // byte 3 bits 0-2
    uint8_t fan = 0;      // byte 4 bits 5-6
    uint8_t fl = 0;       // byte 4 bits 0-3
    uint8_t la = 0;       // byte 5 bits 4-7
    uint8_t ky = 0;       // byte 5 bits 0-3
    uint8_t flags = 0;    // byte 6: bit 0 M, 2 P, 3 R, 4 S, 5 E, 6 C, 7 O
    uint8_t inputs = 0;   // byte 7
    // Taken from command frames, not reported.
    bool d = false;
    int16_t setValue = 0;  // 15-bit signed
    // Analog frame (0x280 + node): four values in tenths of a degree.
    std::array<int16_t, 4> analog{};
    // Parameters, objects 0x2006 and 0x2007 sub-index 1..10.
    std::array<uint8_t, 10> params2006{};
    std::array<int8_t, 10> params2007{};
    // System frame (0x380 + 127) of the controller.
    std::array<int16_t, 2> system{};
    uint8_t systemByte = 0;
};

struct NodeConfig {
    uint8_t number = 0;
    uint16_t version = 0;
    bool operational = true;  // the state it reaches after boot-up
    NodeValues values;
    Time heartbeatPeriod = 1000 * kMs;  // 0: none
    Time statusPeriod = 1000 * kMs;     // devices
    Time analogPeriod = 2000 * kMs;     // devices
    Time systemPeriod = 2000 * kMs;     // controller
    Time responseDelay = 400 * kUs;     // from a request to the answer being ready to send
};

// Faults a test can switch on for one node.
struct NodeFaults {
    enum class Sdo { Normal, Silent, Late, Abort, OtherNode };
    bool mute = false;              // sends nothing at all
    bool heartbeatStopped = false;  // everything but heartbeats
    Sdo sdo = Sdo::Normal;
    Time sdoLateDelay = 2000 * kMs;  // Sdo::Late
    uint8_t sdoResponder = 0;        // Sdo::OtherNode: the node whose identifier the answer carries
    uint16_t sdoObject = 0;          // the SDO fault hits only requests for this object; 0: all
    bool bootLoaderSilent = false;   // enters the boot loader unacknowledged and then ignores the download
    bool crcRefused = false;         // every CRC frame is a mismatch
};

enum class NodeMode { Booting, PreOperational, Operational, BootLoader };

// What a test can see of a node.
struct NodeInfo {
    uint8_t number = 0;
    uint16_t version = 0;
    NodeMode mode = NodeMode::Booting;
    NodeValues values;
    NodeFaults faults;
    unsigned recordsTaken = 0;  // records its boot loader accepted since the erase
    unsigned bootLoaderCrcMismatches = 0;
};

class Node {
public:
    explicit Node(const NodeConfig& config);

    uint8_t Number() const { return config_.number; }
    uint8_t Master() const { return values_.master; }
    bool IsController() const { return config_.number == kController; }
    NodeInfo Info() const;
    void SetFaults(const NodeFaults& faults);
    NodeValues& Values() { return values_; }

    // Power-on (or restart) at the given time: the boot-up heartbeat goes out then.
    void Boot(Time at);

    // Timers: the next time Wake has work, and the work due at now.
    Time NextTimer() const;
    void Wake(Time now);

    // A frame seen on the bus (not one of its own).
    void Receive(const Frame& frame, Time now);
    // A command frame addressed to it (directly or through its group).
    void ApplyCommand(const Frame& frame, Time now);

    // Its transmit side: the frame it would put on the bus at now (lowest identifier among those
    // ready), the earliest time one is ready, and the end of a transmission.
    const Frame* Ready(Time now) const;
    Time EarliestReady() const;
    void Transmitted(const Frame& frame);

private:
    struct Pending {
        Time ready;
        Frame frame;
    };
    void Queue(Time ready, const Frame& frame);
    void Heartbeat(Time ready, uint8_t state);
    void SetMode(NodeMode mode, Time now);
    void StatusSoon(Time now);
    Frame StatusFrame() const;
    Frame AnalogFrame() const;
    Frame SystemFrame() const;
    void Drift();
    void ServeSdo(const Frame& request, Time now);
    void AnswerSdo(const Frame& answer, Time now);
    NodeFaults::Sdo SdoFault(uint16_t index) const;
    std::optional<Frame> SdoUpload(uint16_t index, uint8_t sub) const;
    bool SdoDownload(uint16_t index, uint8_t sub, const Frame& request, Time now, uint32_t* abortCode);
    void EnterBootLoader(Time now, uint16_t index, uint8_t sub);
    void TakeDownloadFrame(const Frame& frame, Time now);
    uint32_t NextRandom();

    NodeConfig config_;
    NodeValues values_;
    NodeFaults faults_;
    uint16_t version_;
    NodeMode mode_ = NodeMode::Booting;
    std::vector<Pending> out_;
    Time bootAt_ = kNever;
    Time nextHeartbeat_ = kNever, nextStatus_ = kNever, nextAnalog_ = kNever, statusSoon_ = kNever;
    std::optional<BootLoader> bootLoader_;
    bool bootLoaderDeaf_ = false;
    unsigned crcMismatches_ = 0;
    uint32_t random_;
};

}  // namespace sim
