#pragma once
// Recording stand-ins for the output pane, the clock of the workers and the poster.

#include <mutex>
#include <string>
#include <vector>

#include "server/internet/FormPoster.h"
#include "server/internet/OutputSink.h"
#include "server/internet/UpdateWorker.h"

namespace halvard::internet::testing {

class RecordingSink final : public IOutputSink {
 public:
  [[nodiscard]] HRESULT AddLine(std::string_view line) override {
    const std::lock_guard lock(m_mutex);
    m_lines.emplace_back(line);
    return S_OK;
  }
  [[nodiscard]] std::vector<std::string> Lines() const {
    const std::lock_guard lock(m_mutex);
    return m_lines;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

/// A clock that jumps: every wait returns at once and moves the clock on.
class JumpingSleeper final : public ISleeper {
 public:
  [[nodiscard]] HRESULT Sleep(DWORD periodMs, std::stop_token stop) override {
    const std::lock_guard lock(m_mutex);
    if (stop.stop_requested()) {
      return S_FALSE;
    }
    m_nowMs += periodMs;
    m_waits.push_back(periodMs);
    return S_OK;
  }
  [[nodiscard]] std::vector<DWORD> Waits() const {
    const std::lock_guard lock(m_mutex);
    return m_waits;
  }
  [[nodiscard]] unsigned long long NowMs() const {
    const std::lock_guard lock(m_mutex);
    return m_nowMs;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<DWORD> m_waits;
  unsigned long long m_nowMs = 0;
};

struct RecordedPost {
  std::string host;
  std::string page;
  std::string body;  // bytes as handed to the poster, zero byte included
  unsigned long long atMs = 0;
};

/// Records every post (with the time on `clock`, when given) and hands it on to `next`,
/// or answers `reply` itself.
class RecordingPoster final : public IFormPoster {
 public:
  explicit RecordingPoster(IFormPoster* next = nullptr, const JumpingSleeper* clock = nullptr,
                           std::string reply = "<BODY>OK</BODY>")
      : m_next(next), m_clock(clock), m_reply(std::move(reply)) {}

  [[nodiscard]] HRESULT Post(std::string_view host, std::string_view page, std::span<const char> body,
                             std::stop_token stop, std::string* reply, std::string* errorText) override {
    {
      const std::lock_guard lock(m_mutex);
      m_posts.push_back({std::string(host), std::string(page), std::string(body.begin(), body.end()),
                         m_clock != nullptr ? m_clock->NowMs() : 0});
    }
    if (m_next != nullptr) {
      return m_next->Post(host, page, body, stop, reply, errorText);
    }
    *reply = m_reply;
    errorText->clear();
    return S_OK;
  }
  [[nodiscard]] std::vector<RecordedPost> Posts() const {
    const std::lock_guard lock(m_mutex);
    return m_posts;
  }

 private:
  IFormPoster* m_next;
  const JumpingSleeper* m_clock;
  std::string m_reply;
  mutable std::mutex m_mutex;
  std::vector<RecordedPost> m_posts;
};

}  // namespace halvard::internet::testing
