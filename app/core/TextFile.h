// Reading a whole text file for the program's loaders, with their error text.
#pragma once
#include <optional>
#include <string>
#include <string_view>

// The file's bytes; nothing, with errorText "FILE NOT EXISTS<separator> <path> !" (or
// "FILE NOT READABLE..." when it exists but cannot be read), otherwise.
std::optional<std::string> ReadTextFile(const std::string& path, std::string_view separator,
                                        std::string& errorText);
