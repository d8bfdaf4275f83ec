#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/internet/DirectoryUpdate.h"
#include "server/internet/MonitoringPage.h"
#include "server/internet/tests/LoopbackHttpServer.h"
#include "server/internet/tests/TestDoubles.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::internet {
namespace {

using halvard::internet::testing::HttpOk;
using halvard::internet::testing::LoopbackHttpServer;
using halvard::internet::testing::RecordingSink;

const UpdateTexts kTexts;

UpdateForm SampleForm() {
  UpdateForm form;
  form.productId = "Station 7";
  form.userId = "guard@example.org";
  form.password = "p&ss";
  form.displayName = "Lobby-Door";
  form.ip = "85.1.2.3";
  form.port = 10004;
  form.broadcasting = true;
  form.note = "Front door, 50% visible";
  return form;
}

TEST(UpdateBodyTest, FieldsInOrderAndValuesUnchanged) {
  UpdateForm form = SampleForm();
  EXPECT_EQ(BuildUpdateBody(form),
            "ProductID=Station 7&UserID=guard@example.org&Password=p&ss&DisplayName=Lobby-Door&IP=85.1.2.3"
            "&Port=10004&Status=Broadcasting&Note=Front door, 50% visible&btnSubmit=Submit");
  form = UpdateForm{};
  EXPECT_EQ(BuildUpdateBody(form),
            "ProductID=&UserID=&Password=&DisplayName=&IP=&Port=0&Status=&Note=&btnSubmit=Submit");
}

TEST(UpdateBodyTest, FormComesFromTheSettings) {
  const halvard::testing::ScopedRegistry registry;
  settings::SetAutomaticAddressProvider([] { return std::string("85.1.2.3"); });
  settings::kSysDisplayName.Write("Station 7");
  settings::kSysUserId.Write("guard@example.org");
  settings::kSysPassword.Write("secret");
  settings::kInternetBroadcastingNote.Write("Lobby", "Input 2", "Main entrance");
  UpdateForm form = ReadUpdateForm("Lobby", "Input 2");
  EXPECT_EQ(form.productId, "Station 7");
  EXPECT_EQ(form.userId, "guard@example.org");
  EXPECT_EQ(form.password, "secret");
  EXPECT_EQ(form.displayName, "Lobby-Input 2");
  EXPECT_EQ(form.ip, "85.1.2.3");
  EXPECT_EQ(form.port, 10002u);  // computed default: card 0, third input
  EXPECT_FALSE(form.broadcasting);
  EXPECT_EQ(form.note, "Main entrance");
  settings::kInternetBroadcasting.Write("Lobby", "Input 2", 1);
  settings::WriteInternetPort("Lobby", "Input 2", 8554);
  form = ReadUpdateForm("Lobby", "Input 2");
  EXPECT_TRUE(form.broadcasting);
  EXPECT_EQ(form.port, 8554u);
  settings::SetAutomaticAddressProvider(nullptr);
}

TEST(UpdateBodyTest, BodyAndItsZeroByteMustFitTheBuffer) {
  const std::string fits(kBodyBufferBytes - 1, 'a');
  const std::vector<char> bytes = EncodeUpdateBody(fits);
  ASSERT_EQ(bytes.size(), kBodyBufferBytes);
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_EQ(std::string(bytes.data(), fits.size()), fits);
  EXPECT_TRUE(EncodeUpdateBody(std::string(kBodyBufferBytes, 'a')).empty());
  // The limit is in UTF-8 bytes: 511 two-byte characters and the zero byte fit, 512 do not.
  std::string wide;
  for (int i = 0; i < 511; ++i) {
    wide += "\xC3\xA9";
  }
  EXPECT_EQ(EncodeUpdateBody(wide).size(), 1023u);
  EXPECT_TRUE(EncodeUpdateBody(wide + "\xC3\xA9").empty());
  EXPECT_EQ(EncodeUpdateBody("").size(), 1u);
}

TEST(AnswerTest, TextBetweenTheMarkers) {
  EXPECT_EQ(ExtractAnswer("<HTML><BODY>OK</BODY></HTML>"), "OK");
  EXPECT_EQ(ExtractAnswer("junk <BODY>Camera updated</BODY> more </BODY>"), "Camera updated");
  EXPECT_EQ(ExtractAnswer("<BODY>x</BODY>"), "x");
  EXPECT_EQ(ExtractAnswer("<BODY></BODY>"), std::nullopt);
  EXPECT_EQ(ExtractAnswer("</BODY>text<BODY>"), std::nullopt);
  EXPECT_EQ(ExtractAnswer("<BODY>OK"), std::nullopt);
  EXPECT_EQ(ExtractAnswer("OK</BODY>"), std::nullopt);
  EXPECT_EQ(ExtractAnswer("<body>OK</body>"), std::nullopt);
  EXPECT_EQ(ExtractAnswer(""), std::nullopt);
}

TEST(FormPosterTest, HostEntries) {
  EXPECT_TRUE(IsUsableHost("directory.example.org"));
  EXPECT_TRUE(IsUsableHost("127.0.0.1:8080"));
  EXPECT_FALSE(IsUsableHost(""));
  EXPECT_FALSE(IsUsableHost("host/path"));
  EXPECT_FALSE(IsUsableHost("user@host"));
  EXPECT_FALSE(IsUsableHost("host:"));
  EXPECT_FALSE(IsUsableHost("host:0"));
  EXPECT_FALSE(IsUsableHost("host:65536"));
  EXPECT_FALSE(IsUsableHost("host:80:81"));
  EXPECT_FALSE(IsUsableHost("host name"));
  EXPECT_TRUE(IsReservedInvalidHost("directory1.halvard.invalid"));
  EXPECT_TRUE(IsReservedInvalidHost("X.INVALID.:80"));
  EXPECT_FALSE(IsReservedInvalidHost("invalid.example.org"));
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1:9"));
  EXPECT_TRUE(IsLoopbackHost("localhost"));
  EXPECT_FALSE(IsLoopbackHost("127.example.org"));
  EXPECT_EQ(TruncateChars("\xC3\xA9\xC3\xA9x", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(TruncateChars("abc", 5), "abc");
}

/// Posts one update for camera Lobby/Door to `host` with the libcurl poster.
std::vector<std::string> PostSample(const std::string& host) {
  const halvard::testing::ScopedRegistry registry;
  settings::SetAutomaticAddressProvider([] { return std::string("85.1.2.3"); });
  settings::kSysUserId.Write("guard@example.org");
  settings::kInternetBroadcasting.Write("Lobby", "Door", 1);
  settings::kInternetBroadcastingNote.Write("Lobby", "Door", "Front");
  settings::WriteInternetPort("Lobby", "Door", 10004);
  RecordingSink sink;
  CCurlFormPoster poster;
  PostUpdate("Lobby", "Door", host, kUpdatePage, sink, poster, kTexts);
  settings::SetAutomaticAddressProvider(nullptr);
  return sink.Lines();
}

TEST(PostUpdateTest, SendsTheFormAndReportsTheAnswer) {
  const LoopbackHttpServer server(HttpOk("<HTML><HEAD></HEAD><BODY>OK</BODY></HTML>"));
  EXPECT_EQ(PostSample(server.HostEntry()), std::vector<std::string>{kTexts.answerPrefix + " OK"});
  const std::vector<testing::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& head = requests[0].head;
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /MonIPUpdate.aspx HTTP/1.1");
  EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nUser-Agent: Halvard\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nHost: " + server.HostEntry() + "\r\n"), std::string::npos);
  const std::string expected =
      "ProductID=&UserID=guard@example.org&Password=&DisplayName=Lobby-Door&IP=85.1.2.3&Port=10004"
      "&Status=Broadcasting&Note=Front&btnSubmit=Submit";
  EXPECT_EQ(requests[0].body, expected + std::string(1, '\0'));
}

TEST(PostUpdateTest, RepliesWithoutAnAnswerWriteNothing) {
  for (const char* body : {"<BODY></BODY>", "no markers at all", "</BODY>OK<BODY>", "<body>OK</body>"}) {
    const LoopbackHttpServer server(HttpOk(body));
    EXPECT_TRUE(PostSample(server.HostEntry()).empty()) << body;
    EXPECT_EQ(server.Requests().size(), 1u);
  }
  // An error status is a reply like any other: its body decides.
  const LoopbackHttpServer notFound("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nNot found");
  EXPECT_TRUE(PostSample(notFound.HostEntry()).empty());
}

TEST(PostUpdateTest, OnlyTheFirst4096BytesOfTheReplyCount) {
  const std::string padding(kMaxReplyBytes - 20, ' ');
  const LoopbackHttpServer inside(HttpOk(padding + "<BODY>OK</BODY>" + std::string(100000, 'x')));
  EXPECT_EQ(PostSample(inside.HostEntry()), std::vector<std::string>{kTexts.answerPrefix + " OK"});
  const LoopbackHttpServer beyond(HttpOk(std::string(kMaxReplyBytes, ' ') + "<BODY>OK</BODY>"));
  EXPECT_TRUE(PostSample(beyond.HostEntry()).empty());
  // The marker cut by the limit: "<BODY>OK</BO" is all that is read.
  const LoopbackHttpServer cut(HttpOk(std::string(kMaxReplyBytes - 12, ' ') + "<BODY>OK</BODY>"));
  EXPECT_TRUE(PostSample(cut.HostEntry()).empty());
}

TEST(PostUpdateTest, FailuresWriteOneLineWithTheReason) {
  // A port nobody listens on: bind one, note it, close it.
  int port = 0;
  {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port = ntohs(address.sin_port);
    close(fd);
  }
  std::vector<std::string> lines = PostSample("127.0.0.1:" + std::to_string(port));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with(kTexts.failurePrefix + " ")) << lines[0];
  EXPECT_GT(lines[0].size(), kTexts.failurePrefix.size() + 1);

  lines = PostSample("directory1.halvard.invalid");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with(kTexts.failurePrefix + " Could not resolve host: directory1.halvard.invalid"))
      << lines[0];

  lines = PostSample("evil/path?x=1");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with(kTexts.failurePrefix + " ")) << lines[0];
}

TEST(MonitoringPageTest, ServerListSlots) {
  const halvard::testing::ScopedRegistry registry;
  // Slots 02 and 03 hold the default directories, which never resolve.
  const std::vector<std::string> defaults = ListDirectoryServers();
  ASSERT_EQ(defaults.size(), 2u);
  for (const std::string& host : defaults) {
    EXPECT_TRUE(IsReservedInvalidHost(host)) << host;
  }
  EXPECT_TRUE(AddDirectoryServer("a.example.org"));
  EXPECT_TRUE(AddDirectoryServer("b.example.org"));
  EXPECT_FALSE(AddDirectoryServer("c.example.org"));
  EXPECT_FALSE(AddDirectoryServer(""));
  EXPECT_EQ(settings::ReadInternetServer(0), "a.example.org");
  EXPECT_EQ(settings::ReadInternetServer(1), "b.example.org");
  EXPECT_TRUE(RemoveDirectoryServer(defaults[0]));
  EXPECT_FALSE(RemoveDirectoryServer("nowhere.example.org"));
  EXPECT_EQ(settings::ReadInternetServer(2), "");
  EXPECT_TRUE(AddDirectoryServer("c.example.org"));
  EXPECT_EQ(settings::ReadInternetServer(2), "c.example.org");
  ResetDirectoryServers();
  EXPECT_EQ(ListDirectoryServers(), defaults);
  EXPECT_FALSE(IsBroadcastNoteLongEnough("abc"));
  EXPECT_TRUE(IsBroadcastNoteLongEnough("abcd"));
  EXPECT_TRUE(IsBroadcastNoteLongEnough("\xF0\x9F\x93\xB7\xF0\x9F\x93\xB7"));  // two cameras: 4 UTF-16 units
}

}  // namespace
}  // namespace halvard::internet
