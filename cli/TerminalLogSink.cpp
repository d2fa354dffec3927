#include "TerminalLogSink.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace lumo::cli {
namespace {

constexpr std::string_view skippedPrefix = "skipped providers: ";

/// One skip reason of the item loader ("code:item" or "code") in plain words.
std::string plainSkipReason(std::string_view reason) {
  const auto colon = reason.find(':');
  const auto code = reason.substr(0, colon);
  const auto item = colon == std::string_view::npos ? std::string("an item")
                                                    : std::string(reason.substr(colon + 1));
  if (code == "file_missing") return item + ": no such file or folder";
  if (code == "file_url_unreadable") return item + ": cannot be read";
  if (code == "copy_failed") return item + ": could not be copied for sharing";
  if (code == "archive_failed") return item + ": the folder could not be zipped";
  return item + ": not a file, folder, text or link that can be shared";
}

}  // namespace

void TerminalLogSink::write(const ShareLogEntry& entry) noexcept {
  journal_.send(entry);
  const std::string_view message = entry.message;
  if (verbose_) {
    writeLogEntryToStandardError(entry);
  } else if (message.rfind(skippedPrefix, 0) == 0) {
    // The loader's reasons are codes; a person reads what happened to each item.
    auto reasons = message.substr(skippedPrefix.size());
    while (!reasons.empty()) {
      const auto comma = reasons.find(',');
      std::fprintf(stderr, "lumo-share: skipped %s\n",
                   plainSkipReason(reasons.substr(0, comma)).c_str());
      reasons = comma == std::string_view::npos ? std::string_view() : reasons.substr(comma + 1);
    }
  } else if (entry.level == ShareLogLevel::error) {
    std::fprintf(stderr, "lumo-share: %s\n", entry.message.c_str());
  }
}

}  // namespace lumo::cli
