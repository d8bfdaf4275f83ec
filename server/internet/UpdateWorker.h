#pragma once
/// The directory-update workers: each start of a camera with internet video monitoring
/// tells the directory servers the camera's address twice, two and four minutes after
/// the start, on a thread of its own.

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/base/WinTypes.h"
#include "server/internet/DirectoryUpdate.h"
#include "server/internet/FormPoster.h"
#include "server/internet/OutputSink.h"

namespace halvard::internet {

/// Delay before each pass of a worker.
inline constexpr DWORD kUpdatePassDelayMs = 120'000;
/// Passes of a worker.
inline constexpr int kUpdatePasses = 2;

/// The waits of a worker, replaceable so that tests run on an injected clock.
///
/// Threads: Sleep is called from several worker threads at once.
class ISleeper {
 public:
  virtual ~ISleeper() = default;
  /// Waits `periodMs`. S_OK after the full period; S_FALSE when `stop` was requested
  /// first (the worker then ends without posting).
  [[nodiscard]] virtual HRESULT Sleep(DWORD periodMs, std::stop_token stop) = 0;
};

/// Waits on the steady clock, woken early by a stop request.
class CSteadySleeper final : public ISleeper {
 public:
  [[nodiscard]] HRESULT Sleep(DWORD periodMs, std::stop_token stop) override;
};

/// The body of one worker, run on the calling thread: two passes, each after a wait of
/// kUpdatePassDelayMs. A pass does nothing when the camera's "Privacy No IP Update" is
/// set; otherwise it posts the update to every non-empty "Internet Server 00" to "03"
/// in slot order, then writes the private-address warning when the camera address is
/// private. Settings are read afresh in each pass. Returns early when `stop` is
/// requested: a wait or a post in progress ends at once.
void RunUpdateWorker(const std::string& group, const std::string& camera, IOutputSink& sink, IFormPoster& poster,
                     ISleeper& sleeper, std::stop_token stop, const UpdateTexts& texts = {});

/// Starts and owns the update workers of a server process.
///
/// Threads: Start and Stop may be called from any thread. The sink, poster and sleeper
/// are shared by all workers and must outlive the updater (the sink is the output
/// pane, owned by the main frame; the updater is destroyed before it).
class CDirectoryUpdater {
 public:
  /// `poster` and `sleeper` default to the libcurl poster and the steady clock.
  explicit CDirectoryUpdater(IOutputSink& sink, std::shared_ptr<IFormPoster> poster = nullptr,
                             std::shared_ptr<ISleeper> sleeper = nullptr, UpdateTexts texts = {});
  /// Stops the workers (waits and posts in progress end at once) and waits for them.
  ~CDirectoryUpdater();
  CDirectoryUpdater(const CDirectoryUpdater&) = delete;
  CDirectoryUpdater& operator=(const CDirectoryUpdater&) = delete;

  /// Starts one worker for the camera. Several workers may run at once, also for the
  /// same camera. Returns false (and starts nothing) after Stop, or when no thread can
  /// be created.
  [[nodiscard]] bool Start(std::string group, std::string camera);

  /// Requests every worker to stop and waits until they have ended. Final.
  void Stop();

  /// Workers that have not ended yet.
  [[nodiscard]] std::size_t RunningWorkers() const;

 private:
  struct Worker {
    std::jthread thread;
    std::atomic<bool> done{false};
  };
  /// Joins workers that have ended. Caller holds m_mutex.
  void ReapLocked();

  IOutputSink& m_sink;
  std::shared_ptr<IFormPoster> m_poster;
  std::shared_ptr<ISleeper> m_sleeper;
  UpdateTexts m_texts;
  mutable std::mutex m_mutex;  // guards m_workers and m_stopped
  std::list<Worker> m_workers;
  bool m_stopped = false;
};

}  // namespace halvard::internet
