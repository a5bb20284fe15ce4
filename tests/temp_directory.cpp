#include "tests/temp_directory.h"

#include <filesystem>
#include <random>

namespace quelvane::testing {

TempDirectory::TempDirectory() {
    namespace fs = std::filesystem;
    std::random_device seed;
    std::mt19937_64 random(seed());
    const fs::path path = fs::temp_directory_path() / ("quelvane-test-" + std::to_string(random()));
    fs::create_directories(path);
    path_ = path.generic_string();
    previous_ = fs::current_path().string();
    fs::current_path(path);
}

TempDirectory::~TempDirectory() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

}  // namespace quelvane::testing
