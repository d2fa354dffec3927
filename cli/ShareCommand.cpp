// "lumo-share share": stages items and publishes them in one go, with the compose options of the
// share panel, validated the same way and reported in the same words.
#include <unistd.h>

#include <fmt/format.h>

#include <iostream>

#include "Commands.hpp"
#include "LumoShare.hpp"
#include "ProgressBar.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::tr;

/// Bytes read of a password, typed or from a file: far more than the longest one the compose form
/// accepts, so that the form's own rule, not the read, refuses a long one.
constexpr std::size_t maxPasswordBytes = 4096;

/// The compose options as typed on the command line.
struct ShareRequest {
  StageRequest stage;
  std::optional<std::string> title, note, expires, slug, maxDownloads, watermark;
  std::string watermarkPosition = "center";
  std::optional<std::int64_t> watermarkOpacity;
  bool askPassword = false;
  std::optional<std::string> passwordFile;
  bool noDownload = false, burn = false;
};

/// The panel's form, filled from the command line over the draft the settings give.
ShareComposeDraft composeDraft(const ShareRequest& request, ShareComposeDraft draft,
                               const std::optional<std::string>& password) {
  if (request.title) draft.title = *request.title;
  if (request.note) draft.note = *request.note;
  if (request.expires) {
    draft.expiresInSeconds = *ShareComposeLimits::retentionPreset(*request.expires);
  }
  if (password) {
    draft.passwordEnabled = true;
    draft.password = *password;
  }
  if (request.slug) draft.slug = *request.slug;
  if (request.maxDownloads) draft.maxDownloadsText = *request.maxDownloads;
  draft.disableDownload = request.noDownload;
  draft.burnAfterReading = request.burn;
  if (request.watermark) {
    draft.watermarkEnabled = true;
    draft.watermarkText = *request.watermark;
  }
  draft.watermarkPosition = ShareComposeWatermarkPosition::fromWireValue(request.watermarkPosition);
  if (request.watermarkOpacity) draft.watermarkOpacityPercent = *request.watermarkOpacity;
  return draft;
}

/// The panel's compose hint, when the request asks for something the share cannot carry.
std::optional<std::string> composeHint(const ShareRequest& request, const ShareComposeFacts& facts,
                                       bool hasPassword) {
  const bool documentOptions = request.title || request.note || request.maxDownloads ||
                               request.noDownload || request.burn || request.watermark;
  const bool accountOptions = request.slug || hasPassword || request.expires;
  const bool refused = (facts.isLinkOnly && documentOptions) ||
                       (facts.isAnonymous() ? accountOptions : hasPassword && facts.isFreePlan());
  return refused ? std::optional(SharePanelText::composeHint(facts)) : std::nullopt;
}

void printSuccess(const ShareUploadOutcome& outcome, const StagedShare& staged, bool json) {
  if (json) {
    std::cout << ShareJSON::encoder().encode(outcome) << std::endl;
    return;
  }
  std::cout << outcome.shortUrl << std::endl;
  fmt::print(stderr, "{}\n", SharePanelText::resultMetaText(outcome, staged, currentTimeMs()));
  if (::isatty(STDERR_FILENO) == 1) {
    if (const auto code = qrImage(outcome.shortUrl, 132))
      fmt::print(stderr, "{}", code->terminalText());
  }
}

/// The failure with what to do about it: the command that retries a share the queue kept.
int reportFailure(const ShareUploadError& error, ShareUploadSession::TokenState state,
                  const PendingShareQueue& queue, const std::string& clientShareId) {
  if (queue.entry(clientShareId)) {
    fmt::print(stderr, "lumo-share: {}\n",
               SharePanelText::commandLineGuidance(error, state, clientShareId));
    fmt::print(stderr, "lumo-share: {}\n",
               tr("已保留在队列中（%@）；`lumo-share drain` 会在到期时补传。", clientShareId));
    return keptInQueue;
  }
  fmt::print(stderr, "lumo-share: {}\n", error.message());
  fmt::print(stderr, "lumo-share: {}\n", tr("没有保留：这次分享无法存入队列，不能重试。"));
  return notKept;
}

int runShare(const ShareRequest& request) {
  if (const auto problem = stageRequestProblem(request.stage)) {
    std::cerr << "lumo-share: " << *problem << "\n";
    return request.stage.items.empty() && !request.stage.text ? nothingToShare : usageError;
  }
  if (const auto code = reportUnusableItems(request.stage)) return *code;
  if (request.expires && !ShareComposeLimits::retentionPreset(*request.expires)) {
    fmt::print(stderr, "lumo-share: {}\n", tr("`--expires` 只接受 `1d`、`7d` 或 `30d`"));
    return usageError;
  }
  std::optional<std::string> password;
  if (request.passwordFile) {
    password = AtomicFile::read(*request.passwordFile, maxPasswordBytes);
  } else if (request.askPassword) {
    const auto typed = promptPassword();
    if (typed && typed->truncated) {
      fmt::print(stderr, "lumo-share: {}\n",
                 SharePanelText::message(ShareComposeIssue::passwordTooLong));
      return usageError;
    }
    if (typed) password = typed->text;
  }
  if (password && !password->empty() && password->back() == '\n') password->pop_back();

  const auto& context = ShareContext::process();
  const auto& session = context.uploads;
  auto ingest = context.ingest();
  StagingView staging(ingest);  // copying, archiving and hashing a large item takes a while
  const auto inputs = inputsFor(request.stage, ingest.storage());
  // The share stays this command's until it is sent: no drain publishes it meanwhile, and a
  // share the form refuses leaves nothing behind.
  std::shared_ptr<HeldShare> held;
  try {
    held = ingest.ingestHeld(inputs.providers, makeLowercaseUUID());
  } catch (const ShareIngestError& error) {
    return staging.failed(error);
  }
  staging.staged();
  const auto& staged = held->staged();

  const auto facts =
      ShareComposeFacts::make(session.tokenState(), staged, ingest.storage(), currentTimeMs());
  const auto settings = ShareSettingsStore{ingest.storage()}.load();
  const auto draft = composeDraft(request, facts.makeDraft(settings, staged), password);
  if (const auto issues = facts.issues(draft); !issues.empty()) {
    for (const auto issue : issues) {
      fmt::print(stderr, "lumo-share: {}\n", SharePanelText::message(issue));
    }
    held->discard();  // nothing was sent; nothing is kept
    return usageError;
  }
  if (const auto hint = composeHint(request, facts, password.has_value())) {
    fmt::print(stderr, "lumo-share: {}\n", *hint);
  }
  ProgressBar bar;
  const auto result =
      session.uploadNow(*held, facts.makeOptions(draft), {},
                        ShareUploadProgress{[&bar](auto sent, auto total) { bar(sent, total); }});
  bar.finish();
  if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
    printSuccess(*outcome, staged, request.stage.json);
    return published;
  }
  return reportFailure(std::get<ShareUploadError>(result), facts.tokenState, *session.queue,
                       staged.clientShareId);
}

}  // namespace

std::optional<BoundedText> promptPassword() {
  return promptHidden(tr(SharePanelText::passwordTitle) + ": ", maxPasswordBytes);
}

CLI::App* addShareCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<ShareRequest>();
  auto* command = app.add_subcommand(
      "share", "Stage files, folders, links or text and publish them behind a short link");
  command->add_option("items", request->stage.items,
                      "Files, folders or http(s) links; \"-\" shares standard input as a file");
  command->add_option("--text", request->stage.text, "Text to share; \"-\" reads standard input");
  command->add_option("--title", request->title, "Title of the share");
  command->add_option("--note", request->note, "A note shown with the share");
  command->add_option("--expires", request->expires, "How long it stays: 1d, 7d or 30d");
  command->add_flag("--password", request->askPassword,
                    "Protect it with a password, asked on the terminal without echo");
  command->add_option("--password-file", request->passwordFile,
                      "Protect it with the password in this file (its first line)");
  command->add_option("--slug", request->slug, "Custom short-link path (4-32 letters, digits, -)");
  command->add_option("--max-downloads", request->maxDownloads, "Download limit (0: none)");
  command->add_flag("--no-download", request->noDownload, "View only: no download");
  command->add_flag("--burn", request->burn, "Delete the share after its first view");
  command->add_option("--watermark", request->watermark, "Draw this text over the preview");
  command->add_option("--watermark-position", request->watermarkPosition, "center or diagonal")
      ->check(CLI::IsMember({"center", "diagonal"}));
  command->add_option("--watermark-opacity", request->watermarkOpacity, "Opacity in percent");
  command->add_flag("--json", request->stage.json, "Print the outcome record as JSON");
  command->footer(exitCodesText);
  command->callback(guardedCallback(exitCode, notKept, [request] { return runShare(*request); }));
  return command;
}

}  // namespace lumo::cli
