#include "ShareBindReport.hpp"

namespace lumo {

JSONValue ShareBindReport::encode() const {
  JSONValue object = {
      {"attempted", attempted}, {"bound", bound}, {"failed", failed}, {"retryLater", retryLater}};
  if (failure) object["failure"] = *failure;
  return object;
}

}  // namespace lumo
