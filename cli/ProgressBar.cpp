#include "ProgressBar.hpp"

#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Commands.hpp"
#include "ShareByteCount.hpp"

namespace lumo::cli {
namespace {

using ShareL10n::tr;

constexpr int barWidth = 24;
constexpr auto redrawInterval = std::chrono::milliseconds(100);

/// Whether standard error is a terminal that moves the cursor back on "\r" and clears a line on
/// "ESC [ K": not when TERM is unset, empty or "dumb" (an editor's shell, a serial console).
bool drawsOnStandardError() {
  if (::isatty(STDERR_FILENO) != 1) return false;
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

/// The part of a skip reason ("code:item") after its code.
std::string skippedItem(std::string_view reason) {
  const auto colon = reason.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(reason.substr(colon + 1));
}

/// One item the loader left out, in plain words.
std::string skippedLine(const ShareTargetLoader::Skipped& skipped) {
  const std::string_view reason = skipped.reason;
  const auto code = reason.substr(0, reason.find(':'));
  const auto item = skippedItem(reason);
  if (skipped.failure) return tr("%@；已跳过", *skipped.failure);
  if (code == "items_limit") {
    return ShareL10n::trn("只读取了前 %d 项，其余的已跳过", ShareApple::maxItems);
  }
  if (code == "file_missing") return tr("已跳过 %@：文件或文件夹不存在", item);
  if (code == "copy_failed" && !item.empty()) {
    if (skipped.cause) return tr("已跳过 %@：无法复制用于分享（%@）", {item, *skipped.cause});
    return tr("已跳过 %@：无法复制用于分享", item);
  }
  if (code == "archive_failed") return tr("已跳过 %@：无法压缩这个文件夹", item);
  if (code == "file_url_unreadable" || code == "file_url_type_missing") {
    return tr("已跳过一项：无法读取它的路径");
  }
  return tr("已跳过一项：不是可以分享的文件、文件夹、文本或链接");
}

}  // namespace

ProgressBar::ProgressBar() : enabled_(drawsOnStandardError()) {}

ProgressBar::~ProgressBar() {
  finish();
}

void ProgressBar::operator()(std::int64_t sent, std::int64_t total) {
  const auto now = Clock::now();
  if (!enabled_ || total <= 0 || (drawn_ && now - lastDrawn_ < redrawInterval && sent < total)) {
    return;
  }
  lastDrawn_ = now;
  drawn_ = true;
  const auto seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(sent) / seconds : 0;
  const auto filled =
      static_cast<int>(barWidth * std::min<double>(1, double(sent) / double(total)));
  const auto left = rate > 0 ? fmt::format("{:.0f} s", double(total - sent) / rate) : "…";
  fmt::print(stderr, "\r\x1b[K[{}{}] {} / {}  {}/s  {}", std::string(filled, '#'),
             std::string(barWidth - filled, '.'), ShareByteCount::fileStyle(sent),
             ShareByteCount::fileStyle(total),
             ShareByteCount::fileStyle(static_cast<std::int64_t>(rate)), left);
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (!drawn_) return;
  fmt::print(stderr, "\r\x1b[K");
  std::fflush(stderr);
  drawn_ = false;
}

StagingView::StagingView(ShareIngest& ingest) {
  ingest.observeStaging([this](auto done, auto total) { bar_(done, total); });
  ingest.observeSkipped([this](const auto& skipped) { skipped_.push_back(skipped); });
}

void StagingView::staged() {
  bar_.finish();
  reportSkipped(true);
}

int StagingView::failed(const ShareIngestError& error) {
  bar_.finish();
  reportSkipped(false);  // the error itself carries the failure texts
  fmt::print(stderr, "lumo-share: {}\n", SharePanelText::readableMessage(error));
  return error.kind() == ShareIngestError::Kind::emptyPayload ? nothingToShare : notKept;
}

void StagingView::reportSkipped(bool withFailureTexts) const {
  for (const auto& skipped : skipped_) {
    if (skipped.failure && !withFailureTexts) continue;
    fmt::print(stderr, "lumo-share: {}\n", skippedLine(skipped));
  }
}

}  // namespace lumo::cli
