// A fresh folder under the system's temporary folder, removed with its contents at the end.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

class TempDir {
public:
    // mkdtemp, not a name made of the process id: a run that was killed leaves its folder behind,
    // and process ids come round again.
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rtl_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder's file name as a text.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};
