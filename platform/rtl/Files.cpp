#include "rtl/Files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace rtl {
namespace {

// The file a path names once links are followed; a dangling link names its missing target.
fs::path FollowLinks(fs::path p) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {  // 40: the system's own limit
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) break;
        p = p.parent_path() / next;  // an absolute target replaces the whole path
    }
    return p;
}

// A file that exists and may not be written: one without any write bit, which is read-only for
// root too (as the read-only mark is on the original platform), or one the system refuses us.
bool ReadOnly(const fs::path& file) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) return false;
    constexpr fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (status.permissions() & writable) == fs::perms::none || ::access(file.c_str(), W_OK) != 0;
}

}  // namespace

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
    // A link is written through: its target is replaced, the link stays. The new file is written
    // beside the target and renamed over it, so that a reader sees the old file or the whole new
    // one; it takes the old file's permissions. The rename would replace a file we may not write,
    // so such a file is refused first.
    const fs::path target = FollowLinks(NativePath(path));
    if (ReadOnly(target)) return false;
    const fs::path temp = target.string() + ".tmp~";
    std::error_code ec;
    const auto old = fs::status(target, ec);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (fs::is_regular_file(old)) fs::permissions(temp, old.permissions(), ec);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();  // a full disk may show only here
    if (out) {
        fs::rename(temp, target, ec);
        if (!ec) return true;
    }
    fs::remove(temp, ec);
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

TFolderLock::TFolderLock(std::string_view folder) {
    fd_ = ::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    heldElsewhere_ = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
}

TFolderLock::~TFolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace rtl
