#pragma once

#include <tuple>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// The service's reply envelope, `{"success":…,"result":…}`: the part a call returns is
/// `result`; `success` is decoded but not tested.
template <class Result>
struct ShareEnvelope {
  bool success = false;
  Result result;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("success", self.success), JSONKey("result", self.result));
  }
  bool operator==(const ShareEnvelope&) const = default;
};

}  // namespace lumo
