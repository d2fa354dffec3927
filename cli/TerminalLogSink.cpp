#include "TerminalLogSink.hpp"

#include <cstdio>

namespace lumo::cli {

void TerminalLogSink::write(const ShareLogEntry& entry) noexcept {
  if (entry.level == ShareLogLevel::error) {
    std::fprintf(stderr, "lumo-share: %s\n", entry.message.c_str());
  } else {
    journal_.write(entry);
  }
}

}  // namespace lumo::cli
