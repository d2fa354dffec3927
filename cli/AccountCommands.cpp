// The tool as the host application: sign-in, state, the queue's drain, recent uploads and the
// service it talks to.
#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::tr;
using ShareL10n::trn;

const ShareUploadSession& defaultSession() {
  return ShareContext::process().uploads;
}

std::string signInText(ShareUploadSession::TokenState state) {
  switch (state) {
    case ShareUploadSession::TokenState::signedIn:
      return tr("已登录");
    case ShareUploadSession::TokenState::expired:
      return tr("登录已过期");
    case ShareUploadSession::TokenState::signedOut:
      return tr("未登录");
  }
  return ShareUploadSession::rawValue(state);
}

int status() {
  const auto& context = ShareContext::process();
  const auto& session = context.uploads;
  const auto plan = SharePlanStore{context.storage}.load(currentTimeMs());
  const auto stats = session.queue->stats();
  fmt::print("{}\n", tr("登录：%@", signInText(session.tokenState())));
  fmt::print("{}\n",
             plan ? tr("套餐：%@", plan->planName.value_or(plan->plan)) : tr("套餐：还不知道"));
  fmt::print("{}\n", tr("服务：%@", ShareSettings::apiBaseURL(*context.bundle).absoluteString()));
  fmt::print("{}\n", tr("分享页面：%@", context.bundle->sharePageBase()));
  fmt::print("{}\n", tr("队列：排队 %@ 条，上传中 %@ 条，失败 %@ 条；最近上传 %@ 条",
                        {std::to_string(stats.queued), std::to_string(stats.uploading),
                         std::to_string(stats.failed), std::to_string(stats.recent)}));
  return 0;
}

/// Bytes read of a sign-in token: a token, its JSON object or its link, with room to spare.
constexpr std::size_t maxTokenBytes = 16384;

/// Where `login` reads the token: standard input ("-" or nothing), asked on the terminal when
/// standard input is one, or a file. Never the command line.
struct LoginRequest {
  std::string argument;
  std::optional<std::string> tokenFile;
};

/// Why a login request cannot be read at all, if it cannot.
std::optional<std::string> loginRequestProblem(const LoginRequest& request) {
  if (!request.argument.empty() && request.argument != "-") {
    return tr(
        "登录令牌不能作为参数（它会出现在进程列表和命令历史中）；没有做任何改动。请用管道传入"
        "（`COMMAND | lumo-share login`），在 `lumo-share login` 询问时输入，或使用 "
        "`--token-file FILE`");
  }
  if (request.argument == "-" && request.tokenFile) {
    return tr("登录令牌来自标准输入或 `--token-file`，不能两者都用");
  }
  return std::nullopt;
}

/// The text that should hold the token, at most `maxTokenBytes` of it; nothing when the token
/// file cannot be opened (said on standard error).
std::optional<BoundedText> readTokenText(const LoginRequest& request) {
  if (request.tokenFile) {
    const FileDescriptor file(::open(request.tokenFile->c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
      fmt::print(stderr, "lumo-share: {}\n",
                 tr("%@：%@；没有做任何改动", {*request.tokenFile, std::strerror(errno)}));
      return std::nullopt;
    }
    return BoundedText::read(file.get(), maxTokenBytes);
  }
  if (::isatty(STDIN_FILENO) == 1) {
    if (auto typed = promptHidden(tr("登录令牌（输入不显示）："), maxTokenBytes)) return typed;
  }
  return BoundedText::read(STDIN_FILENO, maxTokenBytes);
}

int login(const LoginRequest& request) {
  if (const auto problem = loginRequestProblem(request)) {
    fmt::print(stderr, "lumo-share: {}\n", *problem);
    return usageError;
  }
  const auto text = readTokenText(request);
  if (!text) return usageError;
  if (text->truncated) {
    fmt::print(stderr, "lumo-share: {}\n",
               trn("这比任何登录令牌都长（最多 %d 字节）；没有做任何改动",
                   static_cast<std::int64_t>(maxTokenBytes)));
    return usageError;
  }
  const auto token = TokenImport::anyForm(text->text);
  if (!token) {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("这不是登录令牌（应为 JSON Web Token、`lumo-share-server token` 的 JSON 对象或 "
                  "`lumoshare://auth` 链接）；没有做任何改动"));
    return usageError;
  }
  const auto host = ShareContext::process().host();
  host.uploads.tokenStore.save(*token);
  fmt::print("{}\n", token->userId ? tr("已登录为 %@", *token->userId) : tr("已登录"));
  refreshAccount(host);
  return 0;
}

int logout() {
  const auto& session = defaultSession();
  session.tokenStore.clear();  // a file that stays is no failure of the store: checked here
  if (session.tokenStore.load()) {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("无法从 %@ 删除登录令牌；仍处于登录状态",
                  session.queue->storage().tokenMirrorURL().string()));
    return failed;
  }
  fmt::print("{}\n", tr("已退出登录"));
  return 0;
}

/// What a drain left in the queue: the shares that wait for a later attempt (this pass's
/// failures among them, and those a killed program left "uploading", which the queue takes back
/// once their attempt is old enough), the first time one of them is due (none when each has used
/// up its automatic attempts), and the shares another program is publishing right now.
struct QueueAfterDrain {
  std::vector<std::string> waiting;
  std::optional<std::int64_t> nextDueAtMs;
  std::int64_t sentElsewhere = 0;
};

/// When a share that waits is due again, as the queue's own rule has it; none when only
/// `queue retry` sends it.
std::optional<std::int64_t> dueAtMs(const ShareQueueEntry& entry, std::int64_t now) {
  const bool exhausted = entry.state != ShareQueueEntry::State::uploading &&
                         entry.attempts >= ShareApple::maxAttemptsBeforeManual;
  if (exhausted) return std::nullopt;
  return std::max(now, PendingShareQueue::dueAtMs(entry).value_or(now));
}

QueueAfterDrain queueAfterDrain(const PendingShareQueue& queue) {
  QueueAfterDrain after;
  const auto now = currentTimeMs();
  for (const auto& share : queue.all()) {
    const auto& entry = share.entry;
    // Uploading and its lease held: another program's attempt is under way and decides.
    if (entry.state == ShareQueueEntry::State::uploading && !queue.claim(share)) {
      ++after.sentElsewhere;
      continue;
    }
    after.waiting.push_back(share.staged().clientShareId);
    if (const auto due = dueAtMs(entry, now)) {
      after.nextDueAtMs = std::min(*due, after.nextDueAtMs.value_or(*due));
    }
  }
  return after;
}

JSONValue reportJSON(const ShareUploadReport& report, const QueueAfterDrain& after) {
  auto failures = JSONValue::array();
  for (const auto& failure : report.failures) {
    failures.push_back(JSONValue{{"clientShareId", failure.clientShareId},
                                 {"message", failure.message},
                                 {"retryable", failure.retryable},
                                 {"requiresLogin", failure.requiresLogin}});
  }
  auto uploaded = JSONValue::array();
  for (const auto& outcome : report.uploaded) uploaded.push_back(encodeJSONValue(outcome));
  JSONValue json{{"uploaded", uploaded},
                 {"failures", failures},
                 {"skipped", report.skipped},
                 {"waiting", after.waiting.size()}};
  if (report.anonymous) json["anonymous"] = *report.anonymous;
  return json;
}

/// The pass in one line that adds up: published, failed (each kept in the queue for a retry),
/// and the other shares that wait; then when the next is due and how to send them now.
void printDrainSummary(const ShareUploadReport& report, const QueueAfterDrain& after) {
  const auto failed = static_cast<std::int64_t>(report.failures.size());
  const auto others = std::max<std::int64_t>(0, std::ssize(after.waiting) - failed);
  fmt::print("{}\n", tr("已发布 %@ 条，失败 %@ 条（留在队列中等待重试），另有 %@ 条在等待",
                        {std::to_string(report.uploaded.size()), std::to_string(failed),
                         std::to_string(others)}));
  if (after.sentElsewhere > 0) {
    fmt::print("{}\n", trn("%d 条分享正由另一个程序发布。", after.sentElsewhere));
  }
  if (after.waiting.empty()) return;
  fmt::print("{}\n", trn("%d 条分享在队列中等待。", std::ssize(after.waiting)));
  if (after.nextDueAtMs) {
    const auto due = ShareDateFormat::localTime(*after.nextDueAtMs, "yyyy-MM-dd HH:mm");
    fmt::print("{}\n", tr("下一条到期：%@；到期后由下一次 `lumo-share drain` 发送。", due));
  } else {
    fmt::print("{}\n", trn("它们已用完自动重试次数，`lumo-share drain` 不会再发送它们。",
                           std::ssize(after.waiting)));
  }
  if (after.waiting.size() == 1) {
    fmt::print("{}\n", tr("现在就发送：`lumo-share queue retry %@`", after.waiting.front()));
  } else {
    fmt::print("{}\n",
               tr("现在就发送：`lumo-share queue retry --all`（或 `lumo-share queue retry ID`）"));
  }
}

/// A drain, as the background timer runs it: the plan and the claims first, then the due shares
/// over the background uploader's transport (uploads on its background session).
int drain(std::int64_t limit, bool all, bool json) {
  const auto& context = ShareContext::process();
  auto host = context.host();
  host.uploads.transport =
      ShareBackgroundUploader::make(context.sessionConfiguration())->transport();
  refreshAccount(host);
  const auto report = host.uploads.drain(limit, all);
  const auto after = queueAfterDrain(*host.uploads.queue);
  if (json) {
    std::cout << ShareJSONEncoder::dump(reportJSON(report, after)) << "\n";
  } else {
    for (const auto& outcome : report.uploaded) {
      fmt::print("{}\n", tr("已发布 %@", outcome.shortUrl));
    }
    for (const auto& failure : report.failures) {
      fmt::print(stderr, "lumo-share: {}: {}\n", failure.clientShareId, failure.message);
    }
    printDrainSummary(report, after);
  }
  return report.succeeded() ? published : keptInQueue;
}

/// A claim state as a person reads it (the records keep the stored name).
std::string claimText(const std::string& state) {
  if (state == ClaimStateValues::bound) return tr("已认领");
  if (state == ClaimStateValues::failed) return tr("认领失败");
  return tr("待认领");
}

/// The upload records as JSON; with `served`, each share the check could tell about gains
/// "served" (false: the service no longer serves it).
std::string recentJSON(const std::vector<ShareUploadRecord>& records,
                       const std::vector<std::optional<bool>>& served) {
  auto json = encodeJSONValue(records);
  for (std::size_t index = 0; index < served.size(); ++index) {
    if (served[index]) json[index]["served"] = *served[index];
  }
  return ShareJSONEncoder::dump(json);
}

int recent(bool json, bool check) {
  const auto records = defaultSession().queue->recentUploads(50);
  const auto served = check ? servedShares(records) : std::vector<std::optional<bool>>{};
  if (json) {
    std::cout << (check ? recentJSON(records, served) : ShareJSON::encoder().encode(records))
              << "\n";
    return 0;
  }
  if (records.empty()) fmt::print("{}\n", tr("还没有上传记录。"));
  for (std::size_t index = 0; index < records.size(); ++index) {
    const auto& record = records[index];
    const auto expires =
        tr("%@ 过期", ShareDateFormat::localTime(record.expiresAtMs, "yyyy-MM-dd HH:mm"));
    const bool gone = index < served.size() && served[index] == false;
    fmt::print("{}  {}  {}{}{}\n", record.shortUrl, record.title, expires,
               record.anonymous ? "  " + tr("匿名，认领：%@", claimText(record.claimState)) : "",
               gone ? "  " + tr("服务已不再提供") : "");
  }
  return 0;
}

/// What keeps `typed` from being the default password: the compose form's own rule, as the form
/// of a signed-in share would report the password it presets. A blank answer passes (it clears
/// the default).
std::optional<ShareComposeIssue> defaultPasswordIssue(const BoundedText& typed) {
  if (typed.truncated) return ShareComposeIssue::passwordTooLong;
  ShareComposeDraft draft;
  draft.passwordEnabled = true;
  draft.password = typed.text;
  const auto issues = draft.issues(/*isLinkOnly=*/false, /*isAnonymous=*/false);
  return issues.empty() ? std::nullopt : std::optional(issues.front());
}

int settings(const std::string& key, const std::optional<std::string>& value) {
  const auto& session = defaultSession();
  auto current = session.settingsStore.load();
  const auto retention = current.expiresInSeconds.value_or(ShareApple::defaultExpiresInSeconds);
  if (key.empty()) {
    fmt::print("{}\n", trn("保留时间：%d 天", retention / 86400));
    fmt::print("{}\n", current.password ? tr("默认口令：已设置") : tr("默认口令：无"));
    fmt::print("{}\n", current.autoUpload ? tr("自动上传：开") : tr("自动上传：关"));
    return 0;
  }
  if (key == "retention") {
    if (!value) return fmt::print("{}d\n", retention / 86400), 0;
    const auto preset = ShareComposeLimits::retentionPreset(*value);
    if (!preset) {
      fmt::print(stderr, "lumo-share: {}\n", tr("保留时间只能是 `1d`、`7d` 或 `30d`"));
      return usageError;
    }
    current.expiresInSeconds = preset;
  } else if (key == "password") {
    // Never from the command line: it would land in the shell's history and the process list.
    if (value) {
      fmt::print(stderr, "lumo-share: {}\n",
                 tr("不要给出值：口令会在终端上询问，输入不显示（留空表示不设口令）"));
      return usageError;
    }
    const auto typed = promptPassword();
    if (!typed) {
      fmt::print(stderr, "lumo-share: {}\n", tr("设置口令需要终端"));
      return usageError;
    }
    if (const auto issue = defaultPasswordIssue(*typed)) {
      fmt::print(stderr, "lumo-share: {}\n", SharePanelText::message(*issue));
      return usageError;
    }
    const std::string password(UnicodeText::trimmed(typed->text));
    current.password = password.empty() ? std::nullopt : std::optional(password);
  } else if (key == "auto-upload") {
    if (!value) return fmt::print("{}\n", current.autoUpload ? "on" : "off"), 0;
    if (*value != "on" && *value != "off") {
      fmt::print(stderr, "lumo-share: {}\n", tr("`auto-upload` 只能是 `on` 或 `off`"));
      return usageError;
    }
    current.autoUpload = *value == "on";
  } else {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("设置项只有 `retention`、`password` 和 `auto-upload`"));
    return usageError;
  }
  session.settingsStore.save(current);
  return 0;
}

/// Points the tool at a service: writes the person's own Info.json, keeping its other keys.
int configServer(const std::string& apiBase, const std::optional<std::string>& pageBase) {
  const auto file = ShareAppleBundle::userInfoFile();
  const auto api = Url::parse(apiBase);
  if (!file || !api || !api->host() || (api->scheme() != "http" && api->scheme() != "https")) {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("服务地址应为 `http://` 或 `https://` 开头的接口地址，例如 %@",
                  "http://127.0.0.1:8787/api/v1"));
    return usageError;
  }
  auto info = JSONValue::object();
  try {
    info = ShareJSONDecoder::parse(AtomicFile::read(*file));
  } catch (const std::exception&) {
    // none yet, or unreadable: start afresh
  }
  info["LumoShareAPIBase"] = apiBase;
  // By default the pages live at the service's origin: the API base up to its path.
  const auto pathStart = apiBase.find('/', apiBase.find("://") + 3);
  auto pages = pageBase.value_or(apiBase.substr(0, pathStart) + "/");
  if (pages.back() != '/') pages += '/';
  info["LumoShareSharePageBase"] = pages;
  if (ShareAppleBundle(info).sharePageBase() != pages) {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("分享页面必须位于 `http://` 或 `https://` 的源地址（不带路径），例如 %@",
                  "http://127.0.0.1:8787/"));
    return usageError;
  }
  AtomicFile::createDirectories(std::filesystem::path(*file).parent_path());
  AtomicFile::write(*file, ShareJSONEncoder::dump(info) + "\n", 0644);
  fmt::print("{}\n", tr("服务：%@，分享页面：%@（写入 %@）", {apiBase, pages, *file}));
  return 0;
}

}  // namespace

void addAccountCommands(CLI::App& app, int& exitCode) {
  app.add_subcommand("status", "Sign-in state, plan, server and queue counts")
      ->callback(guardedCallback(exitCode, failed, status));

  auto loginRequest = std::make_shared<LoginRequest>();
  auto* loginCommand = app.add_subcommand(
      "login",
      "Sign in with a token (JWT, JSON object or lumoshare:// link) read from standard input, "
      "asked without echo on a terminal, or read from --token-file");
  loginCommand->add_option("SOURCE", loginRequest->argument,
                           "- (standard input, the default); never the token itself");
  loginCommand->add_option("--token-file", loginRequest->tokenFile, "Read the token from FILE");
  loginCommand->footer(
      "Examples: lumo-share-server token ana | lumo-share login -\n"
      "          lumo-share login --token-file ~/token.json\n"
      "A token given as an argument is refused: it would show in the process list and the shell "
      "history.");
  loginCommand->callback(
      guardedCallback(exitCode, failed, [loginRequest] { return login(*loginRequest); }));

  app.add_subcommand("logout", "Forget the stored sign-in token")
      ->callback(guardedCallback(exitCode, failed, logout));

  struct DrainRequest {
    std::int64_t limit = 20;
    bool all = false, json = false;
  };
  auto drainRequest = std::make_shared<DrainRequest>();
  auto* drainCommand = app.add_subcommand("drain", "Publish the queued shares that are due");
  drainCommand->add_option("--limit", drainRequest->limit, "At most this many shares");
  drainCommand->add_flag("--all", drainRequest->all, "Also shares that used up their attempts");
  drainCommand->add_flag("--json", drainRequest->json, "Print the report as JSON");
  drainCommand->callback(guardedCallback(exitCode, keptInQueue, [drainRequest] {
    return drain(drainRequest->limit, drainRequest->all, drainRequest->json);
  }));

  struct RecentRequest {
    bool json = false, check = false;
  };
  auto recentRequest = std::make_shared<RecentRequest>();
  auto* recentCommand = app.add_subcommand("recent", "Recent uploads with their links");
  recentCommand->add_flag("--json", recentRequest->json, "Print the upload records as JSON");
  recentCommand->add_flag("--check", recentRequest->check,
                          "Ask the service which shares it still serves; mark the others");
  recentCommand->callback(guardedCallback(exitCode, failed, [recentRequest] {
    return recent(recentRequest->json, recentRequest->check);
  }));

  auto settingKey = std::make_shared<std::string>();
  auto settingValue = std::make_shared<std::optional<std::string>>();
  auto* settingsCommand = app.add_subcommand(
      "settings", "Show or change the defaults: retention (1d|7d|30d), password, auto-upload");
  settingsCommand->add_option("KEY", *settingKey, "retention, password or auto-upload");
  settingsCommand->add_option("VALUE", *settingValue, "The new value (none: show it)");
  settingsCommand->footer(
      "settings password takes no value: it asks on the terminal without echo, and the password "
      "must pass the share form's own rule; an empty answer removes the default password.");
  settingsCommand->callback(guardedCallback(exitCode, failed, [settingKey, settingValue] {
    return settings(*settingKey, *settingValue);
  }));

  auto* config = app.add_subcommand("config", "Configure the tool");
  config->require_subcommand(1);
  auto apiBase = std::make_shared<std::string>();
  auto pageBase = std::make_shared<std::optional<std::string>>();
  auto* server = config->add_subcommand("server", "Point the tool at a LumoShare service");
  server->add_option("API_BASE", *apiBase, "The service's API base, ending in /api/v1")->required();
  server->add_option("--page-base", *pageBase, "Origin of its share pages (default: its origin)");
  server->callback(guardedCallback(
      exitCode, failed, [apiBase, pageBase] { return configServer(*apiBase, *pageBase); }));
}

}  // namespace lumo::cli
