// Taking shares back from the terminal, and asking the service which recent uploads it still
// serves.
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::tr;

/// Checks of `recent --check`: a few at once, each given a few seconds, none started late.
constexpr std::size_t parallelChecks = 4;
constexpr std::chrono::seconds checkTimeout{5};
constexpr std::chrono::seconds checkPeriod{10};

struct DeleteRequest {
  std::vector<std::string> shares;  ///< slugs or short links as printed
  bool json = false;
};

/// What became of one share: its `--json` result and the line a person reads.
struct Outcome {
  const ShareUploadRecord& record;
  std::string result;
  std::string message;
  bool takenBack = false;
};

std::string linkOf(const ShareUploadRecord& record) {
  return record.shortUrl.empty() ? record.slug : record.shortUrl;
}

std::string signInText(const std::string& link) {
  if (ShareContext::process().uploads.tokenState() == ShareUploadSession::TokenState::expired) {
    return tr("%@ 没有撤回：登录已过期，请重新登录（`lumo-share login`）", link);
  }
  return tr("%@ 没有撤回：它属于一个账号，请先登录（`lumo-share login`）", link);
}

Outcome takeBack(const ShareDeletion& deletion, const ShareUploadRecord& record) {
  const auto link = linkOf(record);
  try {
    switch (deletion.takeBack(record)) {
      case ShareDeletionResult::deleted:
        return {record, "deleted", tr("已撤回 %@，链接不再有效。", link), true};
      case ShareDeletionResult::alreadyGone:
        return {record, "alreadyGone", tr("%@ 已经过期，无需撤回；上传记录已移除。", link), true};
      case ShareDeletionResult::refused:
        return {record, "refused",
                tr("%@ 没有撤回：服务没有找到属于你的这条分享，它可能属于另一个账号。", link)};
      case ShareDeletionResult::unsupported:
        return {record, "unsupported",
                tr("%@ 没有撤回：这个服务不能删除分享，请到它的网站上删除。", link)};
    }
  } catch (const ShareAPIError& error) {
    if (error.isUnauthorized()) return {record, "signInRequired", signInText(link)};
    return {record, "failed", tr("%@ 没有撤回：%@", {link, plainWords(error)})};
  } catch (const std::exception& error) {
    return {record, "failed", tr("%@ 没有撤回：%@", {link, plainWords(error)})};
  }
  return {record, "failed", tr("%@ 没有撤回：%@", {link, tr("发生了意外错误")})};
}

/// The upload records the arguments name, each once; nothing (said on standard error) when any
/// argument names none, so that a typing mistake takes nothing back.
std::optional<std::vector<ShareUploadRecord>> recordsOf(const ShareDeletion& deletion,
                                                        const std::vector<std::string>& shares) {
  std::vector<ShareUploadRecord> records;
  bool known = true;
  for (const auto& share : shares) {
    const auto record = deletion.record(share);
    if (!record) {
      fmt::print(stderr, "lumo-share: {}\n",
                 tr("这台电脑上没有 %@ 的上传记录（`lumo-share recent` 列出它们）", share));
      known = false;
    } else if (std::find(records.begin(), records.end(), *record) == records.end()) {
      records.push_back(*record);
    }
  }
  if (!known) {
    fmt::print(stderr, "lumo-share: {}\n", tr("没有撤回任何分享。"));
    return std::nullopt;
  }
  return records;
}

JSONValue outcomeJSON(const Outcome& outcome) {
  JSONValue json{{"slug", outcome.record.slug},
                 {"shortUrl", outcome.record.shortUrl},
                 {"result", outcome.result}};
  if (!outcome.takenBack) json["message"] = outcome.message;
  return json;
}

int deleteShares(const DeleteRequest& request) {
  const ShareDeletion deletion(ShareContext::process().host());
  const auto records = recordsOf(deletion, request.shares);
  if (!records) {
    if (request.json) std::cout << "[]\n";  // nothing was taken back; standard error says why
    return usageError;
  }
  auto json = JSONValue::array();
  bool all = true;
  for (const auto& record : *records) {
    const auto outcome = takeBack(deletion, record);
    all = all && outcome.takenBack;
    if (request.json) {
      json.push_back(outcomeJSON(outcome));
    } else if (outcome.takenBack) {
      fmt::print("{}\n", outcome.message);
    } else {
      fmt::print(stderr, "lumo-share: {}\n", outcome.message);
    }
  }
  if (request.json) std::cout << ShareJSONEncoder::dump(json) << "\n";
  return all ? 0 : failed;
}

}  // namespace

std::vector<std::optional<bool>> servedShares(const std::vector<ShareUploadRecord>& records) {
  const ShareDeletion deletion(ShareContext::process().host());
  std::vector<std::optional<bool>> served(records.size());
  std::atomic<std::size_t> next = 0;
  const auto startBefore = std::chrono::steady_clock::now() + checkPeriod;
  const auto check = [&] {
    for (auto index = next++; index < records.size(); index = next++) {
      if (std::chrono::steady_clock::now() >= startBefore) return;
      served[index] = deletion.served(records[index], checkTimeout);
    }
  };
  {
    std::vector<std::jthread> checks;
    for (std::size_t index = 0; index < std::min(parallelChecks, records.size()); ++index) {
      checks.emplace_back(check);
    }
  }  // every check has ended here
  return served;
}

void addDeleteCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<DeleteRequest>();
  auto* command = app.add_subcommand(
      "delete", "Take shares back: the service deletes them and their links stop working");
  command->add_option("SHARE", request->shares, "A slug, or a short link as recent prints it")
      ->required();
  command->add_flag("--json", request->json, "Print each share's slug and result as JSON");
  command->footer(
      "Shares published anonymously are taken back with the claim kept on this machine, others "
      "with the account they belong to (lumo-share login). Results in --json: deleted, "
      "alreadyGone, refused, unsupported, signInRequired, failed.");
  command->callback(
      guardedCallback(exitCode, failed, [request] { return deleteShares(*request); }));
}

}  // namespace lumo::cli
