#pragma once

#include <cstddef>
#include <string>

namespace lumo {

/// Text read from a stream, bounded: a share keeps at most `ShareApple::maxTextBytes` of text, so
/// reading stops a margin past that instead of filling memory with an endless stream.
struct BoundedText {
  std::string text;
  bool truncated = false;  ///< more input was there than was read

  /// Reads at most `limit` bytes of `fd` (to its end or the limit), and notes whether more
  /// followed. A read error ends the text where it happened.
  static BoundedText read(int fd, std::size_t limit);
};

}  // namespace lumo
