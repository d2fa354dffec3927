#include <fmt/format.h>

#include <iostream>
#include <memory>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

std::string timeText(const std::optional<std::int64_t>& ms) {
  return ms ? ShareDateFormat::localTime(*ms, "yyyy-MM-dd HH:mm:ss") : "now";
}

void printTable(const std::vector<QueuedShare>& shares) {
  if (shares.empty()) {
    fmt::print("{}\n", ShareL10n::tr("队列是空的。"));
    return;
  }
  fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", "ID", "STATE", "ATTEMPTS", "BYTES",
             "NEXT ATTEMPT", "TITLE");
  for (const auto& share : shares) {
    const auto& entry = share.entry;
    fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", entry.staged.clientShareId,
               shareQueueStateName(entry.state), entry.attempts, entry.staged.totalBytes,
               timeText(entry.nextAttemptAtMs), entry.staged.displayTitle);
    // The label in the reader's language, as the stored error text is.
    if (entry.lastError) {
      fmt::print("{:<36}  {}\n", "", ShareL10n::tr("上次错误：%@", *entry.lastError));
    }
  }
}

int runList(bool json) {
  const auto shares = ShareContext::process().uploads.queue->all();
  if (json) {
    std::vector<ShareQueueEntry> entries;
    for (const auto& share : shares) entries.push_back(share.entry);
    std::cout << ShareJSON::encoder().encode(entries) << "\n";
  } else {
    printTable(shares);
  }
  return 0;
}

int runRemove(const std::string& id) {
  auto& queue = *ShareContext::process().uploads.queue;
  if (!queue.entry(id)) {
    std::cerr << "lumo-share: no queued share " << id << "\n";
    return failed;
  }
  if (!queue.remove(id)) {
    std::cerr << "lumo-share: " << id << " is being published by another program; not removed\n";
    return failed;
  }
  if (queue.entry(id)) {  // the queue drops what it cannot delete silently: said here
    std::cerr << "lumo-share: " << id << " could not be removed from "
              << queue.storage().pendingRoot().string() << "\n";
    return failed;
  }
  fmt::print("removed {}\n", id);
  return 0;
}

/// Publishes one queued share now, or every failed one when `id` is empty.
int runRetry(const std::string& id) {
  const auto& session = ShareContext::process().uploads;
  if (id.empty()) {
    session.queue->requeueAll(true);
    const auto due = static_cast<std::int64_t>(session.queue->all().size());
    const auto report = session.drain(std::max<std::int64_t>(due, 1), true);
    for (const auto& outcome : report.uploaded) fmt::print("{}\n", outcome.shortUrl);
    for (const auto& failure : report.failures) {
      fmt::print(stderr, "lumo-share: {}: {}\n", failure.clientShareId, failure.message);
    }
    return report.succeeded() ? published : keptInQueue;
  }
  if (!session.queue->entry(id)) {
    std::cerr << "lumo-share: no queued share " << id << "\n";
    return usageError;
  }
  const auto result = session.uploadNow(id);
  if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
    fmt::print("{}\n", outcome->shortUrl);
    return published;
  }
  fmt::print(stderr, "lumo-share: {}\n",
             SharePanelText::commandLineGuidance(std::get<ShareUploadError>(result),
                                                 session.tokenState(), id));
  return keptInQueue;
}

}  // namespace

void addQueueCommand(CLI::App& app, int& exitCode) {
  auto json = std::make_shared<bool>(false);
  auto* queue =
      app.add_subcommand("queue", "List the shares waiting to be published, oldest first");
  queue->add_flag("--json", *json, "Print the entries as JSON");
  auto id = std::make_shared<std::string>();
  auto* remove =
      queue->add_subcommand("remove", "Remove a share and its staged files from the queue");
  remove->add_option("id", *id, "The share's identifier")->required();
  remove->callback(guardedCallback(exitCode, failed, [id] { return runRemove(*id); }));
  auto retryId = std::make_shared<std::string>();
  auto retryAll = std::make_shared<bool>(false);
  auto* retry =
      queue->add_subcommand("retry", "Publish a queued share now (--all: every failed one)");
  retry->add_option("id", *retryId, "The share's identifier");
  retry->add_flag("--all", *retryAll, "Every failed share");
  // What a failed retry leaves is still queued.
  retry->callback(guardedCallback(exitCode, keptInQueue, [retryId, retryAll] {
    if (retryId->empty() != *retryAll) {
      std::cerr << "lumo-share: queue retry takes an identifier or --all\n";
      return static_cast<int>(usageError);
    }
    return runRetry(*retryId);
  }));
  // CLI11 calls a command's callback after its subcommand's: the listing only stands alone.
  queue->callback(guardedCallback(exitCode, failed, [remove, retry, json, &exitCode] {
    return remove->parsed() || retry->parsed() ? exitCode : runList(*json);
  }));
}

}  // namespace lumo::cli
