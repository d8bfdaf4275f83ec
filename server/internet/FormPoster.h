#pragma once
/// The HTTP form post of a directory update: one request, one bounded reply.

#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/com/Com.h"

namespace halvard::internet {

/// The most of a reply that is read: the rest is not waited for.
inline constexpr std::size_t kMaxReplyBytes = 4096;
/// The longest error text reported, in characters.
inline constexpr std::size_t kMaxErrorChars = 1024;

/// Sends a form body to a page of a host and hands back the start of the reply.
///
/// Threads: Post may be called from several threads at once.
class IFormPoster {
 public:
  virtual ~IFormPoster() = default;
  /// POSTs `body` (bytes as given) with the form content type to http://host/page.
  /// `host` is a host name or dotted address, optionally followed by ":port".
  /// S_OK: the server answered; *reply holds at most kMaxReplyBytes of its body as
  /// received, whatever the HTTP status. E_ABORT: `stop` was requested during the post.
  /// Another failure code (E_INVALIDARG for an unusable host, E_FAIL for any transfer
  /// failure): *errorText says why in at most kMaxErrorChars characters. Both
  /// out-parameters are cleared on entry; E_POINTER when one is null.
  [[nodiscard]] virtual HRESULT Post(std::string_view host, std::string_view page, std::span<const char> body,
                                     std::stop_token stop, std::string* reply, std::string* errorText) = 0;
};

/// Options of the libcurl poster.
struct CurlPosterOptions {
  std::string userAgent = "Halvard";
  /// Bounds of one post, so that a silent server cannot hold a worker for ever.
  long connectTimeoutMs = 30'000;
  long totalTimeoutMs = 120'000;
};

/// The real poster: HTTP/1.1 through libcurl on the default HTTP port unless the host
/// names a port, through the proxy the environment configures (http_proxy, no_proxy)
/// except for loopback hosts, redirects followed over HTTP only. Hosts of the reserved
/// ".invalid" domain fail without a look-up. The reply is cut off
/// after kMaxReplyBytes and the transfer ended there.
class CCurlFormPoster final : public IFormPoster {
 public:
  explicit CCurlFormPoster(CurlPosterOptions options = {});
  [[nodiscard]] HRESULT Post(std::string_view host, std::string_view page, std::span<const char> body,
                             std::stop_token stop, std::string* reply, std::string* errorText) override;

 private:
  CurlPosterOptions m_options;
};

/// Whether a directory host entry can be used in a URL: a name or IPv4 address of
/// letters, digits, '-', '.' and '_', optionally ":port" with a port 1..65535.
[[nodiscard]] bool IsUsableHost(std::string_view host);

/// Whether the host part is "invalid" or ends in ".invalid" (any case, trailing dots
/// ignored): the reserved domain whose names never resolve. Such hosts fail at once,
/// without a name look-up.
[[nodiscard]] bool IsReservedInvalidHost(std::string_view host);

/// Whether the host part (port removed) is "localhost" or in 127.0.0.0/8.
[[nodiscard]] bool IsLoopbackHost(std::string_view host);

/// Cuts UTF-8 text to at most `maxChars` code points without splitting one.
[[nodiscard]] std::string TruncateChars(std::string_view text, std::size_t maxChars);

}  // namespace halvard::internet
