// lumo-share-server: the reference LumoShare service, for the demo, the end-to-end tests, the
// benchmarks and people who host their own.
#include <CLI/CLI.hpp>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "AtomicFile.hpp"
#include "LumoShareVersion.hpp"
#include "ShareJSON.hpp"
#include "ShareService.hpp"
#include "ShareUUID.hpp"

namespace {

namespace fs = std::filesystem;
using lumo::service::ShareService;

/// $XDG_DATA_HOME/lumo-share-server, else ~/.local/share/lumo-share-server.
std::string defaultDataDirectory() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
    return std::string(data) + "/lumo-share-server";
  }
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/.local/share/lumo-share-server";
}

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

ShareService* running = nullptr;

/// Every descriptor the system lets this process have: each open connection holds one, and the
/// usual soft limit of 1024 would stop accepting long before the connection limits do.
void allowEveryDescriptor() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int serve(const ShareService::Options& options, const std::string& listen) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos) {
    std::cerr << "lumo-share-server: --listen takes HOST:PORT\n";
    return 2;
  }
  allowEveryDescriptor();
  ShareService service(options);
  const auto port = service.bind(listen.substr(0, colon), std::atoi(listen.c_str() + colon + 1));
  if (port < 0) {
    std::cerr << "lumo-share-server: cannot listen on " << listen << "\n";
    return 1;
  }
  std::printf("listening on %s://%s:%d, data in %s\n",
              options.tlsCertificate.empty() ? "http" : "https", listen.substr(0, colon).c_str(),
              port, options.dataDirectory.c_str());
  std::fflush(stdout);
  running = &service;
  std::signal(SIGINT, [](int) { running->stop(); });
  std::signal(SIGTERM, [](int) { running->stop(); });
  service.listen();
  running = nullptr;
  return 0;
}

/// Where the records are: the data folder's SQLite database, or PostgreSQL.
struct Records {
  std::string data = defaultDataDirectory();
  std::string database;

  /// Adds --data and --database (also from LUMO_SHARE_DATABASE, which keeps a password out of
  /// the process list) to `command`.
  void addOptions(CLI::App& command) {
    command.add_option("--data", data, "Data folder");
    command
        .add_option("--database", database,
                    "postgresql://… URI: keep the records in PostgreSQL (default: SQLite in the "
                    "data folder)")
        ->envname("LUMO_SHARE_DATABASE")
        ->check(
            [](const std::string& uri) {
              return lumo::service::sql::Database::isPostgreSQL(uri)
                         ? std::string()
                         : std::string("--database takes a postgresql:// URI");
            },
            "URI");
  }
  lumo::service::ServiceStore open() const {
    lumo::AtomicFile::createDirectories(data);
    return lumo::service::ServiceStore(data, database, 1);
  }
};

int migrate(const Records& records) {
  const auto store = records.open();
  const auto schema = lumo::service::ServiceStore::schemaVersion;
  if (store.foundVersion() == schema) {
    std::printf("schema %d: nothing to migrate\n", schema);
  } else {
    std::printf("schema %lld -> %d\n", static_cast<long long>(store.foundVersion()), schema);
  }
  return 0;
}

int addUser(const Records& records, const std::string& name, const std::string& plan) {
  if (!lumo::service::PlanRules::named(plan)) {
    std::cerr << "lumo-share-server: the plan is hobby or pro\n";
    return 2;
  }
  auto store = records.open();
  store.addAccount({lumo::makeLowercaseUUID(), name, plan, nowSeconds()});
  std::printf("added %s (%s)\n", name.c_str(), plan.c_str());
  return 0;
}

int printToken(const Records& records, const std::string& name, std::int64_t days) {
  const auto store = records.open();
  const auto account = store.account(name);
  if (!account) {
    std::cerr << "lumo-share-server: no user " << name << "\n";
    return 1;
  }
  const lumo::service::ServiceSecrets secrets(records.data);
  const auto token = secrets.issueToken(account->id, nowSeconds(), days);
  // The object the client's token import reads.
  std::cout << lumo::ShareJSONEncoder::dump(lumo::JSONValue{
                   {"access_token", token}, {"refresh_token", ""}, {"expires_in", days * 86400}})
            << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"lumo-share-server: the reference LumoShare service", "lumo-share-server"};
  // Before the commands are added: they take the parent's formatter with them.
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.set_version_flag("--version", std::string("lumo-share-server ") + lumo::lumoShareVersion);
  app.require_subcommand(1);
  Records records;
  int exitCode = 0;

  auto* serveCommand = app.add_subcommand("serve", "Answer the service API");
  std::string listen = "127.0.0.1:8787";
  ShareService::Options options;
  double perMinute = 120;
  serveCommand->add_option("--listen", listen, "HOST:PORT to listen on (loopback by default)");
  serveCommand->add_option("--public-base", options.publicBase,
                           "Origin of the share pages, ending in /");
  records.addOptions(*serveCommand);
  serveCommand
      ->add_option("--database-connections", options.databaseConnections,
                   "Connections to PostgreSQL this node holds at most")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000}));
  serveCommand->add_option("--tls-cert", options.tlsCertificate, "PEM certificate: serve HTTPS")
      ->check(CLI::ExistingFile);
  serveCommand->add_option("--tls-key", options.tlsKey, "PEM private key of the certificate")
      ->check(CLI::ExistingFile);
  serveCommand->add_option("--rate-limit", perMinute,
                           "Requests per minute per token or address (0: no limit)");
  std::int64_t delayMs = 0;
  serveCommand
      ->add_option("--delay-ms", delayMs,
                   "Answer every API request no sooner than N ms after it arrived (soak tests)")
      ->check(CLI::Range(std::int64_t{0}, std::int64_t{3600000}));
  bool ignoreIdempotencyKeys = false;
  serveCommand->add_flag(
      "--no-idempotency", ignoreIdempotencyKeys,
      "Ignore Idempotency-Key: every publish request makes a new share (soak tests)");
  std::vector<std::string> proxies;
  serveCommand
      ->add_option("--trusted-proxy", proxies,
                   "ADDRESS of a reverse proxy in front of the service: its requests count "
                   "against the client it names last in X-Forwarded-For")
      ->check(
          [](const std::string& address) {
            return lumo::service::exactAddress(address)
                       ? std::string()
                       : std::string("--trusted-proxy takes one IPv4 or IPv6 address");
          },
          "ADDRESS");
  serveCommand->add_option("--request-log", options.requestLog,
                           "Append one JSON line per API request to FILE");
  serveCommand->callback([&] {
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
      throw CLI::ValidationError("--tls-cert and --tls-key go together");
    }
    lumo::AtomicFile::createDirectories(records.data);
    options.dataDirectory = records.data;
    options.database = records.database;
    for (const auto& proxy : proxies) {
      options.connectionLimits.proxies.insert(*lumo::service::exactAddress(proxy));
    }
    options.rateBurst = perMinute;
    options.ratePerSecond = perMinute / 60;
    options.apiDelay = std::chrono::milliseconds(delayMs);
    options.idempotency = !ignoreIdempotencyKeys;
    exitCode = serve(options, listen);
  });

  auto* user = app.add_subcommand("user", "Manage accounts");
  user->require_subcommand(1);
  auto* add = user->add_subcommand("add", "Add an account");
  std::string name, plan = "hobby";
  add->add_option("NAME", name, "Account name")->required();
  add->add_option("--plan", plan, "hobby or pro");
  records.addOptions(*add);
  add->callback([&] { exitCode = addUser(records, name, plan); });

  auto* tokenCommand = app.add_subcommand("token", "Print a sign-in token as JSON");
  std::int64_t days = 30;
  tokenCommand->add_option("NAME", name, "Account name")->required();
  tokenCommand->add_option("--days", days, "Validity in days");
  records.addOptions(*tokenCommand);
  tokenCommand->callback([&] { exitCode = printToken(records, name, days); });

  auto* migrateCommand = app.add_subcommand(
      "migrate", "Create or migrate the records' schema to this version, then exit");
  records.addOptions(*migrateCommand);
  migrateCommand->callback([&] { exitCode = migrate(records); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // CLI11's own codes (105, 106, 109 …) say which check failed; the page promises 2.
    const int code = app.exit(error);
    return code == 0 ? 0 : 2;
  } catch (const std::exception& error) {
    std::cerr << "lumo-share-server: " << error.what() << "\n";
    return 1;
  }
  return exitCode;
}
