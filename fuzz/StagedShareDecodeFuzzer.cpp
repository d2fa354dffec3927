// Feeds arbitrary bytes to the record decoder, as a damaged or hostile "share.json" would. Any
// outcome but a value or a ShareJSONError is a fault; a decoded value must survive a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "LumoShare.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto share = lumo::ShareJSON::decoder().decode<lumo::StagedShare>(text);
    const auto again = lumo::ShareJSON::encoder().encode(share);
    const auto reread = lumo::ShareJSON::decoder().decode<lumo::StagedShare>(again);
    if (!(reread == share)) std::abort();
    for (const auto& attachment : share.attachments) {
      const auto location = share.url(attachment, "/store/pending/x");
      if (location.parent_path() != "/store/pending/x") std::abort();
    }
    if (share.options) {
      (void)share.options->normalizedNote();
      (void)share.options->normalizedWatermark();
      (void)share.options->expDays(share.totalBytes);
    }
  } catch (const lumo::ShareJSONError&) {
  }
  return 0;
}
