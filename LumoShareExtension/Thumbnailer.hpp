#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace lumo {

struct PixelSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

/// Reads media metadata from file headers through libavformat, which the first probe loads. Best
/// effort: any problem, a missing libavformat included, gives "unknown", never an error, and no
/// picture data is ever decoded. Safe to call from several threads.
namespace Thumbnailer {

/// The stored pixel size of the first picture stream (orientation flags are not applied).
std::optional<PixelSize> imagePixelSize(const std::filesystem::path& file);

/// The container's duration in whole milliseconds; unknown when it is missing or not positive.
std::optional<std::int64_t> videoDurationMs(const std::filesystem::path& file);

}  // namespace Thumbnailer
}  // namespace lumo
