#include <gtest/gtest.h>

#include "Thumbnailer.hpp"

namespace lumo {
namespace {

const std::filesystem::path media = std::filesystem::path(LUMO_TEST_FIXTURES) / "media";

TEST(ThumbnailerImages, StoredPixelSizeIgnoringOrientation) {
  EXPECT_EQ(Thumbnailer::imagePixelSize(media / "rotated-4032x3024.jpg"), (PixelSize{4032, 3024}));
  EXPECT_EQ(Thumbnailer::imagePixelSize(media / "picture-300x200.png"), (PixelSize{300, 200}));
  EXPECT_EQ(Thumbnailer::imagePixelSize(media / "video-12.3456s.mp4"), (PixelSize{16, 16}));
}

TEST(ThumbnailerImages, EverythingElseIsUnknown) {
  for (const auto* name :
       {"not-an-image.jpg", "audio-only-2s.m4a", "zero-length.mp4", "missing.png"}) {
    EXPECT_FALSE(Thumbnailer::imagePixelSize(media / name).has_value()) << name;
  }
  EXPECT_FALSE(Thumbnailer::imagePixelSize(media).has_value());
}

TEST(ThumbnailerDurations, ContainerDurationTruncatedToMilliseconds) {
  EXPECT_EQ(Thumbnailer::videoDurationMs(media / "video-12.3456s.mp4"), 12345);
  EXPECT_EQ(Thumbnailer::videoDurationMs(media / "audio-only-2s.m4a"), 2000);
  for (const auto* name : {"zero-length.mp4", "not-an-image.jpg", "rotated-4032x3024.jpg",
                           "picture-300x200.png", "missing.mp4"}) {
    EXPECT_FALSE(Thumbnailer::videoDurationMs(media / name).has_value()) << name;
  }
}

}  // namespace
}  // namespace lumo
