#include <fmt/format.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::tr;

std::string timeText(const std::optional<std::int64_t>& ms) {
  return ms ? ShareDateFormat::localTime(*ms, "yyyy-MM-dd HH:mm:ss") : tr("现在");
}

/// When the queue takes a share up next: a share a killed program left "uploading" once its
/// attempt is old enough (as `drain` counts it), any other at its stored time, or now.
std::optional<std::int64_t> nextAttemptAtMs(const ShareQueueEntry& entry) {
  const auto due = PendingShareQueue::dueAtMs(entry);
  const bool overdueUpload =
      entry.state == ShareQueueEntry::State::uploading && due && *due <= currentTimeMs();
  return overdueUpload ? std::nullopt : due;
}

/// A state as a person reads it; `--json` keeps the stored names.
std::string stateText(ShareQueueEntry::State state) {
  switch (state) {
    case ShareQueueEntry::State::queued:
      return tr("排队中");
    case ShareQueueEntry::State::uploading:
      return tr("上传中");
    case ShareQueueEntry::State::failed:
      return tr("失败");
  }
  return shareQueueStateName(state);
}

bool isHan(char32_t scalar) {
  return (scalar >= 0x3400 && scalar <= 0x9FFF) || (scalar >= 0xF900 && scalar <= 0xFAFF) ||
         (scalar >= 0x20000 && scalar <= 0x3134F);
}

/// `text` without the names it quotes (“…”, 「…」, "…", ‘…’): a file or share name is written
/// the same in every language, and a stored error often begins with one.
std::string withoutQuotedNames(std::string_view text) {
  static constexpr std::pair<std::string_view, std::string_view> quotes[] = {
      {"“", "”"}, {"「", "」"}, {"\"", "\""}, {"‘", "’"}};
  std::string left(text);
  for (const auto& [open, close] : quotes) {
    for (auto start = left.find(open); start != std::string::npos; start = left.find(open, start)) {
      const auto end = left.find(close, start + open.size());
      if (end == std::string::npos) break;
      left.erase(start, end + close.size() - start);
    }
  }
  return left;
}

/// Whether `text` reads as Chinese: quoted names left out, any Han character remains (a
/// Chinese text may carry Latin names and codes unquoted, an English one no Han word); without
/// Han and Latin letters alike it counts as not Chinese.
bool readsAsChinese(std::string_view text) {
  bool han = false;
  UnicodeText::forEachScalar(
      withoutQuotedNames(text),
      [&han](char32_t scalar, std::size_t, std::size_t) { han = han || isHan(scalar); });
  return han;
}

/// The last failure as it was recorded, in the language that was active then: after the label
/// on one line when that is the reader's language, else on a line of its own under a label that
/// says so, so that no line mixes two languages.
void printLastError(const std::string& lastError) {
  const bool readerReadsChinese = readsAsChinese(tr("上次错误：%@", ""));
  if (readerReadsChinese == readsAsChinese(lastError)) {
    fmt::print("{:<36}  {}\n", "", tr("上次错误：%@", lastError));
    return;
  }
  fmt::print("{:<36}  {}\n{:<36}    {}\n", "", tr("上次错误（以失败时的语言记录）："), "",
             lastError);
}

void printTable(const std::vector<QueuedShare>& shares) {
  if (shares.empty()) {
    fmt::print("{}\n", tr("队列是空的。"));
    return;
  }
  fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", tr("编号"), tr("状态"), tr("尝试次数"),
             tr("字节"), tr("下次尝试"), tr("标题"));
  for (const auto& share : shares) {
    const auto& entry = share.entry;
    fmt::print("{:<36}  {:<9}  {:>8}  {:>12}  {:<19}  {}\n", entry.staged.clientShareId,
               stateText(entry.state), entry.attempts, entry.staged.totalBytes,
               timeText(nextAttemptAtMs(entry)), entry.staged.displayTitle);
    if (entry.lastError) printLastError(*entry.lastError);
  }
}

/// Says once, on standard error, that entries of the queue could not be read: a "share.json"
/// that is there but does not decode (a share still being staged has none yet). The listing
/// goes on without them.
void reportDamagedEntries(const PendingShareQueue& queue) {
  std::vector<std::string> damaged;
  for (const auto& directory : queue.storage().pendingDirectories()) {
    // Read first: a share removed meanwhile has no file left either.
    if (queue.entry(directory.filename().string())) continue;
    std::error_code ignored;
    if (std::filesystem::exists(directory / "share.json", ignored)) {
      damaged.push_back((directory / "share.json").string());
    }
  }
  if (damaged.empty()) return;
  fmt::print(stderr, "lumo-share: {}\n",
             ShareL10n::trn("有 %d 个队列条目无法读取，未列出：", damaged.size()));
  for (const auto& file : damaged) fmt::print(stderr, "  {}\n", file);
}

int runList(bool json) {
  const auto& queue = *ShareContext::process().uploads.queue;
  const auto shares = queue.all();
  reportDamagedEntries(queue);
  if (json) {
    std::vector<ShareQueueEntry> entries;
    for (const auto& share : shares) entries.push_back(share.entry);
    std::cout << ShareJSON::encoder().encode(entries) << "\n";
  } else {
    printTable(shares);
  }
  return 0;
}

void reportNotQueued(const std::string& id) {
  fmt::print(stderr, "lumo-share: {}\n", tr("队列中没有分享 %@。", id));
}

void reportBusy(const std::string& id) {
  fmt::print(stderr, "lumo-share: {}\n", tr("另一个程序正在发布分享 %@。", id));
}

int runRemove(const std::string& id) {
  auto& queue = *ShareContext::process().uploads.queue;
  if (!queue.entry(id)) {
    reportNotQueued(id);
    return failed;
  }
  if (!queue.remove(id)) {
    fmt::print(stderr, "lumo-share: {}\n", tr("另一个程序正在发布分享 %@，没有移除它。", id));
    return failed;
  }
  if (queue.entry(id)) {  // the queue drops what it cannot delete silently: said here
    fmt::print(stderr, "lumo-share: {}\n",
               tr("无法从 %@ 移除分享 %@。", {queue.storage().pendingRoot().string(), id}));
    return failed;
  }
  fmt::print("{}\n", tr("已移除 %@。", id));
  return 0;
}

/// The shares another program is publishing right now: uploading, and their lease is held.
std::vector<std::string> sharesSentElsewhere(const PendingShareQueue& queue) {
  std::vector<std::string> busy;
  for (const auto& share : queue.all()) {
    if (share.entry.state == ShareQueueEntry::State::uploading && !queue.claim(share)) {
      busy.push_back(share.staged().clientShareId);
    }
  }
  return busy;
}

/// Whether `error` is the session's answer for a share another program holds.
bool isBusy(const ShareUploadError& error, const std::string& id) {
  const auto* transport = error.as<ShareUploadError::Transport>();
  return transport && transport->text == tr(ShareUploadSession::busyText) + id;
}

/// Publishes every failed share now (and any queued one); the shares another program is
/// publishing are theirs, and said so.
int runRetryAll() {
  const auto& session = ShareContext::process().uploads;
  session.queue->requeueAll(true);
  const auto due = static_cast<std::int64_t>(session.queue->all().size());
  const auto report = session.drain(std::max<std::int64_t>(due, 1), true);
  for (const auto& outcome : report.uploaded) fmt::print("{}\n", outcome.shortUrl);
  for (const auto& failure : report.failures) {
    fmt::print(stderr, "lumo-share: {}: {}\n", failure.clientShareId, failure.message);
  }
  const auto busy = sharesSentElsewhere(*session.queue);
  for (const auto& id : busy) reportBusy(id);
  return report.succeeded() && busy.empty() ? published : keptInQueue;
}

/// Publishes one queued share now.
int runRetry(const std::string& id) {
  const auto& session = ShareContext::process().uploads;
  if (!session.queue->entry(id)) {
    reportNotQueued(id);
    return usageError;
  }
  const auto result = session.uploadNow(id);
  if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
    fmt::print("{}\n", outcome->shortUrl);
    return published;
  }
  const auto& error = std::get<ShareUploadError>(result);
  if (isBusy(error, id)) {
    reportBusy(id);  // its own attempt decides; a retry now would only collide with it
    return keptInQueue;
  }
  fmt::print(stderr, "lumo-share: {}\n",
             SharePanelText::commandLineGuidance(error, session.tokenState(), id));
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
      fmt::print(stderr, "lumo-share: {}\n",
                 tr("`lumo-share queue retry` 需要一个分享编号或 `--all`（只取其一）。"));
      return static_cast<int>(usageError);
    }
    return *retryAll ? runRetryAll() : runRetry(*retryId);
  }));
  // CLI11 calls a command's callback after its subcommand's: the listing only stands alone.
  queue->callback(guardedCallback(exitCode, failed, [remove, retry, json, &exitCode] {
    return remove->parsed() || retry->parsed() ? exitCode : runList(*json);
  }));
}

}  // namespace lumo::cli
