#include "UnitInterface.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Morvand.h"
#include "Protocol.h"
#include "logserver/Pelkin.h"
#include "rtl/Files.h"
#include "rtl/Profile.h"
#include "rtl/StringList.h"

uint16_t UnitTable[UnitTableSize];
uint8_t LineNumber = 0;

namespace {

const char* const NodeFile = "..//data//nodes//node0//nd_0.ncf";
constexpr uint8_t MaxNodeIndex = 255;  // indexes travel as 8 bits to the node-based calls

// Value types of this family: 1 and 4 are integer values with two index ranges of their own.
constexpr bool IsFlagType(int16_t type) { return type == 1 || type == 4; }
constexpr bool IsStatusBitIndex(uint16_t index) { return index >= 30 && index <= 36; }
constexpr bool IsModeIndex(uint16_t index) { return index >= 40 && index <= 54; }
constexpr uint8_t IntegerKind = 3;

// The node-based kind of a value type; 0 (no value has it) for types the family does not know.
constexpr uint8_t KindOf(int16_t type) {
    if (IsFlagType(type)) return IntegerKind;
    return type == 2 || type == 3 ? uint8_t(type) : 0;
}

std::optional<int> Decimal(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

void Log(const char* format, int a, int b = 0, int c = 0) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b, c);
    LogLine(line);
}

bool HaveInstance() { return Protocol.load() != nullptr; }

// Reads the unit lines of the line number into a copy of the table; nothing changes when a line
// does not read.
int16_t LoadUnits(const std::vector<std::string>& lines) {
    std::array<uint16_t, UnitTableSize> table;
    std::copy(std::begin(UnitTable), std::end(UnitTable), table.begin());
    bool inUnits = false;
    for (const std::string& line : lines) {
        if (!inUnits) {
            inUnits = line == "[Units]";
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        const std::vector<std::string> fields = rtl::SplitCommaText(line);
        const std::optional<int> lineNo = fields.empty() ? std::nullopt : Decimal(fields[0]);
        if (!lineNo) return InitBadUnitLine;
        if (*lineNo != LineNumber) continue;
        if (fields.size() < 5) return InitBadUnitLine;
        const std::optional<int> node = Decimal(fields[1]);
        const std::optional<int> unit = Decimal(fields[4]);
        if (!node || !unit) return InitBadUnitLine;
        if (*node >= 0 && *node < UnitTableSize) table[size_t(*node)] = uint16_t(*unit);
    }
    std::copy(table.begin(), table.end(), std::begin(UnitTable));
    return 0;
}

int16_t StartDriver(const char* baseName, int32_t* state, int16_t mode) {
    if (!baseName) return InitSettingsMissing;
    const std::string ini = std::string(baseName) + ".ini";
    if (!rtl::FileExists(ini)) return InitSettingsMissing;
    const int logEn = rtl::GetPrivateProfileDecimal("General", "logEn", 99, ini);
    const int logDur = rtl::GetPrivateProfileDecimal("General", "logDur", 999, ini);
    if (logEn == 99) return InitLogEnabledMissing;
    if (logDur < 1 || logDur > 998) return InitLogDurationInvalid;

    _PELKINSubscribe(nullptr);  // the library has no window of its own
    _PELKINCreate("..//", "LOG", uint16_t(logDur));
    _PELKINEnDisReq(logEn != 0);
    if (state) *state = 0;
    if (mode != 1) return InitModeNotSupported;
    if (const int16_t r = _CreateCANThread(baseName)) return r;

    LineNumber = uint8_t(rtl::GetPrivateProfileDecimal("Linea 1", "Linea", 0, ini));
    std::vector<std::string> lines;
    if (!rtl::FileExists(NodeFile) || !rtl::LoadLines(NodeFile, lines)) return InitNodeFileMissing;
    if (LineNumber == 0) return InitNoLine;
    return LoadUnits(lines);
}

}  // namespace

uint8_t UnitToNode(uint16_t unit) {
    for (int node = 1; node < UnitTableSize; ++node)
        if (UnitTable[node] == unit) return uint8_t(node);
    return 0;
}

extern "C" {

int16_t InitDriverEx(const char* baseName, int32_t* state, int16_t mode) {
    const int16_t result = StartDriver(baseName, state, mode);
    // A missing setting for the log server leaves everything as it was.
    if (result == InitLogEnabledMissing || result == InitLogDurationInvalid) return result;
    Log("InitDriverEx ret: %d", result);
    if (result != 0) LocDrvClose();
    return result;
}

int16_t LocDrvClose(void) {
    _DestroyCANThread();
    LogLine("LocDrvClose");
    _PELKINEnd();
    _PELKINDestroy();
    _PELKINUnsubscribe();
    return 0;
}

int16_t GetUnitStatus(int16_t unit) {
    const uint8_t node = UnitToNode(uint16_t(unit));
    // Without a protocol nothing is known to be present.
    const int16_t status = HaveInstance() && TNodeDatabase::IsNodeAlive(node) ? 0 : 1;
    Log("GetUnitStatus node: %d; status: %d", node, status);
    return status;
}

int16_t ReadDBValue(int16_t unit, uint16_t index, int16_t type, uint16_t* value) {
    int16_t result = 0;
    const uint8_t node = UnitToNode(uint16_t(unit));
    if (value && HaveInstance()) {
        if (type == 1 && index == 0) {
            *value = TNodeDatabase::IsNodeAlive(node) ? 0 : 1;
            result = 1;
        } else if (index <= MaxNodeIndex) {
            uint8_t i = uint8_t(index);
            if (IsFlagType(type)) {
                if (IsStatusBitIndex(index)) i = 12;  // status byte 7 of the node
                if (IsModeIndex(index)) i = 13;
            }
            uint16_t v = 0;
            if (_RdDBValue(node, i, KindOf(type), &v)) {
                if (IsFlagType(type) && IsStatusBitIndex(index)) v = (v >> (index - 30)) & 1;
                if (IsFlagType(type) && IsModeIndex(index)) v = (v & 0x0F) + 39 == index ? 1 : 0;
                *value = v;
                result = 1;
            }
        }
    }
    Log("ReadDBValue node: %d; val: %d; ret: %d", node, value ? *value : 0, result);
    return result;
}

int16_t SendValue(int16_t unit, uint16_t index, int16_t type, int16_t value) {
    // Values that this family only reads.
    if (IsFlagType(type) && (index == 0 || IsStatusBitIndex(index) || IsModeIndex(index))) return -1;
    if (type == 2 && index >= 5 && index <= 7) return -1;
    if (type == 3 && index == 16) return -1;
    const uint8_t node = UnitToNode(uint16_t(unit));
    int16_t result = -1;
    if (HaveInstance() && index <= MaxNodeIndex && _WrDBValue(node, uint8_t(index), KindOf(type), value)) result = 0;
    Log("SendValue node: %d; val: %d; ret: %d", node, uint16_t(value), result);
    return result;
}

}  // extern "C"
