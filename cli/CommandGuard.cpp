// The one place where a command's unexpected error becomes a message and an exit code.
#include <fmt/format.h>

#include <cstdio>
#include <string_view>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

/// What the standard library puts before a file operation's own words.
constexpr std::string_view filesystemPrefix = "filesystem error: ";

void report(const std::string& text) {
  fmt::print(stderr, "lumo-share: {}\n", text);
  std::fflush(stderr);
}

}  // namespace

void noteFallbackStorage() {
  try {
    const auto& storage = ShareContext::process().storage;
    if (storage.location == ShareStorageLocation::unavailable) {
      report(ShareStorage::fallbackNotice(storage.rootURL));
    }
  } catch (const std::exception&) {
  }
}

std::string plainWords(const std::exception& error) {
  if (const auto* api = dynamic_cast<const ShareAPIError*>(&error)) {
    // No reply at all: the transport's own words, in the reader's language like the shares'.
    if (api->status() == 0 && api->code() == "transport") {
      return ShareUploadError::transport(api->message()).message();
    }
    return ShareL10n::tr("服务拒绝了请求：%@（HTTP %@）",
                         {api->errorDescription(), std::to_string(api->status())});
  }
  if (const auto* url = dynamic_cast<const ShareURLError*>(&error)) {
    return ShareUploadError::transport(url->localizedDescription()).message();
  }
  if (const auto* upload = dynamic_cast<const ShareUploadError*>(&error)) {
    return upload->message();
  }
  std::string text = error.what();
  // "cannot create folder: Permission denied [PATH]", also where another error quotes it
  if (const auto prefix = text.find(filesystemPrefix); prefix != std::string::npos) {
    text.erase(prefix, filesystemPrefix.size());
  }
  return text.empty() ? ShareL10n::tr("发生了意外错误") : text;
}

std::function<void()> guardedCallback(int& exitCode, int failureCode,
                                      std::function<int()> command) {
  return [&exitCode, failureCode, command = std::move(command)] {
    try {
      exitCode = command();
    } catch (const CLI::Error&) {
      throw;  // the parser's own outcome (help, a usage error): main reports it
    } catch (const std::exception& error) {
      report(plainWords(error));
      exitCode = failureCode;
    } catch (...) {
      report(ShareL10n::tr("发生了意外错误"));
      exitCode = failureCode;
    }
  };
}

}  // namespace lumo::cli
