#pragma once

#include <string>

namespace quelvane::testing {

// A fresh directory that the test works in (it becomes the current directory), removed with
// everything in it when the test ends.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::string previous_;
};

}  // namespace quelvane::testing
