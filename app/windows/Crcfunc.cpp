#include "app/windows/Crcfunc.h"

#include <algorithm>
#include <cstdio>

#include "app/core/ScheduleHelpers.h"

uint8_t HexRecordLength = 0;
uint16_t HexRecordAddress = 0;
uint8_t HexRecordType = 0;
std::array<uint8_t, 16> HexRecordData{};
uint8_t HexRecordChecksum = 0;

std::array<uint8_t, kHexImageSize> HexImage{};
uint16_t ImageStart = 0;
uint16_t ImageEnd = 0;

namespace {

// The reflected CRC-16 table for 0xA001, split into its high and low bytes.
struct TCrcTables {
    std::array<uint8_t, 256> Hi{}, Lo{};
};

constexpr TCrcTables MakeTables() {
    TCrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int b = 0; b < 8; ++b) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
        t.Hi[i] = uint8_t(r >> 8);
        t.Lo[i] = uint8_t(r);
    }
    return t;
}

constexpr TCrcTables Tables = MakeTables();
static_assert(Tables.Hi[1] == 0xC0 && Tables.Lo[1] == 0xC1 && Tables.Hi[255] == 0x40 && Tables.Lo[255] == 0x40);

uint8_t PairAt(std::string_view text, size_t at) { return HexPairValue(text[at], text[at + 1]); }

// The refusal of a record text, at the address its text gives.
std::string InvalidRecord(std::string_view text) {
    char at[8];
    std::snprintf(at, sizeof at, "%04x", unsigned(HexToWord(text.size() > 2 ? text.substr(2) : std::string_view())));
    return std::string("Contains invalid (CHKS) record at ") + at;
}

}  // namespace

uint8_t HexCharValue(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    return 0;
}

uint8_t HexPairValue(char high, char low) { return uint8_t(16 * HexCharValue(high) + HexCharValue(low)); }

bool HexRecordCheck(std::string_view text) {
    HexRecordLength = 0;
    HexRecordAddress = 0;
    HexRecordType = 0;
    HexRecordChecksum = 0;
    if (text.size() < 8) return false;
    HexRecordLength = PairAt(text, 0);
    HexRecordAddress = uint16_t(PairAt(text, 2) * 256 + PairAt(text, 4));
    HexRecordType = PairAt(text, 6);
    // A character that is no digit would count as 0 and could still add up; a text of another
    // length holds a second record or trailing text, which the nodes would never see whole.
    if (text.find_first_not_of("0123456789ABCDEF") != std::string_view::npos) return false;
    const size_t length = HexRecordLength;
    if (length > HexRecordData.size() || text.size() != 10 + 2 * length) return false;
    for (size_t i = 0; i < length; ++i) HexRecordData[i] = PairAt(text, 8 + 2 * i);
    HexRecordChecksum = PairAt(text, 8 + 2 * length);
    if (!HexRecordSumOk()) return false;
    if (HexRecordType == 0) {
        if (HexRecordAddress + length > kHexImageSize) return false;
        std::copy_n(HexRecordData.begin(), length, HexImage.begin() + HexRecordAddress);
    }
    return true;
}

bool HexRecordSumOk() {
    unsigned sum = HexRecordLength + (HexRecordAddress >> 8) + (HexRecordAddress & 0xFF) + HexRecordType;
    for (size_t i = 0; i < std::min<size_t>(HexRecordLength, HexRecordData.size()); ++i) sum += HexRecordData[i];
    return ((sum + HexRecordChecksum) & 0xFF) == 0;
}

bool ImageFill(uint16_t start, uint16_t end) {
    if (start > end || end >= kHexImageSize) return false;
    ImageStart = start;
    ImageEnd = end;
    std::fill(HexImage.begin() + start, HexImage.begin() + end + 1, 0xFF);
    return true;
}

uint16_t ImageCrc() {
    uint16_t crc = 0xFFFF;
    for (uint32_t a = ImageStart; a <= ImageEnd; ++a) crc = CrcTableStep(HexImage[a], crc);
    return crc;
}

uint16_t CrcTableStep(uint8_t byte, uint16_t crc) {
    const uint8_t index = byte ^ uint8_t(crc & 0xFF);
    const uint8_t lo = Tables.Lo[index] ^ uint8_t(crc >> 8);
    return uint16_t(Tables.Hi[index] * 256 + lo);
}

std::string THexFileRules::Check(std::string_view text) {
    if (!HexRecordCheck(text)) return InvalidRecord(text);
    if (FirstRecord) {
        FirstRecord = false;
        if (HexRecordType != 2 && HexRecordType != 4) return "Start Of File record missing";
    }
    switch (HexRecordType) {
        case 0:
            // The nodes take the address as it stands: data meant for elsewhere would overwrite
            // the start of the image.
            if (Moved) return InvalidRecord(text);
            if (HexRecordLength == 0) break;  // no data: it neither opens the data nor counts as data
            if (FirstDataRecord) {
                FirstDataRecord = false;
                if (HexRecordAddress >> 8 != 0) return "Starting page not zero";
            }
            break;
        case 1: EndSeen = true; break;
        case 2:
        case 4:
            Moved = std::any_of(HexRecordData.begin(), HexRecordData.begin() + HexRecordLength,
                                [](uint8_t b) { return b != 0; });
            break;
        default: break;
    }
    return "";
}

std::string THexFileRules::CheckPlainLine(std::string_view text) const {
    const size_t at = text.find_first_not_of(" \t");
    return at == std::string_view::npos ? "" : InvalidRecord(text.substr(at));
}

std::string THexFileRules::AtEnd() const {
    if (FirstRecord) return "Start Of File record missing";
    if (FirstDataRecord) return "No data record";
    // A file cut short: the nodes would take the records read so far for the whole image.
    if (!EndSeen) return "End Of File record missing";
    return "";
}
