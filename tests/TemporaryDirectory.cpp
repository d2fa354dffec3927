#include "TemporaryDirectory.hpp"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <system_error>

namespace lumo::testing {

TemporaryDirectory::TemporaryDirectory() {
  auto pattern = (std::filesystem::temp_directory_path() / "lumo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace lumo::testing
