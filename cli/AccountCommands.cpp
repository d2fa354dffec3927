// The tool as the host application: sign-in, state, the queue's drain, recent uploads and the
// service it talks to.
#include <unistd.h>

#include <fmt/format.h>

#include <iostream>
#include <iterator>
#include <map>

#include "Commands.hpp"
#include "LumoShare.hpp"

namespace lumo::cli {
namespace {

ShareUploadSession defaultSession() {
  return ShareUploadSession::makeDefault(
      std::make_shared<URLSessionTransport>(std::make_shared<ShareCurlSession>()));
}

int status() {
  const auto session = defaultSession();
  const auto storage = session.queue->storage();
  const auto plan = SharePlanStore{storage}.load(currentTimeMs());
  const auto stats = session.queue->stats();
  fmt::print("sign-in:  {}\n", ShareUploadSession::rawValue(session.tokenState()));
  fmt::print("plan:     {}\n", plan ? plan->planName.value_or(plan->plan) : "(not known yet)");
  fmt::print("server:   {}\n", ShareSettings::apiBaseURL().absoluteString());
  fmt::print("pages:    {}\n", ShareAppleBundle::main()->sharePageBase());
  fmt::print("queue:    {} queued, {} uploading, {} failed; {} recent uploads\n", stats.queued,
             stats.uploading, stats.failed, stats.recent);
  return 0;
}

int login(const std::string& given) {
  std::string text = given;
  if (given == "-" || given.empty()) {
    text.assign(std::istreambuf_iterator<char>(std::cin), {});
  }
  const auto token = TokenImport::anyForm(text);
  if (!token) {
    std::cerr << "lumo-share: that is no sign-in token (a JSON Web Token, the JSON object of "
                 "`lumo-share-server token`, or a lumoshare://auth link); nothing was changed\n";
    return usageError;
  }
  const auto host = ShareHostSession::makeDefault(
      std::make_shared<URLSessionTransport>(std::make_shared<ShareCurlSession>()));
  host.uploads.tokenStore.save(*token);
  fmt::print("signed in{}\n", token->userId ? " as " + *token->userId : "");
  refreshAccount(host);
  return 0;
}

int logout() {
  defaultSession().tokenStore.clear();
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
  for (const auto& outcome : report.uploaded) uploaded.push_back(outcome.encode());
  JSONValue json{{"uploaded", uploaded}, {"failures", failures}, {"skipped", report.skipped}};
  if (report.anonymous) json["anonymous"] = *report.anonymous;
  return json;
}

/// A drain, as the background timer runs it: the plan and the claims first, then the due shares
/// over the background uploader's transport (uploads on its background session).
int drain(std::int64_t limit, bool all, bool json) {
  const auto host = ShareHostSession::makeDefault(ShareBackgroundUploader::shared()->transport());
  refreshAccount(host);
  const auto report = host.uploads.drain(limit, all);
  if (json) {
    std::cout << ShareJSONEncoder::dump(reportJSON(report)) << "\n";
  } else {
    for (const auto& outcome : report.uploaded) fmt::print("published {}\n", outcome.shortUrl);
    for (const auto& failure : report.failures) {
      fmt::print(stderr, "lumo-share: {}: {}\n", failure.clientShareId, failure.message);
    }
    fmt::print("{} published, {} failed, {} waiting\n", report.uploaded.size(),
               report.failures.size(), report.skipped);
  }
  return report.succeeded() ? published : keptInQueue;
}

int recent(bool json) {
  const auto records = defaultSession().queue->recentUploads(50);
  if (json) {
    std::cout << ShareJSON::encoder().encode(records) << "\n";
    return 0;
  }
  for (const auto& record : records) {
    fmt::print("{}  {}  expires {}  {}{}\n", record.shortUrl, record.title,
               ShareDateFormat::localTime(record.expiresAtMs, "yyyy-MM-dd HH:mm"),
               record.anonymous ? "anonymous, claim " : "",
               record.anonymous ? record.claimState : "");
  }
  return 0;
}

int settings(const std::string& key, const std::optional<std::string>& value) {
  const auto session = defaultSession();
  auto current = session.settingsStore.load();
  const auto retention = current.expiresInSeconds.value_or(ShareOptions::defaultExpiresInSeconds);
  if (key.empty()) {
    fmt::print("retention    {}d\n", retention / 86400);
    fmt::print("password     {}\n", current.password ? "set" : "none");
    fmt::print("auto-upload  {}\n", current.autoUpload ? "on" : "off");
    return 0;
  }
  if (key == "retention") {
    const std::map<std::string, std::int64_t> presets{
        {"1d", 86400}, {"7d", 604800}, {"30d", 2592000}};
    if (!value) return fmt::print("{}d\n", retention / 86400), 0;
    if (!presets.count(*value)) {
      std::cerr << "lumo-share: the retention is 1d, 7d or 30d\n";
      return usageError;
    }
    current.expiresInSeconds = presets.at(*value);
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
    current.password = typed->empty() ? std::nullopt : typed;
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
  app.add_subcommand("status", "Sign-in state, plan, server and queue counts")->callback([&] {
    exitCode = status();
  });

  auto token = std::make_shared<std::string>();
  auto* loginCommand = app.add_subcommand(
      "login",
      "Sign in with a token (JWT, JSON object or lumoshare:// link; \"-\" or none: stdin)");
  loginCommand->add_option("TOKEN", *token, "The token, or - for standard input");
  loginCommand->callback([&exitCode, token] { exitCode = login(*token); });

  app.add_subcommand("logout", "Forget the stored sign-in token")->callback([&] {
    exitCode = logout();
  });

  struct DrainRequest {
    std::int64_t limit = 20;
    bool all = false, json = false;
  };
  auto drainRequest = std::make_shared<DrainRequest>();
  auto* drainCommand = app.add_subcommand("drain", "Publish the queued shares that are due");
  drainCommand->add_option("--limit", drainRequest->limit, "At most this many shares");
  drainCommand->add_flag("--all", drainRequest->all, "Also shares that used up their attempts");
  drainCommand->add_flag("--json", drainRequest->json, "Print the report as JSON");
  drainCommand->callback([&exitCode, drainRequest] {
    exitCode = drain(drainRequest->limit, drainRequest->all, drainRequest->json);
  });

  auto recentJson = std::make_shared<bool>(false);
  auto* recentCommand = app.add_subcommand("recent", "Recent uploads with their links");
  recentCommand->add_flag("--json", *recentJson, "Print the upload records as JSON");
  recentCommand->callback([&exitCode, recentJson] { exitCode = recent(*recentJson); });

  auto settingKey = std::make_shared<std::string>();
  auto settingValue = std::make_shared<std::optional<std::string>>();
  auto* settingsCommand = app.add_subcommand(
      "settings", "Show or change the defaults: retention (1d|7d|30d), password, auto-upload");
  settingsCommand->add_option("KEY", *settingKey, "retention, password or auto-upload");
  settingsCommand->add_option("VALUE", *settingValue, "The new value (none: show it)");
  settingsCommand->callback(
      [&exitCode, settingKey, settingValue] { exitCode = settings(*settingKey, *settingValue); });

  auto* config = app.add_subcommand("config", "Configure the tool");
  config->require_subcommand(1);
  auto apiBase = std::make_shared<std::string>();
  auto pageBase = std::make_shared<std::optional<std::string>>();
  auto* server = config->add_subcommand("server", "Point the tool at a LumoShare service");
  server->add_option("API_BASE", *apiBase, "The service's API base, ending in /api/v1")->required();
  server->add_option("--page-base", *pageBase, "Origin of its share pages (default: its origin)");
  server->callback(
      [&exitCode, apiBase, pageBase] { exitCode = configServer(*apiBase, *pageBase); });
}

}  // namespace lumo::cli
