#include "ProgressBar.hpp"

#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <string>

#include "ShareByteCount.hpp"

namespace lumo::cli {
namespace {

constexpr int barWidth = 24;
constexpr auto redrawInterval = std::chrono::milliseconds(100);

}  // namespace

ProgressBar::ProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {}

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

}  // namespace lumo::cli
