#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ShareItemProvider.hpp"

namespace lumo {

/// The request the panel serves: the shared items, and the one way it ends. The program that
/// starts the panel decides what an ending means (the process exits 0 when completed, 1 when
/// cancelled).
class ShareExtensionContext {
 public:
  enum class Ending { open, completed, cancelled };
  using Providers = std::vector<std::shared_ptr<ShareItemProvider>>;

  explicit ShareExtensionContext(Providers inputItems, std::function<void(Ending)> onEnding = {});

  const Providers& inputItems() const { return inputItems_; }
  Ending ending() const { return ending_; }

  /// Ends the request as done (nothing is handed back). Only the first ending counts.
  void completeRequest() { end(Ending::completed); }
  /// Ends the request as cancelled by the user. Only the first ending counts.
  void cancelRequest() { end(Ending::cancelled); }

 private:
  void end(Ending ending);

  Providers inputItems_;
  std::function<void(Ending)> onEnding_;
  Ending ending_ = Ending::open;
};

}  // namespace lumo
