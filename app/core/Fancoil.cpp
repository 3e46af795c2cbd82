#include "Fancoil.h"

#include <mutex>
#include <span>

#include "AppStrings.h"
#include "Morvand.h"
#include "RxMsgRing.h"
#include "Scheduler.h"
#include "rtl/Files.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kFirstDevice = 21;

bool InTable(int node) { return node >= 0 && node < TFancoil::kNodes; }
bool Readable(int node) { return node >= kFirstDevice && node < TFancoil::kNodes; }

// How a device's integer value is kept and read back.
enum class IntegerKind { None, Unsigned, Signed, Flag, Version };

IntegerKind KindOf(int index) {
    if (index == 2 || (index >= 34 && index <= 43)) return IntegerKind::Signed;
    if ((index >= 6 && index <= 11) || index == 23) return IntegerKind::Flag;
    if (index == 16) return IntegerKind::Version;
    if (index == 1 || (index >= 3 && index <= 5) || (index >= 12 && index <= 14) ||
        (index >= 18 && index <= 22) || (index >= 24 && index <= 33))
        return IntegerKind::Unsigned;
    return IntegerKind::None;  // 0, 15, 17 and above 43
}

// Which value groups a change bit stands for, in the order they are read.
struct TGroup {
    uint8_t bit;
    uint8_t type;
    uint8_t first, last;
};
constexpr TGroup kDeviceGroups[] = {
    {0x01, TFancoil::kTypeAnalog, 1, 1},
    {0x10, TFancoil::kTypeAnalog, 4, 7},
    {0x02, TFancoil::kTypeInteger, 1, 16},
    {0x20, TFancoil::kTypeInteger, 18, 43},
};
// Analog index 6 of node 127 has no value in the library; it is asked all the same.
constexpr TGroup kZemGroups[] = {
    {0x04, TFancoil::kTypeAnalog, 1, 2},
    {0x40, TFancoil::kTypeAnalog, 6, 6},
    {0x08, TFancoil::kTypeInteger, 1, 1},
    {0x80, TFancoil::kTypeInteger, 5, 18},
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

TFancoil::TFancoil(TAppStrings& descriptions) {
    for (int i = 0; i < kNodes; ++i) {
        std::string text = descriptions.GetString("FC" + std::to_string(i));
        if (text.find('?') == std::string::npos) Description[static_cast<size_t>(i)] = std::move(text);
    }
}

void TFancoil::PollEntry(void* model) { static_cast<TFancoil*>(model)->Poll(); }

void TFancoil::Poll() {
    for (int node = kFirstDevice; node < kNodes; ++node) {
        const auto n = static_cast<uint8_t>(node);
        const uint8_t flags = _NodeChanged(n);
        if (flags == 0) continue;
        bool gave = false;
        const auto groups = node == kZem ? std::span<const TGroup>(kZemGroups) : std::span<const TGroup>(kDeviceGroups);
        for (const TGroup& g : groups) {
            if (!(flags & g.bit)) continue;
            for (int index = g.first; index <= g.last; ++index) {
                uint16_t value = 0;
                if (!_RdDBValue(n, static_cast<uint8_t>(index), g.type, &value)) continue;
                Store(node, index, static_cast<int16_t>(value), g.type);
                gave = true;
            }
        }
        if (gave) SetChanged(node);
    }
    uint32_t frames = 0;
    for (; _GetRxMsg(&RxMsgRing.Scratch); ++frames) RxMsgRing.Capture(RxMsgRing.Scratch);
    DrainedFrames.fetch_add(frames, std::memory_order_relaxed);
}

void TFancoil::Store(int node, int index, int16_t value, int type) {
    if (!InTable(node)) return;
    const auto n = static_cast<size_t>(node);
    const auto word = static_cast<uint16_t>(value);
    if (node == kZem) {
        if (type == kTypeAnalog && (index == 1 || index == 2)) {
            ZemAnalog[static_cast<size_t>(index - 1)].store(value, kRelaxed);
        } else if (type == kTypeInteger) {
            if (index == 1) ZemInteger1.store(static_cast<int8_t>(word & 0xFF), kRelaxed);
            else if (index >= 5 && index <= 11) SetPresentBits(kFirstDevice + 16 * (index - 5), word);
            else if (index >= 12 && index <= 18) SetOperationalBits(kFirstDevice + 16 * (index - 12), word);
        }
        return;
    }
    if (type == kTypeAnalog) {
        if (index >= 4 && index <= 7) Analog[static_cast<size_t>(index - 4)][n].store(value, kRelaxed);
        return;
    }
    if (type != kTypeInteger) return;
    switch (KindOf(index)) {
        case IntegerKind::Unsigned:
        case IntegerKind::Signed:
            Integer[static_cast<size_t>(index)][n].store(static_cast<uint8_t>(word & 0xFF), kRelaxed);
            break;
        case IntegerKind::Flag:
            Integer[static_cast<size_t>(index)][n].store(word != 0 ? 1 : 0, kRelaxed);
            break;
        case IntegerKind::Version:
            Version[n].store(word, kRelaxed);
            break;
        case IntegerKind::None:
            break;
    }
}

void TFancoil::SetBits(Row<uint8_t>& flags, int firstNode, uint16_t mask) {
    // The last word reaches past node 127: those bits have no node.
    for (int b = 0; b < 16 && firstNode + b < kNodes; ++b)
        flags[static_cast<size_t>(firstNode + b)].store((mask >> b) & 1, kRelaxed);
}

void TFancoil::SetPresentBits(int firstNode, uint16_t mask) { SetBits(Present, firstNode, mask); }

void TFancoil::SetOperationalBits(int firstNode, uint16_t mask) {
    SetBits(Operational, firstNode, mask);
}

void TFancoil::SetChanged(int node) {
    if (!InTable(node)) return;
    std::lock_guard guard(Lock);
    Changed[static_cast<size_t>(node)] = 1;
}

uint8_t TFancoil::TakeChanged(int node) {
    if (!InTable(node)) return 0;
    std::lock_guard guard(Lock);
    const uint8_t mark = Changed[static_cast<size_t>(node)];
    Changed[static_cast<size_t>(node)] = 0;
    return mark;
}

bool TFancoil::IsPresent(int node) const {
    return InTable(node) && Present[static_cast<size_t>(node)].load(kRelaxed) != 0;
}

bool TFancoil::IsOperational(int node) const {
    return InTable(node) && Operational[static_cast<size_t>(node)].load(kRelaxed) != 0;
}

uint8_t TFancoil::Master(int node) const {
    return Integer[14][static_cast<size_t>(node)].load(kRelaxed);
}

bool TFancoil::IsGroupMaster(int node) const { return InTable(node) && Master(node) == node; }

bool TFancoil::IsInGroup(int node, int master) const {
    return InTable(node) && Master(node) == master;
}

int TFancoil::ReadAnalog(int index, int node) const {
    if (!Readable(node) || !IsPresent(node)) return 0;
    if (node == kZem)
        return (index == 1 || index == 2) ? ZemAnalog[static_cast<size_t>(index - 1)].load(kRelaxed) : 0;
    if (index < 4 || index > 7) return 0;
    return Analog[static_cast<size_t>(index - 4)][static_cast<size_t>(node)].load(kRelaxed);
}

int TFancoil::ReadInteger(int index, int node) const {
    if (!Readable(node) || !IsPresent(node)) return 0;
    if (node == kZem) return index == 1 ? ZemInteger1.load(kRelaxed) : 0;
    const auto n = static_cast<size_t>(node);
    switch (KindOf(index)) {
        case IntegerKind::Unsigned:
        case IntegerKind::Flag:
            return Integer[static_cast<size_t>(index)][n].load(kRelaxed);
        case IntegerKind::Signed:
            return static_cast<int8_t>(Integer[static_cast<size_t>(index)][n].load(kRelaxed));
        case IntegerKind::Version:
            return Version[n].load(kRelaxed);
        case IntegerKind::None:
            break;
    }
    return 0;
}

uint16_t TFancoil::VersionWord(int node) const {
    return InTable(node) ? Version[static_cast<size_t>(node)].load(kRelaxed) : 0;
}

void TFancoil::SetDescription(int node, const std::string& text) {
    if (!InTable(node)) return;
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    Description[static_cast<size_t>(node)] = text.substr(first, last - first);
}

const std::string& TFancoil::GetDescription(int node) const {
    static const std::string none;
    return InTable(node) ? Description[static_cast<size_t>(node)] : none;
}

bool TFancoil::SaveDescriptions(TAppStrings& table) const {
    if (!table.Reset()) return false;
    bool complete = true;
    for (int i = 0; i < kNodes; ++i) {
        const std::string& d = Description[static_cast<size_t>(i)];
        if (!d.empty() && !table.Register("FC" + std::to_string(i), d, d, d, d)) complete = false;
    }
    return complete && rtl::DeleteFile(table.BackupPath());
}

bool TFancoil::Listable(int node) const {
    return Placed[static_cast<size_t>(node)] == 0 && IsPresent(node) && IsOperational(node);
}

uint8_t TFancoil::NextPreOperNode() {
    for (int k = 1; k < kNodes; ++k) {
        if (Placed[static_cast<size_t>(k)] == 0 && IsPresent(k) && !IsOperational(k)) {
            Placed[static_cast<size_t>(k)] = 1;
            return static_cast<uint8_t>(k);
        }
    }
    return 0;
}

void TFancoil::AppendMembers(int master, TNodeList& list, size_t& count) {
    // Every node is placed once, so master and members never exceed the 128 entries.
    for (int k = 1; k < kNodes; ++k) {
        if (Listable(k) && Master(k) == master) {
            Placed[static_cast<size_t>(k)] = 1;
            list[count++] = static_cast<uint8_t>(k);
        }
    }
}

bool TFancoil::ZemGroup(TNodeList& list) {
    list.fill(0);
    const bool master = IsPresent(kZem) && IsOperational(kZem);
    Placed[kZem] = 1;
    if (!master) return false;
    list[0] = kZem;
    size_t count = 1;
    AppendMembers(kZem, list, count);
    return true;
}

bool TFancoil::NextGroup(TNodeList& list) {
    list.fill(0);
    for (int k = 1; k < kNodes; ++k) {
        if (Listable(k) && IsGroupMaster(k)) {
            Placed[static_cast<size_t>(k)] = 1;
            list[0] = static_cast<uint8_t>(k);
            size_t count = 1;
            AppendMembers(k, list, count);
            return true;
        }
    }
    return false;
}

void TFancoil::ClearPlaced() { Placed.fill(0); }
