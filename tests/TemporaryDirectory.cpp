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

ScopedEnvironment::~ScopedEnvironment() {
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    if (saved->second) {
      ::setenv(saved->first.c_str(), saved->second->c_str(), 1);
    } else {
      ::unsetenv(saved->first.c_str());
    }
  }
}

void ScopedEnvironment::set(const char* name, const std::string& value) {
  remember(name);
  ::setenv(name, value.c_str(), 1);
}

void ScopedEnvironment::unset(const char* name) {
  remember(name);
  ::unsetenv(name);
}

void ScopedEnvironment::remember(const char* name) {
  const char* value = ::getenv(name);
  saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

}  // namespace lumo::testing
