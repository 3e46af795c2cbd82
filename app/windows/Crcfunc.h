// Intel HEX record check, the program image the data records fill, and the image CRC the nodes'
// boot loaders compare with the image they received.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The record last checked by HexRecordCheck.
extern uint8_t HexRecordLength;
extern uint16_t HexRecordAddress;
extern uint8_t HexRecordType;  // 0 data, 1 end of file, 2 and 4 address records
extern std::array<uint8_t, 16> HexRecordData;
extern uint8_t HexRecordChecksum;

// The program area 0x0000..0xEFFF and the range ImageCrc covers (both ends inclusive).
constexpr uint32_t kHexImageSize = 0xF000;
extern std::array<uint8_t, kHexImageSize> HexImage;
extern uint16_t ImageStart;
extern uint16_t ImageEnd;

// '0'..'9' and 'A'..'F' give 0..15; every other character (lower case included) gives 0.
uint8_t HexCharValue(char c);
uint8_t HexPairValue(char high, char low);

// Parses one record text (the line without ':' and line end) into the record fields and checks
// its checksum; a valid data record is copied into the image. Besides a wrong checksum, a character
// other than '0'..'9' and 'A'..'F', a text longer or shorter than its byte count says, a record of
// more than 16 data bytes and a data record reaching past 0xEFFF fail the check, and the image is
// left untouched.
bool HexRecordCheck(std::string_view text);
// The Intel HEX checksum test of the record fields.
bool HexRecordSumOk();

// Sets the image range and fills it with 0xFF; false (nothing changed) for a reversed range or
// one reaching past 0xEFFF.
bool ImageFill(uint16_t start, uint16_t end);
// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final XOR) of the image range.
uint16_t ImageCrc();
// One table step of that CRC.
uint16_t CrcTableStep(uint8_t byte, uint16_t crc);

// The rules a file's lines obey besides their records' own check, in file order: the file opens
// with an address record (type 2 or 4), its first data record lies in page 0, no data record
// follows an address record that moves it away from the image, the file holds data (a data record
// of no bytes is none), ends with its end-of-file record, and has no line with text but no ':'.
// The download applies them to the whole file before its first frame and again to every line it
// reads. A refusal is the text that follows "File: <name>\r\n" in the warning; "" passes.
class THexFileRules {
public:
    // One record text, HexRecordCheck included.
    std::string Check(std::string_view text);
    // A line without ':' (its whole text): blanks pass; any other text is a record that lost its
    // ':', refused at the address its text gives.
    std::string CheckPlainLine(std::string_view text) const;
    // After the last record read.
    std::string AtEnd() const;
    // The end-of-file record passed: nothing after it is read.
    bool Ended() const { return EndSeen; }

private:
    bool FirstRecord = true;
    bool FirstDataRecord = true;
    bool Moved = false;
    bool EndSeen = false;
};
