// Free helpers several windows share: colours, canonical number text, ring-index arithmetic and
// hexadecimal decoding.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// r + g * 256 + b * 65536, unmasked: a component above 255 spills into the next one.
uint32_t MakeRGB(int r, int g, int b);
// Components in thousandths of full intensity, rounded half up.
uint32_t PerMilleRGB(int r, int g, int b);

// The typed number in canonical text: "," or "." accepted as the decimal mark, nothing for a text
// that is not a number (blanks only included); at most 15 significant digits, fixed notation unless the integer part
// needs more than 15 digits or the magnitude is below 0.00001, then "d.dddE[-]x" with at least
// NumDec exponent digits (0..4). Takes and gives the decimal separator of the locale the process
// runs in, as the user types it.
std::optional<std::string> ValueTextFromInput(std::string_view text, int NumDec);
// The same with a given decimal separator.
std::optional<std::string> ValueTextFromInput(std::string_view text, int NumDec, char separator);

// (a - b) and (a + b) modulo m, 0..m-1; a modulus of 0 gives 0.
uint16_t ModSub16(uint16_t a, uint16_t b, uint16_t m);
uint16_t ModAdd16(uint16_t a, uint16_t b, uint16_t m);

// '0'..'9' and 'A'..'F' give 0..15; anything else (lower case included) gives 255.
uint8_t HexToNibble(char c);
// The first four (two) characters as hexadecimal digits, each masked to four bits, so that an
// invalid character counts as F; characters missing from the text count as invalid too.
uint16_t HexToWord(std::string_view text);
uint8_t HexToByte(std::string_view text);
