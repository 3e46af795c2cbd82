// File functions with Windows semantics over the system's own path spelling ("USR\AppStr.cfg",
// ".//Morvand.ini"): NativePath is the one place where '\' becomes '/'.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rtl {

std::string NativePath(std::string_view path);

bool FileExists(std::string_view path);
bool DeleteFile(std::string_view path);
// Copies source to target; with failIfExists, fails when the target exists. Either the whole copy
// lands or the target is left untouched.
bool CopyFile(std::string_view source, std::string_view target, bool failIfExists);
bool CreateDirectory(std::string_view path);
// Appends bytes, creating the file when missing.
bool AppendToFile(std::string_view path, std::string_view bytes);
// Replaces the whole file (written beside it, then renamed into place). A link is written through
// to its target, and the file keeps its permissions. Fails, leaving the file as it was, when the
// file may not be written (a file without any write bit counts as read-only, even for root) and
// when any step of the write fails (no room in the folder or on the disk).
bool WriteWholeFile(std::string_view path, std::string_view bytes);
// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(std::string_view path);
// Size in bytes; -1 when the file cannot be read.
int64_t FileSize(std::string_view path);

// Folder of the running executable, with a trailing '/'.
std::string ExecutableDir();

// An exclusive hold on a folder for as long as the object lives, taken on the folder itself so that
// a read-only folder can be held too. The system drops it with the process however that ends, so a
// crash leaves nothing behind.
class TFolderLock {
public:
    explicit TFolderLock(std::string_view folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;
    // Another holder has the folder. A folder that cannot be held at all (one that cannot be opened,
    // a file system without locks) is not reported: nobody else holds it either.
    bool HeldElsewhere() const { return heldElsewhere_; }

private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

}  // namespace rtl
