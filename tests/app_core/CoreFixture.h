// Shared pieces of the core-data tests: a temporary base directory with a USR folder, a recorder
// of message boxes; the full-disk limit is in TestFiles.h.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Schedule.h"
#include "TestFiles.h"
#include "rtl/Messages.h"

class TempBase {
public:
    explicit TempBase(const std::string& subfolder = "") {
        std::string pattern = (std::filesystem::temp_directory_path() / "appcoreXXXXXX").string();
        root_ = mkdtemp(pattern.data());
        dir_ = root_ + "/" + subfolder;
        if (!subfolder.empty()) std::filesystem::create_directories(dir_);
        if (dir_.back() != '/') dir_ += '/';
        std::filesystem::create_directory(dir_ + "USR");
        saved_ = std::exchange(BaseDir, dir_);
    }
    ~TempBase() {
        BaseDir = saved_;
        std::filesystem::remove_all(root_);
    }
    const std::string& Dir() const { return dir_; }
    std::string At(const std::string& name) const { return dir_ + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(At(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(At(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists(At(name)); }

private:
    std::string root_, dir_, saved_;
};

struct Box {
    std::string text, caption;
};

class BoxRecorder {
public:
    BoxRecorder() {
        previous_ = rtl::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes.push_back({text, caption});
            return rtl::IDOK;
        });
    }
    ~BoxRecorder() { rtl::SetMessageBoxHandler(previous_); }
    std::vector<Box> boxes;

private:
    rtl::MessageBoxHandler previous_;
};
