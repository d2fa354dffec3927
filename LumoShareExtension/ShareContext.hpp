#pragma once

#include <memory>

#include "ShareAppleBundle.hpp"
#include "ShareCurlSession.hpp"
#include "ShareHostSession.hpp"
#include "ShareIngest.hpp"
#include "ShareStorage.hpp"
#include "ShareUploadSession.hpp"

namespace lumo {

/// What one program works with, assembled once per process: the information dictionary (read
/// here and handed down), the storage root, the one pending queue over it (so its lock is the
/// only one in the process), the token and settings stores, and the transport to the service.
/// The command-line tool, the panel and the host window take theirs from `process()`; tests
/// assemble one over a root of their own with `make`.
struct ShareContext {
  std::shared_ptr<const ShareAppleBundle> bundle;
  ShareStorage storage;
  /// The queue, the token mirror and the settings over `storage`, and the transport.
  ShareUploadSession uploads;

  /// Over `storage` and `transport`, with `bundle`'s keychain access group.
  static ShareContext make(std::shared_ptr<const ShareAppleBundle> bundle, ShareStorage storage,
                           std::shared_ptr<ShareHTTPTransport> transport);
  /// The process's context, made on first use: the main bundle, the resolved storage root, and
  /// the default transport identified by the bundle's user agent.
  static const ShareContext& process();

  /// What every session of the process is configured with: the bundle's user agent.
  ShareCurlSession::Configuration sessionConfiguration() const;
  /// Ingest into the context's queue.
  ShareIngest ingest() const;
  /// The host side: the context's uploads and the configured service.
  ShareHostSession host() const;
};

}  // namespace lumo
