// Numbers in the texts the system writes and reads in a fixed format (decoded frames, grid values,
// files) are spelt as in the C locale, whatever locale the process runs in; only texts the user
// reads or types in his own convention take the locale's decimal separator.
#pragma once
#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

namespace rtl {

// printf into a string, in the C locale.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatC(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
// The whole text as a decimal number in the C spelling (a sign, digits, a point, an exponent);
// nothing when any of it is not.
std::optional<double> ParseDouble(std::string_view text);
// The decimal separator of the locale the process runs in; '.' when it is not a single byte.
char LocaleDecimalPoint();

}  // namespace rtl
