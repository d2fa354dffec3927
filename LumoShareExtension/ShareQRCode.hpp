#pragma once
// The QR code of a short link, for the panel to paint and the command-line tool to print.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

/// A QR code (error correction M) and the geometry it is shown in: a white square of `side`
/// points with the code filling the inner square inset by `margin` points on every side. The
/// modules carry the code's own quiet zone of none; the white margin is the quiet zone.
struct ShareQRImage {
  static constexpr double margin = 8;

  double side = 0;
  int modulesPerSide = 0;
  std::vector<bool> dark;  ///< row by row, `modulesPerSide` squared

  double innerSide() const { return side - 2 * margin; }
  double moduleSide() const { return innerSide() / modulesPerSide; }
  bool isDark(int row, int column) const {
    return dark[static_cast<std::size_t>(row * modulesPerSide + column)];
  }

  /// Writes the image as a PNG of `side` × `scale` pixels square (black on white). Throws
  /// std::runtime_error.
  void writePNG(const std::filesystem::path& file, int scale) const;
  /// The code for a terminal: two module rows per line with Unicode half blocks, inside a quiet
  /// zone of two modules, drawn so it reads dark-on-light on dark and on light terminals alike
  /// (explicit black and white, then the terminal's colours restored).
  std::string terminalText() const;
};

/// The QR code of `text` at `side` points; nothing when it cannot be made (too long, empty side).
std::optional<ShareQRImage> qrImage(std::string_view text, double side);

}  // namespace lumo
