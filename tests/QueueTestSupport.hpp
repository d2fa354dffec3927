#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo::testing {

/// A staged share with a text payload, `attachmentSizes.size()` attachments and a creation time.
inline StagedShare makeStagedShare(const std::string& id, std::int64_t createdAt,
                                   std::vector<std::int64_t> attachmentSizes = {}) {
  StagedShare share;
  share.clientShareId = id;
  share.createdAt = createdAt;
  share.payload.kind = ShareKindValues::text;
  share.payload.text = "text of " + id;
  share.displayTitle = "title " + id;
  for (std::size_t index = 0; index < attachmentSizes.size(); ++index) {
    const auto name = "0" + std::to_string(index) + "-file.bin";
    const auto itemId = "item-" + std::to_string(index);
    const auto size = attachmentSizes[index];
    share.attachments.push_back(
        {itemId, name, "file", "application/octet-stream", std::nullopt, size, "00", {}, {}, {}});
    share.totalBytes += attachmentSizes[index];
  }
  return share;
}

inline ShareUploadOutcome makeOutcome(const std::string& slug, std::int64_t uploadedAtMs,
                                      std::optional<std::string> claimToken = std::nullopt) {
  return ShareUploadOutcome{"doc",
                            slug,
                            "https://lumo.example/" + slug,
                            std::nullopt,
                            claimToken.has_value(),
                            uploadedAtMs + 86400000,
                            claimToken,
                            uploadedAtMs};
}

/// A queue on a fresh private root with a clock the test moves and a fixed jitter draw.
class QueueFixture {
 public:
  QueueFixture()
      : storage{folder.path() / "root", ShareStorageLocation::injected},
        queue(
            storage, [this] { return clock->load(); }, [this] { return randomDraw->load(); }) {}

  TemporaryDirectory folder;
  ShareStorage storage;
  std::shared_ptr<std::atomic<std::int64_t>> clock =
      std::make_shared<std::atomic<std::int64_t>>(1700000000000);
  std::shared_ptr<std::atomic<double>> randomDraw = std::make_shared<std::atomic<double>>(0.5);
  PendingShareQueue queue;
};

}  // namespace lumo::testing
