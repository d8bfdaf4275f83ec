#include "alertmail/AlertMail.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

extern char** environ;

namespace halvard::alertmail {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
/// Line length of base64 bodies (RFC 2045).
constexpr std::size_t kBase64LineChars = 76;
/// Source bytes per encoded word: 45 bytes make 60 base64 characters, which keeps each
/// header line well under 78 characters.
constexpr std::size_t kEncodedWordBytes = 45;

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

/// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::span<const unsigned char> Bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string FileBaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

/// Reads a regular file of at most kMaxAttachmentBytes; false when it cannot.
bool ReadAttachment(const char* path, std::vector<unsigned char>* content) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  struct stat info{};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<unsigned long long>(info.st_size) <= kMaxAttachmentBytes;
  unsigned char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      ok = false;
    } else if (n == 0) {
      break;
    } else if (content->size() + static_cast<std::size_t>(n) > kMaxAttachmentBytes) {
      ok = false;  // the file grew past the bound while it was read
    } else {
      content->insert(content->end(), buffer, buffer + n);
    }
  }
  close(fd);
  return ok;
}

std::string MakeBoundary() {
  std::random_device device;
  std::string boundary = "=_halvard_";
  constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 24; ++i) {
    boundary += kHex[device() & 0xF];
  }
  return boundary;
}

/// Runs the mailer with the message on its standard input; true when it exits with 0.
bool SendThroughMailer(const std::string& message) {
  const char* configured = std::getenv("HALVARD_SENDMAIL");
  const std::string mailer = (configured != nullptr && *configured != '\0') ? configured : std::string(kDefaultMailer);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
  // The program shows nothing: whatever the mailer prints goes nowhere.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string arg0 = mailer;
  std::string argT = "-t";
  std::string argI = "-i";
  char* const argv[] = {arg0.data(), argT.data(), argI.data(), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawnp(&child, mailer.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[0]);
  if (spawned != 0) {
    close(pipeFds[1]);
    return false;
  }
  bool written = true;
  std::string_view rest = message;
  while (!rest.empty()) {
    const ssize_t n = write(pipeFds[1], rest.data(), rest.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      written = false;  // the mailer stopped reading: it refused the message
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string Base64Encode(std::span<const unsigned char> data, std::size_t lineChars) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + (lineChars == 0 ? 0 : data.size() / lineChars + 2));
  std::size_t column = 0;
  const auto put = [&](char c) {
    out += c;
    if (lineChars != 0 && ++column == lineChars) {
      out += '\n';
      column = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    put(kBase64Alphabet[(v >> 18) & 63]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(kBase64Alphabet[(v >> 6) & 63]);
    put(kBase64Alphabet[v & 63]);
  }
  if (const std::size_t left = data.size() - i; left > 0) {
    const unsigned v = (data[i] << 16) | (left == 2 ? data[i + 1] << 8 : 0);
    put(kBase64Alphabet[(v >> 18) & 63]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(left == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
    put('=');
  }
  if (lineChars != 0 && column != 0) {
    out += '\n';
  }
  return out;
}

std::string EncodeHeaderText(std::string_view text) {
  if (IsPrintableAscii(text)) {
    return std::string(text);
  }
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Take whole UTF-8 sequences only, so that every encoded word decodes on its own.
    std::size_t end = pos;
    while (end < text.size()) {
      const std::size_t next = std::min(text.size(), end + SequenceLength(static_cast<unsigned char>(text[end])));
      if (next - pos > kEncodedWordBytes && end > pos) {
        break;
      }
      end = next;
    }
    if (!out.empty()) {
      out += "\n ";
    }
    out += "=?UTF-8?B?" + Base64Encode(Bytes(text.substr(pos, end - pos)), 0) + "?=";
    pos = end;
  }
  return out;
}

std::string FileNameParameter(std::string_view parameter, std::string_view fileName) {
  if (IsPrintableAscii(fileName) && fileName.find_first_of("\"\\") == std::string_view::npos) {
    return std::string(parameter) + "=\"" + std::string(fileName) + "\"";
  }
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = std::string(parameter) + "*=UTF-8''";
  for (const char c : fileName) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string BuildMessage(std::string_view recipient, std::string_view subject, std::string_view fileName,
                         std::span<const unsigned char> content, std::string_view boundary) {
  const std::string b(boundary);
  std::string message;
  message += "To: " + std::string(recipient) + "\n";
  message += "Subject: " + EncodeHeaderText(subject) + "\n";
  message += "MIME-Version: 1.0\n";
  message += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n";
  message += "\n";
  message += "This is a message in MIME format.\n";
  message += "\n--" + b + "\n";
  message += "Content-Type: text/plain; charset=us-ascii\n";
  message += "Content-Transfer-Encoding: 7bit\n";
  message += "\n";
  message += std::string(kNoteText) + "\n";
  message += "--" + b + "\n";
  message += "Content-Type: application/octet-stream; " + FileNameParameter("name", fileName) + "\n";
  message += "Content-Transfer-Encoding: base64\n";
  message += "Content-Disposition: attachment; " + FileNameParameter("filename", fileName) + "\n";
  message += "\n";
  message += Base64Encode(content, kBase64LineChars);
  message += "--" + b + "--\n";
  return message;
}

unsigned DelayFromEnvironment(const char* value) {
  if (value == nullptr) {
    return kDefaultDelayMs;
  }
  const std::string_view text(value);
  unsigned delay = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), delay);
  if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || delay > kMaxDelayMs) {
    return kDefaultDelayMs;
  }
  return delay;
}

int Run(int argc, const char* const* argv) {
  if (argc != 5) {
    return kExitNotSent;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(DelayFromEnvironment(std::getenv("HALVARD_ALERTMAIL_DELAY_MS"))));

  const std::string_view recipient = argv[2];
  const std::string_view subject = argv[3];
  const char* path = argv[4];
  // A line break in the recipient would add headers of its own: no mailer takes that.
  if (HasControl(recipient)) {
    return kExitNotSent;
  }
  std::vector<unsigned char> content;
  if (!ReadAttachment(path, &content)) {
    return kExitNotSent;
  }
  // A mailer that exits early must not end this program by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string message = BuildMessage(recipient, subject, FileBaseName(path), content, MakeBoundary());
  return SendThroughMailer(message) ? kExitSent : kExitNotSent;
}

}  // namespace halvard::alertmail
