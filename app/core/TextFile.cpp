#include "TextFile.h"

#include "rtl/Files.h"

std::optional<std::string> ReadTextFile(const std::string& path, std::string_view separator,
                                        std::string& errorText) {
    auto fail = [&](std::string_view words) -> std::optional<std::string> {
        errorText = std::string(words) + std::string(separator) + " " + path + " !";
        return std::nullopt;
    };
    if (!rtl::FileExists(path)) return fail("FILE NOT EXISTS");
    auto text = rtl::ReadWholeFile(path);
    if (!text) return fail("FILE NOT READABLE");
    return text;
}
