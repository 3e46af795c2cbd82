#include "rtl/Library.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace rtl {
namespace {

std::mutex overridesLock;
std::map<std::string, std::string, std::less<>>& Overrides() {
    static std::map<std::string, std::string, std::less<>> overrides;
    return overrides;
}

// "Xat11reg.dll" -> "libXat11reg.so"
std::string SharedObjectName(std::string_view windowsName) {
    std::string base(windowsName);
    auto slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    if (base.size() > 4 && (base.ends_with(".dll") || base.ends_with(".DLL"))) base.resize(base.size() - 4);
    return "lib" + base + ".so";
}

std::string ModuleDir(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return {};
    std::string file = info.dli_fname;
    auto slash = file.find_last_of('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

}  // namespace

HMODULE LoadLibrary(std::string_view windowsName) {
    {
        std::lock_guard lock(overridesLock);
        auto it = Overrides().find(windowsName);
        if (it != Overrides().end()) return dlopen(it->second.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    const std::string name = SharedObjectName(windowsName);
    std::string dir = ModuleDir(__builtin_return_address(0));
    if (!dir.empty()) {
        if (HMODULE h = dlopen((dir + name).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(HMODULE module, const char* name) {
    return module && name ? dlsym(module, name) : nullptr;
}

bool FreeLibrary(HMODULE module) { return module && dlclose(module) == 0; }

void SetLibraryOverride(std::string_view windowsName, std::string path) {
    std::lock_guard lock(overridesLock);
    if (path.empty())
        Overrides().erase(std::string(windowsName));
    else
        Overrides()[std::string(windowsName)] = std::move(path);
}

}  // namespace rtl
