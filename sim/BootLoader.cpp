#include "sim/BootLoader.h"

#include <algorithm>

namespace sim {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two characters as a byte; -1 when either is no upper-case hex digit.
int HexByte(const char* s) {
    int hi = HexValue(s[0]), lo = HexValue(s[1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace

uint16_t Crc16(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

BootLoader::BootLoader() : image_(kImageSize, 0xFF) {}

bool BootLoader::IsDownloadFrame(uint32_t id) {
    return id == kCrcId || id == kEraseId || (id >= kRecordPieceId && id <= kRecordPieceId + 5 * 0x80 &&
                                              (id - kRecordPieceId) % 0x80 == 0);
}

uint16_t BootLoader::ImageVersion() const {
    return uint16_t(image_[kVersionAddress] | image_[kVersionAddress + 1] << 8);
}

void BootLoader::Erase() {
    std::fill(image_.begin(), image_.end(), 0xFF);
    erased_ = true;
    failed_ = false;
    records_ = 0;
    nextPiece_ = 0;
}

void BootLoader::Fail() {
    failed_ = true;
    nextPiece_ = 0;
}

BootLoader::Outcome BootLoader::Take(const Frame& frame) {
    if (frame.id == kEraseId) {
        if (frame.len == 2 && frame.data[0] == 0x55 && frame.data[1] == 0xAA) Erase();
        return Outcome::None;
    }
    if (frame.id == kCrcId) {
        int hi = frame.len == 4 ? HexByte(reinterpret_cast<const char*>(&frame.data[0])) : -1;
        int lo = frame.len == 4 ? HexByte(reinterpret_cast<const char*>(&frame.data[2])) : -1;
        bool match = hi >= 0 && lo >= 0 && Healthy() && nextPiece_ == 0 && uint16_t(hi << 8 | lo) == ImageCrc();
        return match ? Outcome::CrcMatch : Outcome::CrcMismatch;
    }
    if (IsDownloadFrame(frame.id)) TakePiece(int((frame.id - kRecordPieceId) / 0x80), frame);
    return Outcome::None;
}

void BootLoader::TakePiece(int piece, const Frame& frame) {
    if (piece == 0) {
        // A header while a record is still open: the open one lost pieces.
        if (nextPiece_ != 0 || frame.len != 8) return Fail();
        std::copy_n(frame.data.begin(), 8, text_.begin());
        int count = HexByte(text_.data());
        if (count < 0) return Fail();
        textLen_ = 8;
        dataChars_ = std::min(2u * unsigned(count), 32u);
        nextPiece_ = dataChars_ > 0 ? 1 : 5;
        return;
    }
    if (piece != nextPiece_) return Fail();
    if (piece == 5) {
        if (frame.len != 2) return Fail();
        text_[textLen_++] = char(frame.data[0]);
        text_[textLen_++] = char(frame.data[1]);
        return FinishRecord();
    }
    const unsigned carried = textLen_ - 8;
    const unsigned expected = std::min(dataChars_ - carried, 8u);
    if (frame.len != expected) return Fail();
    std::copy_n(frame.data.begin(), expected, text_.begin() + textLen_);
    textLen_ += expected;
    nextPiece_ = textLen_ - 8 < dataChars_ ? piece + 1 : 5;
}

void BootLoader::FinishRecord() {
    nextPiece_ = 0;
    if (!erased_) return Fail();
    const char* t = text_.data();
    const int count = HexByte(t), addrHi = HexByte(t + 2), addrLo = HexByte(t + 4), type = HexByte(t + 6);
    const int checksum = HexByte(t + textLen_ - 2);
    // Of a record longer than 16 bytes only the first 16 travel: its checksum cannot match.
    if (count < 0 || addrHi < 0 || addrLo < 0 || type < 0 || checksum < 0 || count > 16) return Fail();
    std::array<uint8_t, 16> data{};
    unsigned sum = unsigned(count + addrHi + addrLo + type + checksum);
    for (int i = 0; i < count; ++i) {
        int b = HexByte(t + 8 + 2 * i);
        if (b < 0) return Fail();
        data[i] = uint8_t(b);
        sum += unsigned(b);
    }
    if ((sum & 0xFF) != 0) return Fail();
    if (type == 0) {
        const unsigned address = unsigned(addrHi << 8 | addrLo);
        if (address + unsigned(count) > kImageSize) return Fail();
        std::copy_n(data.begin(), count, image_.begin() + address);
    }
    ++records_;
}

}  // namespace sim
