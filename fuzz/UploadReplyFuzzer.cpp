// Feeds arbitrary bytes to the decoders of the publishing replies (document and link envelopes,
// anonymous and signed in). Besides crashes and sanitizer reports it checks what callers rely
// on: a reply either decodes, and then encodes and decodes back to the same record, or fails
// with one bounded, well-formed `decoding` error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "LumoShare.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

template <class Envelope>
void check(std::string_view body) {
  try {
    const auto decoded = lumo::ShareHTTP::decode<Envelope>(body);
    const auto again =
        lumo::ShareHTTP::decode<Envelope>(lumo::ShareJSON::encoder().encode(decoded));
    require(again == decoded);
  } catch (const lumo::ShareUploadError& error) {
    const auto* decoding = error.as<lumo::ShareUploadError::Decoding>();
    require(decoding != nullptr);
    require(decoding->text.size() <= lumo::ShareUploadError::maxDecodingTextBytes);
    require(lumo::UnicodeText::wellFormed(decoding->text) == decoding->text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  check<lumo::DocCreateResponse>(body);
  check<lumo::AnonDocCreateResponse>(body);
  check<lumo::LinkCreateResponse>(body);
  check<lumo::AnonLinkCreateResponse>(body);
  return 0;
}
