// Intel HEX record texts (without the ':') built from known bytes, for download tests and benchmarks.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string HexByteText(unsigned v) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

// Byte count, address, type, data and the checksum that makes the record valid.
inline std::string HexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
    std::string text = HexByteText(unsigned(data.size())) + HexByteText(address >> 8u) + HexByteText(address) +
                       HexByteText(type);
    unsigned sum = unsigned(data.size()) + (address >> 8u) + (address & 0xFFu) + type;
    for (uint8_t b : data) {
        text += HexByteText(b);
        sum += b;
    }
    return text + HexByteText(0x100u - (sum & 0xFFu));
}
