#include "TerminalLogSink.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace lumo::cli {
namespace {

/// The item loader's and ingest's own log lines, which `stage` and `share` report themselves
/// (StagingView): shown only with -v.
bool reportedByStaging(std::string_view message) {
  constexpr std::string_view prefixes[] = {
      "skipped providers: ",
      "provider failures: ",
      "ingest stage failed: ",
      "archive attachment failed: ",
      "archive file-url directory failed: ",
  };
  for (const auto prefix : prefixes) {
    if (message.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

}  // namespace

void TerminalLogSink::write(const ShareLogEntry& entry) noexcept {
  journal_.send(entry);
  const std::string_view message = entry.message;
  if (verbose_) {
    writeLogEntryToStandardError(entry);
  } else if (reportedByStaging(message)) {
    // The commands that stage tell what was skipped and why, in the reader's language.
  } else if (entry.level == ShareLogLevel::error) {
    std::fprintf(stderr, "lumo-share: %s\n", entry.message.c_str());
  }
}

}  // namespace lumo::cli
