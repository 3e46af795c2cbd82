#include "registry/RegistryFile.h"

#include <dlfcn.h>

#include <charconv>
#include <cstdlib>

#include "board/VCI11UN6.h"
#include "rtl/Files.h"
#include "rtl/StringList.h"

namespace xatreg {
namespace {

// Interface names are limited by the kernel (IFNAMSIZ less the terminating zero).
constexpr size_t kInterfaceNameMax = 15;

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos) break;
        size_t end = line.find_first_of(" \t\r", at);
        if (end == std::string_view::npos) end = line.size();
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

template <class T>
std::optional<T> Number(std::string_view text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string RegistryPath() {
    if (const char* file = std::getenv("XAT11REG_FILE"); file && *file) return file;
    Dl_info info{};
    std::string dir;
    if (dladdr(reinterpret_cast<void*>(&RegistryPath), &info) && info.dli_fname) {
        dir = info.dli_fname;
        auto slash = dir.find_last_of('/');
        dir.resize(slash == std::string::npos ? 0 : slash + 1);
    }
    return dir + "Xat11reg.reg";
}

std::optional<BoardEntry> ParseEntry(std::string_view line) {
    const auto words = Words(line);
    if (words.size() < 2 || words.size() > 3 || words[0].front() == ';' || words[0].front() == '#')
        return std::nullopt;
    BoardEntry entry;
    if (words[0] == "simulated")
        entry.type = VCI_BOARD_SIMULATED;
    else if (words[0] == "socketcan")
        entry.type = VCI_BOARD_SOCKETCAN;
    else
        entry.type = Number<uint32_t>(words[0]).value_or(0);  // a type no board library knows
    auto number = Number<uint16_t>(words[1]);
    if (!number) return std::nullopt;
    entry.number = *number;
    if (words.size() == 3) {
        if (words[2].size() > kInterfaceNameMax) return std::nullopt;
        entry.interfaceName = words[2];
    }
    return entry;
}

std::vector<BoardEntry> ReadRegistry(const std::string& path) {
    std::vector<std::string> lines;
    std::vector<BoardEntry> entries;
    if (!rtl::LoadLines(path, lines)) return entries;
    for (const std::string& line : lines)
        if (auto entry = ParseEntry(line)) entries.push_back(*entry);
    return entries;
}

}  // namespace xatreg
