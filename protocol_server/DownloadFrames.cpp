// The frames of a firmware download: one Intel HEX record cut into up to six frames of ASCII
// characters, the erase frame and the image CRC. They carry no node number; sequence and pacing are
// the caller's.
#include <cstring>

#include "Protocol.h"

namespace {

constexpr uint32_t PieceIdentifier(uint8_t kind) { return 0x114u + 0x80u * kind; }
constexpr uint32_t CrcIdentifier = 0x414;
constexpr uint32_t EraseIdentifier = 0x494;
constexpr uint8_t HeaderChars = 8;  // byte count, address, record type
constexpr uint8_t PieceChars = 8;
// The longest text a record can need: header, 255 data bytes, checksum.
constexpr size_t LongestRecord = HeaderChars + 2 * 255 + 2;

}  // namespace

char TProtocol::NibbleToHex(uint8_t v) { return char(v <= 9 ? '0' + v : v + 0x37); }

void TProtocol::WordToHex(uint16_t w, char* out) {
    for (int i = 0; i < 4; ++i) out[i] = NibbleToHex(uint8_t((w >> (12 - 4 * i)) & 0x0F));
}

uint8_t TProtocol::HexToNibble(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    return 255;
}

uint8_t TProtocol::HexToByte(const char* text) {
    return uint8_t((HexToNibble(text[0]) & 0x0F) << 4 | (HexToNibble(text[1]) & 0x0F));
}

bool TProtocol::SendLine(uint8_t kind, const char* text) {
    if (kind > 5) return true;
    // A record too short for the piece asked for is refused: nothing is read past its end.
    if (text == nullptr) return false;
    const size_t length = strnlen(text, LongestRecord + 1);
    if (kind == 0) {
        if (length < HeaderChars) return false;
        return Transmit(PieceIdentifier(0), HeaderChars, reinterpret_cast<const uint8_t*>(text));
    }
    if (length < 2) return false;
    const int dataChars = 2 * HexToByte(text);
    if (kind == 5) {
        const size_t at = HeaderChars + size_t(dataChars);
        if (length < at + 2) return false;
        return Transmit(PieceIdentifier(5), 2, reinterpret_cast<const uint8_t*>(text + at));
    }
    const int n = dataChars - PieceChars * (kind - 1);
    if (n <= 0) return true;
    const size_t at = size_t(PieceChars) * kind;
    const auto count = uint8_t(n < PieceChars ? n : PieceChars);
    if (length < at + count) return false;
    return Transmit(PieceIdentifier(kind), count, reinterpret_cast<const uint8_t*>(text + at));
}

bool TProtocol::SendErase() {
    const uint8_t data[2] = {0x55, 0xAA};
    return Transmit(EraseIdentifier, 2, data);
}

bool TProtocol::SendCrc(uint16_t crc) {
    char text[4];
    WordToHex(crc, text);
    return Transmit(CrcIdentifier, 4, reinterpret_cast<const uint8_t*>(text));
}

int32_t TProtocol::ReadTxQueueStatus() { return VCI_ReadQueStatus(Board, TxQueue); }
