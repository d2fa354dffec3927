#pragma once

#include <stdexcept>

namespace lumo::service {

/// A failure of the database itself; the service answers it with 500 "internal".
struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace lumo::service
