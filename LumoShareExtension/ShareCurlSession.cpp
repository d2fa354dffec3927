#include "ShareCurlSession.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "ShareURLError.hpp"
#include "ShareUploadError.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;
using Code = ShareURLError::Code;

/// libcurl's process-wide set-up, done once before the first handle.
void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---- request bodies -------------------------------------------------------------------------

/// Feeds a request body to curl in order, and back to the start when curl rewinds (redirects,
/// authentication). Remembers why it failed, so the transfer can report the real cause.
class BodyReader {
 public:
  virtual ~BodyReader() = default;
  virtual curl_off_t size() const = 0;
  /// Bytes written into `buffer`; 0 at the end; CURL_READFUNC_ABORT after a failure.
  virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
  void rewind() { offset_ = 0; }
  const std::optional<ShareURLError>& failure() const { return failure_; }

 protected:
  curl_off_t offset_ = 0;
  std::optional<ShareURLError> failure_;
};

class BytesReader final : public BodyReader {
 public:
  explicit BytesReader(std::string_view bytes) : bytes_(bytes) {}
  curl_off_t size() const override { return static_cast<curl_off_t>(bytes_.size()); }
  std::size_t read(char* buffer, std::size_t capacity) override {
    const auto count = std::min(capacity, bytes_.size() - static_cast<std::size_t>(offset_));
    std::memcpy(buffer, bytes_.data() + offset_, count);
    offset_ += static_cast<curl_off_t>(count);
    return count;
  }

 private:
  std::string_view bytes_;
};

/// Streams pieces in order, reading files only as curl asks for their bytes.
class PartsReader final : public BodyReader {
 public:
  explicit PartsReader(const ShareRequestParts& parts) : parts_(parts), size_(parts.size()) {}
  /// A whole file, opened now: its size is fixed from here on.
  explicit PartsReader(const std::filesystem::path& file)
      : owned_(ShareRequestParts{{ShareRequestParts::File::open(file, file.string())}}),
        parts_(*owned_),
        size_(parts_.size()) {}
  curl_off_t size() const override { return size_; }
  std::size_t read(char* buffer, std::size_t capacity) override {
    try {
      const auto count = parts_.read(offset_, buffer, capacity);
      offset_ += static_cast<curl_off_t>(count);
      return count;
    } catch (const ShareURLError& error) {
      failure_ = error;
      return CURL_READFUNC_ABORT;
    }
  }

 private:
  std::optional<ShareRequestParts> owned_;
  const ShareRequestParts& parts_;
  curl_off_t size_;
};

/// Methods whose requests carry a body by nature. Sent without one, they still announce an
/// empty body ("Content-Length: 0"); otherwise a server may wait for a body that never comes.
bool methodExpectsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

std::unique_ptr<BodyReader> makeReader(const ShareRequestBody& body, const std::string& method) {
  if (const auto* bytes = std::get_if<std::string_view>(&body))
    return std::make_unique<BytesReader>(*bytes);
  if (const auto* file = std::get_if<std::filesystem::path>(&body))
    return std::make_unique<PartsReader>(*file);
  if (const auto* parts = std::get_if<const ShareRequestParts*>(&body))
    return std::make_unique<PartsReader>(**parts);
  if (methodExpectsBody(method)) return std::make_unique<BytesReader>(std::string_view());
  return nullptr;
}

extern "C" std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* user) {
  return static_cast<BodyReader*>(user)->read(buffer, size * count);
}

extern "C" int seekBody(void* user, curl_off_t offset, int origin) {
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  static_cast<BodyReader*>(user)->rewind();
  return CURL_SEEKFUNC_OK;
}

// ---- replies --------------------------------------------------------------------------------

/// Collects the final reply: the header fields of the last response (earlier ones belong to
/// interim "100 Continue" answers or redirects) and the body, up to a limit.
struct ReplyCollector {
  std::size_t maximumBytes = 0;
  bool tooLarge = false;
  ShareHTTPReply reply;
};

extern "C" std::size_t collectHeader(char* buffer, std::size_t size, std::size_t count,
                                     void* user) {
  auto& fields = static_cast<ReplyCollector*>(user)->reply.response.headerFields;
  std::string_view line(buffer, size * count);
  while (line.ends_with('\r') || line.ends_with('\n')) line.remove_suffix(1);
  if (line.starts_with("HTTP/")) {
    fields.clear();
  } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
    const auto folded = trimmedFieldValue(line);
    if (!folded.empty()) fields.back().second.append(" ").append(folded);
  } else if (const auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
    fields.emplace_back(std::string(trimmedFieldValue(line.substr(0, colon))),
                        std::string(trimmedFieldValue(line.substr(colon + 1))));
  }
  return size * count;
}

extern "C" std::size_t collectBody(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& collector = *static_cast<ReplyCollector*>(user);
  const auto bytes = size * count;
  if (bytes > collector.maximumBytes - collector.reply.body.size()) {
    collector.tooLarge = true;
    return 0;  // makes curl stop with CURLE_WRITE_ERROR
  }
  collector.reply.body.append(buffer, bytes);
  return bytes;
}

// ---- request headers ------------------------------------------------------------------------

bool isTokenCharacter(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

/// A header curl would write verbatim: a name or value carrying CR, LF or NUL could smuggle
/// further headers or a second request onto the connection, so such a request is refused.
void checkHeader(const std::string& name, const std::string& value) {
  const bool nameIsToken = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return c != '\0' && isTokenCharacter(static_cast<unsigned char>(c));
  });
  const bool valueIsSafe = value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
  if (!nameIsToken || !valueIsSafe)
    throw ShareURLError(Code::invalidRequest, "header field \"" + name + "\" cannot be sent");
}

/// A method is a token, like a header name: anything else would be written into the request
/// line as it stands.
void checkMethod(const std::string& method) {
  const bool isToken = !method.empty() && std::all_of(method.begin(), method.end(), [](char c) {
    return c != '\0' && isTokenCharacter(static_cast<unsigned char>(c));
  });
  if (!isToken)
    throw ShareURLError(Code::invalidRequest, "method \"" + method + "\" cannot be sent");
}

/// The hosts that bypass a proxy: the caller's own list, and loopback always, so that a proxy
/// setting meant for the outside world never intercepts a service on this machine.
std::string noProxyHosts() {
  std::string hosts = "localhost,127.0.0.1,::1";
  for (const auto* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      hosts = std::string(value) + "," + hosts;
      break;
    }
  }
  return hosts;
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void add(const std::string& line) {
    auto* extended = curl_slist_append(list, line.c_str());
    if (extended == nullptr) throw std::bad_alloc();
    list = extended;
  }
};

/// The request's own headers, the session's user agent unless the request names one, plus
/// blanks that stop curl from adding ones nobody asked for: "Expect: 100-continue" costs a round
/// trip, and a body without a content type would be labelled as a form.
void fillHeaders(HeaderList& headers, const ShareHTTPRequest& request, bool hasBody,
                 const std::string& userAgent) {
  for (const auto& [name, value] : request.headerFields) {
    checkHeader(name, value);
    headers.add(value.empty() ? name + ";" : name + ": " + value);
  }
  if (!userAgent.empty() && !request.value("User-Agent")) {
    checkHeader("User-Agent", userAgent);
    headers.add("User-Agent: " + userAgent);
  }
  headers.add("Expect:");
  if (hasBody && !request.value("Content-Type")) headers.add("Content-Type:");
}

// ---- error mapping --------------------------------------------------------------------------

Code codeFor(CURLcode result) {
  switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Code::unsupportedURL;
    case CURLE_URL_MALFORMAT:
      return Code::badURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Code::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
      return Code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
      return Code::timedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
      return Code::serverCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_USE_SSL_FAILED:
      return Code::secureConnectionFailed;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return Code::networkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS:
      return Code::badServerResponse;
    case CURLE_FILESIZE_EXCEEDED:
      return Code::dataLengthExceedsMaximum;
    default:
      return Code::unknown;
  }
}

/// A peer answered with something that is no HTTP reply: bytes without a status line (curl
/// calls them HTTP/0.9 and refuses them as an unsupported protocol) or an unreadable one. The
/// scheme itself was checked before connecting, so after a connection without any status this
/// is the reply's fault (a refused redirect target has a status: the redirect's).
bool isUnreadableReply(CURLcode result, bool connected, long status) {
  return result == CURLE_WEIRD_SERVER_REPLY ||
         (result == CURLE_UNSUPPORTED_PROTOCOL && connected && status == 0);
}

// ---- handles --------------------------------------------------------------------------------

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

/// One transfer slot: a multi handle (which owns the connection cache that later requests
/// reuse) driving one easy handle.
struct Slot {
  std::unique_ptr<CURLM, MultiDeleter> multi{curl_multi_init()};
  std::unique_ptr<CURL, EasyDeleter> easy{curl_easy_init()};
};

/// Keeps an easy handle attached to its multi handle for the length of one transfer.
class Attachment {
 public:
  Attachment(Slot& slot) : slot_(slot) {
    if (curl_multi_add_handle(slot.multi.get(), slot.easy.get()) != CURLM_OK)
      throw ShareURLError(Code::unknown, "curl_multi_add_handle failed");
  }
  ~Attachment() { curl_multi_remove_handle(slot_.multi.get(), slot_.easy.get()); }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

 private:
  Slot& slot_;
};

/// The request's time-out; one that is not positive means the default rather than "at once".
std::chrono::milliseconds timeoutOf(const ShareHTTPRequest& request) {
  return request.timeout.count() > 0 ? request.timeout : ShareHTTPRequest::defaultTimeout;
}

/// The session's resource time-out; one that is not positive means the default.
std::chrono::milliseconds resourceTimeoutOf(const ShareCurlSession::Configuration& configuration) {
  return configuration.resourceTimeout.count() > 0 ? configuration.resourceTimeout
                                                   : ShareCurlSession::defaultResourceTimeout;
}

/// `allowed` after `start`, or the clock's end when that lies beyond it.
Clock::time_point deadlineAfter(Clock::time_point start, std::chrono::milliseconds allowed) {
  const auto room =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - start);
  return allowed >= room ? Clock::time_point::max() : start + allowed;
}

constexpr std::size_t maximumIdleSlots = 4;
constexpr long uploadBufferBytes = 512 * 1024;

}  // namespace

/// State every request of one session shares: the DNS and TLS-session cache (guarded by one
/// lock per kind of data, as curl asks) and the idle transfer slots with their open
/// connections.
struct ShareCurlSession::Shared {
  Configuration configuration;
  CURLSH* share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks;
  std::mutex slotsMutex;
  std::vector<std::unique_ptr<Slot>> idleSlots;

  std::unique_ptr<Slot> takeSlot();
  void returnSlot(std::unique_ptr<Slot> slot);

  /// A slot lent for one transfer and taken back, reset, however the transfer ends.
  class Lease {
   public:
    explicit Lease(Shared& shared) : shared_(shared), slot_(shared.takeSlot()) {}
    ~Lease() { shared_.returnSlot(std::move(slot_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Slot& operator*() const { return *slot_; }
    Slot* operator->() const { return slot_.get(); }

   private:
    Shared& shared_;
    std::unique_ptr<Slot> slot_;
  };
  void configure(CURL* easy, const ShareHTTPRequest& request, BodyReader* reader,
                 ReplyCollector& collector, curl_slist* headers, char* errorBuffer) const;
  CURLcode run(Slot& slot, std::chrono::milliseconds timeout, std::stop_token stop,
               const ShareUploadProgress& progress) const;
};

namespace {

extern "C" void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<std::mutex*>(user)[data].lock();
}
extern "C" void unlockShare(CURL*, curl_lock_data data, void* user) {
  static_cast<std::mutex*>(user)[data].unlock();
}

}  // namespace

std::unique_ptr<Slot> ShareCurlSession::Shared::takeSlot() {
  {
    std::lock_guard lock(slotsMutex);
    if (!idleSlots.empty()) {
      auto slot = std::move(idleSlots.back());
      idleSlots.pop_back();
      return slot;
    }
  }
  auto slot = std::make_unique<Slot>();
  if (!slot->multi || !slot->easy) throw std::bad_alloc();
  return slot;
}

void ShareCurlSession::Shared::returnSlot(std::unique_ptr<Slot> slot) {
  curl_easy_reset(slot->easy.get());
  std::lock_guard lock(slotsMutex);
  if (idleSlots.size() < maximumIdleSlots) idleSlots.push_back(std::move(slot));
}

void ShareCurlSession::Shared::configure(CURL* easy, const ShareHTTPRequest& request,
                                         BodyReader* reader, ReplyCollector& collector,
                                         curl_slist* headers, char* errorBuffer) const {
  const auto noProxy = noProxyHosts();  // curl copies string options
  curl_easy_setopt(easy, CURLOPT_URL, request.url.absoluteString().c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);  // the URL goes out exactly as it was built
  // A request that started on https never continues in clear text.
  const bool secure = UnicodeText::lowercased(request.url.scheme()) == "https";
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.followsRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
  curl_easy_setopt(easy, CURLOPT_SHARE, share);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (configuration.trustedAuthorities) {
    // A private trust bundle replaces the system store entirely, its folder of hashed
    // certificates included.
    curl_easy_setopt(easy, CURLOPT_CAINFO, configuration.trustedAuthorities->c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  }
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutOf(request).count()));
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, collectHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &collector);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &collector);

  const auto& method = request.method;
  if (reader != nullptr) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, reader->size());
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody);
    curl_easy_setopt(easy, CURLOPT_READDATA, reader);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, seekBody);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, reader);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (method != "GET") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
}

/// Drives the transfer until it ends, it stops moving for `timeout`, it outlasts the session's
/// resource time-out, or `stop` is requested. The stop callback wakes the poll at once, so
/// cancelling never waits for the network.
CURLcode ShareCurlSession::Shared::run(Slot& slot, std::chrono::milliseconds timeout,
                                       std::stop_token stop,
                                       const ShareUploadProgress& progress) const {
  using std::chrono::milliseconds;
  CURLM* multi = slot.multi.get();
  CURL* easy = slot.easy.get();
  Attachment attachment(slot);
  std::stop_callback wake(stop, [multi] { curl_multi_wakeup(multi); });
  auto lastProgress = Clock::now();
  const auto allowed = resourceTimeoutOf(configuration);
  const auto deadline = deadlineAfter(lastProgress, allowed);
  curl_off_t lastSent = -1;
  curl_off_t lastReceived = -1;
  curl_off_t lastHeaders = -1;
  for (;;) {
    if (stop.stop_requested()) throw ShareURLError(Code::cancelled);
    int running = 0;
    if (const auto status = curl_multi_perform(multi, &running); status != CURLM_OK)
      throw ShareURLError(Code::unknown, curl_multi_strerror(status));
    if (running == 0) break;
    curl_off_t sent = 0;
    curl_off_t received = 0;
    long headers = 0;  // header bytes arriving are progress too
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    const auto now = Clock::now();
    if (sent != lastSent) {
      curl_off_t total = -1;
      curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_UPLOAD_T, &total);
      progress(sent, total);
    }
    if (sent != lastSent || received != lastReceived || headers != lastHeaders) {
      lastProgress = now;
      lastSent = sent;
      lastReceived = received;
      lastHeaders = headers;
    }
    const auto idle = std::chrono::duration_cast<milliseconds>(now - lastProgress);
    if (idle >= timeout)
      throw ShareURLError(Code::timedOut,
                          "no progress for " + std::to_string(timeout.count()) + " ms");
    if (now >= deadline)
      throw ShareURLError(Code::timedOut, "the transfer took longer than " +
                                              std::to_string(allowed.count()) + " ms");
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now);
    const auto wait = std::min({timeout - idle, left, milliseconds(1000)}).count();
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<std::int64_t>(wait, 1)), nullptr);
  }
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return message->data.result;
  }
  return CURLE_OK;
}

ShareCurlSession::ShareCurlSession() : ShareCurlSession(Configuration{}) {}

ShareCurlSession::ShareCurlSession(Configuration configuration)
    : shared_(std::make_unique<Shared>()) {
  initialiseCurlOnce();
  shared_->configuration = std::move(configuration);
  shared_->share = curl_share_init();
  if (shared_->share == nullptr) throw std::bad_alloc();
  curl_share_setopt(shared_->share, CURLSHOPT_LOCKFUNC, lockShare);
  curl_share_setopt(shared_->share, CURLSHOPT_UNLOCKFUNC, unlockShare);
  curl_share_setopt(shared_->share, CURLSHOPT_USERDATA, shared_->shareLocks.data());
  curl_share_setopt(shared_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(shared_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

ShareCurlSession::~ShareCurlSession() {
  shared_->idleSlots.clear();  // every easy handle must leave the share before it goes
  curl_share_cleanup(shared_->share);
}

ShareHTTPReply ShareCurlSession::perform(const ShareHTTPRequest& request,
                                         const ShareRequestBody& body, std::stop_token stop) {
  const auto& url = request.url;
  if (url.scheme().empty() || !url.host()) throw ShareURLError(Code::badURL, url.absoluteString());
  checkMethod(request.method);
  const auto reader = makeReader(body, request.method);
  HeaderList headers;
  fillHeaders(headers, request, reader != nullptr, shared_->configuration.userAgent);

  ReplyCollector collector{shared_->configuration.maximumReplyBytes, false, {}};
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};
  CURLcode result = CURLE_OK;
  long status = 0;
  bool connected = false;
  {
    Shared::Lease slot(*shared_);
    shared_->configure(slot->easy.get(), request, reader.get(), collector, headers.list,
                       errorBuffer.data());
    result = shared_->run(*slot, timeoutOf(request), stop, request.uploadProgress);
    curl_easy_getinfo(slot->easy.get(), CURLINFO_RESPONSE_CODE, &status);
    char* peer = nullptr;
    curl_easy_getinfo(slot->easy.get(), CURLINFO_PRIMARY_IP, &peer);
    connected = peer != nullptr && *peer != '\0';
  }

  if (result != CURLE_OK) {
    if (reader && reader->failure()) throw *reader->failure();
    if (collector.tooLarge)
      throw ShareURLError(Code::dataLengthExceedsMaximum,
                          "more than " + std::to_string(collector.maximumBytes) + " bytes");
    if (isUnreadableReply(result, connected, status)) throw ShareUploadError::invalidResponse();
    const std::string detail =
        errorBuffer[0] != '\0' ? errorBuffer.data() : curl_easy_strerror(result);
    throw ShareURLError(codeFor(result), detail);
  }
  if (status < 100) throw ShareUploadError::invalidResponse();
  collector.reply.response.status = static_cast<int>(status);
  return std::move(collector.reply);
}

}  // namespace lumo
