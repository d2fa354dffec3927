#include "StagedAttachment.hpp"

#include "UnicodeText.hpp"

namespace lumo {

std::string StagedAttachment::uploadFileName() const {
  if (originalName) {
    const auto name = UnicodeText::trimmed(*originalName);
    if (!name.empty()) return std::string(name);
  }
  return fileName;
}

}  // namespace lumo
