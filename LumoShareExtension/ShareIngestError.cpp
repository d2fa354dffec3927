#include "ShareIngestError.hpp"

#include "ShareL10n.hpp"

namespace lumo {

ShareIngestError::ShareIngestError(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)) {
  switch (kind_) {
    case Kind::stagingFailed:
      description_ = ShareL10n::tr("读取失败：%@", message_);
      break;
    case Kind::queueFailed:
      description_ = ShareL10n::tr("写入本地队列失败：%@", message_);
      break;
    case Kind::emptyPayload:
      description_ = ShareL10n::tr("没有读到可分享的内容");
      break;
  }
}

}  // namespace lumo
