#include "ShareQueueError.hpp"

#include <utility>

namespace lumo {

ShareQueueError::ShareQueueError(Kind kind, std::int64_t capacity, std::string description)
    : kind_(kind), capacity_(capacity), description_(std::move(description)) {
  message_ = kind_ == Kind::full ? "pending queue is full (" + std::to_string(capacity_) + ")"
                                 : "pending queue file error: " + description_;
}

ShareQueueError ShareQueueError::full(std::int64_t capacity) {
  return ShareQueueError(Kind::full, capacity, "");
}

ShareQueueError ShareQueueError::io(std::string description) {
  return ShareQueueError(Kind::io, 0, std::move(description));
}

}  // namespace lumo
