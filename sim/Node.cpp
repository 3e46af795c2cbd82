#include "sim/Node.h"

#include <algorithm>
#include <cstdlib>

namespace sim {
namespace {

constexpr uint32_t kSdoRequest = 0x600, kSdoAnswer = 0x580;
constexpr size_t kOutQueueLimit = 32;
// From the boot-up heartbeat to the first heartbeat of the running node, and from a good image CRC
// to the restart.
constexpr Time kFirstHeartbeat = 50 * kMs;
constexpr Time kRestartDelay = 500 * kMs;

// SDO abort codes.
constexpr uint32_t kAbortCommand = 0x05040001, kAbortWriteOnly = 0x06010001, kAbortNoObject = 0x06020000,
                   kAbortSubIndex = 0x06090011, kAbortValueRange = 0x06090030, kAbortGeneral = 0x08000000;

int SignExtend(unsigned value, int bits) {
    const unsigned sign = 1u << (bits - 1);
    value &= (1u << bits) - 1;
    return int(value ^ sign) - int(sign);
}

void SetBit(uint8_t& byte, int bit, bool on) {
    byte = on ? uint8_t(byte | (1u << bit)) : uint8_t(byte & ~(1u << bit));
}

Frame SdoFrame(uint32_t id, uint8_t command, uint16_t index, uint8_t sub, uint32_t data) {
    return Frame(id, {command, uint8_t(index), uint8_t(index >> 8), sub, uint8_t(data), uint8_t(data >> 8),
                      uint8_t(data >> 16), uint8_t(data >> 24)});
}

void PutWord(Frame& f, int at, int16_t value) {
    value = std::clamp<int16_t>(value, -16384, 16383);  // 15-bit values: bit 15 repeats the sign
    f.data[at] = uint8_t(value);
    f.data[at + 1] = uint8_t(uint16_t(value) >> 8);
}

}  // namespace

Node::Node(const NodeConfig& config)
    : config_(config), values_(config.values), version_(config.version), random_(0x9E3779B9u ^ config.number * 2654435761u) {
    if (random_ == 0) random_ = 1;
}

NodeInfo Node::Info() const {
    NodeInfo info;
    info.number = config_.number;
    info.version = version_;
    info.mode = mode_;
    info.values = values_;
    info.faults = faults_;
    info.recordsTaken = bootLoader_ ? bootLoader_->RecordsTaken() : 0;
    info.bootLoaderCrcMismatches = crcMismatches_;
    return info;
}

void Node::SetFaults(const NodeFaults& faults) {
    faults_ = faults;
    if (faults_.mute) out_.clear();
}

void Node::Boot(Time at) {
    mode_ = NodeMode::Booting;
    bootAt_ = at;
    out_.clear();
    nextHeartbeat_ = nextStatus_ = nextAnalog_ = statusSoon_ = kNever;
    bootLoader_.reset();
    bootLoaderDeaf_ = false;
}

Time Node::NextTimer() const {
    return std::min({bootAt_, nextHeartbeat_, nextStatus_, nextAnalog_, statusSoon_});
}

void Node::Wake(Time now) {
    if (bootAt_ <= now) {
        bootAt_ = kNever;
        Heartbeat(now, kHeartbeatBoot);
        mode_ = config_.operational ? NodeMode::Operational : NodeMode::PreOperational;
        const Time stagger = (config_.number % 10) * 17 * kMs;
        nextHeartbeat_ = config_.heartbeatPeriod ? now + kFirstHeartbeat : kNever;
        nextStatus_ = config_.statusPeriod && !IsController() ? now + kFirstHeartbeat + stagger : kNever;
        const Time analog = IsController() ? config_.systemPeriod : config_.analogPeriod;
        nextAnalog_ = analog ? now + kFirstHeartbeat + stagger + 5 * kMs : kNever;
        return;
    }
    if (nextHeartbeat_ <= now) {
        nextHeartbeat_ = now + config_.heartbeatPeriod;
        Heartbeat(now, mode_ == NodeMode::Operational ? kHeartbeatOperational : kHeartbeatPreOperational);
    }
    if (nextStatus_ <= now) {
        nextStatus_ = now + config_.statusPeriod;
        if (mode_ == NodeMode::Operational) Queue(now, StatusFrame());
    }
    if (nextAnalog_ <= now) {
        nextAnalog_ = now + (IsController() ? config_.systemPeriod : config_.analogPeriod);
        if (mode_ == NodeMode::Operational) {
            if (IsController()) {
                Queue(now, SystemFrame());
            } else {
                Queue(now, AnalogFrame());
                Drift();  // the next frame tells
            }
        }
    }
    if (statusSoon_ <= now) {
        statusSoon_ = kNever;
        if (mode_ == NodeMode::Operational) Queue(now, StatusFrame());
    }
}

void Node::Queue(Time ready, const Frame& frame) {
    if (faults_.mute || out_.size() >= kOutQueueLimit) return;
    out_.push_back({ready, frame});
}

void Node::Heartbeat(Time ready, uint8_t state) {
    if (!faults_.heartbeatStopped) Queue(ready, Frame(0x700 + config_.number, {state}));
}

const Frame* Node::Ready(Time now) const {
    const Frame* best = nullptr;
    for (const Pending& p : out_)
        if (p.ready <= now && (!best || p.frame.id < best->id)) best = &p.frame;
    return best;
}

Time Node::EarliestReady() const {
    Time t = kNever;
    for (const Pending& p : out_) t = std::min(t, p.ready);
    return t;
}

void Node::Transmitted(const Frame& frame) {
    auto it = std::find_if(out_.begin(), out_.end(), [&](const Pending& p) { return p.frame == frame; });
    if (it != out_.end()) out_.erase(it);
}

void Node::SetMode(NodeMode mode, Time now) {
    if (mode == mode_) return;
    mode_ = mode;
    // The new state is announced at once rather than at the next period.
    Heartbeat(now + config_.responseDelay,
              mode == NodeMode::Operational ? kHeartbeatOperational : kHeartbeatPreOperational);
}

void Node::StatusSoon(Time now) { statusSoon_ = std::min(statusSoon_, now + config_.responseDelay); }

Frame Node::StatusFrame() const {
    const NodeValues& v = values_;
    return Frame(0x180 + config_.number,
                 {uint8_t(v.master & 0x7F), uint8_t(v.setPoint & 0x7F), uint8_t((v.lg & 7) << 4 | (v.ld & 7)),
                  uint8_t((v.offset & 7) << 4 | (v.mode & 7)), uint8_t((v.fan & 3) << 5 | (v.fl & 0x0F)),
                  uint8_t((v.la & 0x0F) << 4 | (v.ky & 0x0F)), uint8_t(v.flags & ~0x02), v.inputs});
}

Frame Node::AnalogFrame() const {
    Frame f(0x280 + config_.number, {0, 0, 0, 0, 0, 0, 0, 0});
    for (int i = 0; i < 4; ++i) PutWord(f, 2 * i, values_.analog[i]);
    return f;
}

Frame Node::SystemFrame() const {
    Frame f(0x380 + config_.number, {0, 0, 0, 0, values_.systemByte, 0, 0, 0});
    f.data[0] = uint8_t(values_.system[0]);
    f.data[1] = uint8_t(uint16_t(values_.system[0]) >> 8);
    f.data[2] = uint8_t(values_.system[1]);
    f.data[3] = uint8_t(uint16_t(values_.system[1]) >> 8);
    return f;
}

uint32_t Node::NextRandom() {
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    return random_;
}

// The room temperature creeps towards the set-point while the fan runs and back towards where it
// started when it does not; the other sensors wander a little around their starting values.
void Node::Drift() {
    int16_t& room = values_.analog[0];
    const int target = values_.fan > 0 ? values_.setPoint * 10 : config_.values.analog[0];
    const uint32_t r = NextRandom();
    if (room != target && (r & 1)) room = int16_t(room + (target > room ? 1 : -1));
    if ((r & 0x70) == 0) room = int16_t(room + ((r & 0x80) ? 1 : -1));
    for (int i = 1; i < 4; ++i) {
        const uint32_t s = NextRandom();
        if (s & 3) continue;
        const int step = (s & 4) ? 1 : -1, start = config_.values.analog[i];
        if (std::abs(values_.analog[i] + step - start) <= 20) values_.analog[i] = int16_t(values_.analog[i] + step);
    }
}

void Node::Receive(const Frame& frame, Time now) {
    const uint32_t sdoId = kSdoRequest + config_.number;
    if (mode_ == NodeMode::Booting || (mode_ == NodeMode::BootLoader && bootLoaderDeaf_)) return;
    if (mode_ == NodeMode::BootLoader) {
        if (BootLoader::IsDownloadFrame(frame.id))
            TakeDownloadFrame(frame, now);
        else if (frame.id == sdoId)
            ServeSdo(frame, now);
        return;
    }
    if (frame.id == config_.number && frame.len >= 1) {
        if (frame.data[0] == 0x01) SetMode(NodeMode::Operational, now);
        if (frame.data[0] == 0x80) SetMode(NodeMode::PreOperational, now);
    } else if (frame.id == sdoId) {
        ServeSdo(frame, now);
    }
}

void Node::ApplyCommand(const Frame& frame, Time now) {
    if (mode_ != NodeMode::Operational || IsController()) return;
    // A field counts only when its byte was sent and its valid bit is set.
    auto byte = [&](int i) -> unsigned { return i < frame.len ? frame.data[i] : 0; };
    NodeValues& v = values_;
    const unsigned b0 = byte(0), b1 = byte(1), b2 = byte(2), b3 = byte(3), b4 = byte(4);
    if (b0 & 0x80) v.setPoint = int8_t(SignExtend(b0, 7));
    if (b1 & 0x08) v.mode = uint8_t(b1 & 7);
    if (b1 & 0x80) v.offset = int8_t(SignExtend(b1 >> 4, 3));
    if (b2 & 0x10) v.fl = uint8_t(b2 & 0x0F);
    if (b2 & 0x80) v.fan = uint8_t((b2 >> 5) & 3);
    if (b3 & 0x08) v.d = b3 & 0x04;
    if (b3 & 0x20) SetBit(v.flags, 2, b3 & 0x10);
    if (b3 & 0x80) SetBit(v.flags, 3, b3 & 0x40);
    if (b4 & 0x02) SetBit(v.flags, 4, b4 & 0x01);
    if (b4 & 0x08) SetBit(v.flags, 5, b4 & 0x04);
    if (b4 & 0x20) SetBit(v.flags, 6, b4 & 0x10);
    if (b4 & 0x80) SetBit(v.flags, 7, b4 & 0x40);
    const unsigned word = byte(5) | byte(6) << 8;
    if (word & 0x8000) v.setValue = int16_t(SignExtend(word, 15));
    StatusSoon(now);
}

void Node::ServeSdo(const Frame& request, Time now) {
    if (request.len < 4) return;
    const uint8_t command = request.data[0], sub = request.data[3];
    const uint16_t index = uint16_t(request.data[1] | request.data[2] << 8);
    const uint32_t answerId = kSdoAnswer + config_.number;
    const bool download = (command & 0xE0) == 0x20;
    if (index == 0x2010 && download && request.data[4] == 0xA5 && request.data[5] == 0x5A) {
        EnterBootLoader(now, index, sub);
        return;
    }
    if (mode_ == NodeMode::BootLoader || SdoFault(index) == NodeFaults::Sdo::Silent) return;
    if (SdoFault(index) == NodeFaults::Sdo::Abort) {
        AnswerSdo(SdoFrame(answerId, 0x80, index, sub, kAbortGeneral), now);
        return;
    }
    uint32_t abortCode = kAbortCommand;
    if (command == 0x40) {
        if (auto answer = SdoUpload(index, sub)) return AnswerSdo(*answer, now);
        if (IsController() ? index != 0x200F : index < 0x2005 || index > 0x2010)
            abortCode = kAbortNoObject;
        else
            abortCode = index == 0x2005 || index == 0x200F ? kAbortSubIndex : kAbortWriteOnly;
    } else if (download) {
        if (SdoDownload(index, sub, request, now, &abortCode))
            return AnswerSdo(SdoFrame(answerId, 0x60, index, sub, 0), now);
    }
    AnswerSdo(SdoFrame(answerId, 0x80, index, sub, abortCode), now);
}

void Node::AnswerSdo(const Frame& answer, Time now) {
    Frame f = answer;
    const NodeFaults::Sdo fault = SdoFault(uint16_t(f.data[1] | f.data[2] << 8));
    if (fault == NodeFaults::Sdo::OtherNode) f.id = kSdoAnswer + faults_.sdoResponder;
    Queue(now + (fault == NodeFaults::Sdo::Late ? faults_.sdoLateDelay : config_.responseDelay), f);
}

NodeFaults::Sdo Node::SdoFault(uint16_t index) const {
    return faults_.sdoObject == 0 || faults_.sdoObject == index ? faults_.sdo : NodeFaults::Sdo::Normal;
}

std::optional<Frame> Node::SdoUpload(uint16_t index, uint8_t sub) const {
    const uint32_t id = kSdoAnswer + config_.number;
    if (index == 0x200F && sub == 0)
        return SdoFrame(id, 0x4B, index, sub, version_);
    if (index == 0x2005 && sub >= 1 && sub <= 5 && !IsController()) {
        const int k = 2 * (sub - 1);
        const NodeValues& v = values_;
        return SdoFrame(id, 0x43, index, sub,
                        uint32_t(v.params2006[k]) | uint32_t(v.params2006[k + 1]) << 8 |
                            uint32_t(uint8_t(v.params2007[k])) << 16 | uint32_t(uint8_t(v.params2007[k + 1])) << 24);
    }
    return std::nullopt;
}

bool Node::SdoDownload(uint16_t index, uint8_t sub, const Frame& request, Time now, uint32_t* abortCode) {
    const uint8_t value = request.data[4];
    NodeValues& v = values_;
    *abortCode = kAbortNoObject;
    if (IsController()) return false;  // its values are its own
    auto range = [&](bool ok) {
        if (!ok) *abortCode = kAbortValueRange;
        return ok;
    };
    *abortCode = kAbortSubIndex;
    switch (index) {
    case 0x2005:
        if (sub < 1 || sub > 5) return false;
        for (int i = 0; i < 2; ++i) {
            v.params2006[2 * (sub - 1) + i] = request.data[4 + i] & 0x7F;
            v.params2007[2 * (sub - 1) + i] = int8_t(request.data[6 + i]);
        }
        return true;
    case 0x2006:
        if (sub < 1 || sub > 10) return false;
        v.params2006[sub - 1] = value & 0x7F;
        return true;
    case 0x2007:
        if (sub < 1 || sub > 10) return false;
        v.params2007[sub - 1] = int8_t(value);
        return true;
    case 0x2008: case 0x2009: case 0x200A: case 0x200B: case 0x200C:
        if (sub != 1) return false;
        break;
    default:
        *abortCode = kAbortNoObject;
        return false;
    }
    switch (index) {
    case 0x2008:
        if (!range((value >= 21 && value <= 125) || value == kController)) return false;
        v.master = value;
        break;
    case 0x2009:
        if (!range(value <= 7)) return false;
        v.ld = value;
        break;
    case 0x200A:
        if (!range(value <= 7)) return false;
        v.lg = value;
        break;
    case 0x200B:
        if (!range(value <= 15)) return false;
        v.ky = value;
        break;
    default:  // 0x200C
        SetBit(v.flags, 0, value != 0);
        break;
    }
    StatusSoon(now);
    return true;
}

void Node::EnterBootLoader(Time now, uint16_t index, uint8_t sub) {
    if (mode_ != NodeMode::BootLoader) {
        mode_ = NodeMode::BootLoader;
        nextHeartbeat_ = nextStatus_ = nextAnalog_ = statusSoon_ = kNever;
        bootLoader_.emplace();
        bootLoaderDeaf_ = faults_.bootLoaderSilent;
    }
    if (!bootLoaderDeaf_) Queue(now + config_.responseDelay, SdoFrame(kSdoAnswer + config_.number, 0x60, index, sub, 0));
}

void Node::TakeDownloadFrame(const Frame& frame, Time now) {
    const BootLoader::Outcome outcome = bootLoader_->Take(frame);
    if (outcome == BootLoader::Outcome::CrcMatch && !faults_.crcRefused) {
        version_ = bootLoader_->ImageVersion();
        Boot(now + kRestartDelay);
    } else if (outcome != BootLoader::Outcome::None) {
        ++crcMismatches_;  // the node stays in its boot loader and says nothing
    }
}

}  // namespace sim
