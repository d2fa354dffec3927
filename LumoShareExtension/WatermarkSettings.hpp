#pragma once

#include <cstdint>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// A watermark description, as chosen in the compose form and as the service stores it. The
/// placement, colour, size and rotation words are produced by the compose draft and interpreted
/// by the service; this record only carries them.
struct WatermarkSettings {
  bool enabled = false;
  std::string text;
  std::string position;
  double opacity = 1.0;  ///< 0.01 to 1.0 after normalisation
  std::string color;
  std::int64_t font_size = 0;
  std::int64_t rotation = 0;
  bool repeat = false;  ///< the text is tiled over the page

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("enabled", self.enabled), JSONKey("text", self.text),
                      JSONKey("position", self.position), JSONKey("opacity", self.opacity),
                      JSONKey("color", self.color), JSONKey("font_size", self.font_size),
                      JSONKey("rotation", self.rotation), JSONKey("repeat", self.repeat));
  }
  bool operator==(const WatermarkSettings&) const = default;
};

}  // namespace lumo
