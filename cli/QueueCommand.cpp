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
    fmt::print("the queue is empty\n");
    return;
  }
  fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", "ID", "STATE", "ATTEMPTS", "BYTES",
             "NEXT ATTEMPT", "TITLE");
  for (const auto& share : shares) {
    const auto& entry = share.entry;
    fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", entry.staged.clientShareId,
               shareQueueStateName(entry.state), entry.attempts, entry.staged.totalBytes,
               timeText(entry.nextAttemptAtMs), entry.staged.displayTitle);
    if (entry.lastError) fmt::print("{:<36}  last error: {}\n", "", *entry.lastError);
  }
}

int runList(bool json) {
  PendingShareQueue queue(ShareStorage::resolve());
  const auto shares = queue.all();
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
  PendingShareQueue queue(ShareStorage::resolve());
  if (!queue.entry(id)) {
    std::cerr << "lumo-share: no queued share " << id << "\n";
    return 1;
  }
  queue.remove(id);
  fmt::print("removed {}\n", id);
  return 0;
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
  remove->callback([id, &exitCode] { exitCode = runRemove(*id); });
  queue->callback([remove, json, &exitCode] {
    if (remove->parsed()) return;
    exitCode = runList(*json);
  });
}

}  // namespace lumo::cli
