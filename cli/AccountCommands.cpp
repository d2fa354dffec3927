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

int status() {
  const auto& context = ShareContext::process();
  const auto& session = context.uploads;
  const auto plan = SharePlanStore{context.storage}.load(currentTimeMs());
  const auto stats = session.queue->stats();
  fmt::print("sign-in:  {}\n", ShareUploadSession::rawValue(session.tokenState()));
  fmt::print("plan:     {}\n", plan ? plan->planName.value_or(plan->plan) : "(not known yet)");
  fmt::print("server:   {}\n", ShareSettings::apiBaseURL(*context.bundle).absoluteString());
  fmt::print("pages:    {}\n", context.bundle->sharePageBase());
  fmt::print("queue:    {} queued, {} uploading, {} failed; {} recent uploads\n", stats.queued,
             stats.uploading, stats.failed, stats.recent);
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
    return "a token is never an argument (it would show in the process list and the shell "
           "history); nothing was changed. Pipe it in (COMMAND | lumo-share login), type it when "
           "`lumo-share login` asks, or use --token-file FILE";
  }
  if (request.argument == "-" && request.tokenFile) {
    return "the token comes from standard input or from --token-file, not both";
  }
  return std::nullopt;
}

/// The text that should hold the token, at most `maxTokenBytes` of it; nothing when the token
/// file cannot be opened (said on standard error).
std::optional<BoundedText> readTokenText(const LoginRequest& request) {
  if (request.tokenFile) {
    const FileDescriptor file(::open(request.tokenFile->c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
      fmt::print(stderr, "lumo-share: {}: {}; nothing was changed\n", *request.tokenFile,
                 std::strerror(errno));
      return std::nullopt;
    }
    return BoundedText::read(file.get(), maxTokenBytes);
  }
  if (::isatty(STDIN_FILENO) == 1) {
    if (auto typed = promptHidden("sign-in token (not shown): ", maxTokenBytes)) return typed;
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
    fmt::print(stderr,
               "lumo-share: that is longer than any sign-in token (at most {} bytes); nothing was "
               "changed\n",
               maxTokenBytes);
    return usageError;
  }
  const auto token = TokenImport::anyForm(text->text);
  if (!token) {
    std::cerr << "lumo-share: that is no sign-in token (a JSON Web Token, the JSON object of "
                 "`lumo-share-server token`, or a lumoshare://auth link); nothing was changed\n";
    return usageError;
  }
  const auto host = ShareContext::process().host();
  host.uploads.tokenStore.save(*token);
  fmt::print("signed in{}\n", token->userId ? " as " + *token->userId : "");
  refreshAccount(host);
  return 0;
}

int logout() {
  const auto& session = defaultSession();
  session.tokenStore.clear();  // a file that stays is no failure of the store: checked here
  if (session.tokenStore.load()) {
    fmt::print(stderr,
               "lumo-share: the sign-in token could not be removed from {}; still signed in\n",
               session.queue->storage().tokenMirrorURL().string());
    return failed;
  }
  std::cout << "signed out\n";
  return 0;
}

JSONValue reportJSON(const ShareUploadReport& report) {
  auto failures = JSONValue::array();
  for (const auto& failure : report.failures) {
    failures.push_back(JSONValue{{"clientShareId", failure.clientShareId},
                                 {"message", failure.message},
                                 {"retryable", failure.retryable},
                                 {"requiresLogin", failure.requiresLogin}});
  }
  auto uploaded = JSONValue::array();
  for (const auto& outcome : report.uploaded) uploaded.push_back(encodeJSONValue(outcome));
  JSONValue json{{"uploaded", uploaded}, {"failures", failures}, {"skipped", report.skipped}};
  if (report.anonymous) json["anonymous"] = *report.anonymous;
  return json;
}

/// The shares a drain left waiting in the queue, and the first automatic attempt among them
/// (none when each has used up its automatic attempts and waits for `queue retry`).
struct WaitingShares {
  std::int64_t count = 0;
  std::optional<std::int64_t> nextAttemptAtMs;
};

WaitingShares waitingShares(const PendingShareQueue& queue) {
  WaitingShares waiting;
  const auto now = currentTimeMs();
  for (const auto& share : queue.all()) {
    const auto& entry = share.entry;
    if (entry.state == ShareQueueEntry::State::uploading) continue;  // another sender has it
    ++waiting.count;
    if (entry.attempts >= ShareApple::maxAttemptsBeforeManual) continue;
    // One that the drain's limit left out is due at once.
    const auto due = std::max(now, entry.nextAttemptAtMs.value_or(now));
    waiting.nextAttemptAtMs = std::min(due, waiting.nextAttemptAtMs.value_or(due));
  }
  return waiting;
}

void printWaiting(const WaitingShares& waiting) {
  if (waiting.count == 0) return;
  fmt::print("{}\n", trn("%d 条分享在队列中等待。", waiting.count));
  if (waiting.nextAttemptAtMs) {
    const auto due = ShareDateFormat::localTime(*waiting.nextAttemptAtMs, "yyyy-MM-dd HH:mm");
    fmt::print("{}\n", tr("下一次自动发送：%@。", due));
  } else {
    fmt::print("{}\n", tr("它们已用完自动重试次数，不会再自动发送。"));
  }
  fmt::print("{}\n",
             tr("现在就发送：lumo-share queue retry --all（或 lumo-share queue retry ID）"));
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
  if (json) {
    std::cout << ShareJSONEncoder::dump(reportJSON(report)) << "\n";
  } else {
    for (const auto& outcome : report.uploaded) fmt::print("published {}\n", outcome.shortUrl);
    for (const auto& failure : report.failures) {
      fmt::print(stderr, "lumo-share: {}: {}\n", failure.clientShareId, failure.message);
    }
    const auto waiting = waitingShares(*host.uploads.queue);
    fmt::print("{}\n", tr("已发布 %@ 条，失败 %@ 条，等待 %@ 条",
                          {std::to_string(report.uploaded.size()),
                           std::to_string(report.failures.size()), std::to_string(waiting.count)}));
    printWaiting(waiting);
  }
  return report.succeeded() ? published : keptInQueue;
}

int recent(bool json) {
  const auto records = defaultSession().queue->recentUploads(50);
  if (json) {
    std::cout << ShareJSON::encoder().encode(records) << "\n";
    return 0;
  }
  if (records.empty()) fmt::print("{}\n", tr("还没有上传记录。"));
  for (const auto& record : records) {
    fmt::print("{}  {}  expires {}  {}{}\n", record.shortUrl, record.title,
               ShareDateFormat::localTime(record.expiresAtMs, "yyyy-MM-dd HH:mm"),
               record.anonymous ? "anonymous, claim " : "",
               record.anonymous ? record.claimState : "");
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
    fmt::print("retention    {}d\n", retention / 86400);
    fmt::print("password     {}\n", current.password ? "set" : "none");
    fmt::print("auto-upload  {}\n", current.autoUpload ? "on" : "off");
    return 0;
  }
  if (key == "retention") {
    if (!value) return fmt::print("{}d\n", retention / 86400), 0;
    const auto preset = ShareComposeLimits::retentionPreset(*value);
    if (!preset) {
      std::cerr << "lumo-share: the retention is 1d, 7d or 30d\n";
      return usageError;
    }
    current.expiresInSeconds = preset;
  } else if (key == "password") {
    // Never from the command line: it would land in the shell's history and the process list.
    if (value) {
      std::cerr << "lumo-share: give no value; the password is asked without echo (empty: none)\n";
      return usageError;
    }
    const auto typed = promptPassword();
    if (!typed) {
      std::cerr << "lumo-share: a password needs a terminal\n";
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
      std::cerr << "lumo-share: auto-upload is on or off\n";
      return usageError;
    }
    current.autoUpload = *value == "on";
  } else {
    std::cerr << "lumo-share: the settings are retention, password and auto-upload\n";
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
    std::cerr << "lumo-share: the server is an http(s) API base such as "
                 "http://127.0.0.1:8787/api/v1\n";
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
    std::cerr << "lumo-share: the share pages must be at an http(s) origin such as "
                 "http://127.0.0.1:8787/ (no path)\n";
    return usageError;
  }
  AtomicFile::createDirectories(std::filesystem::path(*file).parent_path());
  AtomicFile::write(*file, ShareJSONEncoder::dump(info) + "\n", 0644);
  fmt::print("server {} with share pages at {} (in {})\n", apiBase, pages, *file);
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

  auto recentJson = std::make_shared<bool>(false);
  auto* recentCommand = app.add_subcommand("recent", "Recent uploads with their links");
  recentCommand->add_flag("--json", *recentJson, "Print the upload records as JSON");
  recentCommand->callback(
      guardedCallback(exitCode, failed, [recentJson] { return recent(*recentJson); }));

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
