// The installation's board registry file, Xat11reg.reg: one installed board per line,
//
//   <type> <number> [<interface>]
//
// type: "simulated" or "socketcan" (or a board type number); number: the board's number within
// its type (0, 1, ...); interface: the SocketCAN network interface (default can<number>).
// The first board listed is the default board. Blank lines and lines starting with ';' or '#' are
// comments; a line that is no board entry is passed over.
//
// Both the registry library and the board library read it; XAT11REG_FILE names another file.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xatreg {

struct BoardEntry {
    uint32_t type = 0;
    uint16_t number = 0;
    std::string interfaceName;  // at most 15 characters
};

// $XAT11REG_FILE when set, else Xat11reg.reg beside the library that asks.
std::string RegistryPath();
std::optional<BoardEntry> ParseEntry(std::string_view line);
// The boards of the file in file order; none when it cannot be read.
std::vector<BoardEntry> ReadRegistry(const std::string& path);

}  // namespace xatreg
