#include "HeldShare.hpp"

namespace lumo {

HeldShare::HeldShare(std::shared_ptr<PendingShareQueue> queue, StagedShare staged, ShareLease lease)
    : queue_(std::move(queue)), staged_(std::move(staged)), lease_(std::move(lease)) {}

HeldShare::~HeldShare() {
  discard();
}

void HeldShare::enqueue(const std::optional<ShareOptions>& options) {
  if (enqueued_ || discarded_) return;
  auto staged = staged_;
  staged.options = options;
  queue_->enqueue(staged);
  staged_ = std::move(staged);
  enqueued_ = true;
}

void HeldShare::release() {
  if (enqueued_) lease_.reset();
}

void HeldShare::discard() {
  if (enqueued_ || discarded_.exchange(true)) return;
  // The folder goes while the lease is still held, so no one can take it half-deleted.
  queue_->discardStaging(staged_.clientShareId);
}

}  // namespace lumo
