#include "platform/media/VideoRenderer.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/media/BaseFilter.h"
#include "platform/media/ColourConversion.h"
#include "platform/media/PosPassThru.h"
#include "platform/media/VideoSurface.h"

namespace halvard::media {
namespace {

class CVideoRenderer;

class CRendererInputPin final : public CBaseInputPin {
 public:
  CRendererInputPin(CVideoRenderer* renderer, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT ReceiveCanBlock() override { return S_OK; }

 private:
  CVideoRenderer* m_renderer;
};

/// Seeking passed upstream, except the current position, which the renderer knows from
/// the last picture it presented.
class CRendererPosition final : public CPosPassThru {
 public:
  CRendererPosition(LPUNKNOWN outer, HRESULT* phr, IPin* pin, CVideoRenderer* renderer)
      : CPosPassThru(L"Renderer position", outer, phr, pin), m_renderer(renderer) {}
  HRESULT GetCurrentPosition(LONGLONG* current) override;

 private:
  CVideoRenderer* m_renderer;
};

bool IsSupportedVideo(const CMediaType& mt) {
  if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo) {
    return false;
  }
  const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
  return bmi != nullptr && IsConvertibleSubtype(mt.subtype) && bmi->biBitCount == BitCountOf(mt.subtype) &&
         bmi->biWidth > 0 && bmi->biHeight != 0 && bmi->biWidth <= 16384 && bmi->biHeight <= 16384 &&
         bmi->biHeight >= -16384;
}

class CVideoRenderer final : public CBaseFilter,
                             public IVideoWindow,
                             public IBasicVideo,
                             public IVideoFrameStep,
                             public IVideoSurfaceHost {
 public:
  CVideoRenderer() : CBaseFilter(L"Video renderer", nullptr, &m_filterLock, CLSID_VideoRenderer) {
    HRESULT hr = S_OK;
    m_pin = std::make_unique<CRendererInputPin>(this, &m_filterLock, &hr);
    m_position = std::make_unique<CRendererPosition>(GetOwner(), &hr, static_cast<IPin*>(m_pin.get()), this);
  }
  ~CVideoRenderer() override {
    if (m_surface != nullptr) {
      m_surface->Release();
    }
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IVideoWindow) {
      return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    }
    if (riid == IID_IBasicVideo) {
      return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    }
    if (riid == IID_IVideoFrameStep) {
      return GetInterface(static_cast<IVideoFrameStep*>(this), ppv);
    }
    if (riid == IID_IVideoSurfaceHost) {
      return GetInterface(static_cast<IVideoSurfaceHost*>(this), ppv);
    }
    if (riid == IID_IMediaSeeking) {
      return m_position->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Stop() override {
    {
      std::lock_guard lock(m_renderLock);
      m_stopping = true;
      m_stepRemaining = 0;
    }
    m_wake.notify_all();
    const HRESULT hr = CBaseFilter::Stop();
    std::lock_guard lock(m_renderLock);
    m_stopping = false;
    m_prerolled = false;
    m_eos = false;
    m_completeSent = false;
    return hr;
  }

  HRESULT Pause() override {
    const bool fromStopped = m_State == State_Stopped;
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) {
      return hr;
    }
    {
      std::lock_guard lock(m_renderLock);
      if (fromStopped) {
        m_prerolled = false;
        m_lastTimeValid = false;
      } else {
        m_prerolled = true;  // the picture shown while running stays
      }
    }
    m_wake.notify_all();
    AutoShow();
    return hr;
  }

  HRESULT Run(REFERENCE_TIME start) override {
    const HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr)) {
      return hr;
    }
    bool complete = false;
    {
      std::lock_guard lock(m_renderLock);
      complete = m_eos && !m_completeSent;
      m_completeSent = m_completeSent || complete;
    }
    m_wake.notify_all();
    AutoShow();
    if (complete) {
      (void)NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    return hr;
  }

  // ---- streaming (called by the pin) ----

  HRESULT Render(IMediaSample* sample) {
    std::unique_lock lock(m_renderLock);
    bool shown = false;
    for (;;) {
      if (m_stopping || m_pin->IsFlushing()) {
        return S_OK;
      }
      if (m_State == State_Paused) {
        if (!m_prerolled) {
          Present(sample, lock);
          m_prerolled = true;
          shown = true;
        } else if (m_stepRemaining > 0 && !shown) {
          Present(sample, lock);
          shown = true;
          if (--m_stepRemaining == 0) {
            lock.unlock();
            (void)NotifyEvent(EC_STEP_COMPLETE, FALSE, 0);
            lock.lock();
          } else {
            return S_OK;  // more steps: take the next sample at once
          }
        }
        // Hold the sample until something changes. One that is not shown yet (it
        // arrived after a pause from running) is shown at its time after Run, or by
        // the next step.
        const LONG stepsBefore = m_stepRemaining;
        m_wake.wait(lock, [&] {
          return m_State != State_Paused || m_stopping || m_pin->IsFlushing() || m_stepRemaining != stepsBefore;
        });
        if (shown) {
          return S_OK;
        }
        continue;
      }
      if (m_State != State_Running) {
        return VFW_E_WRONG_STATE;
      }
      REFERENCE_TIME start = 0;
      REFERENCE_TIME stop = 0;
      if (SUCCEEDED(sample->GetTime(&start, &stop)) && m_pClock != nullptr) {
        REFERENCE_TIME now = 0;
        (void)m_pClock->GetTime(&now);
        const REFERENCE_TIME due = m_tStart + start;
        if (due > now && due - now < 10 * UNITS) {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds((due - now) * 100);
          m_wake.wait_until(lock, deadline,
                            [&] { return m_State != State_Running || m_stopping || m_pin->IsFlushing(); });
          if (m_stopping || m_pin->IsFlushing()) {
            return S_OK;
          }
          if (m_State == State_Paused) {
            continue;  // paused before its time: the picture shown stays
          }
        }
      }
      Present(sample, lock);
      return S_OK;
    }
  }

  HRESULT OnEndOfStream() {
    bool complete = false;
    {
      std::lock_guard lock(m_renderLock);
      m_eos = true;
      if (m_State == State_Running && !m_completeSent) {
        complete = true;
        m_completeSent = true;
      }
    }
    if (complete) {
      (void)NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    return S_OK;
  }

  void OnFlush(bool begin) {
    {
      std::lock_guard lock(m_renderLock);
      if (begin) {
        m_eos = false;
        m_completeSent = false;
      } else {
        m_prerolled = false;
        m_lastTimeValid = false;  // the next picture belongs to the new segment
      }
    }
    m_wake.notify_all();
  }

  void OnConnected() {
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(m_pin->CurrentMediaType());
    std::lock_guard lock(m_renderLock);
    if (bmi != nullptr) {
      m_videoWidth = bmi->biWidth;
      m_videoHeight = bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight;
      if (!m_windowSized) {
        m_window.width = m_videoWidth;
        m_window.height = m_videoHeight;
      }
      m_source = RECT{0, 0, m_videoWidth, m_videoHeight};
      m_destination = RECT{0, 0, m_window.width, m_window.height};
      m_defaultSource = m_defaultDestination = true;
    }
    if (m_surface == nullptr) {
      m_surface = CreateDefaultVideoSurface();
    }
  }

  bool LastSampleTime(REFERENCE_TIME* time) {
    std::lock_guard lock(m_renderLock);
    if (!m_lastTimeValid) {
      return false;
    }
    // Sample times count from the segment's start and are divided by its rate.
    *time = static_cast<REFERENCE_TIME>(static_cast<double>(m_lastTime) * m_pin->CurrentRate()) +
            m_pin->CurrentStartTime();
    return true;
  }

  // ---- IVideoSurfaceHost ----
  HRESULT SetSurface(IVideoSurface* surface) override {
    VideoWindowState state;
    {
      std::lock_guard lock(m_renderLock);
      if (surface != nullptr) {
        surface->AddRef();
      }
      if (m_surface != nullptr) {
        m_surface->Release();
      }
      m_surface = surface;
      state = m_window;
    }
    if (surface != nullptr) {
      (void)surface->SetWindowState(state);
    }
    return S_OK;
  }
  HRESULT GetSurface(IVideoSurface** surface) override {
    if (surface == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_renderLock);
    *surface = m_surface;
    if (m_surface == nullptr) {
      return S_FALSE;
    }
    m_surface->AddRef();
    return S_OK;
  }

  // ---- IVideoFrameStep ----
  HRESULT Step(DWORD frames, IUnknown* stepObject) override {
    if (stepObject != nullptr) {
      return E_INVALIDARG;
    }
    if (frames == 0) {
      return E_INVALIDARG;
    }
    if (m_State == State_Stopped) {
      return VFW_E_WRONG_STATE;
    }
    {
      std::lock_guard lock(m_renderLock);
      m_stepRemaining = static_cast<LONG>(frames);
    }
    m_wake.notify_all();
    return S_OK;
  }
  HRESULT CanStep(LONG /*multiple*/, IUnknown* stepObject) override {
    if (stepObject != nullptr) {
      return E_INVALIDARG;
    }
    return m_pin->IsConnected() ? S_OK : S_FALSE;
  }
  HRESULT CancelStep() override {
    std::lock_guard lock(m_renderLock);
    m_stepRemaining = 0;
    return S_OK;
  }

  // ---- IVideoWindow ----
#define HALVARD_CONNECTED          \
  if (!m_pin->IsConnected()) {     \
    return VFW_E_NOT_CONNECTED;    \
  }
#define HALVARD_PUT(name, field, type)  \
  HRESULT put_##name(type v) override { \
    HALVARD_CONNECTED                   \
    UpdateWindow([&] { field = v; });   \
    return S_OK;                        \
  }
#define HALVARD_GET(name, expr, type)   \
  HRESULT get_##name(type* v) override { \
    if (v == nullptr) {                  \
      return E_POINTER;                  \
    }                                    \
    HALVARD_CONNECTED                    \
    std::lock_guard lock(m_renderLock);  \
    *v = (expr);                         \
    return S_OK;                         \
  }

  HRESULT put_Caption(BSTR caption) override {
    HALVARD_CONNECTED
    UpdateWindow([&] { m_window.caption = caption != nullptr ? caption : L""; });
    return S_OK;
  }
  HRESULT get_Caption(BSTR* caption) override {
    if (caption == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    *caption = SysAllocString(m_window.caption.c_str());
    return *caption == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HALVARD_PUT(WindowStyle, m_window.style, LONG)
  HALVARD_GET(WindowStyle, m_window.style, LONG)
  HALVARD_PUT(WindowStyleEx, m_styleEx, LONG)
  HALVARD_GET(WindowStyleEx, m_styleEx, LONG)
  HRESULT put_AutoShow(LONG v) override {
    HALVARD_CONNECTED
    UpdateWindow([&] { m_window.autoShow = v != OAFALSE; });
    return S_OK;
  }
  HALVARD_GET(AutoShow, m_window.autoShow ? OATRUE : OAFALSE, LONG)
  HRESULT put_WindowState(LONG v) override {
    HALVARD_CONNECTED
    UpdateWindow([&] {
      m_window.windowState = v;
      m_window.visible = v != SW_HIDE && v != SW_MINIMIZE && v != SW_SHOWMINIMIZED;
    });
    return S_OK;
  }
  HALVARD_GET(WindowState, m_window.windowState, LONG)
  HALVARD_PUT(BackgroundPalette, m_backgroundPalette, LONG)
  HALVARD_GET(BackgroundPalette, m_backgroundPalette, LONG)
  HRESULT put_Visible(LONG v) override {
    HALVARD_CONNECTED
    UpdateWindow([&] { m_window.visible = v != OAFALSE; });
    return S_OK;
  }
  HALVARD_GET(Visible, m_window.visible ? OATRUE : OAFALSE, LONG)
  HALVARD_PUT(Left, m_window.left, LONG)
  HALVARD_GET(Left, m_window.left, LONG)
  HALVARD_PUT(Top, m_window.top, LONG)
  HALVARD_GET(Top, m_window.top, LONG)
  HRESULT put_Width(LONG v) override { return SetWindowPosition(m_window.left, m_window.top, v, m_window.height); }
  HALVARD_GET(Width, m_window.width, LONG)
  HRESULT put_Height(LONG v) override { return SetWindowPosition(m_window.left, m_window.top, m_window.width, v); }
  HALVARD_GET(Height, m_window.height, LONG)
  HRESULT put_Owner(OAHWND v) override {
    HALVARD_CONNECTED
    UpdateWindow([&] { m_window.owner = static_cast<HWND>(v); });
    return S_OK;
  }
  HALVARD_GET(Owner, static_cast<OAHWND>(m_window.owner), OAHWND)
  HRESULT put_MessageDrain(OAHWND v) override {
    HALVARD_CONNECTED
    UpdateWindow([&] { m_window.messageDrain = static_cast<HWND>(v); });
    return S_OK;
  }
  HALVARD_GET(MessageDrain, static_cast<OAHWND>(m_window.messageDrain), OAHWND)
  HALVARD_GET(BorderColor, m_borderColor, LONG)
  HALVARD_PUT(BorderColor, m_borderColor, LONG)
  HALVARD_GET(FullScreenMode, OAFALSE, LONG)
  HRESULT put_FullScreenMode(LONG v) override {
    HALVARD_CONNECTED
    return v == OAFALSE ? S_OK : E_NOTIMPL;  // full screen belongs to the owner window here
  }
  HRESULT SetWindowForeground(LONG /*focus*/) override {
    HALVARD_CONNECTED
    return S_OK;
  }
  HRESULT NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) override {
    HALVARD_CONNECTED
    return S_OK;
  }
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    HALVARD_CONNECTED
    if (width < 0 || height < 0) {
      return E_INVALIDARG;
    }
    UpdateWindow([&] {
      m_window.left = left;
      m_window.top = top;
      m_window.width = width;
      m_window.height = height;
      m_windowSized = true;
      if (m_defaultDestination) {
        m_destination = RECT{0, 0, width, height};
      }
    });
    return S_OK;
  }
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    *left = m_window.left;
    *top = m_window.top;
    *width = m_window.width;
    *height = m_window.height;
    return S_OK;
  }
  HRESULT GetMinIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) override { return GetVideoSize(width, height); }
  HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetWindowPosition(left, top, width, height);
  }
  HRESULT HideCursor(LONG hide) override {
    HALVARD_CONNECTED
    m_cursorHidden = hide != OAFALSE;
    return S_OK;
  }
  HRESULT IsCursorHidden(LONG* hidden) override {
    if (hidden == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    *hidden = m_cursorHidden ? OATRUE : OAFALSE;
    return S_OK;
  }

  // ---- IBasicVideo ----
  HRESULT get_AvgTimePerFrame(REFTIME* time) override {
    if (time == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(m_pin->CurrentMediaType());
    *time = vih == nullptr ? 0.0 : static_cast<double>(vih->AvgTimePerFrame) / static_cast<double>(UNITS);
    return S_OK;
  }
  HRESULT get_BitRate(LONG* rate) override {
    if (rate == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(m_pin->CurrentMediaType());
    *rate = vih == nullptr ? 0 : static_cast<LONG>(vih->dwBitRate);
    return S_OK;
  }
  HRESULT get_BitErrorRate(LONG* rate) override {
    if (rate == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(m_pin->CurrentMediaType());
    *rate = vih == nullptr ? 0 : static_cast<LONG>(vih->dwBitErrorRate);
    return S_OK;
  }
  HALVARD_GET(VideoWidth, m_videoWidth, LONG)
  HALVARD_GET(VideoHeight, m_videoHeight, LONG)


  HRESULT put_SourceLeft(LONG v) override { return MoveRect(m_source, m_defaultSource, 0, v); }
  HRESULT get_SourceLeft(LONG* v) override { return GetRectPart(m_source, 0, v); }
  HRESULT put_SourceWidth(LONG v) override { return MoveRect(m_source, m_defaultSource, 2, v); }
  HRESULT get_SourceWidth(LONG* v) override { return GetRectPart(m_source, 2, v); }
  HRESULT put_SourceTop(LONG v) override { return MoveRect(m_source, m_defaultSource, 1, v); }
  HRESULT get_SourceTop(LONG* v) override { return GetRectPart(m_source, 1, v); }
  HRESULT put_SourceHeight(LONG v) override { return MoveRect(m_source, m_defaultSource, 3, v); }
  HRESULT get_SourceHeight(LONG* v) override { return GetRectPart(m_source, 3, v); }
  HRESULT put_DestinationLeft(LONG v) override { return MoveRect(m_destination, m_defaultDestination, 0, v); }
  HRESULT get_DestinationLeft(LONG* v) override { return GetRectPart(m_destination, 0, v); }
  HRESULT put_DestinationWidth(LONG v) override { return MoveRect(m_destination, m_defaultDestination, 2, v); }
  HRESULT get_DestinationWidth(LONG* v) override { return GetRectPart(m_destination, 2, v); }
  HRESULT put_DestinationTop(LONG v) override { return MoveRect(m_destination, m_defaultDestination, 1, v); }
  HRESULT get_DestinationTop(LONG* v) override { return GetRectPart(m_destination, 1, v); }
  HRESULT put_DestinationHeight(LONG v) override { return MoveRect(m_destination, m_defaultDestination, 3, v); }
  HRESULT get_DestinationHeight(LONG* v) override { return GetRectPart(m_destination, 3, v); }
  HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override {
    HALVARD_CONNECTED
    if (width <= 0 || height <= 0 || left < 0 || top < 0 || left + width > m_videoWidth ||
        top + height > m_videoHeight) {
      return E_INVALIDARG;
    }
    std::lock_guard lock(m_renderLock);
    m_source = RECT{left, top, left + width, top + height};
    m_defaultSource = false;
    return S_OK;
  }
  HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetRect(m_source, left, top, width, height);
  }
  HRESULT SetDefaultSourcePosition() override {
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    m_source = RECT{0, 0, m_videoWidth, m_videoHeight};
    m_defaultSource = true;
    return S_OK;
  }
  HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override {
    HALVARD_CONNECTED
    if (width <= 0 || height <= 0) {
      return E_INVALIDARG;
    }
    std::lock_guard lock(m_renderLock);
    m_destination = RECT{left, top, left + width, top + height};
    m_defaultDestination = false;
    return S_OK;
  }
  HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return GetRect(m_destination, left, top, width, height);
  }
  HRESULT SetDefaultDestinationPosition() override {
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    m_destination = RECT{0, 0, m_window.width, m_window.height};
    m_defaultDestination = true;
    return S_OK;
  }
  HRESULT GetVideoSize(LONG* width, LONG* height) override {
    if (width == nullptr || height == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    *width = m_videoWidth;
    *height = m_videoHeight;
    return S_OK;
  }
  HRESULT GetVideoPaletteEntries(LONG, LONG, LONG* retrieved, LONG*) override {
    if (retrieved != nullptr) {
      *retrieved = 0;
    }
    HALVARD_CONNECTED
    return VFW_E_NO_PALETTE_AVAILABLE;
  }
  HRESULT GetCurrentImage(LONG* bufferSize, LONG* dib) override {
    if (bufferSize == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    if (m_lastFrame.empty()) {
      return E_UNEXPECTED;  // nothing has been shown yet
    }
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(m_pin->CurrentMediaType());
    if (bmi == nullptr) {
      return E_UNEXPECTED;
    }
    const LONG needed = static_cast<LONG>(sizeof(BITMAPINFOHEADER) + m_lastFrame.size());
    if (dib == nullptr) {
      *bufferSize = needed;
      return S_OK;
    }
    if (*bufferSize < needed) {
      *bufferSize = needed;
      return E_OUTOFMEMORY;
    }
    BITMAPINFOHEADER header = *bmi;
    header.biSizeImage = static_cast<DWORD>(m_lastFrame.size());
    std::memcpy(dib, &header, sizeof(header));
    std::memcpy(reinterpret_cast<BYTE*>(dib) + sizeof(header), m_lastFrame.data(), m_lastFrame.size());
    *bufferSize = needed;
    return S_OK;
  }
  HRESULT IsUsingDefaultSource() override {
    HALVARD_CONNECTED
    return m_defaultSource ? S_OK : S_FALSE;
  }
  HRESULT IsUsingDefaultDestination() override {
    HALVARD_CONNECTED
    return m_defaultDestination ? S_OK : S_FALSE;
  }

 private:
  template <class F>
  void UpdateWindow(F change) {
    VideoWindowState state;
    IVideoSurface* surface = nullptr;
    {
      std::lock_guard lock(m_renderLock);
      change();
      state = m_window;
      surface = m_surface;
      if (surface != nullptr) {
        surface->AddRef();
      }
    }
    if (surface != nullptr) {
      (void)surface->SetWindowState(state);
      surface->Release();
    }
  }

  void AutoShow() {
    if (m_pin->IsConnected() && m_window.autoShow && !m_window.visible) {
      UpdateWindow([&] { m_window.visible = true; });
    }
  }

  HRESULT MoveRect(RECT& rect, bool& isDefault, int part, LONG v) {
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    RECT r = rect;
    switch (part) {
      case 0:
        r.right = v + (r.right - r.left);
        r.left = v;
        break;
      case 1:
        r.bottom = v + (r.bottom - r.top);
        r.top = v;
        break;
      case 2:
        if (v <= 0) {
          return E_INVALIDARG;
        }
        r.right = r.left + v;
        break;
      default:
        if (v <= 0) {
          return E_INVALIDARG;
        }
        r.bottom = r.top + v;
        break;
    }
    if (&rect == &m_source &&
        (r.left < 0 || r.top < 0 || r.right > m_videoWidth || r.bottom > m_videoHeight)) {
      return E_INVALIDARG;
    }
    rect = r;
    isDefault = false;
    return S_OK;
  }

  HRESULT GetRectPart(const RECT& rect, int part, LONG* v) {
    if (v == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    *v = part == 0 ? rect.left : part == 1 ? rect.top : part == 2 ? rect.right - rect.left : rect.bottom - rect.top;
    return S_OK;
  }

  HRESULT GetRect(const RECT& rect, LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
      return E_POINTER;
    }
    HALVARD_CONNECTED
    std::lock_guard lock(m_renderLock);
    *left = rect.left;
    *top = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
  }

  // Called with m_renderLock held; drops it around the surface call.
  void Present(IMediaSample* sample, std::unique_lock<std::mutex>& lock) {
    BYTE* data = nullptr;
    (void)sample->GetPointer(&data);
    ConstPictureRef picture{};
    if (!DescribePicture(m_pin->CurrentMediaType(), data, sample->GetActualDataLength(), &picture)) {
      return;  // a sample smaller than its picture is not shown
    }
    REFERENCE_TIME start = -1;
    REFERENCE_TIME stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
      m_lastTime = start;
      m_lastTimeValid = true;
    } else {
      start = -1;
    }
    const std::size_t bytes = static_cast<std::size_t>(picture.stride) * static_cast<std::size_t>(picture.height);
    m_lastFrame.assign(data, data + bytes);
    IVideoSurface* surface = m_surface;
    if (surface == nullptr) {
      return;
    }
    surface->AddRef();
    lock.unlock();
    const VideoFrameView view{picture.data,  picture.stride, picture.width, picture.height,
                              picture.subtype, picture.bottomUp, start};
    (void)surface->Present(view);
    surface->Release();
    lock.lock();
  }

#undef HALVARD_CONNECTED
#undef HALVARD_PUT
#undef HALVARD_GET

  CCritSec m_filterLock;
  std::unique_ptr<CRendererInputPin> m_pin;
  std::unique_ptr<CRendererPosition> m_position;
  std::mutex m_renderLock;  // everything below
  std::condition_variable m_wake;
  IVideoSurface* m_surface = nullptr;  // counted
  bool m_prerolled = false;
  bool m_stopping = false;
  bool m_eos = false;
  bool m_completeSent = false;
  LONG m_stepRemaining = 0;
  REFERENCE_TIME m_lastTime = 0;
  bool m_lastTimeValid = false;
  std::vector<BYTE> m_lastFrame;
  VideoWindowState m_window{0, 0, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 0, 0, false, true, SW_SHOWNORMAL, L""};
  bool m_windowSized = false;
  LONG m_styleEx = 0;
  LONG m_backgroundPalette = OAFALSE;
  LONG m_borderColor = 0;
  bool m_cursorHidden = false;
  LONG m_videoWidth = 0;
  LONG m_videoHeight = 0;
  RECT m_source{};
  RECT m_destination{};
  bool m_defaultSource = true;
  bool m_defaultDestination = true;
};

CRendererInputPin::CRendererInputPin(CVideoRenderer* renderer, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Renderer input", renderer, lock, phr, L"Input"), m_renderer(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
  return IsSupportedVideo(*pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
  if (SUCCEEDED(hr)) {
    m_renderer->OnConnected();
  }
  return hr;
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  return m_renderer->Render(sample);
}

HRESULT CRendererInputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  return m_renderer->OnEndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
  (void)CBaseInputPin::BeginFlush();
  m_renderer->OnFlush(true);
  return S_OK;
}

HRESULT CRendererInputPin::EndFlush() {
  m_renderer->OnFlush(false);
  return CBaseInputPin::EndFlush();
}

HRESULT CRendererPosition::GetCurrentPosition(LONGLONG* current) {
  if (current == nullptr) {
    return E_POINTER;
  }
  GUID format = TIME_FORMAT_MEDIA_TIME;
  (void)GetTimeFormat(&format);
  REFERENCE_TIME time = 0;
  if (m_renderer->LastSampleTime(&time)) {
    if (format == TIME_FORMAT_MEDIA_TIME) {
      *current = time;
      return S_OK;
    }
    // Another format (frames): the source converts the time of the picture shown.
    if (SUCCEEDED(ConvertTimeFormat(current, &format, time, &TIME_FORMAT_MEDIA_TIME))) {
      return S_OK;
    }
  }
  return CPosPassThru::GetCurrentPosition(current);
}

}  // namespace

HRESULT CreateVideoRenderer(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* renderer = new (std::nothrow) CVideoRenderer();
  if (renderer == nullptr) {
    return E_OUTOFMEMORY;
  }
  renderer->NonDelegatingAddRef();
  const HRESULT hr = renderer->NonDelegatingQueryInterface(riid, ppv);
  renderer->NonDelegatingRelease();
  return hr;
}

}  // namespace halvard::media
