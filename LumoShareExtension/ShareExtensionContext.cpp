#include "ShareExtensionContext.hpp"

namespace lumo {

ShareExtensionContext::ShareExtensionContext(Providers inputItems,
                                             std::function<void(Ending)> onEnding)
    : inputItems_(std::move(inputItems)), onEnding_(std::move(onEnding)) {}

void ShareExtensionContext::end(Ending ending) {
  if (ending_ != Ending::open) return;
  ending_ = ending;
  if (onEnding_) onEnding_(ending);
}

}  // namespace lumo
