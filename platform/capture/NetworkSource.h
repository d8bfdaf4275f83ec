#pragma once
/// The reader of a network camera: its own thread opens the camera's address with the
/// FFmpeg libraries, decodes whatever video they decode, scales every picture to the
/// chosen capture size and layout (keeping the camera's aspect ratio, black bars around)
/// and keeps at most two pictures for the capture pin; when the pin is slower the oldest
/// picture is dropped and counted. Nothing the network does blocks the caller: Take
/// waits at most the time it is given, and every blocking library call is interrupted
/// when Stop is asked, so Stop returns within about 100 ms (2 s at worst).
///
/// Connection loss: when the camera cannot be opened, or sends nothing for kSilenceLimit,
/// the reader posts kEventNetworkCameraOffline once (with the failure), writes one line
/// on standard error, and tries again after 1, 2, 4, ... up to 30 s, for ever; the first
/// picture after that posts kEventNetworkCameraBack. A camera whose address has a scheme
/// that is not taken is reported once and not tried again.
///
/// Time: each picture carries the moment it was taken on the steady clock, from the
/// camera's own time stamps anchored at the arrival of the first picture of a
/// connection; a camera clock that runs ahead of arrival, behind by more than a second,
/// or backwards is anchored again.
///
/// Lines and logs name the camera and show its address with MaskUrl only.
///
/// Threads: SetFormat and Probe only while stopped; Start, Stop and Take from the
/// streaming side (one thread at a time); the counters and NativeSize from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/CaptureFormats.h"
#include "platform/capture/NetworkCamera.h"
#include "platform/media/Types.h"

struct AVFrame;

namespace halvard::capture {

class CNetworkReader {
 public:
  /// How long a camera may send nothing before it counts as lost.
  static constexpr std::chrono::seconds kSilenceLimit{5};
  /// The longest wait between two attempts.
  static constexpr std::chrono::seconds kMaxBackOff{30};

  /// Receives the two events (code, param1) on the reader thread.
  using EventSink = std::function<void(LONG code, LONG_PTR param1)>;

  CNetworkReader(std::string name, std::string url);
  ~CNetworkReader();
  CNetworkReader(const CNetworkReader&) = delete;
  CNetworkReader& operator=(const CNetworkReader&) = delete;

  void SetEventSink(EventSink sink);
  void SetFormat(FrameSize size, PixelLayout layout);

  /// Opens the camera once, waiting at most `limit`, to learn its picture size; S_OK or
  /// the failure (kNet*). Only while stopped.
  HRESULT Probe(std::chrono::milliseconds limit);
  /// The camera's picture size as last seen (by Probe or a decoded picture).
  [[nodiscard]] std::optional<FrameSize> NativeSize() const;

  /// Starts the thread (a picture queue left from an earlier run is emptied). S_OK.
  HRESULT Start();
  /// Ends the thread; returns within 2 s whatever the camera does.
  void Stop();

  /// Copies the oldest queued picture into dst (bytes must hold the chosen format) and
  /// gives the moment it was taken. S_OK; S_FALSE when none came within `wait`;
  /// E_INVALIDARG when bytes is too small.
  HRESULT Take(BYTE* dst, std::size_t bytes, std::chrono::milliseconds wait,
               std::chrono::steady_clock::time_point* taken);

  [[nodiscard]] std::int64_t Decoded() const { return m_decoded; }
  [[nodiscard]] std::int64_t Dropped() const { return m_dropped; }
  [[nodiscard]] std::int64_t Connections() const { return m_connections; }
  [[nodiscard]] bool Online() const { return m_online; }
  [[nodiscard]] const std::string& Name() const { return m_name; }

 private:
  struct Session;
  struct Picture {
    std::vector<BYTE> data;
    std::chrono::steady_clock::time_point taken;
  };

  void Run();
  // Opens the camera into s; S_OK or a kNet* failure.
  HRESULT Open(Session& s, std::chrono::steady_clock::duration limit);
  // Reads and decodes until the stream fails or a stop is asked; the failure.
  HRESULT Pump(Session& s, bool* gotPicture);
  void Deliver(Session& s, const AVFrame* frame);
  void Report(LONG code, HRESULT failure);
  // Waits up to `d` unless a stop is asked; false when it was.
  bool Pause(std::chrono::steady_clock::duration d);
  static int Interrupt(void* self);

  const std::string m_name;
  const std::string m_url;
  const std::optional<NetworkAddress> m_address;
  FrameSize m_size{320, 240};
  PixelLayout m_layout = PixelLayout::Yuy2;
  EventSink m_sink;

  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<std::int64_t> m_deadlineNs{0};  // steady clock; 0: none
  std::mutex m_lock;                          // guards the queue, the native size
  std::condition_variable m_wake;             // a picture came, or a stop was asked
  std::deque<Picture> m_queue;
  std::vector<std::vector<BYTE>> m_spare;
  std::optional<FrameSize> m_native;
  std::atomic<std::int64_t> m_decoded{0};
  std::atomic<std::int64_t> m_dropped{0};
  std::atomic<std::int64_t> m_connections{0};
  std::atomic<bool> m_online{false};
  bool m_reportedOffline = false;  // reader thread: a loss was reported, no return yet
};

}  // namespace halvard::capture
