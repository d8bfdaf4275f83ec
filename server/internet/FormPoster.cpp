#include "server/internet/FormPoster.h"

#include <curl/curl.h>

#include <array>
#include <charconv>
#include <memory>
#include <mutex>

namespace halvard::internet {
namespace {

const std::string kContentTypeHeader = "Content-Type: application/x-www-form-urlencoded";

/// libcurl's global state is set up once per process, before the first handle.
bool EnsureCurl() {
  static std::once_flag once;
  static CURLcode code = CURLE_FAILED_INIT;
  std::call_once(once, [] { code = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return code == CURLE_OK;
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

/// The reply collector: keeps the first kMaxReplyBytes and then ends the transfer.
struct ReplyBuffer {
  std::string data;
  bool full = false;
};

std::size_t CollectReply(char* bytes, std::size_t size, std::size_t count, void* context) {
  auto* buffer = static_cast<ReplyBuffer*>(context);
  const std::size_t total = size * count;
  const std::size_t room = kMaxReplyBytes - buffer->data.size();
  if (total <= room) {
    buffer->data.append(bytes, total);
    return total;
  }
  buffer->data.append(bytes, room);
  buffer->full = true;
  return 0;  // ends the transfer: the rest of the reply is not read
}

int CheckStop(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::stop_token*>(context)->stop_requested() ? 1 : 0;
}

/// Splits "host:port" into its host part; the whole text when there is no port.
std::string_view HostPart(std::string_view host) {
  const std::size_t colon = host.find(':');
  return colon == std::string_view::npos ? host : host.substr(0, colon);
}

}  // namespace

bool IsUsableHost(std::string_view host) {
  const std::string_view name = HostPart(host);
  if (name.empty() || name.size() > 253) {
    return false;
  }
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_';
    if (!ok) {
      return false;
    }
  }
  if (name.size() == host.size()) {
    return true;
  }
  const std::string_view portText = host.substr(name.size() + 1);
  unsigned port = 0;
  const auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  return ec == std::errc{} && ptr == portText.data() + portText.size() && !portText.empty() && port >= 1 &&
         port <= 65535;
}

bool IsReservedInvalidHost(std::string_view host) {
  std::string name(HostPart(host));
  while (!name.empty() && name.back() == '.') {
    name.pop_back();
  }
  for (char& c : name) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name == "invalid" || name.ends_with(".invalid");
}

bool IsLoopbackHost(std::string_view host) {
  const std::string_view name = HostPart(host);
  if (name == "localhost") {
    return true;
  }
  return name.starts_with("127.") && name.find_first_not_of("0123456789.") == std::string_view::npos;
}

std::string TruncateChars(std::string_view text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A code point starts at every byte that is not a continuation byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == maxChars) {
        return std::string(text.substr(0, i));
      }
      ++chars;
    }
  }
  return std::string(text);
}

CCurlFormPoster::CCurlFormPoster(CurlPosterOptions options) : m_options(std::move(options)) {}

HRESULT CCurlFormPoster::Post(std::string_view host, std::string_view page, std::span<const char> body,
                              std::stop_token stop, std::string* reply, std::string* errorText) {
  if (reply == nullptr || errorText == nullptr) {
    return E_POINTER;
  }
  reply->clear();
  errorText->clear();
  if (!IsUsableHost(host)) {
    *errorText = "Unusable directory server name: " + TruncateChars(host, 256);
    return E_INVALIDARG;
  }
  if (IsReservedInvalidHost(host)) {
    // Names of the reserved ".invalid" domain never resolve: they are not even looked
    // up, so the default directory slots cause no traffic at all.
    *errorText = "Could not resolve host: " + std::string(HostPart(host)) + " (reserved domain, never resolved)";
    return E_FAIL;
  }
  if (!EnsureCurl()) {
    *errorText = "The HTTP library could not be initialised.";
    return E_FAIL;
  }
  const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    *errorText = "The HTTP library could not be initialised.";
    return E_FAIL;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, kContentTypeHeader.c_str()));
  // The body is small and sent at once: no "Expect: 100-continue" round trip.
  if (headers) {
    curl_slist* extended = curl_slist_append(headers.get(), "Expect:");
    if (extended != nullptr) {
      static_cast<void>(headers.release());
      headers.reset(extended);
    }
  }
  if (!headers) {
    *errorText = "Out of memory.";
    return E_OUTOFMEMORY;
  }

  const std::string url = "http://" + std::string(host) + "/" + std::string(page);
  std::array<char, CURL_ERROR_SIZE> curlError{};
  ReplyBuffer buffer;
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError.data());
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for time-outs
  curl_easy_setopt(h, CURLOPT_USERAGENT, m_options.userAgent.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_options.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, m_options.totalTimeoutMs);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectReply);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &buffer);
  // A stop request (the server closing) ends a post at once rather than at its time-out.
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CheckStop);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &stop);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  if (IsLoopbackHost(host)) {
    // A directory on this machine is never reached through a proxy.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
  }
  // Otherwise libcurl takes http_proxy / no_proxy from the environment, the system's
  // proxy configuration on this platform.

  const CURLcode code = curl_easy_perform(h);
  if (code == CURLE_ABORTED_BY_CALLBACK) {
    *errorText = "Cancelled.";
    return E_ABORT;
  }
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && buffer.full)) {
    const std::string text = curlError[0] != '\0' ? std::string(curlError.data()) : curl_easy_strerror(code);
    *errorText = TruncateChars(text, kMaxErrorChars);
    return E_FAIL;
  }
  *reply = std::move(buffer.data);
  return S_OK;
}

}  // namespace halvard::internet
