#include "rtl/Files.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace rtl {

std::string NativePath(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

bool FileExists(std::string_view path) {
    std::error_code ec;
    return fs::is_regular_file(NativePath(path), ec);
}

bool DeleteFile(std::string_view path) {
    std::error_code ec;
    auto p = NativePath(path);
    return fs::is_regular_file(p, ec) && fs::remove(p, ec);
}

bool CopyFile(std::string_view source, std::string_view target, bool failIfExists) {
    const std::string src = NativePath(source), dst = NativePath(target);
    std::error_code ec;
    if (!fs::is_regular_file(src, ec)) return false;
    if (failIfExists && fs::exists(dst, ec)) return false;
    auto bytes = ReadWholeFile(src);
    return bytes && WriteWholeFile(dst, *bytes);
}

bool CreateDirectory(std::string_view path) {
    std::error_code ec;
    return fs::create_directory(NativePath(path), ec);
}

bool AppendToFile(std::string_view path, std::string_view bytes) {
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return static_cast<bool>(out);
}

bool WriteWholeFile(std::string_view path, std::string_view bytes) {
    const std::string target = NativePath(path);
    const std::string temp = target + ".tmp~";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (!ec) return true;
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
}

std::optional<std::string> ReadWholeFile(std::string_view path) {
    const std::string p = NativePath(path);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(s).str();
}

int64_t FileSize(std::string_view path) {
    std::error_code ec;
    auto size = fs::file_size(NativePath(path), ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

std::string ExecutableDir() {
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "./";
    return exe.parent_path().string() + "/";
}

}  // namespace rtl
