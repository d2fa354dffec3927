#include "BoundedText.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lumo {

BoundedText BoundedText::read(int fd, std::size_t limit) {
  BoundedText result;
  result.text.resize(limit + 1);
  std::size_t filled = 0;
  while (filled < result.text.size()) {
    const auto count = ::read(fd, result.text.data() + filled, result.text.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    filled += static_cast<std::size_t>(count);
  }
  result.truncated = filled > limit;
  result.text.resize(std::min(filled, limit));
  return result;
}

}  // namespace lumo
