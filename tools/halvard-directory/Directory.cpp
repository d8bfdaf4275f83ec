#include "tools/halvard-directory/Directory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <ctime>

namespace halvard::directory {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
  return out;
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool IsTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::optional<unsigned long long> ParseDecimal(std::string_view text) {
  unsigned long long value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

/// Splits off one line ending in LF (CR before it removed); nullopt when incomplete.
std::optional<std::string_view> NextLine(std::string_view data, std::size_t& pos) {
  const std::size_t lf = data.find('\n', pos);
  if (lf == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view line = data.substr(pos, lf - pos);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  pos = lf + 1;
  return line;
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

std::string AnswerBody(std::string_view answer) {
  return "<HTML><BODY>" + HtmlEscape(answer) + "</BODY></HTML>\r\n";
}

std::string FormatUtc(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32] = {};
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

/// Text for a log line: control characters shown as '?', so that a name cannot forge
/// further lines.
std::string Printable(std::string_view text) {
  std::string out(text);
  std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
  return out;
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsAsciiNoCase(key, name)) {
      return value;
    }
  }
  return std::nullopt;
}

ParseStatus ParseHttpRequest(std::string_view data, HttpRequest* request, std::size_t* consumed) {
  *request = HttpRequest{};
  *consumed = 0;
  const std::size_t headerLimit = std::min(data.size(), kMaxHeaderBytes);
  const std::string_view head = data.substr(0, headerLimit);
  std::size_t pos = 0;

  const std::optional<std::string_view> requestLine = NextLine(head, pos);
  if (!requestLine) {
    return data.size() >= kMaxHeaderBytes ? ParseStatus::kTooLarge : ParseStatus::kIncomplete;
  }
  const std::size_t sp1 = requestLine->find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine->find(' ', sp1 + 1);
  if (sp1 == 0 || sp2 == std::string_view::npos || requestLine->find(' ', sp2 + 1) != std::string_view::npos) {
    return ParseStatus::kBadRequest;
  }
  const std::string_view method = requestLine->substr(0, sp1);
  const std::string_view target = requestLine->substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = requestLine->substr(sp2 + 1);
  if (!std::all_of(method.begin(), method.end(), IsTokenChar) || target.empty() || target.front() != '/' ||
      (version != "HTTP/1.1" && version != "HTTP/1.0")) {
    return ParseStatus::kBadRequest;
  }
  request->method = method;
  request->target = target;

  for (;;) {
    const std::optional<std::string_view> line = NextLine(head, pos);
    if (!line) {
      return data.size() >= kMaxHeaderBytes ? ParseStatus::kTooLarge : ParseStatus::kIncomplete;
    }
    if (line->empty()) {
      break;
    }
    const std::size_t colon = line->find(':');
    if (colon == 0 || colon == std::string_view::npos) {
      return ParseStatus::kBadRequest;
    }
    const std::string_view name = line->substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), IsTokenChar)) {
      return ParseStatus::kBadRequest;
    }
    request->headers.emplace_back(std::string(name), std::string(Trim(line->substr(colon + 1))));
  }

  if (request->Header("Transfer-Encoding")) {
    return ParseStatus::kNotImplemented;
  }
  std::size_t bodyLength = 0;
  std::optional<std::string> lengthText;
  for (const auto& [key, value] : request->headers) {
    if (!EqualsAsciiNoCase(key, "Content-Length")) {
      continue;
    }
    if (lengthText && *lengthText != value) {
      return ParseStatus::kBadRequest;  // conflicting lengths
    }
    lengthText = value;
  }
  if (lengthText) {
    const std::optional<unsigned long long> length = ParseDecimal(*lengthText);
    if (!length) {
      return ParseStatus::kBadRequest;
    }
    if (*length > kMaxBodyBytes) {
      return ParseStatus::kTooLarge;
    }
    bodyLength = static_cast<std::size_t>(*length);
  }
  if (data.size() - pos < bodyLength) {
    return ParseStatus::kIncomplete;
  }
  request->body = std::string(data.substr(pos, bodyLength));
  *consumed = pos + bodyLength;
  return ParseStatus::kComplete;
}

std::map<std::string, std::string> ParseFormBody(std::string_view body) {
  while (!body.empty() && body.back() == '\0') {
    body.remove_suffix(1);
  }
  std::map<std::string, std::string> fields;
  std::size_t pos = 0;
  while (pos <= body.size()) {
    std::size_t amp = body.find('&', pos);
    if (amp == std::string_view::npos) {
      amp = body.size();
    }
    const std::string_view pair = body.substr(pos, amp - pos);
    const std::size_t eq = pair.find('=');
    if (!pair.empty()) {
      const std::string name = AsciiLowerCopy(pair.substr(0, eq));
      const std::string_view value = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
      fields.emplace(name, std::string(value));  // the first occurrence stays
    }
    pos = amp + 1;
  }
  return fields;
}

UpdateResult CDirectory::Update(std::string_view body, std::chrono::system_clock::time_point now) {
  const std::map<std::string, std::string> fields = ParseFormBody(body);
  const auto field = [&fields](const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
  };
  CameraEntry entry;
  entry.productId = field("productid");
  entry.userId = field("userid");
  entry.displayName = field("displayname");
  entry.ip = field("ip");
  entry.broadcasting = field("status") == "Broadcasting";
  entry.note = field("note");
  entry.updated = now;
  if (entry.displayName.empty()) {
    return {false, "Missing DisplayName"};
  }
  in_addr address{};
  if (inet_pton(AF_INET, entry.ip.c_str(), &address) != 1) {
    return {false, "Invalid IP"};
  }
  const std::optional<unsigned long long> port = ParseDecimal(field("port"));
  if (!port || *port < 1 || *port > 65535) {
    return {false, "Invalid Port"};
  }
  entry.port = static_cast<unsigned>(*port);

  Key key{entry.productId, entry.userId, entry.displayName};
  const auto it = m_entries.find(key);
  if (it != m_entries.end()) {
    it->second = std::move(entry);
  } else if (m_entries.size() >= kMaxEntries) {
    return {false, "Directory full"};
  } else {
    m_entries.emplace(std::move(key), std::move(entry));
  }
  return {true, "OK"};
}

std::vector<CameraEntry> CDirectory::Published() const {
  std::vector<CameraEntry> cameras;
  for (const auto& [key, entry] : m_entries) {
    if (entry.broadcasting) {
      cameras.push_back(entry);
    }
  }
  std::stable_sort(cameras.begin(), cameras.end(),
                   [](const CameraEntry& a, const CameraEntry& b) { return a.displayName < b.displayName; });
  return cameras;
}

std::string StreamAddress(const CameraEntry& entry) {
  return "http://" + entry.ip + ":" + std::to_string(entry.port) + "/";
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\0': break;
      default: out += c;
    }
  }
  return out;
}

std::string RenderPage(const std::vector<CameraEntry>& cameras) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Published cameras</title></head>\n<body>\n"
      "<h1>Published cameras</h1>\n";
  if (cameras.empty()) {
    page += "<p>No camera is published.</p>\n";
  } else {
    page += "<table>\n<tr><th>Camera</th><th>Stream</th><th>Note</th><th>Updated</th></tr>\n";
    for (const CameraEntry& camera : cameras) {
      const std::string stream = HtmlEscape(StreamAddress(camera));
      page += "<tr><td>" + HtmlEscape(camera.displayName) + "</td><td><a href=\"" + stream + "\">" + stream +
              "</a></td><td>" + HtmlEscape(camera.note) + "</td><td>" + FormatUtc(camera.updated) + "</td></tr>\n";
    }
    page += "</table>\n";
  }
  page += "</body></html>\n";
  return page;
}

std::string MakeResponse(int status, std::string_view contentType, std::string_view body,
                         std::string_view extraHeaders) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
  response += "Content-Type: " + std::string(contentType) + "\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += extraHeaders;
  response += "Connection: close\r\n\r\n";
  response += body;
  return response;
}

std::string ErrorResponse(ParseStatus status) {
  switch (status) {
    case ParseStatus::kTooLarge:
      return MakeResponse(413, "text/html; charset=utf-8", AnswerBody("Request too large"));
    case ParseStatus::kNotImplemented:
      return MakeResponse(501, "text/html; charset=utf-8", AnswerBody("Transfer encodings are not supported"));
    case ParseStatus::kIncomplete:
      return TimeoutResponse();
    case ParseStatus::kBadRequest:
    case ParseStatus::kComplete:
      break;
  }
  return MakeResponse(400, "text/html; charset=utf-8", AnswerBody("Bad request"));
}

std::string TimeoutResponse() { return MakeResponse(408, "text/html; charset=utf-8", AnswerBody("Request timeout")); }

std::string HandleRequest(CDirectory& directory, const HttpRequest& request,
                          std::chrono::system_clock::time_point now, std::string* logLine) {
  logLine->clear();
  const std::string_view target = request.target;
  const std::string path = AsciiLowerCopy(target.substr(0, target.find('?')));
  constexpr std::string_view kHtml = "text/html; charset=utf-8";

  if (path == "/monipupdate.aspx") {
    if (request.method != "POST") {
      return MakeResponse(405, kHtml, AnswerBody("Use POST"), "Allow: POST\r\n");
    }
    const UpdateResult result = directory.Update(request.body, now);
    if (result.accepted) {
      const std::map<std::string, std::string> fields = ParseFormBody(request.body);
      const auto status = fields.find("status");
      *logLine = "update: " + Printable(fields.at("displayname")) + " at " + fields.at("ip") + ":" +
                 fields.at("port") + (status != fields.end() && status->second == "Broadcasting" ? " (published)" : "");
    } else {
      *logLine = "refused update: " + result.answer;
    }
    const int status = result.accepted ? 200 : (result.answer == "Directory full" ? 503 : 400);
    return MakeResponse(status, kHtml, AnswerBody(result.answer));
  }
  if (path == "/" || path == "/index.html") {
    if (request.method != "GET" && request.method != "HEAD") {
      return MakeResponse(405, kHtml, AnswerBody("Use GET"), "Allow: GET, HEAD\r\n");
    }
    const std::string page = RenderPage(directory.Published());
    std::string response = MakeResponse(200, kHtml, page);
    if (request.method == "HEAD") {
      response.resize(response.size() - page.size());
    }
    return response;
  }
  return MakeResponse(404, kHtml, AnswerBody("Not found"));
}

}  // namespace halvard::directory
