#pragma once
/// A directory of cameras: stations post their cameras' addresses to
/// "MonIPUpdate.aspx" and viewers read the list of published cameras. This is the
/// request handling of the halvard-directory program, apart from its sockets.

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace halvard::directory {

/// Bounds of one request: the request line and headers, and the body.
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 8 * 1024;
/// Most cameras kept; updates of further cameras are refused.
inline constexpr std::size_t kMaxEntries = 10'000;

/// One parsed HTTP request.
struct HttpRequest {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  /// The first header of that name (compared case-insensitively), or nullopt.
  [[nodiscard]] std::optional<std::string> Header(std::string_view name) const;
};

enum class ParseStatus {
  kIncomplete,       ///< more bytes are needed
  kComplete,         ///< *request is filled; `consumed` bytes belong to it
  kBadRequest,       ///< not an HTTP/1.x request
  kTooLarge,         ///< headers or body above the bounds
  kNotImplemented,   ///< a transfer encoding (only Content-Length bodies are read)
};

/// Parses the start of a connection's bytes as one HTTP/1.0 or 1.1 request. Lines end
/// with CRLF or LF. A body is read only by Content-Length.
[[nodiscard]] ParseStatus ParseHttpRequest(std::string_view data, HttpRequest* request, std::size_t* consumed);

/// One camera as its station last reported it.
struct CameraEntry {
  std::string productId;
  std::string userId;
  std::string displayName;
  std::string ip;
  unsigned port = 0;
  bool broadcasting = false;
  std::string note;
  std::chrono::system_clock::time_point updated;
};

/// The outcome of one update form.
struct UpdateResult {
  bool accepted = false;
  std::string answer;  ///< "OK", or why the form was refused
};

/// The fields of a form body "name=value&name=value...": values are taken as sent
/// (stations send them without percent-encoding); trailing zero bytes of the body are
/// ignored; names compare case-insensitively and the first occurrence counts.
[[nodiscard]] std::map<std::string, std::string> ParseFormBody(std::string_view body);

/// The camera list. Not thread-safe: the server handles one request at a time.
class CDirectory {
 public:
  /// Takes an update form: "DisplayName" must be non-empty, "IP" an IPv4 address in
  /// dotted decimal, "Port" a number 1..65535. The entry of the camera (same
  /// ProductID, UserID and DisplayName) is replaced. The password is not kept.
  [[nodiscard]] UpdateResult Update(std::string_view body, std::chrono::system_clock::time_point now);

  /// Cameras whose latest entry is published ("Status=Broadcasting"), by display name.
  [[nodiscard]] std::vector<CameraEntry> Published() const;
  [[nodiscard]] std::size_t Size() const { return m_entries.size(); }

 private:
  using Key = std::tuple<std::string, std::string, std::string>;
  std::map<Key, CameraEntry> m_entries;
};

/// The stream address of a camera: "http://ip:port/".
[[nodiscard]] std::string StreamAddress(const CameraEntry& entry);

/// Escapes text for HTML content and attribute values.
[[nodiscard]] std::string HtmlEscape(std::string_view text);

/// The HTML page listing the published cameras.
[[nodiscard]] std::string RenderPage(const std::vector<CameraEntry>& cameras);

/// A complete HTTP/1.1 response with "Connection: close".
[[nodiscard]] std::string MakeResponse(int status, std::string_view contentType, std::string_view body,
                                       std::string_view extraHeaders = {});

/// The response to a parse failure (400, 413, 501 or 408 for a request that never
/// completed).
[[nodiscard]] std::string ErrorResponse(ParseStatus status);
[[nodiscard]] std::string TimeoutResponse();

/// Answers one request: POST "/MonIPUpdate.aspx" takes an update and answers
/// "<BODY>OK</BODY>" (or the reason it was refused between the same markers, status
/// 400); GET or HEAD "/" and "/index.html" give the page; other pages 404; other
/// methods 405. Paths compare case-insensitively; a query string is ignored.
/// `logLine` receives a one-line summary of an update (no password), else stays empty.
[[nodiscard]] std::string HandleRequest(CDirectory& directory, const HttpRequest& request,
                                        std::chrono::system_clock::time_point now, std::string* logLine);

}  // namespace halvard::directory
