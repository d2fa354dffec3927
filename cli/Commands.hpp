#pragma once

#include <CLI/CLI.hpp>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ShareHostSession.hpp"
#include "ShareItemProvider.hpp"
#include "ShareStorage.hpp"
#include "ShareUploadRecord.hpp"
#include "StandardInput.hpp"

namespace lumo::cli {

/// Exit codes of the tool.
enum ExitCode : int {
  published = 0,    ///< share: published; every other command: done
  keptInQueue = 1,  ///< share, drain, queue retry: not published, kept in the queue for a retry
  failed = 1,       ///< every other command: it could not do its work
  usageError = 2,
  nothingToShare = 3,
  notKept = 4,  ///< share, stage: not published and not kept
};

/// The exit codes as the help and the README list them.
inline constexpr const char* exitCodesText =
    "Exit codes: 0 published (other commands: done); 1 not published, kept in the queue (other "
    "commands: failed); 2 usage error; 3 nothing to share; 4 not published and not kept.";

/// An error in plain words: the service's refusal with its status, an upload failure's message,
/// a file operation with its reason and path.
std::string plainWords(const std::exception& error);

/// Says once on standard error, before a command runs, when the storage root is the private
/// fallback folder rather than the shared container: what is queued there is this session's
/// only and may go at the next reboot. Silent when the storage cannot be resolved at all (the
/// command then says why).
void noteFallbackStorage();

/// The callback of a command: runs `command` and keeps the exit code it answers in `exitCode`.
/// An error that `command` lets escape is reported on standard error as "lumo-share: <what
/// happened>" and exits with `failureCode`, so that no command ends in an abort.
std::function<void()> guardedCallback(int& exitCode, int failureCode, std::function<int()> command);

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

/// A password read from the terminal without echo, bounded (`truncated` tells that more was
/// typed than any password the share form accepts); nothing without a terminal.
std::optional<BoundedText> promptPassword();

/// Adds "stage" to the tool; the callback sets `exitCode`.
void addStageCommand(CLI::App& app, int& exitCode);
/// Adds "queue" (list) and "queue remove ID".
void addQueueCommand(CLI::App& app, int& exitCode);
/// Adds "share" (stage and publish), the default command.
CLI::App* addShareCommand(CLI::App& app, int& exitCode);
/// Adds the host application's commands: status, login, logout, drain, recent, config.
void addAccountCommands(CLI::App& app, int& exitCode);

/// Adds "delete": takes shares back by their slugs or short links.
void addDeleteCommand(CLI::App& app, int& exitCode);
/// Whether the service still serves each record's share (`ShareDeletion::served`), checked a
/// few at a time within a bounded time; nothing for a share it could not tell.
std::vector<std::optional<bool>> servedShares(const std::vector<ShareUploadRecord>& records);

/// Adds the account side of the host application: plan, bind, devices, notices, health and
/// background.
void addHostCommands(CLI::App& app, int& exitCode);
/// After a sign-in and before a drain: refresh the cached plan and bind pending claims, telling
/// what went wrong on standard error without stopping the caller.
void refreshAccount(const ShareHostSession& host);

}  // namespace lumo::cli
