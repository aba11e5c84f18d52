// A fresh folder under /tmp for a test's files, removed with everything in it when it goes.
#pragma once

#include <filesystem>
#include <stdlib.h>
#include <string>

namespace hyd::test {

class scratch_folder {
  public:
    explicit scratch_folder(const std::string& prefix) : path_("/tmp/" + prefix + ".XXXXXX") {
        if (!mkdtemp(path_.data())) path_.clear();
    }
    ~scratch_folder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

} // namespace hyd::test
