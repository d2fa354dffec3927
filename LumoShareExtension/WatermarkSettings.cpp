#include "WatermarkSettings.hpp"

namespace lumo {

WatermarkSettings WatermarkSettings::decode(const JSONObjectReader& reader) {
  return WatermarkSettings{
      reader.required<bool>("enabled"),          reader.required<std::string>("text"),
      reader.required<std::string>("position"),  reader.required<double>("opacity"),
      reader.required<std::string>("color"),     reader.required<std::int64_t>("font_size"),
      reader.required<std::int64_t>("rotation"), reader.required<bool>("repeat"),
  };
}

JSONValue WatermarkSettings::encode() const {
  return JSONObjectWriter()
      .set("enabled", enabled)
      .set("text", text)
      .set("position", position)
      .set("opacity", opacity)
      .set("color", color)
      .set("font_size", font_size)
      .set("rotation", rotation)
      .set("repeat", repeat)
      .take();
}

}  // namespace lumo
