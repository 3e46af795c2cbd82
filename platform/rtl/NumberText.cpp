#include "rtl/NumberText.h"

#include <locale.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace rtl {

std::string VFormatC(const char* format, va_list args) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    const locale_t previous = uselocale(c);  // this thread only
    va_list again;
    va_copy(again, args);
    char buffer[128];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    std::string text;
    if (n > 0 && size_t(n) < sizeof buffer) {
        text.assign(buffer, size_t(n));
    } else if (n > 0) {
        text.resize(size_t(n));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    uselocale(previous);
    return text;
}

std::string FormatC(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormatC(format, args);
    va_end(args);
    return text;
}

std::optional<double> ParseDouble(std::string_view text) {
    if (text.starts_with('+') && !text.starts_with("+-")) text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

char LocaleDecimalPoint() {
    const char* point = std::localeconv()->decimal_point;
    return point && point[0] != '\0' && point[1] == '\0' ? point[0] : '.';
}

}  // namespace rtl
