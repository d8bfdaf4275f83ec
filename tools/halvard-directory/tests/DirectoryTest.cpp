#include <gtest/gtest.h>

#include "tools/halvard-directory/Directory.h"

namespace halvard::directory {
namespace {

using Clock = std::chrono::system_clock;
const Clock::time_point kNoon = Clock::from_time_t(1'700'000'000);

ParseStatus Parse(std::string_view data, HttpRequest* request = nullptr) {
  HttpRequest scratch;
  std::size_t consumed = 0;
  return ParseHttpRequest(data, request != nullptr ? request : &scratch, &consumed);
}

TEST(HttpParseTest, CompleteRequestsAndTheirBodies) {
  HttpRequest request;
  const std::string post = "POST /MonIPUpdate.aspx HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nabcde";
  EXPECT_EQ(Parse(post, &request), ParseStatus::kComplete);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/MonIPUpdate.aspx");
  EXPECT_EQ(request.body, "abcde");
  EXPECT_EQ(request.Header("content-length"), "5");
  EXPECT_EQ(Parse("GET / HTTP/1.0\n\n", &request), ParseStatus::kComplete);
  EXPECT_TRUE(request.body.empty());
  // Every prefix of a request is incomplete, never an error.
  for (std::size_t n = 0; n < post.size(); ++n) {
    EXPECT_EQ(Parse(post.substr(0, n)), ParseStatus::kIncomplete) << n;
  }
}

TEST(HttpParseTest, MalformedAndOversizedRequests) {
  for (const char* bad : {"garbage\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "GET / HTTP/2\r\n\r\n", "GET x HTTP/1.1\r\n\r\n",
                          "G(T / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\nNoColon\r\n\r\n",
                          "GET / HTTP/1.1\r\n: empty\r\n\r\n", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
                          "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
                          "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"}) {
    EXPECT_EQ(Parse(bad), ParseStatus::kBadRequest) << bad;
  }
  EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 8193\r\n\r\n"), ParseStatus::kTooLarge);
  EXPECT_EQ(Parse("GET / HTTP/1.1\r\nX: " + std::string(kMaxHeaderBytes, 'a')), ParseStatus::kTooLarge);
  EXPECT_EQ(Parse(std::string(kMaxHeaderBytes, 'a')), ParseStatus::kTooLarge);
  EXPECT_EQ(Parse("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"), ParseStatus::kNotImplemented);
}

TEST(FormTest, ValuesAsSentFirstOccurrenceAndTrailingZero) {
  using namespace std::string_literals;
  const auto fields = ParseFormBody("Note=50%25 a+b&note=second&IP=1.2.3.4&Flag&btnSubmit=Submit\0\0"s);
  EXPECT_EQ(fields.at("note"), "50%25 a+b");
  EXPECT_EQ(fields.at("ip"), "1.2.3.4");
  EXPECT_EQ(fields.at("flag"), "");
  EXPECT_EQ(fields.at("btnsubmit"), "Submit");
  EXPECT_TRUE(ParseFormBody("").empty());
}

std::string Form(const std::string& name, const std::string& ip, const std::string& port, bool published,
                 const std::string& note = "Note") {
  return "ProductID=P&UserID=u@example.org&Password=secret&DisplayName=" + name + "&IP=" + ip + "&Port=" + port +
         "&Status=" + (published ? "Broadcasting" : "") + "&Note=" + note + "&btnSubmit=Submit" + std::string(1, '\0');
}

TEST(DirectoryTest, KeepsTheLatestEntryPerCamera) {
  CDirectory directory;
  EXPECT_TRUE(directory.Update(Form("Lobby-Door", "85.1.2.3", "10004", true), kNoon).accepted);
  EXPECT_TRUE(directory.Update(Form("Lobby-Yard", "85.1.2.3", "10005", false), kNoon).accepted);
  EXPECT_TRUE(directory.Update(Form("Lobby-Door", "85.9.9.9", "10008", true, "Moved"), kNoon).accepted);
  EXPECT_EQ(directory.Size(), 2u);
  std::vector<CameraEntry> published = directory.Published();
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].displayName, "Lobby-Door");
  EXPECT_EQ(StreamAddress(published[0]), "http://85.9.9.9:10008/");
  EXPECT_EQ(published[0].note, "Moved");
  // Withdrawing the publication takes the camera off the list; publishing another adds it.
  EXPECT_TRUE(directory.Update(Form("Lobby-Door", "85.9.9.9", "10008", false), kNoon).accepted);
  EXPECT_TRUE(directory.Update(Form("Lobby-Yard", "85.1.2.3", "10005", true), kNoon).accepted);
  published = directory.Published();
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].displayName, "Lobby-Yard");
}

TEST(DirectoryTest, RefusesFormsItCannotList) {
  CDirectory directory;
  EXPECT_EQ(directory.Update(Form("", "85.1.2.3", "1", true), kNoon).answer, "Missing DisplayName");
  for (const char* ip : {"", "85.1.2", "85.1.2.3.4", "host.example.org", "85.1.2.256", "\"><script>"}) {
    EXPECT_EQ(directory.Update(Form("A", ip, "1", true), kNoon).answer, "Invalid IP") << ip;
  }
  for (const char* port : {"", "0", "65536", "80x", "-1"}) {
    EXPECT_EQ(directory.Update(Form("A", "85.1.2.3", port, true), kNoon).answer, "Invalid Port") << port;
  }
  EXPECT_EQ(directory.Size(), 0u);
}

TEST(DirectoryTest, PageEscapesWhatStationsSend) {
  CDirectory directory;
  ASSERT_TRUE(directory.Update(Form("<b>Cam</b>", "85.1.2.3", "80", true, "\"x\" 'y' <i>"), kNoon).accepted);
  const std::string page = RenderPage(directory.Published());
  EXPECT_NE(page.find("&lt;b&gt;Cam&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("&quot;x&quot; &#39;y&#39; &lt;i&gt;"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"http://85.1.2.3:80/\">"), std::string::npos);
  EXPECT_NE(page.find("2023-11-14 22:13:20 UTC"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_EQ(page.find("secret"), std::string::npos);
}

std::string Handle(CDirectory& directory, const std::string& method, const std::string& target,
                   const std::string& body = {}) {
  HttpRequest request;
  request.method = method;
  request.target = target;
  request.body = body;
  std::string log;
  return HandleRequest(directory, request, kNoon, &log);
}

TEST(HandleRequestTest, Routes) {
  CDirectory directory;
  std::string response = Handle(directory, "POST", "/monipupdate.ASPX?x=1", Form("A", "85.1.2.3", "80", true));
  EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
  EXPECT_NE(response.find("<BODY>OK</BODY>"), std::string::npos);
  EXPECT_NE(response.find("Connection: close\r\n"), std::string::npos);
  response = Handle(directory, "POST", "/MonIPUpdate.aspx", "IP=1.2.3.4");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 400 ")) << response;
  EXPECT_NE(response.find("<BODY>Missing DisplayName</BODY>"), std::string::npos);
  EXPECT_TRUE(Handle(directory, "GET", "/MonIPUpdate.aspx").starts_with("HTTP/1.1 405 "));
  EXPECT_TRUE(Handle(directory, "DELETE", "/").starts_with("HTTP/1.1 405 "));
  EXPECT_TRUE(Handle(directory, "GET", "/../etc/passwd").starts_with("HTTP/1.1 404 "));
  response = Handle(directory, "GET", "/index.html");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 200 ")) << response;
  EXPECT_NE(response.find("http://85.1.2.3:80/"), std::string::npos);
  const std::string head = Handle(directory, "HEAD", "/");
  EXPECT_EQ(head, response.substr(0, response.find("\r\n\r\n") + 4));
}

}  // namespace
}  // namespace halvard::directory
