#pragma once

#include <exception>
#include <string>

namespace lumo {

/// Why a share could not be staged; its description is the user text.
class ShareIngestError : public std::exception {
 public:
  enum class Kind { stagingFailed, queueFailed, emptyPayload };

  static ShareIngestError stagingFailed(std::string message) {
    return {Kind::stagingFailed, std::move(message)};
  }
  static ShareIngestError queueFailed(std::string message) {
    return {Kind::queueFailed, std::move(message)};
  }
  static ShareIngestError emptyPayload() { return {Kind::emptyPayload, ""}; }

  Kind kind() const noexcept { return kind_; }
  const std::string& message() const noexcept { return message_; }
  /// "读取失败：…", "写入本地队列失败：…" or "没有读到可分享的内容".
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }
  bool operator==(const ShareIngestError& other) const {
    return kind_ == other.kind_ && message_ == other.message_;
  }

 private:
  ShareIngestError(Kind kind, std::string message);
  Kind kind_;
  std::string message_;
  std::string description_;
};

}  // namespace lumo
