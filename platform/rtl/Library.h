// Loading a library by its Windows name and resolving functions by name. "Xat11reg.dll" is looked
// for as libXat11reg.so beside the module that asks (the executable or the library), then on the
// system path.
#pragma once
#include <string>
#include <string_view>

namespace rtl {

using HMODULE = void*;

HMODULE LoadLibrary(std::string_view windowsName);
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

// Tests: make LoadLibrary of windowsName open this file instead (empty path: forget the override).
void SetLibraryOverride(std::string_view windowsName, std::string path);

}  // namespace rtl
