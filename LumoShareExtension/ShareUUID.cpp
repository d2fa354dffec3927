#include "ShareUUID.hpp"

#include <uuid/uuid.h>

namespace lumo {

std::string makeLowercaseUUID() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  return text;
}

}  // namespace lumo
