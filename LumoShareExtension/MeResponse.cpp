#include "MeResponse.hpp"

namespace lumo {

PlanLimits PlanLimits::decode(const JSONObjectReader& reader) {
  return PlanLimits{reader.optional<std::int64_t>("slugMinLength"),
                    reader.optional<std::int64_t>("bulkBatchSize"),
                    reader.optional<std::int64_t>("docFileSizeMB"),
                    reader.optional<std::int64_t>("docMaxExpDays"),
                    reader.optional<std::int64_t>("linkMaxExpirationDays"),
                    reader.optional<std::int64_t>("linkMaxKeepDays")};
}

JSONValue PlanLimits::encode() const {
  return JSONObjectWriter()
      .setOptional("slugMinLength", slugMinLength)
      .setOptional("bulkBatchSize", bulkBatchSize)
      .setOptional("docFileSizeMB", docFileSizeMB)
      .setOptional("docMaxExpDays", docMaxExpDays)
      .setOptional("linkMaxExpirationDays", linkMaxExpirationDays)
      .setOptional("linkMaxKeepDays", linkMaxKeepDays)
      .take();
}

PlanUsage PlanUsage::decode(const JSONObjectReader& reader) {
  return PlanUsage{reader.required<std::int64_t>("used"), reader.optional<std::int64_t>("limit")};
}

JSONValue PlanUsage::encode() const {
  return JSONObjectWriter().set("used", used).setOptional("limit", limit).take();
}

MeResponse MeResponse::decode(const JSONObjectReader& reader) {
  return MeResponse{reader.required<std::string>("plan"), reader.optional<std::string>("planName"),
                    reader.required<PlanLimits>("planLimits"),
                    reader.optional<std::map<std::string, PlanUsage>>("usage")};
}

JSONValue MeResponse::encode() const {
  return JSONObjectWriter()
      .set("plan", plan)
      .setOptional("planName", planName)
      .set("planLimits", planLimits)
      .setOptional("usage", usage)
      .take();
}

}  // namespace lumo
