#include "platform/capture/CaptureSource.h"

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/capture/CardState.h"
#include "platform/capture/NetworkSource.h"
#include "platform/capture/SimulatedCard.h"
#include "platform/capture/V4l2Device.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/Streams.h"

// {7A548023-C68E-483C-8479-77169C78D350}
HALVARD_DEFINE_GUID(CLSID_HalvardV4l2Capture, 0x7A548023, 0xC68E, 0x483C, 0x84, 0x79, 0x77, 0x16, 0x9C, 0x78, 0xD3, 0x50);
// {3F0C2B9E-6A41-4D7B-9E2C-51B7A4C0D812}
HALVARD_DEFINE_GUID(CLSID_HalvardNetworkCapture, 0x3F0C2B9E, 0x6A41, 0x4D7B, 0x9E, 0x2C, 0x51, 0xB7, 0xA4, 0xC0, 0xD8,
                    0x12);

namespace halvard::capture {
namespace {

using Clock = std::chrono::steady_clock;

// Seconds since local midnight: what the simulated cameras' clocks show.
std::uint32_t LocalClockSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<std::uint32_t>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

void CopyName(WCHAR (&dst)[64], const std::wstring& name) {
  std::wcsncpy(dst, name.c_str(), 63);
  dst[63] = 0;
}

// ---- backends ----------------------------------------------------------------------

// What produces the pictures. Format and standard change only while the pin is stopped;
// Capture runs on the streaming thread; controls on any thread. The pin serialises
// every call with its backend lock.
class CCaptureBackend {
 public:
  virtual ~CCaptureBackend() = default;
  [[nodiscard]] virtual DWORD Standards() const = 0;
  virtual HRESULT SetStandard(DWORD standard) = 0;
  virtual HRESULT SetFormat(FrameSize size, PixelLayout layout) = 0;
  virtual HRESULT Start() = 0;
  virtual void Stop() = 0;
  // S_OK: a frame is in dst (its channel in *channel); S_FALSE: none yet, ask again;
  // a failure ends the stream. Waits at most about one frame time.
  virtual HRESULT Capture(BYTE* dst, std::size_t bytes, int* channel) = 0;
  virtual std::vector<CAPTURE_DEVICE_CONTROL> Controls() = 0;
  virtual HRESULT SetControl(LONG index, LONG value) = 0;
  // A size offered beside the four capture sizes (a network camera's own), fixed for
  // the backend's life.
  [[nodiscard]] virtual std::optional<FrameSize> ExtraSize() const { return std::nullopt; }
  // How long ago the frame that Capture gave last was taken (100-ns units).
  [[nodiscard]] virtual REFERENCE_TIME LastFrameAge() const { return 0; }
  // The filter that posts the backend's events; called once by the pin.
  virtual void AttachFilter(CBaseFilter* /*filter*/) {}
};

class CSimulatedBackend final : public CCaptureBackend {
 public:
  explicit CSimulatedBackend(int card) : m_card(card) {}
  [[nodiscard]] DWORD Standards() const override { return kSimulatedStandards; }
  HRESULT SetStandard(DWORD standard) override {
    m_card.SetStandard(standard);
    return S_OK;
  }
  HRESULT SetFormat(FrameSize size, PixelLayout layout) override {
    m_card.SetFormat(size, layout);
    return S_OK;
  }
  HRESULT Start() override {
    m_card.Restart();
    m_next = Clock::now();
    return S_OK;
  }
  void Stop() override {}
  HRESULT Capture(BYTE* dst, std::size_t bytes, int* channel) override {
    if (SimulatedCardUnplugged(m_card.Card())) {
      return VFW_E_NO_CAPTURE_HARDWARE;
    }
    const auto period = std::chrono::nanoseconds(m_card.FrameDuration() * 100);
    const auto now = Clock::now();
    if (now < m_next) {
      // Sleep in short slices so that a stop request is seen soon.
      std::this_thread::sleep_for(std::min<Clock::duration>(m_next - now, std::chrono::milliseconds(20)));
      if (Clock::now() < m_next) {
        return S_FALSE;
      }
    }
    // A late consumer does not make the card rush: it never runs more than a few
    // frames behind its schedule.
    m_next = std::max(m_next + period, Clock::now() - 4 * period);
    *channel = m_card.NextFrame(dst, bytes, LocalClockSeconds());
    return *channel < 0 ? S_FALSE : S_OK;
  }
  std::vector<CAPTURE_DEVICE_CONTROL> Controls() override {
    const CardSnapshot s = GetCardState(m_card.Card());
    std::vector<CAPTURE_DEVICE_CONTROL> list;
    CAPTURE_DEVICE_CONTROL c{{}, 0, kMultiplexSource, 1, kMultiplexSource, s.source};
    CopyName(c.name, L"Video Source");
    list.push_back(c);
    static constexpr const wchar_t* kNames[] = {L"Brightness", L"Contrast", L"Saturation", L"Hue"};
    for (int input = 0; input < kCardInputs; ++input) {
      const PictureControls& p = s.inputs[input];
      const DWORD values[] = {p.brightness, p.contrast, p.saturation, p.hue};
      for (int k = 0; k < 4; ++k) {
        c = {{}, 0, static_cast<LONG>(kControlMax), 1, static_cast<LONG>(kControlNeutral), static_cast<LONG>(values[k])};
        CopyName(c.name, L"Input " + std::to_wstring(input) + L" " + kNames[k]);
        list.push_back(c);
      }
    }
    for (int input = 0; input < kCardInputs; ++input) {
      c = {{}, 0, 1, 1, 1, (s.enabledMask >> input) & 1 ? 1 : 0};
      CopyName(c.name, L"Input " + std::to_wstring(input) + L" Enabled");
      list.push_back(c);
    }
    c = {{}, 0, 1, 1, 0, s.inputs[0].agc ? 1 : 0};
    CopyName(c.name, L"Automatic Gain");
    list.push_back(c);
    return list;
  }
  HRESULT SetControl(LONG index, LONG value) override {
    const std::vector<CAPTURE_DEVICE_CONTROL> list = Controls();
    if (index < 0 || index >= static_cast<LONG>(list.size())) {
      return E_INVALIDARG;
    }
    const CAPTURE_DEVICE_CONTROL& c = list[static_cast<std::size_t>(index)];
    if (value < c.minimum || value > c.maximum) {
      return E_INVALIDARG;
    }
    const int card = m_card.Card();
    if (index == 0) {
      SetCardSource(card, value);
    } else if (index <= 16) {
      const int input = (index - 1) / 4;
      static constexpr PictureControl kControls[] = {PictureControl::Brightness, PictureControl::Contrast,
                                                     PictureControl::Saturation, PictureControl::Hue};
      SetCardControl(card, input, kControls[(index - 1) % 4], static_cast<DWORD>(value));
    } else if (index <= 20) {
      SetCardInputEnabled(card, index - 17, value != 0);
    } else {
      SetCardAgc(card, value != 0);
    }
    return S_OK;
  }

 private:
  CSimulatedCard m_card;
  Clock::time_point m_next{};
};

class CV4l2Backend final : public CCaptureBackend {
 public:
  CV4l2Backend(int card, std::string node) : m_card(card), m_node(std::move(node)) {}
  HRESULT Open() { return m_device.Open(m_node); }
  [[nodiscard]] DWORD Standards() const override { return m_device.Standards(); }
  HRESULT SetStandard(DWORD standard) override { return m_device.SetStandard(standard); }
  HRESULT SetFormat(FrameSize size, PixelLayout layout) override {
    m_size = size;
    m_layout = layout;
    return m_device.SetFormat(size, layout);
  }
  HRESULT Start() override {
    m_previous = -1;
    m_current = -1;
    m_generation = ~0u;
    m_skip = 0;
    return m_device.Start();
  }
  void Stop() override { m_device.Stop(); }
  HRESULT Capture(BYTE* dst, std::size_t bytes, int* channel) override {
    int input = 0;
    if (m_card >= 0) {
      // A card of the multiplexing family: follow the card library's settings.
      const CardSnapshot s = GetCardState(m_card);
      const int inputs = std::min(m_device.InputCount(), kCardInputs);
      const DWORD mask = s.enabledMask & ((1u << std::max(inputs, 0)) - 1);
      input = NextMuxChannel(m_previous, mask, s.source, m_size.height < 480);
      if (input < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return S_FALSE;
      }
      if (input != m_current) {
        if (FAILED(m_device.SetInput(input))) {
          return E_FAIL;
        }
        m_current = input;
        m_skip = m_previous < 0 ? 0 : 1;  // the first frame after a switch is torn
        m_device.ApplyPictureControls(s.inputs[input]);
        m_generation = s.generation;
      } else if (s.generation != m_generation) {
        m_device.ApplyPictureControls(s.inputs[input]);
        m_generation = s.generation;
      }
    }
    const HRESULT hr = m_device.ReadFrame(dst, bytes, 100);
    if (hr != S_OK) {
      return hr;
    }
    if (m_skip > 0) {
      --m_skip;
      return S_FALSE;
    }
    m_previous = input;
    if (m_card >= 0) {
      dst[0] = static_cast<BYTE>(input);
    }
    *channel = input;
    return S_OK;
  }
  std::vector<CAPTURE_DEVICE_CONTROL> Controls() override {
    std::vector<CAPTURE_DEVICE_CONTROL> list;
    for (const V4l2Control& v : m_device.Controls()) {
      CAPTURE_DEVICE_CONTROL c{{}, v.minimum, v.maximum, v.step, v.defaultValue, v.value};
      std::wstring name(v.name.begin(), v.name.end());
      CopyName(c.name, name);
      list.push_back(c);
    }
    return list;
  }
  HRESULT SetControl(LONG index, LONG value) override {
    const std::vector<V4l2Control> list = m_device.Controls();
    if (index < 0 || index >= static_cast<LONG>(list.size())) {
      return E_INVALIDARG;
    }
    const V4l2Control& c = list[static_cast<std::size_t>(index)];
    if (value < c.minimum || value > c.maximum) {
      return E_INVALIDARG;
    }
    return m_device.SetControlValue(c.id, value) ? S_OK : E_FAIL;
  }

 private:
  int m_card;
  std::string m_node;
  CV4l2Device m_device;
  FrameSize m_size{320, 240};
  PixelLayout m_layout = PixelLayout::Yuy2;
  int m_previous = -1;
  int m_current = -1;
  std::uint32_t m_generation = ~0u;
  int m_skip = 0;
};

// A network camera (NetworkSource.h): pictures come from the reader's queue, so a
// camera that goes away makes Capture answer "none yet", never a failure; the reader
// posts the offline and back events itself.
class CNetworkBackend final : public CCaptureBackend {
 public:
  // Opening a camera to learn its picture size may take this long at creation.
  static constexpr std::chrono::milliseconds kProbeLimit{1500};

  CNetworkBackend(std::string name, std::string url) : m_reader(std::move(name), std::move(url)) {}
  void ProbeSize() {
    if (SUCCEEDED(m_reader.Probe(kProbeLimit))) {
      const std::optional<FrameSize> size = m_reader.NativeSize();
      // A size of the table is offered anyway; a huge one is not offered at all.
      if (size && !IsCaptureSize(*size) && size->width <= 4096 && size->height <= 4096) {
        m_extra = size;
      }
    }
  }
  [[nodiscard]] DWORD Standards() const override { return kStandardPalB | kStandardNtscM; }
  HRESULT SetStandard(DWORD /*standard*/) override { return S_OK; }
  HRESULT SetFormat(FrameSize size, PixelLayout layout) override {
    m_reader.SetFormat(size, layout);
    return S_OK;
  }
  HRESULT Start() override { return m_reader.Start(); }
  void Stop() override { m_reader.Stop(); }
  HRESULT Capture(BYTE* dst, std::size_t bytes, int* channel) override {
    const HRESULT hr = m_reader.Take(dst, bytes, std::chrono::milliseconds(50), &m_taken);
    *channel = 0;
    return hr;
  }
  std::vector<CAPTURE_DEVICE_CONTROL> Controls() override { return {}; }
  HRESULT SetControl(LONG /*index*/, LONG /*value*/) override { return E_INVALIDARG; }
  [[nodiscard]] std::optional<FrameSize> ExtraSize() const override { return m_extra; }
  [[nodiscard]] REFERENCE_TIME LastFrameAge() const override {
    const auto age = std::chrono::steady_clock::now() - m_taken;
    return std::max<REFERENCE_TIME>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(age).count() / 100);
  }
  void AttachFilter(CBaseFilter* filter) override {
    // The reader runs only between Start and Stop, while the filter is in its graph.
    m_reader.SetEventSink([filter](LONG code, LONG_PTR param1) { (void)filter->NotifyEvent(code, param1, 0); });
  }

 private:
  CNetworkReader m_reader;
  std::optional<FrameSize> m_extra;
  std::chrono::steady_clock::time_point m_taken{};  // streaming thread
};

// ---- the filter ----------------------------------------------------------------------

struct FormatChoice {
  FrameSize size;
  PixelLayout layout;
};

// The formats in IAMStreamConfig order: the four sizes in YUY2, the four in RGB24, then
// the extra size (if any) in YUY2 and in RGB24.
FormatChoice FormatAt(int index, std::optional<FrameSize> extra) {
  if (index >= kCaptureFormatCount && extra) {
    return {*extra, index == kCaptureFormatCount ? PixelLayout::Yuy2 : PixelLayout::Rgb24};
  }
  return {kCaptureSizes[index % 4], index < 4 ? PixelLayout::Yuy2 : PixelLayout::Rgb24};
}

int FormatCount(std::optional<FrameSize> extra) { return kCaptureFormatCount + (extra ? 2 : 0); }

CMediaType MakeType(FormatChoice f, DWORD standard) {
  return media::MakeVideoType(f.layout == PixelLayout::Yuy2 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24, f.size.width,
                              f.size.height, StandardFrameDuration(standard));
}

// Reads the choice out of a type, forgiving sizes and bit counts that callers forget to
// update when they edit width, height and subtype of a type they got from GetFormat.
bool ParseType(const AM_MEDIA_TYPE* pmt, FormatChoice* f, std::optional<FrameSize> extra) {
  if (pmt == nullptr || pmt->majortype != MEDIATYPE_Video) {
    return false;
  }
  const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*pmt);
  if (vih == nullptr || pmt->formattype != FORMAT_VideoInfo) {
    return false;
  }
  if (pmt->subtype == MEDIASUBTYPE_YUY2) {
    f->layout = PixelLayout::Yuy2;
  } else if (pmt->subtype == MEDIASUBTYPE_RGB24) {
    f->layout = PixelLayout::Rgb24;
  } else {
    return false;
  }
  // RGB pictures are bottom-up DIBs; a negative (top-down) height is not offered.
  f->size = {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
  return IsCaptureSize(f->size) || (extra && f->size == *extra);
}

class CCaptureSource;

class CCapturePin final : public CSourceStream, public IAMStreamConfig, public IAMAnalogVideoDecoder {
 public:
  CCapturePin(HRESULT* phr, CCaptureSource* filter, std::unique_ptr<CCaptureBackend> backend);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMStreamConfig) {
      return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    }
    if (riid == IID_IAMAnalogVideoDecoder) {
      return GetInterface(static_cast<IAMAnalogVideoDecoder*>(this), ppv);
    }
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
  }

  // ---- media types ----
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > FormatCount(m_extra)) {
      return VFW_S_NO_MORE_ITEMS;
    }
    CAutoLock lock(m_pLock);
    // The current format first, then every format the pin can deliver.
    *pmt = MakeType(position == 0 ? m_format : FormatAt(position - 1, m_extra), m_standard);
    return S_OK;
  }
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    FormatChoice f{};
    if (!ParseType(pmt, &f, m_extra)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*pmt);
    const WORD bits = f.layout == PixelLayout::Yuy2 ? 16 : 24;
    if (vih->bmiHeader.biBitCount != bits) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
  }
  HRESULT SetMediaType(const CMediaType* pmt) override {
    FormatChoice f{};
    if (!ParseType(pmt, &f, m_extra)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const HRESULT hr = ApplyFormat(f);
    if (FAILED(hr)) {
      return hr;
    }
    return CSourceStream::SetMediaType(pmt);
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    if (alloc == nullptr || request == nullptr) {
      return E_POINTER;
    }
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(m_mt);
    if (vih == nullptr) {
      return VFW_E_INVALIDMEDIATYPE;
    }
    request->cBuffers = std::max<LONG>(request->cBuffers, 3);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(DIBSIZE(vih->bmiHeader)));
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  // ---- streaming ----
  HRESULT OnThreadCreate() override {
    // Format and standard change only while stopped, before this thread exists.
    m_streamFrameDuration = StandardFrameDuration(m_standard);
    m_streamFrameBytes = static_cast<LONG>(FrameBytes(m_format.layout, m_format.size));
    std::lock_guard guard(m_backendLock);
    m_framesThisRun = 0;
    return m_backend->Start();
  }
  HRESULT OnThreadDestroy() override {
    std::lock_guard guard(m_backendLock);
    m_backend->Stop();
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override;
  HRESULT DoBufferProcessingLoop() override;

  // ---- IAMStreamConfig ----
  HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;
  HRESULT GetFormat(AM_MEDIA_TYPE** pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    CMediaType current = MakeType(m_format, m_standard);
    *pmt = CreateMediaType(&current);
    return *pmt == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (count == nullptr || size == nullptr) {
      return E_POINTER;
    }
    *count = FormatCount(m_extra);
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
  }
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) override {
    if (pmt == nullptr || caps == nullptr) {
      return E_POINTER;
    }
    *pmt = nullptr;
    if (index < 0) {
      return E_INVALIDARG;
    }
    if (index >= FormatCount(m_extra)) {
      return S_FALSE;
    }
    CAutoLock lock(m_pLock);
    const FormatChoice f = FormatAt(index, m_extra);
    CMediaType type = MakeType(f, m_standard);
    *pmt = CreateMediaType(&type);
    if (*pmt == nullptr) {
      return E_OUTOFMEMORY;
    }
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    c.VideoStandard = StandardsLocked();
    c.InputSize = {f.size.width, f.size.height};
    c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = c.InputSize;
    c.CropGranularityX = c.CropGranularityY = c.CropAlignX = c.CropAlignY = 1;
    c.OutputGranularityX = c.OutputGranularityY = 1;
    c.MinFrameInterval = StandardFrameDuration(kStandardNtscM);
    c.MaxFrameInterval = StandardFrameDuration(kStandardPalB);
    const LONG bits = static_cast<LONG>(DIBSIZE(GetVideoInfoHeader(type)->bmiHeader)) * 8;
    c.MinBitsPerSecond = bits * 25;
    c.MaxBitsPerSecond = bits * 30;
    std::memcpy(caps, &c, sizeof c);
    return S_OK;
  }

  // ---- IAMAnalogVideoDecoder ----
  HRESULT get_AvailableTVFormats(LONG* standards) override {
    if (standards == nullptr) {
      return E_POINTER;
    }
    *standards = static_cast<LONG>(StandardsLocked());
    return S_OK;
  }
  HRESULT put_TVFormat(LONG standard) override {
    const DWORD s = static_cast<DWORD>(standard);
    // Exactly one standard, and one the device has.
    if (s == 0 || (s & (s - 1)) != 0 || (s & StandardsLocked()) == 0) {
      return E_INVALIDARG;
    }
    CAutoLock lock(m_pLock);
    if (!IsStopped()) {
      return VFW_E_NOT_STOPPED;
    }
    std::lock_guard guard(m_backendLock);
    const HRESULT hr = m_backend->SetStandard(s);
    if (SUCCEEDED(hr)) {
      m_standard = s;
    }
    return hr;
  }
  HRESULT get_TVFormat(LONG* standard) override {
    if (standard == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *standard = static_cast<LONG>(m_standard);
    return S_OK;
  }
  HRESULT get_HorizontalLocked(LONG* locked) override {
    if (locked == nullptr) {
      return E_POINTER;
    }
    *locked = 1;
    return S_OK;
  }
  HRESULT put_VCRHorizontalLocking(LONG locking) override {
    m_vcrLocking = locking != 0 ? 1 : 0;
    return S_OK;
  }
  HRESULT get_VCRHorizontalLocking(LONG* locking) override {
    if (locking == nullptr) {
      return E_POINTER;
    }
    *locking = m_vcrLocking;
    return S_OK;
  }
  HRESULT get_NumberOfLines(LONG* lines) override {
    if (lines == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *lines = StandardFrameRate(m_standard).denominator == 1001 ? 525 : 625;
    return S_OK;
  }
  HRESULT put_OutputEnable(LONG enable) override {
    m_outputEnable = enable != 0 ? 1 : 0;
    return S_OK;
  }
  HRESULT get_OutputEnable(LONG* enable) override {
    if (enable == nullptr) {
      return E_POINTER;
    }
    *enable = m_outputEnable;
    return S_OK;
  }

  // ---- for the filter ----
  std::vector<CAPTURE_DEVICE_CONTROL> Controls() {
    std::lock_guard guard(m_backendLock);
    return m_backend->Controls();
  }
  HRESULT SetControl(LONG index, LONG value) {
    std::lock_guard guard(m_backendLock);
    return m_backend->SetControl(index, value);
  }
  void SetFrameLimit(LONGLONG frames) { m_frameLimit = frames; }
  [[nodiscard]] LONGLONG Frames() const { return m_frames; }
  [[nodiscard]] LONGLONG ChannelFrames(int channel) const {
    return channel >= 0 && channel < kCardInputs ? m_channelFrames[static_cast<std::size_t>(channel)].load() : 0;
  }

 private:
  DWORD StandardsLocked() {
    std::lock_guard guard(m_backendLock);
    return m_backend->Standards();
  }
  HRESULT ApplyFormat(FormatChoice f) {
    std::lock_guard guard(m_backendLock);
    const HRESULT hr = m_backend->SetFormat(f.size, f.layout);
    if (SUCCEEDED(hr)) {
      m_format = f;
    }
    return hr;
  }
  // Waits for a frame; S_FALSE when a stop was requested meanwhile.
  HRESULT WaitForFrame(IMediaSample* sample, int* channel);

  std::mutex m_backendLock;  // serialises the backend; never held while delivering
  std::unique_ptr<CCaptureBackend> m_backend;
  std::optional<FrameSize> m_extra;  // the backend's, fixed
  FormatChoice m_format{{320, 240}, PixelLayout::Yuy2};
  DWORD m_standard;
  LONG m_vcrLocking = 0;
  LONG m_outputEnable = 1;
  std::atomic<LONGLONG> m_frameLimit{0};
  LONGLONG m_framesThisRun = 0;  // streaming thread
  REFERENCE_TIME m_lastStart = 0;  // streaming thread
  REFERENCE_TIME m_streamFrameDuration = 0;  // streaming thread
  LONG m_streamFrameBytes = 0;  // streaming thread
  std::atomic<LONGLONG> m_frames{0};
  std::array<std::atomic<LONGLONG>, kCardInputs> m_channelFrames{};
};

class CCaptureSource final : public CSource,
                             public ISpecifyPropertyPages,
                             public ICaptureDeviceControls,
                             public CFrameCounter {
 public:
  CCaptureSource(HRESULT* phr, REFCLSID clsid, std::unique_ptr<CCaptureBackend> backend)
      : CSource(L"Capture", nullptr, clsid, phr) {
    m_pin = new (std::nothrow) CCapturePin(phr, this, std::move(backend));
    if (m_pin == nullptr && phr != nullptr) {
      *phr = E_OUTOFMEMORY;
    }
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ISpecifyPropertyPages) {
      return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    }
    if (riid == IID_ICaptureDeviceControls) {
      return GetInterface(static_cast<ICaptureDeviceControls*>(this), ppv);
    }
    if (riid == IID_IFrameCounter) {
      return GetInterface(static_cast<IFrameCounter*>(this), ppv);
    }
    if (riid == IID_IAMAnalogVideoDecoder && m_pin != nullptr) {
      return m_pin->NonDelegatingQueryInterface(riid, ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
  }

  // ISpecifyPropertyPages
  HRESULT GetPages(CAUUID* pages) override {
    if (pages == nullptr) {
      return E_POINTER;
    }
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) {
      return E_OUTOFMEMORY;
    }
    pages->pElems[0] = CLSID_CaptureDeviceControlsPage;
    pages->cElems = 1;
    return S_OK;
  }

  // ICaptureDeviceControls
  HRESULT GetControlCount(LONG* count) override {
    if (count == nullptr) {
      return E_POINTER;
    }
    *count = static_cast<LONG>(m_pin->Controls().size());
    return S_OK;
  }
  HRESULT GetControl(LONG index, CAPTURE_DEVICE_CONTROL* control) override {
    if (control == nullptr) {
      return E_POINTER;
    }
    *control = {};
    const auto list = m_pin->Controls();
    if (index < 0 || index >= static_cast<LONG>(list.size())) {
      return E_INVALIDARG;
    }
    *control = list[static_cast<std::size_t>(index)];
    return S_OK;
  }
  HRESULT SetControl(LONG index, LONG value) override { return m_pin->SetControl(index, value); }

  // IFrameCounter
  LONGLONG CountedFrames() override { return m_pin->Frames(); }
  LONGLONG CountedChannelFrames(LONG channel) override { return m_pin->ChannelFrames(channel); }
  HRESULT LimitFrames(LONGLONG frames) override {
    m_pin->SetFrameLimit(frames);
    return S_OK;
  }

 private:
  CCapturePin* m_pin = nullptr;  // owned by CSource
};

CCapturePin::CCapturePin(HRESULT* phr, CCaptureSource* filter, std::unique_ptr<CCaptureBackend> backend)
    : CSourceStream(L"Capture pin", phr, filter, L"Capture"), m_backend(std::move(backend)) {
  SetCategory(PIN_CATEGORY_CAPTURE);
  m_extra = m_backend->ExtraSize();
  m_backend->AttachFilter(filter);
  const DWORD standards = m_backend->Standards();
  // PAL B when the device has it (the simulated card does), else its lowest standard.
  m_standard = (standards & kStandardPalB) != 0 || standards == 0 ? kStandardPalB : (standards & (~standards + 1));
  (void)m_backend->SetStandard(m_standard);
  // A device that refuses the first format fails at connection time, with the format
  // the caller then chooses.
  (void)m_backend->SetFormat(m_format.size, m_format.layout);
}

HRESULT CCapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  FormatChoice f{};
  if (!ParseType(pmt, &f, m_extra)) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  CAutoLock lock(m_pLock);
  if (!IsStopped()) {
    return VFW_E_NOT_STOPPED;
  }
  CMediaType type = MakeType(f, m_standard);
  if (IsConnected()) {
    if (GetConnected()->QueryAccept(&type) != S_OK) {
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  const HRESULT hr = ApplyFormat(f);
  if (FAILED(hr)) {
    return hr;
  }
  if (IsConnected()) {
    return m_pFilter->ReconnectPin(this, &type);
  }
  return S_OK;
}

HRESULT CCapturePin::WaitForFrame(IMediaSample* sample, int* channel) {
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) {
    return hr;
  }
  const auto size = static_cast<std::size_t>(sample->GetSize());
  for (;;) {
    Command command{};
    if (CheckRequest(&command)) {
      return S_FALSE;
    }
    {
      std::lock_guard guard(m_backendLock);
      hr = m_backend->Capture(data, size, channel);
    }
    if (hr != S_FALSE) {
      return hr;
    }
  }
}

HRESULT CCapturePin::FillBuffer(IMediaSample* sample) {
  int channel = 0;
  const HRESULT hr = WaitForFrame(sample, &channel);
  if (hr != S_OK) {
    return hr;
  }
  // Never the filter lock here: Stop holds it while it waits for this thread.
  const REFERENCE_TIME duration = m_streamFrameDuration;
  const LONG length = m_streamFrameBytes;
  // Live pictures are stamped with the stream time at which they were taken when the
  // graph runs with a clock, else with their place in the stream.
  REFERENCE_TIME start = m_framesThisRun * duration;
  CRefTime now;
  if (m_pFilter->State() == State_Running && SUCCEEDED(m_pFilter->StreamTime(now))) {
    // A picture that waited (a network camera's) is stamped when it was taken, but
    // never before the one delivered ahead of it.
    const REFERENCE_TIME age = m_backend->LastFrameAge();
    start = now - age;
    if (age > 0 && m_framesThisRun > 0 && start <= m_lastStart) {
      start = m_lastStart + 1;
    }
  }
  m_lastStart = start;
  REFERENCE_TIME stop = start + duration;
  sample->SetTime(&start, &stop);
  sample->SetActualDataLength(length);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(m_framesThisRun == 0 ? TRUE : FALSE);
  ++m_framesThisRun;
  ++m_frames;
  if (channel >= 0 && channel < kCardInputs) {
    ++m_channelFrames[static_cast<std::size_t>(channel)];
  }
  return S_OK;
}

HRESULT CCapturePin::DoBufferProcessingLoop() {
  for (;;) {
    Command command{};
    if (CheckRequest(&command)) {
      return S_OK;
    }
    const LONGLONG limit = m_frameLimit;
    if (limit > 0 && m_framesThisRun >= limit) {
      DeliverEndOfStream();
      return S_OK;
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      // A decommitted allocator: we are being stopped.
      return S_OK;
    }
    hr = FillBuffer(sample);
    if (hr == S_OK) {
      hr = Deliver(sample);
      sample->Release();
      if (hr != S_OK) {
        // Downstream wants no more (S_FALSE) or failed: the stream ends here.
        if (FAILED(hr) && hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_CONNECTED) {
          m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
        }
        DeliverEndOfStream();
        return S_OK;
      }
      continue;
    }
    sample->Release();
    if (hr == S_FALSE) {
      return S_OK;  // stop requested while waiting
    }
    m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
    DeliverEndOfStream();
    return hr;
  }
}

template <class Backend>
HRESULT MakeSource(std::unique_ptr<Backend> backend, REFCLSID clsid, REFIID riid, void** ppv) {
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CCaptureSource(&hr, clsid, std::move(backend));
  if (filter == nullptr) {
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) {
    hr = filter->NonDelegatingQueryInterface(riid, ppv);
  }
  filter->NonDelegatingRelease();
  return hr;
}

HRESULT CreateSimulatedCapture(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  return MakeSource(std::make_unique<CSimulatedBackend>(0), CLSID_HalvardSimulatedCapture, riid, ppv);
}

[[maybe_unused]] const bool kRegistered = [] {
  halvard::com::CoRegisterBuiltinClass(CLSID_HalvardSimulatedCapture, &CreateSimulatedCapture);
  media::AddKnownFilterClass(CLSID_HalvardSimulatedCapture, "Simulated capture card");
  return true;
}();

}  // namespace

HRESULT CreateCaptureSource(const CaptureDevice& device, REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (device.kind == DeviceKind::Simulated) {
    if (device.card < 0 || device.card >= SimulatedCardCount()) {
      return VFW_E_NO_CAPTURE_HARDWARE;
    }
    return MakeSource(std::make_unique<CSimulatedBackend>(device.card), CLSID_HalvardSimulatedCapture, riid, ppv);
  }
  if (device.kind == DeviceKind::Network) {
    auto backend = std::make_unique<CNetworkBackend>(device.friendlyName, device.url);
    backend->ProbeSize();
    return MakeSource(std::move(backend), CLSID_HalvardNetworkCapture, riid, ppv);
  }
  auto backend = std::make_unique<CV4l2Backend>(device.card, device.node);
  if (const HRESULT hr = backend->Open(); FAILED(hr)) {
    return hr;
  }
  return MakeSource(std::move(backend), CLSID_HalvardV4l2Capture, riid, ppv);
}

}  // namespace halvard::capture
