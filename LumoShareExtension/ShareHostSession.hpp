#pragma once

#include <optional>
#include <string>

#include "ShareBindReport.hpp"
#include "SharePlan.hpp"
#include "ShareUploadSession.hpp"
#include "Url.hpp"

namespace lumo {

/// What the host application does with the account besides publishing: it refreshes the cached
/// plan that the share panel's form reads, and binds the claims of anonymous uploads once the
/// user is signed in. The command-line tool and the host window share it.
struct ShareHostSession {
  ShareUploadSession uploads;
  Url apiBase;

  /// The usable account token, if the user is signed in.
  std::optional<std::string> accountToken() const;
  /// Fetches the account's plan and caches it. Nothing when signed out. Throws ShareUploadError,
  /// ShareURLError (the fetch) or filesystem_error (the cache).
  std::optional<SharePlan> refreshPlan() const;
  /// One claim-binding pass with the account token; nothing when signed out.
  std::optional<ShareBindReport> bindPending() const;
};

}  // namespace lumo
