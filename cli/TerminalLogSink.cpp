#include "TerminalLogSink.hpp"

#include <cstdio>

namespace lumo::cli {

void TerminalLogSink::write(const ShareLogEntry& entry) noexcept {
  journal_.send(entry);
  if (entry.level == ShareLogLevel::error) {
    std::fprintf(stderr, "lumo-share: %s\n", entry.message.c_str());
  } else if (verbose_) {
    writeLogEntryToStandardError(entry);
  }
}

}  // namespace lumo::cli
