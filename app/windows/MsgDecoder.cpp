#include "app/windows/MsgDecoder.h"

#include <cstdarg>

#include "app/core/RxMsgRing.h"
#include "app/core/ScheduleHelpers.h"
#include "rtl/NumberText.h"

namespace {

// Continuation of a two-line status or command line.
constexpr const char* kIndent = "\r\n                       ";  // CR LF and 23 blanks

__attribute__((format(printf, 2, 3))) void Append(std::string& text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    text += rtl::VFormatC(format, args);
    va_end(args);
}

unsigned Bit(uint8_t byte, int bit) { return (byte >> bit) & 1u; }

// Bits 4 to 6 as a three-bit two's complement number (bit 6 the sign).
int Signed3(uint8_t byte) {
    const int v = (byte & 0x70) >> 4;
    return (byte & 0x40) ? v - 8 : v;
}

double Tenths(int value) { return value * 0.1; }

void StatusLine(const uint8_t* d, std::string& text) {
    text += "DT1 ";
    Append(text, "MI:%3u ", unsigned(d[0]));
    Append(text, "SP[\xB0" "C]:%2u ", unsigned(d[1]));
    Append(text, "LD:%1u ", d[2] & 0x07u);
    Append(text, "LG:%1u ", (d[2] & 0x70u) >> 4);
    Append(text, "MD:%1u ", d[3] & 0x07u);
    Append(text, "IF:%2d ", Signed3(d[3]));
    Append(text, "FL:%2u ", d[4] & 0x0Fu);
    Append(text, "FN:%1u ", (d[4] & 0x60u) >> 5);
    Append(text, "KY:%2u", d[5] & 0x0Fu);
    text += kIndent;
    Append(text, "LA:%2u ", unsigned(d[5] >> 4));
    Append(text, "M:%1u ", Bit(d[6], 0));
    Append(text, "P:%1u ", Bit(d[6], 2));
    Append(text, "R:%1u ", Bit(d[6], 3));
    Append(text, "S:%1u ", Bit(d[6], 4));
    Append(text, "E:%1u ", Bit(d[6], 5));
    Append(text, "C:%1u ", Bit(d[6], 6));
    Append(text, "O:%1u ", Bit(d[6], 7));
    Append(text, "DI:%1u%1u%1u%1u%1u ", Bit(d[7], 4), Bit(d[7], 3), Bit(d[7], 2), Bit(d[7], 1), Bit(d[7], 0));
    Append(text, "W:%1u ", Bit(d[7], 5));
    Append(text, "C:%1u ", Bit(d[7], 6));
    Append(text, "K:%1u ", Bit(d[7], 7));
}

void SensorLine(const uint8_t* d, std::string& text) {
    static const char* const labels[] = {"S1", "S2", "S3", "OS"};
    text += "DT2 ";
    for (int i = 0; i < 4; ++i) {
        const auto word = int16_t(uint16_t(d[2 * i + 1] << 8 | d[2 * i]));
        Append(text, "%s[\xB0" "C]:%4.1f ", labels[i], Tenths(word));
    }
}

// Each field follows its valid bit, printed as a bare digit.
void CommandLine(const uint8_t* d, std::string& text) {
    Append(text, "%1u", Bit(d[0], 7));
    Append(text, "SP[\xB0" "C]:%2u ", d[0] & 0x7Fu);
    Append(text, "%1u", Bit(d[1], 3));
    Append(text, "MD:%1u ", d[1] & 0x07u);
    Append(text, "%1u", Bit(d[1], 7));
    Append(text, "IF:%2d ", Signed3(d[1]));
    Append(text, "%1u", Bit(d[2], 4));
    Append(text, "FL:%1u ", d[2] & 0x0Fu);
    Append(text, "%1u", Bit(d[2], 7));
    Append(text, "FN:%2u ", (d[2] & 0x60u) >> 5);
    Append(text, "%1uR:%1u ", Bit(d[3], 7), Bit(d[3], 6));
    Append(text, "%1uP:%1u ", Bit(d[3], 5), Bit(d[3], 4));
    Append(text, "%1uD:%1u ", Bit(d[3], 3), Bit(d[3], 2));
    Append(text, "%1uO:%1u", Bit(d[4], 7), Bit(d[4], 6));
    text += kIndent;
    Append(text, "%1uC:%1u ", Bit(d[4], 5), Bit(d[4], 4));
    Append(text, "%1uE:%1u ", Bit(d[4], 3), Bit(d[4], 2));
    Append(text, "%1uS:%1u ", Bit(d[4], 1), Bit(d[4], 0));
    // 15 bits: d5 low, d6 bits 0 to 6 high, bit 14 the sign.
    int value = (d[6] & 0x7F) << 8 | d[5];
    if (value & 0x4000) value -= 0x8000;
    Append(text, "%1u", Bit(d[6], 7));
    Append(text, "SV[\xB0" "C]:%4.1f", Tenths(value));
}

void HeartbeatLine(const uint8_t* d, std::string& text) {
    text += "HBT ";
    switch (d[0]) {
        case 0: text += "BOOT"; break;
        case 127: text += "PRE-OPERATIONAL"; break;
        case 5: text += "OPERATIONAL"; break;
        default: break;
    }
}

}  // namespace

std::string RawMsgText(uint16_t slot, const TRxMsg& msg) {
    std::string text;
    const unsigned length = msg.Len & 0x0Fu;
    Append(text, "%3d Time: %10u Id: %3X   DLC: %1u    Data:", int(slot), unsigned(msg.TimeStamp), unsigned(msg.Id),
           length);
    // Length codes above 8 still carry 8 data bytes.
    for (unsigned i = 0; i < length && i < 8; ++i) Append(text, " %.2X", unsigned(msg.Data[i]));
    return text;
}

bool DecodeMsg(uint16_t slot, const TRxMsg& msg, uint32_t previousStamp, std::string& text) {
    const uint32_t dt = msg.TimeStamp > previousStamp ? msg.TimeStamp - previousStamp : 0;
    const unsigned node = msg.Id & 0x7F, function = msg.Id & 0x780;
    const uint8_t* d = msg.Data;

    text.clear();
    Append(text, "%3d dt:%4u ", int(slot), unsigned(dt / 10));
    if (node == 0) {
        // Node management: the node the command addresses and the command byte.
        if (d[0] == 0 || d[1] == 0) {
            Append(text, "ID:%3u ", node);
        } else {
            Append(text, "ID:%3u MDC ", d[1] & 0x7Fu);
            Append(text, "CS:%3u ", unsigned(d[0]));
        }
        return true;
    }
    Append(text, "ID:%3u ", node);
    switch (function) {
        case 0x180: StatusLine(d, text); return true;
        case 0x280: SensorLine(d, text); return true;
        case 0x200: text += "CMD "; CommandLine(d, text); return true;
        case 0x300: text += "CMZ "; CommandLine(d, text); return true;
        case 0x700: HeartbeatLine(d, text); return true;
        default: return false;
    }
}

std::string RawMsgText(const TRxMsgRing& ring, uint16_t slot) { return RawMsgText(slot, ring.Record(slot)); }

bool DecodeMsg(const TRxMsgRing& ring, uint16_t slot, std::string& text) {
    const uint16_t previous = ModSub16(slot, 1, TRxMsgRing::kSlots);
    return DecodeMsg(slot, ring.Record(slot), ring.Record(previous).TimeStamp, text);
}
