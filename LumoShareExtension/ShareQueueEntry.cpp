#include "ShareQueueEntry.hpp"

#include <array>

namespace lumo {
namespace {

constexpr std::array<std::pair<ShareQueueEntry::State, const char*>, 3> stateNames = {{
    {ShareQueueEntry::State::queued, "queued"},
    {ShareQueueEntry::State::uploading, "uploading"},
    {ShareQueueEntry::State::failed, "failed"},
}};

ShareQueueEntry::State decodeState(const std::string& name, const std::string& path) {
  for (const auto& [state, candidate] : stateNames) {
    if (name == candidate) return state;
  }
  throw ShareJSONError(ShareJSONError::Kind::invalidValue, path, "unknown state \"" + name + "\"");
}

}  // namespace

const char* shareQueueStateName(ShareQueueEntry::State state) {
  for (const auto& [candidate, name] : stateNames) {
    if (candidate == state) return name;
  }
  return "queued";
}

ShareQueueEntry ShareQueueEntry::decode(const JSONObjectReader& reader) {
  return ShareQueueEntry{
      reader.required<StagedShare>("staged"),
      decodeState(reader.required<std::string>("state"),
                  reader.path().empty() ? "state" : reader.path() + ".state"),
      reader.required<std::int64_t>("attempts"),
      reader.optional<std::int64_t>("nextAttemptAtMs"),
      reader.optional<std::string>("lastError"),
      reader.optional<std::int64_t>("lastAttemptAtMs"),
      reader.required<std::int64_t>("updatedAtMs"),
  };
}

JSONValue ShareQueueEntry::encode() const {
  return JSONObjectWriter()
      .set("staged", staged)
      .set("state", std::string(shareQueueStateName(state)))
      .set("attempts", attempts)
      .setOptional("nextAttemptAtMs", nextAttemptAtMs)
      .setOptional("lastError", lastError)
      .setOptional("lastAttemptAtMs", lastAttemptAtMs)
      .set("updatedAtMs", updatedAtMs)
      .take();
}

}  // namespace lumo
