#pragma once
/// The writer's engine: encodes video with FFmpeg's wmv1 encoder and audio with its
/// wmav2 encoder, multiplexes both into ASF and hands the header, every data packet
/// and the trailer to each sink as soon as FFmpeg produces them. The writer filter
/// drives it from its input pins; tests and benchmarks drive it directly.
///
/// Threads: Configure, Begin, End and the sink list on a control thread; WriteVideo
/// and WriteAudio on streaming threads (one per stream, both at once). Encoding runs
/// under a per-stream lock, multiplexing and delivery to the sinks under one lock.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/wmf/AsfFormat.h"
#include "platform/wmf/Wmf.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVIOContext;
struct AVFrame;
struct SwsContext;

namespace halvard::wmf {

/// Largest picture the writer encodes (what the capture chain can produce).
inline constexpr LONG kMaxVideoWidth = 1280;
inline constexpr LONG kMaxVideoHeight = 960;

struct AsfAudioSettings {
  WORD streamNumber = 0;
  std::string connectionName;
  WMWAVEFORMATEX wave{};
  DWORD bitrate = 0;
};

struct AsfVideoSettings {
  WORD streamNumber = 0;
  std::string connectionName;
  LONG width = 0;
  LONG height = 0;
  DWORD bitrate = 0;
  REFERENCE_TIME frameTime = 0;  ///< average time per frame, 100-ns
  DWORD quality = 0;             ///< 0 smooth motion .. 100 sharp pictures
  LONGLONG keySpacing = 0;       ///< maximum key-frame spacing, 100-ns (0 = 8 s)
};

/// What the engine takes from a profile: at most one audio and one video stream.
struct AsfSettings {
  std::optional<AsfAudioSettings> audio;
  std::optional<AsfVideoSettings> video;
};

/// Reads a profile through its public interfaces. Results: S_OK; E_POINTER;
/// NS_E_INVALID_STREAM (no stream, a second stream of a kind, a stream without a
/// usable media type, an audio format other than Windows Media Audio 2 or a video
/// format other than WMV1, a frame time of 0); NS_E_INVALID_INPUT_FORMAT (a picture
/// larger than 1280 x 960 or with an odd side).
[[nodiscard]] HRESULT ReadAsfSettings(IWMProfile* profile, AsfSettings* settings);

/// Uncompressed input pictures the video pin accepts.
enum class PixelFormat { I420, Yuy2, Rgb24 };

/// One input picture. RGB24 rows are bottom-up (a positive bitmap height).
struct VideoInput {
  PixelFormat format = PixelFormat::I420;
  LONG width = 0;
  LONG height = 0;
  const BYTE* data = nullptr;
  std::size_t bytes = 0;
};

/// Bytes of one packed input picture (I420 with tightly packed planes).
[[nodiscard]] std::size_t VideoInputBytes(PixelFormat format, LONG width, LONG height);

class CAsfEngine {
 public:
  CAsfEngine();
  ~CAsfEngine();
  CAsfEngine(const CAsfEngine&) = delete;
  CAsfEngine& operator=(const CAsfEngine&) = delete;

  /// Takes the streams to write. VFW_E_WRONG_STATE while writing.
  [[nodiscard]] HRESULT Configure(const AsfSettings& settings);
  [[nodiscard]] const AsfSettings& Settings() const { return m_settings; }

  /// The writer's own output file, written like any file sink (empty: none).
  [[nodiscard]] HRESULT SetFileName(const std::string& path);
  [[nodiscard]] std::string FileName() const;

  [[nodiscard]] HRESULT AddSink(IWMWriterSink* sink);
  [[nodiscard]] HRESULT RemoveSink(IWMWriterSink* sink);
  [[nodiscard]] std::vector<ComPtr<IWMWriterSink>> Sinks() const;

  /// Opens the encoders and the multiplexer and sends the header to every sink.
  /// NS_E_NOT_CONFIGURED without a configuration; the own file's open result;
  /// E_FAIL when FFmpeg refuses the settings.
  [[nodiscard]] HRESULT Begin();
  /// Encodes one picture starting at `start` (100-ns from Begin). Pictures closer
  /// than one frame time to the previous one are dropped (S_FALSE). `keepAlive`, when
  /// given, holds the data until the encoder is done with it (no copy of I420 input).
  /// Results: S_OK; S_FALSE (dropped); VFW_E_WRONG_STATE (not writing); E_INVALIDARG
  /// (bad size or buffer); the first failure of a file sink or the own file, which
  /// stops the writer: every later call gives it again.
  [[nodiscard]] HRESULT WriteVideo(const VideoInput& input, REFERENCE_TIME start,
                                   std::shared_ptr<const void> keepAlive = nullptr);
  /// Adds 16-bit PCM at the audio stream's rate and channel count. Results as
  /// WriteVideo; timing follows the sample count from the first buffer's start.
  [[nodiscard]] HRESULT WriteAudio(const BYTE* pcm, std::size_t bytes, REFERENCE_TIME start);
  /// Flushes the encoders, writes the trailer, completes every file. The first
  /// failure of the stream (or of the trailer) is returned.
  [[nodiscard]] HRESULT End();

  [[nodiscard]] bool IsWriting() const;
  /// Frames encoded and ASF packets produced since Begin.
  [[nodiscard]] std::uint64_t VideoFrames() const;
  [[nodiscard]] std::uint64_t Packets() const;

 private:
  static int WritePacketThunk(void* opaque, std::uint8_t* buf, int size);
  static std::int64_t SeekThunk(void* opaque, std::int64_t offset, int whence);
  int OnBytes(const BYTE* data, std::size_t size);
  std::int64_t OnSeek(std::int64_t offset, int whence);
  HRESULT Mux(void* packet, int streamIndex);
  void WriteInterleaved(bool flushAll);  // under m_muxMutex
  HRESULT DrainEncoder(AVCodecContext* codec, int streamIndex);
  void EmitPackets(bool final);
  void DeliverHeader(IWMWriterSink* sink);
  void DeliverPacket(const BYTE* packet, DWORD flags);
  void Fail(HRESULT hr);
  void CloseOutputs();
  HRESULT OpenVideoEncoder();
  HRESULT OpenAudioEncoder();
  HRESULT EncodeAudioFrames(bool flush);

  AsfSettings m_settings;
  bool m_configured = false;

  mutable std::mutex m_muxMutex;  // muxer, byte routing, sink list, state
  std::vector<ComPtr<IWMWriterSink>> m_sinks;
  ComPtr<IWMWriterFileSink2> m_ownFile;
  std::string m_fileName;
  bool m_writing = false;
  HRESULT m_failure = S_OK;
  AVFormatContext* m_format = nullptr;
  AVIOContext* m_io = nullptr;
  int m_videoIndex = -1;
  int m_audioIndex = -1;
  // Byte routing of the multiplexer's output.
  enum class Phase { Header, Data, Trailer };
  Phase m_phase = Phase::Header;
  std::int64_t m_pos = 0;
  std::vector<BYTE> m_header;
  asf::HeaderInfo m_headerInfo;
  std::vector<BYTE> m_pending;  // data bytes not yet a whole packet
  std::vector<BYTE> m_finalHeader;
  std::vector<BYTE> m_trailer;
  std::uint64_t m_packets = 0;
  // Interleaving: encoded packets wait until no stream can deliver an earlier one.
  std::vector<std::deque<void*>> m_queues;  // AVPacket* per stream, in time order
  std::vector<std::int64_t> m_lastQueuedMs;
  std::int64_t m_newestMs = 0;
  std::int64_t m_lastWrittenMs = 0;

  std::mutex m_videoMutex;
  AVCodecContext* m_video = nullptr;
  AVFrame* m_videoFrame = nullptr;
  AVFrame* m_convertFrame = nullptr;  // conversion target, reused
  SwsContext* m_sws = nullptr;
  std::int64_t m_lastVideoPts = -1;
  std::uint64_t m_videoFrames = 0;

  std::mutex m_audioMutex;
  AVCodecContext* m_audio = nullptr;
  AVFrame* m_audioFrame = nullptr;
  std::vector<std::vector<float>> m_audioFifo;  // per channel
  std::int64_t m_audioPts = -1;                 // samples, next frame's first sample
};

}  // namespace halvard::wmf
