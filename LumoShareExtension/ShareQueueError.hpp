#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace lumo {

/// Why the pending queue could not do what it was asked. Carries no user text; the upload
/// orchestration words it.
class ShareQueueError : public std::exception {
 public:
  enum class Kind { full, io };

  /// The queue already holds `capacity` shares.
  static ShareQueueError full(std::int64_t capacity);
  /// A file of the queue could not be written; `description` is the file error's text.
  static ShareQueueError io(std::string description);

  Kind kind() const noexcept { return kind_; }
  std::int64_t capacity() const noexcept { return capacity_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return message_.c_str(); }

  bool operator==(const ShareQueueError& other) const {
    return kind_ == other.kind_ && capacity_ == other.capacity_ &&
           description_ == other.description_;
  }

 private:
  ShareQueueError(Kind kind, std::int64_t capacity, std::string description);

  Kind kind_;
  std::int64_t capacity_ = 0;
  std::string description_;
  std::string message_;
};

}  // namespace lumo
