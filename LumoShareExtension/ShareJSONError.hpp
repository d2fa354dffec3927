#pragma once

#include <exception>
#include <string>

namespace lumo {

/// A record could not be encoded to or decoded from JSON. `path` names the offending value
/// ("attachments[1].size"); it is empty for the document itself.
class ShareJSONError : public std::exception {
 public:
  enum class Kind {
    malformed,     ///< the text is not JSON (or not UTF-8)
    missingKey,    ///< a required key is missing or null
    typeMismatch,  ///< a value has the wrong JSON type
    outOfRange,    ///< an integer does not fit its field
    invalidValue,  ///< a value cannot be encoded (a non-finite number)
  };

  ShareJSONError(Kind kind, std::string path, std::string detail);

  Kind kind() const noexcept { return kind_; }
  const std::string& path() const noexcept { return path_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Kind kind_;
  std::string path_;
  std::string message_;
};

}  // namespace lumo
