#include "server/internet/UpdateWorker.h"

#include <chrono>
#include <condition_variable>
#include <system_error>

#include "server/internet/AddressDiscovery.h"
#include "server/settings/Settings.h"

namespace halvard::internet {

HRESULT CSteadySleeper::Sleep(DWORD periodMs, std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  // Nothing notifies this variable: the wait ends at the period or at a stop request.
  static_cast<void>(wake.wait_for(lock, stop, std::chrono::milliseconds(periodMs), [] { return false; }));
  return stop.stop_requested() ? S_FALSE : S_OK;
}

void RunUpdateWorker(const std::string& group, const std::string& camera, IOutputSink& sink, IFormPoster& poster,
                     ISleeper& sleeper, std::stop_token stop, const UpdateTexts& texts) {
  for (int pass = 0; pass < kUpdatePasses; ++pass) {
    if (sleeper.Sleep(kUpdatePassDelayMs, stop) != S_OK) {
      return;
    }
    if (settings::kPrivacyNoIpUpdate.Read(group, camera) != 0) {
      continue;
    }
    for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
      const std::string host = settings::ReadInternetServer(slot);
      if (stop.stop_requested()) {
        return;
      }
      if (!host.empty()) {
        PostUpdate(group, camera, host, kUpdatePage, sink, poster, texts, stop);
      }
    }
    const std::string address = CameraAddress(group, camera);
    if (IsPrivateAddress(address)) {
      Report(sink, PrivateAddressLine(address, texts));
    }
  }
}

CDirectoryUpdater::CDirectoryUpdater(IOutputSink& sink, std::shared_ptr<IFormPoster> poster,
                                     std::shared_ptr<ISleeper> sleeper, UpdateTexts texts)
    : m_sink(sink),
      m_poster(poster ? std::move(poster) : std::make_shared<CCurlFormPoster>()),
      m_sleeper(sleeper ? std::move(sleeper) : std::make_shared<CSteadySleeper>()),
      m_texts(std::move(texts)) {}

CDirectoryUpdater::~CDirectoryUpdater() { Stop(); }

bool CDirectoryUpdater::Start(std::string group, std::string camera) {
  const std::lock_guard lock(m_mutex);
  if (m_stopped) {
    return false;
  }
  ReapLocked();
  Worker& worker = m_workers.emplace_back();
  try {
    worker.thread = std::jthread([this, &worker, group = std::move(group),
                                  camera = std::move(camera)](std::stop_token stop) {
      RunUpdateWorker(group, camera, m_sink, *m_poster, *m_sleeper, stop, m_texts);
      worker.done = true;
    });
  } catch (const std::system_error&) {
    m_workers.pop_back();
    return false;
  }
  return true;
}

void CDirectoryUpdater::Stop() {
  std::list<Worker> workers;
  {
    const std::lock_guard lock(m_mutex);
    m_stopped = true;
    workers.splice(workers.end(), m_workers);
  }
  for (Worker& worker : workers) {
    worker.thread.request_stop();
  }
  for (Worker& worker : workers) {
    if (worker.thread.joinable()) {
      worker.thread.join();
    }
  }
}

std::size_t CDirectoryUpdater::RunningWorkers() const {
  const std::lock_guard lock(m_mutex);
  std::size_t running = 0;
  for (const Worker& worker : m_workers) {
    running += worker.done ? 0 : 1;
  }
  return running;
}

void CDirectoryUpdater::ReapLocked() {
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    if (it->done) {
      it->thread.join();
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace halvard::internet
