#include "TextFile.h"

#include "rtl/Files.h"

std::optional<std::string> ReadTextFile(const std::string& path, std::string_view separator,
                                        std::string& errorText) {
    auto fail = [&](std::string_view words) -> std::optional<std::string> {
        // The path as the system writes it, whatever spelling the caller used.
        errorText = std::string(words) + std::string(separator) + " " + rtl::NativePath(path) + " !";
        return std::nullopt;
    };
    if (!rtl::FileExists(path)) return fail("FILE NOT EXISTS");
    auto text = rtl::ReadWholeFile(path);
    if (!text) return fail("FILE NOT READABLE");
    return text;
}
