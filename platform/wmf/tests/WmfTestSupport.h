#pragma once
// Helpers of the Windows Media tests: profiles like the recording profile, a
// simulated camera (moving, noisy pictures and a tone), and ffprobe's view of a file.

#include <map>
#include <string>
#include <vector>

#include "platform/wmf/AsfEngine.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf::testing {

struct ProfileSpec {
  LONG width = 320;
  LONG height = 240;
  DWORD frameRate = 30;
  DWORD videoBitrate = 400000;
  DWORD audioRate = 8000;
  WORD audioChannels = 1;
  DWORD audioBitrate = 24000;
  bool withAudio = true;
};

/// A two-stream profile (audio 1 "Audio", video 2 "Video") from the codec list.
[[nodiscard]] ComPtr<IWMProfile> MakeProfile(const ProfileSpec& spec);

/// Pictures of a simulated camera: a moving gradient with noise, I420 or YUY2.
class CSyntheticCamera {
 public:
  CSyntheticCamera(LONG width, LONG height, PixelFormat format = PixelFormat::I420);
  /// The picture of frame n (the buffer is reused).
  const std::vector<BYTE>& Frame(int n);
  [[nodiscard]] VideoInput Input() const;

 private:
  LONG m_width;
  LONG m_height;
  PixelFormat m_format;
  std::vector<BYTE> m_buffer;
  std::uint32_t m_seed = 12345;
};

/// A simulated camera with a microphone: feeds video at the profile's frame rate and
/// a tone in 20 ms buffers into a writing engine, continuing where it stopped.
class CSimulatedSource {
 public:
  CSimulatedSource(LONG width, LONG height, PixelFormat format = PixelFormat::I420) : m_camera(width, height, format) {}
  /// Feeds the next `seconds`; returns the first failure.
  [[nodiscard]] HRESULT Feed(CAsfEngine& engine, double seconds);
  [[nodiscard]] double FedSeconds() const { return static_cast<double>(m_frame) * m_frameTime / 1e7; }

 private:
  CSyntheticCamera m_camera;
  int m_frame = 0;
  double m_frameTime = 333333;
  REFERENCE_TIME m_audioTime = 0;
  std::uint64_t m_sample = 0;
};

/// Feeds `seconds` from the start of a new source.
[[nodiscard]] HRESULT FeedSeconds(CAsfEngine& engine, CSyntheticCamera& camera, double seconds);

/// ffprobe's answer as key=value pairs: "stream0.codec_name", "format.duration", ...
[[nodiscard]] std::map<std::string, std::string> Probe(const std::string& target);

/// Seconds of video FFmpeg decodes from a file (last decoded frame's time), or -1.
[[nodiscard]] double DecodedSeconds(const std::string& path);

}  // namespace halvard::wmf::testing
