#include "app/core/ScheduleHelpers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "rtl/NumberText.h"

uint32_t MakeRGB(int r, int g, int b) {
    return uint32_t(r) + (uint32_t(g) << 8) + (uint32_t(b) << 16);
}

uint32_t PerMilleRGB(int r, int g, int b) {
    auto scale = [](int c) { return int(c * 255 / 1000.0 + 0.5); };
    return MakeRGB(scale(r), scale(g), scale(b));
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks around, a sign, digits with at most one separator, an optional exponent; anything else
// (and a value beyond the double range) is no number.
std::optional<double> ParseNumber(std::string_view text, char separator) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string_view::npos) return std::nullopt;
    text = text.substr(b, text.find_last_not_of(' ') - b + 1);

    std::string plain;  // the number in from_chars' spelling
    size_t i = 0;
    if (text[i] == '+' || text[i] == '-') {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) plain += text[i];
    if (i < text.size() && text[i] == separator) {
        plain += '.';
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits) plain += text[i];
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        size_t expDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++expDigits) plain += text[i];
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    if (std::from_chars(plain.data(), plain.data() + plain.size(), value).ec != std::errc()) return std::nullopt;
    return value;
}

void ReplaceFirst(std::string& s, char from, char to) {
    size_t at = s.find(from);
    if (at != std::string::npos) s[at] = to;
}

// General number format with 15 significant digits.
std::string GeneralText(double value, int expDigits, char separator) {
    if (value == 0) return "0";
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    std::string_view sci(buf, res.ptr - buf);  // d.dddddddddddddde[+-]x
    size_t e = sci.find('e');
    int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    std::string digits = std::string(1, sci[0]) + std::string(sci.substr(2, e - 2));
    digits.erase(digits.find_last_not_of('0') + 1);

    std::string out = value < 0 ? "-" : "";
    if (exponent >= -5 && exponent <= 14) {
        if (exponent >= 0) {
            if (digits.size() <= size_t(exponent) + 1) {
                out += digits + std::string(exponent + 1 - digits.size(), '0');
            } else {
                out += digits.substr(0, exponent + 1) + separator + digits.substr(exponent + 1);
            }
        } else {
            out += std::string("0") + separator + std::string(-exponent - 1, '0') + digits;
        }
        return out;
    }
    out += digits[0];
    if (digits.size() > 1) out += separator + digits.substr(1);
    out += 'E';
    if (exponent < 0) out += '-';
    std::string magnitude = std::to_string(std::abs(exponent));
    int width = std::clamp(expDigits, 0, 4);
    if (int(magnitude.size()) < width) magnitude.insert(0, width - magnitude.size(), '0');
    return out + magnitude;
}

}  // namespace

std::optional<std::string> ValueTextFromInput(std::string_view text, int NumDec, char separator) {
    std::string s(text);
    // Either mark is taken as the decimal separator, whatever the locale's is.
    ReplaceFirst(s, ',', separator);
    ReplaceFirst(s, '.', separator);
    const std::optional<double> value = ParseNumber(s, separator);
    if (!value) return std::nullopt;
    return GeneralText(*value, NumDec, separator);
}

std::optional<std::string> ValueTextFromInput(std::string_view text, int NumDec) {
    return ValueTextFromInput(text, NumDec, rtl::LocaleDecimalPoint());
}

uint16_t ModSub16(uint16_t a, uint16_t b, uint16_t m) {
    if (m == 0) return 0;
    return uint16_t((uint32_t(a % m) + m - b % m) % m);
}

uint16_t ModAdd16(uint16_t a, uint16_t b, uint16_t m) {
    if (m == 0) return 0;
    return uint16_t((uint32_t(a % m) + b % m) % m);
}

uint8_t HexToNibble(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    return 255;
}

namespace {

// The first count characters as masked nibbles; a missing character counts as invalid (F).
unsigned HexDigits(std::string_view text, size_t count) {
    unsigned v = 0;
    for (size_t i = 0; i < count; ++i) v = v * 16 + (i < text.size() ? HexToNibble(text[i]) & 0xF : 0xF);
    return v;
}

}  // namespace

uint16_t HexToWord(std::string_view text) { return uint16_t(HexDigits(text, 4)); }

uint8_t HexToByte(std::string_view text) { return uint8_t(HexDigits(text, 2)); }
