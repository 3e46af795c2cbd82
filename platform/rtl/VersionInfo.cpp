#include "rtl/VersionInfo.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace rtl {
namespace {

constexpr uint16_t kLanguage = 0x0409;  // U.S. English
constexpr uint16_t kCodePage = 0x04E4;  // Windows-1252

// Layout of our block: language and code page (two u16), then name/value pairs as zero-terminated
// texts, ended by an empty name.
std::string Block() {
    std::string b(4, '\0');
    std::memcpy(b.data(), &kLanguage, 2);
    std::memcpy(b.data() + 2, &kCodePage, 2);
    auto add = [&b](const char* name, const char* value) {
        b += name;
        b += '\0';
        b += value;
        b += '\0';
    };
    add("ProductName", "TELVOX");
    add("ProductVersion", TELVOX_PRODUCT_VERSION);
    add("FileVersion", TELVOX_PRODUCT_VERSION);
    b += '\0';
    return b;
}

bool IsRunningExecutable(std::string_view fileName) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return false;
    auto given = std::filesystem::weakly_canonical(std::string(fileName), ec);
    return !ec && given == exe;
}

}  // namespace

uint32_t GetFileVersionInfoSize(std::string_view fileName, uint32_t* handle) {
    if (handle) *handle = 0;
    return IsRunningExecutable(fileName) ? static_cast<uint32_t>(Block().size()) : 0;
}

bool GetFileVersionInfo(std::string_view fileName, uint32_t, uint32_t length, void* data) {
    if (!data || !IsRunningExecutable(fileName)) return false;
    const std::string b = Block();
    if (length < b.size()) return false;
    std::memcpy(data, b.data(), b.size());
    return true;
}

bool VerQueryValue(const void* block, std::string_view subBlock, void** buffer, uint32_t* length) {
    if (!block || !buffer || !length) return false;
    auto* base = static_cast<const char*>(block);
    if (subBlock == "\\VarFileInfo\\Translation") {
        *buffer = const_cast<char*>(base);
        *length = 4;
        return true;
    }
    uint16_t lang, page;
    std::memcpy(&lang, base, 2);
    std::memcpy(&page, base + 2, 2);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", lang, page);
    if (!subBlock.starts_with(prefix)) return false;
    std::string_view name = subBlock.substr(std::strlen(prefix));
    for (const char* p = base + 4; *p;) {
        const char* value = p + std::strlen(p) + 1;
        if (name == p) {
            *buffer = const_cast<char*>(value);
            *length = static_cast<uint32_t>(std::strlen(value) + 1);
            return true;
        }
        p = value + std::strlen(value) + 1;
    }
    return false;
}

}  // namespace rtl
