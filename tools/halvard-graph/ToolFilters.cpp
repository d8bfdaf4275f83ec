#include "tools/halvard-graph/ToolFilters.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/media/Streams.h"

namespace halvard::graphtool {
namespace {

using Clock = std::chrono::steady_clock;

// {2052CF2B-8120-49B0-8315-D83AD6A2FE21}
constexpr GUID kClsidRawSource{0x2052CF2B, 0x8120, 0x49B0, {0x83, 0x15, 0xD8, 0x3A, 0xD6, 0xA2, 0xFE, 0x21}};
// {0EB02049-8D78-4A63-8B19-3DBE342CC94A}
constexpr GUID kClsidRawSink{0x0EB02049, 0x8D78, 0x4A63, {0x8B, 0x19, 0x3D, 0xBE, 0x34, 0x2C, 0xC9, 0x4A}};

HRESULT FileError(int err) {
  switch (err) {
    case ENOENT:
      return HRESULT_FROM_WIN32(2);  // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM:
      return E_ACCESSDENIED;
    default:
      return E_FAIL;
  }
}

bool ParseNumber(const std::string& text, long long minimum, long long maximum, long long* value) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < minimum || v > maximum) {
    return false;
  }
  *value = v;
  return true;
}

// ---- raw-file source ----------------------------------------------------------------------

class CRawSource;

class CRawSourcePin final : public CSourceStream {
 public:
  CRawSourcePin(HRESULT* phr, CSource* filter) : CSourceStream(L"Raw source pin", phr, filter, L"Output") {}
  ~CRawSourcePin() override { CloseFile(); }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (pmt == nullptr) {
      return E_POINTER;
    }
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > 0) {
      return VFW_S_NO_MORE_ITEMS;
    }
    std::lock_guard guard(m_settingsLock);
    const REFERENCE_TIME frame = m_rate > 0 ? UNITS / m_rate : UNITS / 25;
    *pmt = media::MakeVideoType(m_rgb ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_YUY2, m_width, m_height, frame);
    return S_OK;
  }
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    CMediaType mine;
    if (pmt == nullptr || GetMediaType(0, &mine) != S_OK) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return mine == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    if (alloc == nullptr || request == nullptr) {
      return E_POINTER;
    }
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, FrameBytes());
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < FrameBytes() ? E_FAIL : S_OK;
  }
  HRESULT OnThreadCreate() override {
    std::lock_guard guard(m_settingsLock);
    if (m_file == nullptr) {
      return VFW_E_NOT_FOUND;
    }
    std::rewind(m_file);
    m_framesThisRun = 0;
    m_next = Clock::now();
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) {
      return hr;
    }
    const LONG bytes = FrameBytes();
    std::lock_guard guard(m_settingsLock);
    if (m_limit > 0 && m_framesThisRun >= m_limit) {
      return S_FALSE;
    }
    std::size_t got = std::fread(data, 1, static_cast<std::size_t>(bytes), m_file);
    if (got < static_cast<std::size_t>(bytes) && m_loop && m_framesThisRun > 0) {
      std::rewind(m_file);
      got = std::fread(data, 1, static_cast<std::size_t>(bytes), m_file);
    }
    if (got < static_cast<std::size_t>(bytes)) {
      return S_FALSE;  // end of the file: end of the stream (a partial frame is dropped)
    }
    if (m_rate > 0) {
      const auto period = std::chrono::nanoseconds(1'000'000'000LL / m_rate);
      std::this_thread::sleep_until(m_next);
      m_next = std::max(m_next + period, Clock::now() - 4 * period);
    }
    const REFERENCE_TIME frame = m_rate > 0 ? UNITS / m_rate : 0;
    REFERENCE_TIME start = m_framesThisRun * frame;
    REFERENCE_TIME stop = start + frame;
    if (m_rate > 0) {
      sample->SetTime(&start, &stop);
    } else {
      sample->SetTime(nullptr, nullptr);
    }
    sample->SetActualDataLength(bytes);
    sample->SetSyncPoint(TRUE);
    ++m_framesThisRun;
    ++m_frames;
    ++m_channels[data[0]];
    return S_OK;
  }

  HRESULT SetProperty(const std::string& key, const std::string& value, std::string* error) {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) {
      return VFW_E_NOT_STOPPED;
    }
    std::lock_guard guard(m_settingsLock);
    long long n = 0;
    if (key == "location") {
      CloseFile();
      m_file = std::fopen(value.c_str(), "rb");
      if (m_file == nullptr) {
        *error = "cannot open \"" + value + "\"";
        return FileError(errno);
      }
      return S_OK;
    }
    if (key == "width" || key == "height") {
      if (!ParseNumber(value, 2, 8192, &n) || (key == "width" && n % 2 != 0)) {
        *error = key + " must be a number from 2 to 8192 (an even width)";
        return E_INVALIDARG;
      }
      (key == "width" ? m_width : m_height) = static_cast<LONG>(n);
      return S_OK;
    }
    if (key == "format") {
      if (value != "YUY2" && value != "RGB24") {
        *error = "format must be YUY2 or RGB24";
        return E_INVALIDARG;
      }
      m_rgb = value == "RGB24";
      return S_OK;
    }
    if (key == "rate") {
      if (!ParseNumber(value, 0, 1000, &n)) {
        *error = "rate must be 0 ... 1000 frames per second";
        return E_INVALIDARG;
      }
      m_rate = static_cast<int>(n);
      return S_OK;
    }
    if (key == "loop") {
      if (!ParseNumber(value, 0, 1, &n)) {
        *error = "loop must be 0 or 1";
        return E_INVALIDARG;
      }
      m_loop = n == 1;
      return S_OK;
    }
    if (key == "frames") {
      if (!ParseNumber(value, 0, 1LL << 40, &n)) {
        *error = "frames must be a number";
        return E_INVALIDARG;
      }
      m_limit = n;
      return S_OK;
    }
    *error = "rawsrc has no property \"" + key + "\"";
    return E_INVALIDARG;
  }

  void SetLimit(LONGLONG frames) {
    std::lock_guard guard(m_settingsLock);
    m_limit = frames;
  }
  [[nodiscard]] LONGLONG Frames() const { return m_frames; }
  [[nodiscard]] LONGLONG ChannelFrames(LONG channel) const { return m_channels[static_cast<std::size_t>(channel)]; }

 private:
  LONG FrameBytes() const {
    const LONG stride = m_rgb ? ((m_width * 3 + 3) & ~3) : m_width * 2;
    return stride * m_height;
  }
  void CloseFile() {
    if (m_file != nullptr) {
      std::fclose(m_file);
      m_file = nullptr;
    }
  }

  std::mutex m_settingsLock;  // the settings and the file; the streaming thread reads them
  std::FILE* m_file = nullptr;
  LONG m_width = 320;
  LONG m_height = 240;
  bool m_rgb = false;
  int m_rate = 25;
  bool m_loop = false;
  LONGLONG m_limit = 0;
  LONGLONG m_framesThisRun = 0;
  Clock::time_point m_next{};
  std::atomic<LONGLONG> m_frames{0};
  std::array<std::atomic<LONGLONG>, 256> m_channels{};
};

class CRawSource final : public CSource, public CFrameCounter, public IToolProperties {
 public:
  explicit CRawSource(HRESULT* phr) : CSource(L"Raw file source", nullptr, kClsidRawSource, phr) {
    m_pin = new (std::nothrow) CRawSourcePin(phr, this);
    if (m_pin == nullptr && phr != nullptr) {
      *phr = E_OUTOFMEMORY;
    }
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFrameCounter) {
      return GetInterface(static_cast<IFrameCounter*>(this), ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
  }
  // IFrameCounter
  LONGLONG CountedFrames() override { return m_pin->Frames(); }
  LONGLONG CountedChannelFrames(LONG channel) override { return m_pin->ChannelFrames(channel); }
  HRESULT LimitFrames(LONGLONG frames) override {
    m_pin->SetLimit(frames);
    return S_OK;
  }
  HRESULT SetProperty(const std::string& key, const std::string& value, std::string* error) override {
    return m_pin->SetProperty(key, value, error);
  }

 private:
  CRawSourcePin* m_pin = nullptr;  // owned by CSource
};

// ---- raw-file sink ------------------------------------------------------------------------

class CRawSink;

class CRawSinkPin final : public CBaseInputPin {
 public:
  CRawSinkPin(HRESULT* phr, CBaseFilter* filter, CCritSec* lock)
      : CBaseInputPin(L"Raw sink pin", filter, lock, phr, L"In") {}
  ~CRawSinkPin() override { CloseFile(); }

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    if (pmt == nullptr || *pmt->Type() != MEDIATYPE_Video || GetVideoInfoHeader(*pmt) == nullptr) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const GUID& s = *pmt->Subtype();
    return s == MEDIASUBTYPE_YUY2 || s == MEDIASUBTYPE_RGB24 || s == MEDIASUBTYPE_RGB32 ? S_OK
                                                                                          : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) {
      return hr;
    }
    BYTE* data = nullptr;
    hr = sample->GetPointer(&data);
    if (FAILED(hr)) {
      return hr;
    }
    const LONG length = sample->GetActualDataLength();
    std::lock_guard guard(m_fileLock);
    if (length > 0) {
      ++m_channels[data[0]];
    }
    ++m_frames;
    if (m_file != nullptr && length > 0 &&
        std::fwrite(data, 1, static_cast<std::size_t>(length), m_file) != static_cast<std::size_t>(length)) {
      // A full disk ends the stream with an error rather than a silently short file.
      Filter()->NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
      return E_FAIL;
    }
    return S_OK;
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) {
      return hr;
    }
    {
      std::lock_guard guard(m_fileLock);
      if (m_file != nullptr) {
        std::fflush(m_file);
      }
    }
    Filter()->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
  }
  HRESULT Inactive() override {
    {
      std::lock_guard guard(m_fileLock);
      if (m_file != nullptr) {
        std::fflush(m_file);
      }
    }
    return CBaseInputPin::Inactive();
  }

  HRESULT SetLocation(const std::string& path, std::string* error) {
    std::lock_guard guard(m_fileLock);
    CloseFile();
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
      *error = "cannot create \"" + path + "\"";
      return FileError(errno);
    }
    return S_OK;
  }
  [[nodiscard]] LONGLONG Frames() const { return m_frames; }
  [[nodiscard]] LONGLONG ChannelFrames(LONG channel) const { return m_channels[static_cast<std::size_t>(channel)]; }

 private:
  void CloseFile() {
    if (m_file != nullptr) {
      std::fclose(m_file);
      m_file = nullptr;
    }
  }
  std::mutex m_fileLock;
  std::FILE* m_file = nullptr;
  std::atomic<LONGLONG> m_frames{0};
  std::array<std::atomic<LONGLONG>, 256> m_channels{};
};

class CRawSink final : public CBaseFilter, public CFrameCounter, public IToolProperties {
 public:
  explicit CRawSink(HRESULT* phr) : CBaseFilter(L"Raw file sink", nullptr, &m_lock, kClsidRawSink, phr) {
    m_pin = std::make_unique<CRawSinkPin>(phr, this, &m_lock);
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFrameCounter) {
      return GetInterface(static_cast<IFrameCounter*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  // IFrameCounter
  LONGLONG CountedFrames() override { return m_pin->Frames(); }
  LONGLONG CountedChannelFrames(LONG channel) override { return m_pin->ChannelFrames(channel); }

  HRESULT SetProperty(const std::string& key, const std::string& value, std::string* error) override {
    CAutoLock lock(&m_lock);
    if (!IsStopped()) {
      return VFW_E_NOT_STOPPED;
    }
    if (key == "location") {
      return m_pin->SetLocation(value, error);
    }
    *error = "the sink has no property \"" + key + "\"";
    return E_INVALIDARG;
  }

 private:
  CCritSec m_lock;
  std::unique_ptr<CRawSinkPin> m_pin;
};

template <class T>
HRESULT Make(IBaseFilter** filter, IToolProperties** properties) {
  if (filter == nullptr || properties == nullptr) {
    return E_POINTER;
  }
  *filter = nullptr;
  *properties = nullptr;
  HRESULT hr = S_OK;
  auto* object = new (std::nothrow) T(&hr);
  if (object == nullptr) {
    return E_OUTOFMEMORY;
  }
  object->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) {
    hr = object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter));
  }
  if (SUCCEEDED(hr)) {
    *properties = object;
  }
  object->NonDelegatingRelease();
  return hr;
}

}  // namespace

HRESULT CreateRawSource(IBaseFilter** filter, IToolProperties** properties) {
  return Make<CRawSource>(filter, properties);
}

HRESULT CreateRawSink(IBaseFilter** filter, IToolProperties** properties) {
  return Make<CRawSink>(filter, properties);
}

}  // namespace halvard::graphtool
