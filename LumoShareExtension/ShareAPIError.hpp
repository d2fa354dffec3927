#pragma once

#include <exception>
#include <string>

namespace lumo {

/// The error of the account and device calls: the reply's status, the server's code and message.
class ShareAPIError : public std::exception {
 public:
  ShareAPIError(int status, std::string code, std::string message)
      : status_(status),
        code_(std::move(code)),
        message_(std::move(message)),
        description_(code_ + "：" + message_) {}

  int status() const noexcept { return status_; }
  const std::string& code() const noexcept { return code_; }
  const std::string& message() const noexcept { return message_; }
  /// code, "：", message.
  const std::string& errorDescription() const noexcept { return description_; }
  bool isUnauthorized() const noexcept { return status_ == 401; }
  const char* what() const noexcept override { return description_.c_str(); }
  bool operator==(const ShareAPIError& other) const {
    return status_ == other.status_ && code_ == other.code_ && message_ == other.message_;
  }

 private:
  int status_;
  std::string code_;
  std::string message_;
  std::string description_;
};

}  // namespace lumo
