#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "alertmail/AlertMail.h"
#include "tests/support/TestSupport.h"

namespace halvard::alertmail {
namespace {

using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

std::span<const unsigned char> Bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST(Base64Test, StandardVectorsAndLines) {
  EXPECT_EQ(Base64Encode(Bytes(""), 0), "");
  EXPECT_EQ(Base64Encode(Bytes("f"), 0), "Zg==");
  EXPECT_EQ(Base64Encode(Bytes("fo"), 0), "Zm8=");
  EXPECT_EQ(Base64Encode(Bytes("foo"), 0), "Zm9v");
  EXPECT_EQ(Base64Encode(Bytes("foobar"), 0), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode(Bytes(std::string_view("\xFF\xFE\x00", 3)), 0), "//4A");
  EXPECT_EQ(Base64Encode(Bytes("foobar"), 4), "Zm9v\nYmFy\n");
  EXPECT_EQ(Base64Encode(Bytes("fooba"), 4), "Zm9v\nYmE=\n");
}

TEST(HeaderTest, PlainTextStaysAndEverythingElseIsEncoded) {
  EXPECT_EQ(EncodeHeaderText("Motion at Lobby-Door"), "Motion at Lobby-Door");
  EXPECT_EQ(EncodeHeaderText("\xC3\xA9"), "=?UTF-8?B?w6k=?=");
  // A line break cannot start a header of its own.
  const std::string injected = EncodeHeaderText("Alert\nBcc: someone@example.org");
  EXPECT_EQ(injected.find("\nBcc"), std::string::npos);
  // Long text is folded into encoded words that never split a character.
  const std::string longText(100, 'a');
  const std::string encoded = EncodeHeaderText(longText + "\xE2\x82\xAC");
  EXPECT_EQ(encoded, std::string("=?UTF-8?B?") + Base64Encode(Bytes(std::string(45, 'a')), 0) + "?=\n =?UTF-8?B?" +
                         Base64Encode(Bytes(std::string(45, 'a')), 0) + "?=\n =?UTF-8?B?" +
                         Base64Encode(Bytes(std::string(10, 'a') + "\xE2\x82\xAC"), 0) + "?=");
  EXPECT_EQ(FileNameParameter("filename", "snap 1.jpg"), "filename=\"snap 1.jpg\"");
  EXPECT_EQ(FileNameParameter("filename", "a\"b.jpg"), "filename*=UTF-8''a%22b.jpg");
  EXPECT_EQ(FileNameParameter("filename", "\xC3\xA9.jpg"), "filename*=UTF-8''%C3%A9.jpg");
  EXPECT_EQ(DelayFromEnvironment(nullptr), 3000u);
  EXPECT_EQ(DelayFromEnvironment("0"), 0u);
  EXPECT_EQ(DelayFromEnvironment("250"), 250u);
  EXPECT_EQ(DelayFromEnvironment("soon"), 3000u);
  EXPECT_EQ(DelayFromEnvironment("600001"), 3000u);
}

/// The program with a recording mailer: a script that saves its standard input and
/// arguments and exits with `mailerExit`.
class AlertMailProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = m_dir.File("sendmail");
    WriteFile(script, "#!/bin/sh\necho \"$@\" > " + ShellQuote(m_dir.File("args")) + "\ncat > " +
                          ShellQuote(m_dir.File("message")) + "\nexit ${MAILER_EXIT:-0}\n");
    ASSERT_EQ(RunCommand("chmod +x " + ShellQuote(script)).status, 0);
  }

  /// Runs alertmail with the given arguments; output holds everything it printed.
  halvard::testing::CommandResult Run(const std::vector<std::string>& args, const std::string& delayMs = "0",
                                      int mailerExit = 0) {
    std::string line = "HALVARD_SENDMAIL=" + ShellQuote(m_dir.File("sendmail")) +
                       " HALVARD_ALERTMAIL_DELAY_MS=" + delayMs + " MAILER_EXIT=" + std::to_string(mailerExit) + " " +
                       ShellQuote(halvard::testing::ProgramPath("alertmail"));
    for (const std::string& arg : args) {
      line += " " + ShellQuote(arg);
    }
    return RunCommand(line, true);
  }

  [[nodiscard]] bool MailerRan() const { return std::filesystem::exists(m_dir.File("message")); }

  TempDir m_dir;
};

TEST_F(AlertMailProgramTest, DeliversAMessageThatAMimeParserReadsBack) {
  std::string picture;
  for (int i = 0; i < 5000; ++i) {
    picture += static_cast<char>((i * 7 + i / 13) & 0xFF);
  }
  const std::string attachment = m_dir.File("Lobby-Door 12H-05M-00S.jpg");
  WriteFile(attachment, picture);
  const std::string subject = "Motion: Lobby-Door \xC3\xA0 l'entr\xC3\xA9" "e";
  const auto result = Run({"unused", "guard@example.org", subject, attachment});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(ReadFile(m_dir.File("args")), "-t -i\n");

  // Python's email package reads the message back: headers, note and attachment.
  const std::string script = m_dir.File("read.py");
  WriteFile(script,
            "import sys, email, email.policy\n"
            "msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)\n"
            "parts = list(msg.iter_parts())\n"
            "assert msg.get_content_type() == 'multipart/mixed', msg.get_content_type()\n"
            "assert len(parts) == 2, len(parts)\n"
            "open(sys.argv[2], 'wb').write(parts[1].get_content())\n"
            "sys.stdout.write(msg['To'] + '\\n' + msg['Subject'] + '\\n' + repr(parts[0].get_content()) + '\\n'"
            " + parts[1].get_filename() + '\\n' + str(parts[1].is_attachment()) + '\\n')\n");
  const auto parsed = RunCommand("python3 " + ShellQuote(script) + " " + ShellQuote(m_dir.File("message")) + " " +
                                     ShellQuote(m_dir.File("extracted")),
                                 true);
  ASSERT_EQ(parsed.status, 0) << parsed.output;
  EXPECT_EQ(parsed.output, "guard@example.org\n" + subject +
                               "\n'This message is generated by ZEL Surveillance Server'\n"
                               "Lobby-Door 12H-05M-00S.jpg\nTrue\n");
  EXPECT_EQ(ReadFile(m_dir.File("extracted")), picture);
}

TEST_F(AlertMailProgramTest, WrongArgumentCountsSendNothingAndDoNotWait) {
  const std::string attachment = m_dir.File("a.jpg");
  WriteFile(attachment, "x");
  // A ten-minute wait: were it taken, the test would run into its time-out.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"unused", "guard@example.org", "Alert"},
        {"unused", "guard@example.org", "Alert", attachment, "extra"}}) {
    const auto result = Run(args, "600000");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
  }
  EXPECT_FALSE(MailerRan());
}

TEST_F(AlertMailProgramTest, RefusalsGiveZero) {
  const std::string attachment = m_dir.File("a.jpg");
  WriteFile(attachment, "x");
  // The mailer refuses.
  auto result = Run({"unused", "guard@example.org", "Alert", attachment}, "0", 75);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(MailerRan());
  std::filesystem::remove(m_dir.File("message"));
  // A missing attachment, a folder, a recipient with a line break: no mail at all.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"unused", "guard@example.org", "Alert", m_dir.File("missing.jpg")},
        {"unused", "guard@example.org", "Alert", m_dir.Path().string()},
        {"unused", "guard@example.org\nBcc: x@example.org", "Alert", attachment}}) {
    result = Run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
  }
  EXPECT_FALSE(MailerRan());
  // No mailer installed under that name.
  result = RunCommand("HALVARD_SENDMAIL=" + ShellQuote(m_dir.File("no-such-mailer")) +
                          " HALVARD_ALERTMAIL_DELAY_MS=0 " + ShellQuote(halvard::testing::ProgramPath("alertmail")) +
                          " u guard@example.org Alert " + ShellQuote(attachment),
                      true);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
}

}  // namespace
}  // namespace halvard::alertmail
