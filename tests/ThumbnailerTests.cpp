#include <gtest/gtest.h>

#include "TemporaryDirectory.hpp"
#include "Thumbnailer.hpp"

namespace lumo {
namespace {

const std::filesystem::path media = std::filesystem::path(LUMO_TEST_FIXTURES) / "media";

TEST(ThumbnailerImages, StoredPixelSizeIgnoringOrientation) {
  EXPECT_EQ(Thumbnailer::imagePixelSize(media / "rotated-4032x3024.jpg"), (PixelSize{4032, 3024}));
  EXPECT_EQ(Thumbnailer::imagePixelSize(media / "picture-300x200.png"), (PixelSize{300, 200}));
}

TEST(ThumbnailerImages, EverythingElseIsUnknown) {
  // A movie is no image, not even under an image's name.
  testing::TemporaryDirectory folder;
  std::filesystem::copy_file(media / "video-12.3456s.mp4", folder / "disguised.jpg");
  for (const auto& file :
       {media / "not-an-image.jpg", media / "audio-only-2s.m4a", media / "zero-length.mp4",
        media / "missing.png", media / "video-12.3456s.mp4", folder / "disguised.jpg", media}) {
    EXPECT_FALSE(Thumbnailer::imagePixelSize(file).has_value()) << file;
  }
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
