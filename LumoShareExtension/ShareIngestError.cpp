#include "ShareIngestError.hpp"

namespace lumo {

ShareIngestError::ShareIngestError(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)) {
  switch (kind_) {
    case Kind::stagingFailed:
      description_ = "读取失败：" + message_;
      break;
    case Kind::queueFailed:
      description_ = "写入本地队列失败：" + message_;
      break;
    case Kind::emptyPayload:
      description_ = "没有读到可分享的内容";
      break;
  }
}

}  // namespace lumo
