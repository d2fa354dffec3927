#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "PendingShareQueue.hpp"
#include "ShareLease.hpp"
#include "ShareOptions.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// A staged share that belongs to whoever staged it (the panel while its form is open, the
/// command line while it publishes): it holds the share's lease, so no drain, retry or other
/// program publishes it meanwhile.
///
/// Until `enqueue` the share is only staged: its folder has no "share.json", so it is invisible
/// to every listing, and if its process dies the folder is reclaimed like any abandoned staging
/// folder; nothing publishes a share its owner never sent. Dropping it before `enqueue` (a
/// cancel, a panel closed while reading) discards the staged files. Once enqueued, dropping it
/// only hands the share to the queue's drains.
class HeldShare {
 public:
  HeldShare(std::shared_ptr<PendingShareQueue> queue, StagedShare staged, ShareLease lease);
  ~HeldShare();
  HeldShare(const HeldShare&) = delete;
  HeldShare& operator=(const HeldShare&) = delete;

  const StagedShare& staged() const { return staged_; }
  /// Nothing once the holder gave the share up to the queue (see `release`).
  const std::optional<ShareLease>& lease() const { return lease_; }
  bool isEnqueued() const { return enqueued_; }

  /// Puts the share into the queue with `options`, as its owner's decision to send it; a second
  /// call does nothing. Throws like `PendingShareQueue::enqueue` (full, io), and the share stays
  /// held and staged.
  void enqueue(const std::optional<ShareOptions>& options);
  /// Gives a share that was never enqueued up at once: its folder is deleted. An enqueued share
  /// stays queued.
  void discard();
  /// Lets go of an enqueued share (say, after a failed attempt) so that drains, retries and the
  /// host application may send it; the holder can still try again, as anyone else would. Does
  /// nothing before `enqueue`.
  void release();

 private:
  std::shared_ptr<PendingShareQueue> queue_;
  StagedShare staged_;
  std::optional<ShareLease> lease_;
  std::atomic<bool> enqueued_ = false;
  std::atomic<bool> discarded_ = false;
};

}  // namespace lumo
