#include "ShareApple.hpp"

#ifndef LUMO_API_ORIGIN
#error "LUMO_API_ORIGIN must be defined by the build"
#endif

namespace lumo::ShareApple {

const std::string_view defaultAPIBase = LUMO_API_ORIGIN "/api/v1";
const std::string_view sharePageBase = LUMO_SHARE_PAGE_ORIGIN "/";
const std::string_view consoleDocsURL = LUMO_CONSOLE_ORIGIN "/console/docs";
const std::string_view consoleLinksURL = LUMO_CONSOLE_ORIGIN "/console/links";

}  // namespace lumo::ShareApple
