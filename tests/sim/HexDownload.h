// Test side of a firmware download: Intel HEX records made from known bytes, and the bus frames
// that carry them (record pieces, erase, CRC) as the protocol library sends them.
#pragma once
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sim/BootLoader.h"
#include "sim/Frame.h"

namespace simtest {

inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    unsigned sum = unsigned(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X%04X%02X", unsigned(data.size()), address, type);
    std::string text = buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        text += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return text + buf;
}

// An address record, the blocks cut into records of up to 16 bytes, the end-of-file record.
inline std::vector<std::string> HexRecords(const std::map<uint16_t, std::vector<uint8_t>>& blocks) {
    std::vector<std::string> records{HexRecord(4, 0, {0x00, 0x00})};
    for (const auto& [start, bytes] : blocks)
        for (size_t at = 0; at < bytes.size(); at += 16)
            records.push_back(HexRecord(0, uint16_t(start + at),
                                        std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + std::min(at + 16, bytes.size()))));
    records.push_back("00000001FF");
    return records;
}

// The image the blocks form over a background of 0xFF.
inline std::vector<uint8_t> ImageOf(const std::map<uint16_t, std::vector<uint8_t>>& blocks) {
    std::vector<uint8_t> image(sim::kImageSize, 0xFF);
    for (const auto& [start, bytes] : blocks)
        for (size_t i = 0; i < bytes.size(); ++i) image[start + i] = bytes[i];
    return image;
}

inline sim::Frame TextFrame(uint32_t id, const std::string& text, size_t at, size_t count) {
    sim::Frame f;
    f.id = id;
    f.len = uint8_t(count);
    for (size_t i = 0; i < count; ++i) f.data[i] = uint8_t(text[at + i]);
    return f;
}

// Pieces 0 to 5 of one record: header, up to 32 data characters in four pieces, checksum.
inline std::vector<sim::Frame> RecordPieces(const std::string& record) {
    std::vector<sim::Frame> pieces{TextFrame(0x114, record, 0, 8)};
    const int count = std::stoi(record.substr(0, 2), nullptr, 16);
    for (int k = 1; k <= 4; ++k) {
        const int n = 2 * count - 8 * (k - 1);
        if (n > 0) pieces.push_back(TextFrame(0x114 + 0x80u * k, record, 8u * k, std::min(n, 8)));
    }
    pieces.push_back(TextFrame(0x394, record, 8 + 2 * count, 2));
    return pieces;
}

inline sim::Frame EraseFrame() { return sim::Frame(0x494, {0x55, 0xAA}); }

inline sim::Frame CrcFrame(uint16_t crc) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", crc);
    return TextFrame(0x414, text, 0, 4);
}

}  // namespace simtest
