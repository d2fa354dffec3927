#include "ShareJSONError.hpp"

#include <utility>

namespace lumo {

ShareJSONError::ShareJSONError(Kind kind, std::string path, std::string detail)
    : kind_(kind),
      path_(std::move(path)),
      message_(path_.empty() ? std::move(detail) : path_ + ": " + detail) {}

}  // namespace lumo
