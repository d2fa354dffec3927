#include "ShareQRCode.hpp"

#include <png.h>
#include <qrencode.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "AtomicFile.hpp"

namespace lumo {
namespace {

constexpr int terminalQuietZone = 2;

/// The PNG bytes of a grey image, rows of `width` bytes.
std::string encodePNG(const std::vector<std::uint8_t>& pixels, std::uint32_t width) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = width;
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("cannot encode the QR code: ") + image.message);
  }
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("cannot encode the QR code: ") + image.message);
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace

std::optional<ShareQRImage> qrImage(std::string_view text, double side) {
  if (!(side > 2 * ShareQRImage::margin)) return std::nullopt;
  const std::string data(text);
  const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeData(static_cast<int>(data.size()),
                        reinterpret_cast<const unsigned char*>(data.data()), 0, QR_ECLEVEL_M),
      &QRcode_free);
  if (!code || code->width <= 0) return std::nullopt;
  ShareQRImage image;
  image.side = side;
  image.modulesPerSide = code->width;
  const auto count = static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width);
  image.dark.resize(count);
  for (std::size_t index = 0; index < count; ++index) image.dark[index] = code->data[index] & 1;
  return image;
}

void ShareQRImage::writePNG(const std::filesystem::path& file, int scale) const {
  const auto pixelsPerSide = static_cast<std::uint32_t>(std::lround(side * scale));
  const double module = moduleSide() * scale;
  const double inset = margin * scale;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(pixelsPerSide) * pixelsPerSide, 255);
  for (std::uint32_t y = 0; y < pixelsPerSide; ++y) {
    for (std::uint32_t x = 0; x < pixelsPerSide; ++x) {
      const auto row = static_cast<int>(std::floor((y + 0.5 - inset) / module));
      const auto column = static_cast<int>(std::floor((x + 0.5 - inset) / module));
      if (row >= 0 && column >= 0 && row < modulesPerSide && column < modulesPerSide &&
          isDark(row, column)) {
        pixels[static_cast<std::size_t>(y) * pixelsPerSide + x] = 0;
      }
    }
  }
  AtomicFile::write(file, encodePNG(pixels, pixelsPerSide), 0644);
}

std::string ShareQRImage::terminalText() const {
  const int first = -terminalQuietZone;
  const int last = modulesPerSide + terminalQuietZone;  // exclusive
  const auto darkAt = [&](int row, int column) {
    return row >= 0 && column >= 0 && row < modulesPerSide && column < modulesPerSide &&
           isDark(row, column);
  };
  std::string text;
  for (int row = first; row < last; row += 2) {
    // Black foreground on a white background, whatever the terminal's own colours are.
    text += "\x1b[30;47m";
    for (int column = first; column < last; ++column) {
      const bool top = darkAt(row, column);
      const bool bottom = darkAt(row + 1, column);
      text += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    text += "\x1b[0m\n";
  }
  return text;
}

}  // namespace lumo
