// A node's boot loader: takes the download frames that every node in its boot loader hears at once
// (erase, the six pieces of each Intel HEX record, the image CRC), rebuilds each record, checks its
// checksum, writes data records into the program image and checks the image's CRC.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/Frame.h"

namespace sim {

// The program image: addresses 0x0000 to 0xEFFF.
constexpr uint32_t kImageSize = 0xF000;
// The firmware keeps its version word here (low byte first); a restarted node reports it.
constexpr uint16_t kVersionAddress = 0xEFFE;

constexpr uint32_t kRecordPieceId = 0x114;  // piece k: 0x114 + 0x80 k, k = 0..5
constexpr uint32_t kCrcId = 0x414;
constexpr uint32_t kEraseId = 0x494;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final XOR).
uint16_t Crc16(const uint8_t* bytes, size_t count);

class BootLoader {
public:
    enum class Outcome { None, CrcMatch, CrcMismatch };

    BootLoader();
    static bool IsDownloadFrame(uint32_t id);
    // Takes one download frame; CRC frames give the verdict.
    Outcome Take(const Frame& frame);

    uint16_t ImageVersion() const;
    uint16_t ImageCrc() const { return Crc16(image_.data(), image_.size()); }
    unsigned RecordsTaken() const { return records_; }
    // False once a record was broken, out of order, out of range or came before the erase.
    bool Healthy() const { return erased_ && !failed_; }

private:
    void Erase();
    void Fail();
    void TakePiece(int piece, const Frame& frame);
    void FinishRecord();

    std::vector<uint8_t> image_;
    bool erased_ = false;
    bool failed_ = false;
    unsigned records_ = 0;
    // The record being rebuilt: its characters after the ':' up to the data, and the piece expected.
    std::array<char, 8 + 32 + 2> text_{};
    unsigned textLen_ = 0;
    unsigned dataChars_ = 0;  // data characters the pieces carry: 2 x byte count, at most 32
    int nextPiece_ = 0;
};

}  // namespace sim
