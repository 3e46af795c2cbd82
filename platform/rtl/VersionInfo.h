// The program's version resource, read through the three calls the system uses. The block is
// built into the program (ProductVersion is the build's project version) and answers for the
// running executable's own file name.
#pragma once
#include <cstdint>
#include <string_view>

namespace rtl {

uint32_t GetFileVersionInfoSize(std::string_view fileName, uint32_t* handle);
bool GetFileVersionInfo(std::string_view fileName, uint32_t handle, uint32_t length, void* data);
// "\VarFileInfo\Translation" gives language and code page (two u16); "\StringFileInfo\LLLLCCCC\Name"
// gives a zero-terminated text. *buffer points into the block.
bool VerQueryValue(const void* block, std::string_view subBlock, void** buffer, uint32_t* length);

}  // namespace rtl
