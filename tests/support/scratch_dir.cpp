// The scratch directory: a fresh directory under the system's temporary
// directory, made the working directory for the object's lifetime.
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "support/test_env.h"

namespace mvtest {

ScratchDir::ScratchDir() {
  namespace fs = std::filesystem;
  previous_ = fs::current_path().string();
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("morvent-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) path_ = candidate.string();  // false: it existed
  }
  if (path_.empty()) throw std::runtime_error("cannot create a scratch directory");
  fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace mvtest
