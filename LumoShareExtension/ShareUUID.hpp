#pragma once

#include <string>

namespace lumo {

/// A new random UUID in its lower-case text form ("0c9f6f1e-8f4b-4bd3-9d1e-2a3c4b5d6e7f"): share
/// identifiers, temporary and log file names, multipart boundaries.
std::string makeLowercaseUUID();

}  // namespace lumo
