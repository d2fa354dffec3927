// The tool as the host application's account side: the plan, claim binding, paired devices and
// their notices, the service's health, and the background drain's systemd timer.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <iostream>

#include "Commands.hpp"
#include "LumoShare.hpp"

extern char** environ;

namespace lumo::cli {
namespace {

using ShareL10n::tr;

int notSignedIn() {
  fmt::print(stderr, "lumo-share: {}\n", tr("未登录：请先用 `lumo-share login` 登录"));
  return usageError;
}

std::string bindSummary(const ShareBindReport& report) {
  return tr("认领：发送 %@ 条，绑定 %@ 条，被拒 %@ 条，稍后重试 %@ 条",
            {std::to_string(report.attempted), std::to_string(report.bound),
             std::to_string(report.failed), std::to_string(report.retryLater)});
}

// MARK: - plan and bind

int plan(bool json) {
  const auto plan = ShareContext::process().host().refreshPlan();
  if (!plan) return notSignedIn();
  if (json) {
    std::cout << ShareJSONEncoder::dump(encodeJSONValue(*plan)) << "\n";
  } else {
    fmt::print("{}\n", ShareL10n::tr("套餐：%@ (%@)", {plan->displayName(), plan->plan}));
    if (plan->docFileSizeMB) {
      fmt::print("{}\n", ShareL10n::tr("最大文档：%@ MB", std::to_string(*plan->docFileSizeMB)));
    }
    if (plan->docMaxExpDays) {
      fmt::print("{}\n", ShareL10n::trn("最长保留：%d 天", *plan->docMaxExpDays));
    }
    fmt::print("{}\n", plan->allowsPassword() ? ShareL10n::tr("口令保护：可用")
                                              : ShareL10n::tr("口令保护：不可用（需要 Pro）"));
  }
  return 0;
}

int bind(bool json) {
  const auto report = ShareContext::process().host().bindPending();
  if (!report) return notSignedIn();
  if (json) {
    std::cout << ShareJSONEncoder::dump(report->encode()) << "\n";
  } else {
    fmt::print("{}\n", bindSummary(*report));
    if (report->failure) {
      fmt::print(stderr, "lumo-share: {}\n", tr("绑定已中止：%@", *report->failure));
    }
  }
  return report->failure ? failed : 0;
}

// MARK: - devices and notices

/// This machine as a paired device: the claim's reply, as `devices claim` stored it.
std::optional<PairClaimResult> pairedDevice(const ShareStorage& storage) {
  try {
    return ShareJSON::decoder().decode<PairClaimResult>(
        AtomicFile::read(storage.deviceClaimURL(), 65536));
  } catch (const std::exception&) {
    return std::nullopt;  // not paired, or a damaged file: pair again
  }
}

std::string deviceName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 && name[0] ? name : "Linux";
}

int claimDevice(const ShareHostSession& host, const std::string& code) {
  const auto claim = ShareAPIClient::pairClaim(
      host.apiBase, {code, deviceName(), PlatformValues::linux, std::nullopt},
      *host.uploads.transport);
  const auto& storage = host.uploads.queue->storage();
  storage.ensureDirectories();
  AtomicFile::write(storage.deviceClaimURL(), ShareJSON::encoder().encode(claim), 0600);
  fmt::print("{}\n", tr("本机已配对为“%@”（%@）", {claim.device.name, claim.device.id}));
  return 0;
}

int startPairing(const ShareAPIClient& client, bool json) {
  const auto start = client.pairStart(deviceName(), PlatformValues::linux);
  if (json) {
    std::cout << ShareJSON::encoder().encode(start) << "\n";
    return 0;
  }
  fmt::print("{}\n{}\n", tr("配对码：%@", start.code),
             tr("在另一台机器上认领它：`lumo-share devices claim %@`", start.code));
  return 0;
}

int listDevices(const ShareAPIClient& client, bool json) {
  const auto list = client.listDevices();
  if (json) {
    std::cout << ShareJSON::encoder().encode(list) << "\n";
    return 0;
  }
  for (const auto& device : list) {
    fmt::print("{}  {}  {}\n", device.id, device.platform, device.name);
  }
  if (list.empty()) fmt::print("{}\n", tr("没有已配对的设备。"));
  return 0;
}

int devices(const std::string& action, const std::string& argument, bool json) {
  const auto host = ShareContext::process().host();
  if (action == "claim") return claimDevice(host, argument);
  const auto token = host.accountToken();
  if (!token) return notSignedIn();
  const ShareAPIClient client{host.apiBase, *token, host.uploads.transport};
  if (action == "pair") return startPairing(client, json);
  if (action == "remove") {
    fmt::print("{}\n", tr("已移除 %@。", client.deleteDevice(argument)));
    return 0;
  }
  return listDevices(client, json);
}

struct NoticeRequest {
  std::optional<std::int64_t> since;
  std::int64_t limit = 50;
  std::vector<std::string> ack;  ///< ID STATUS
  bool json = false;
};

int notices(const NoticeRequest& request) {
  const auto host = ShareContext::process().host();
  const auto device = pairedDevice(host.uploads.queue->storage());
  if (!device) {
    fmt::print(stderr, "lumo-share: {}\n",
               tr("本机还没有配对：先运行 `lumo-share devices claim CODE`"));
    return usageError;
  }
  const ShareDeviceClient client{host.apiBase, device->device_token, host.uploads.transport};
  if (!request.ack.empty()) {
    client.ack(request.ack[0], request.ack[1]);
    fmt::print("{}\n", tr("已将通知 %@ 确认为 %@", {request.ack[0], request.ack[1]}));
    return 0;
  }
  const auto feed = client.notices(request.since, request.limit);
  if (request.json) {
    std::cout << ShareJSON::encoder().encode(feed) << "\n";
    return 0;
  }
  for (const auto& notice : feed.notices) {
    fmt::print("{}  {}  {}  {}\n", notice.id, notice.type, notice.short_url,
               notice.title.value_or(""));
  }
  fmt::print("{}\n",
             tr("游标 %@（用 `--since` 传入它，只看更新的通知）", std::to_string(feed.cursor)));
  return 0;
}

int health() {
  const auto host = ShareContext::process().host();
  const auto reply = ShareAPIClient{host.apiBase, "", host.uploads.transport}.health();
  const auto where = host.apiBase.absoluteString();
  const auto version = std::to_string(reply.v);
  fmt::print("{}\n", reply.ok ? tr("运行中：%@（版本 %@），%@", {reply.service, version, where})
                              : tr("运行异常：%@（版本 %@），%@", {reply.service, version, where}));
  return reply.ok ? 0 : failed;
}

// MARK: - the background drain

/// Runs a program with arguments, standard streams inherited; its exit status.
int run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    fmt::print(stderr, "lumo-share: {}\n", tr("无法运行 %@", arguments[0]));
    return failed;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : failed;
}

int background(const std::string& action) {
  constexpr const char* timer = "lumo-share-drain.timer";
  if (action == "enable") return run({"systemctl", "--user", "enable", "--now", timer});
  if (action == "disable") return run({"systemctl", "--user", "disable", "--now", timer});
  const int status =
      run({"systemctl", "--user", "--no-pager", "status", timer, "lumo-share-drain.service"});
  return status == 3 ? 0 : status;  // 3: inactive, which the output says; no error of this command
}

}  // namespace

void refreshAccount(const ShareHostSession& host) {
  try {
    host.refreshPlan();  // nothing happens while signed out
  } catch (const std::exception& error) {
    fmt::print(stderr, "lumo-share: {}\n", ShareL10n::tr("套餐没有刷新：%@", plainWords(error)));
  }
  try {
    if (const auto report = host.bindPending(); report && report->didChange()) {
      fmt::print(stderr, "lumo-share: {}\n", bindSummary(*report));
      if (report->failure) {
        fmt::print(stderr, "lumo-share: {}\n", tr("绑定已中止：%@", *report->failure));
      }
    }
  } catch (const std::exception& error) {
    fmt::print(stderr, "lumo-share: {}\n", ShareL10n::tr("认领没有绑定：%@", plainWords(error)));
  }
}

void addHostCommands(CLI::App& app, int& exitCode) {
  auto json = std::make_shared<bool>(false);
  auto* planCommand = app.add_subcommand("plan", "Fetch the account's plan and cache it");
  planCommand->add_flag("--json", *json, "Print it as JSON");
  planCommand->callback(guardedCallback(exitCode, failed, [json] { return plan(*json); }));

  auto* bindCommand =
      app.add_subcommand("bind", "Bind the claims of anonymous uploads to the signed-in account");
  bindCommand->add_flag("--json", *json, "Print the report as JSON");
  bindCommand->callback(guardedCallback(exitCode, failed, [json] { return bind(*json); }));

  auto action = std::make_shared<std::string>("list");
  auto argument = std::make_shared<std::string>();
  auto* devicesCommand = app.add_subcommand(
      "devices", "Paired devices: list, pair (a code for another machine), claim CODE, remove ID");
  devicesCommand->add_option("ACTION", *action, "list, pair, claim or remove")
      ->check(CLI::IsMember({"list", "pair", "claim", "remove"}));
  devicesCommand->add_option("ARGUMENT", *argument, "the code to claim, or the device to remove");
  devicesCommand->add_flag("--json", *json, "Print JSON");
  devicesCommand->callback(guardedCallback(exitCode, failed, [action, argument, json] {
    if ((*action == "claim" || *action == "remove") && argument->empty()) {
      fmt::print(stderr, "lumo-share: {}\n",
                 *action == "claim" ? tr("`lumo-share devices claim` 需要配对码 `CODE`")
                                    : tr("`lumo-share devices remove` 需要设备编号 `ID`"));
      return static_cast<int>(usageError);
    }
    return devices(*action, *argument, *json);
  }));

  auto noticeRequest = std::make_shared<NoticeRequest>();
  auto* noticesCommand =
      app.add_subcommand("notices", "This paired machine's notices, or --ack ID STATUS");
  noticesCommand->add_option("--since", noticeRequest->since, "Only notices after this cursor");
  noticesCommand->add_option("--limit", noticeRequest->limit, "At most this many (1-200)")
      ->check(CLI::Range(1, 200));
  noticesCommand->add_option("--ack", noticeRequest->ack, "Acknowledge notice ID with STATUS")
      ->expected(2);
  noticesCommand->add_flag("--json", noticeRequest->json, "Print JSON");
  noticesCommand->callback(
      guardedCallback(exitCode, failed, [noticeRequest] { return notices(*noticeRequest); }));

  app.add_subcommand("health", "Ask the service whether it is up")
      ->callback(guardedCallback(exitCode, failed, health));

  auto backgroundAction = std::make_shared<std::string>("status");
  auto* backgroundCommand = app.add_subcommand(
      "background", "The background drain every 15 minutes: enable, disable or status");
  backgroundCommand->add_option("ACTION", *backgroundAction, "enable, disable or status")
      ->check(CLI::IsMember({"enable", "disable", "status"}));
  backgroundCommand->callback(guardedCallback(
      exitCode, failed, [backgroundAction] { return background(*backgroundAction); }));
}

}  // namespace lumo::cli
