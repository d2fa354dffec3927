#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ShareHostSession.hpp"
#include "ShareItemProvider.hpp"
#include "ShareStorage.hpp"
#include "StandardInput.hpp"

namespace lumo::cli {

/// Exit codes of the tool.
enum ExitCode : int {
  published = 0,
  keptInQueue = 1,
  usageError = 2,
  nothingToShare = 3,
  notKept = 4,
};

/// What to stage: text (or "-" for standard input) and items (paths, http(s) links, "-").
struct StageRequest {
  std::optional<std::string> text;
  std::vector<std::string> items;
  bool json = false;
};

/// The item providers of a request; "-" as an item spools standard input to a file.
struct StageInputs {
  std::vector<std::shared_ptr<ShareItemProvider>> providers;
  std::unique_ptr<StandardInputSpool> spool;
};
StageInputs inputsFor(const StageRequest& request, const ShareStorage& storage);
/// The named files and folders that cannot be read, each as "ITEM: reason".
std::vector<std::string> unusableItems(const StageRequest& request);
/// Reports the unusable items in plain words; the exit code when there are any (nothing to
/// share when no item is usable, a usage error when only some are).
std::optional<int> reportUnusableItems(const StageRequest& request);
/// Why a request cannot be staged at all, if it cannot.
std::optional<std::string> stageRequestProblem(const StageRequest& request);

/// A password read from the terminal without echo; nothing without a terminal.
std::optional<std::string> promptPassword();

/// Adds "stage" to the tool; the callback sets `exitCode`.
void addStageCommand(CLI::App& app, int& exitCode);
/// Adds "queue" (list) and "queue remove ID".
void addQueueCommand(CLI::App& app, int& exitCode);
/// Adds "share" (stage and publish), the default command.
CLI::App* addShareCommand(CLI::App& app, int& exitCode);
/// Adds the host application's commands: status, login, logout, drain, recent, config.
void addAccountCommands(CLI::App& app, int& exitCode);

/// Adds the account side of the host application: plan, bind, devices, notices, health and
/// background.
void addHostCommands(CLI::App& app, int& exitCode);
/// After a sign-in and before a drain: refresh the cached plan and bind pending claims, telling
/// what went wrong on standard error without stopping the caller.
void refreshAccount(const ShareHostSession& host);

}  // namespace lumo::cli
