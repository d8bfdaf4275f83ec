#include "platform/media/VideoSurface.h"

#include <chrono>

#include "platform/media/ColourConversion.h"

namespace halvard::media {
namespace {

std::mutex g_factoryLock;
VideoSurfaceFactory& Factory() {
  static auto* factory = new VideoSurfaceFactory;
  return *factory;
}

}  // namespace

VideoSurfaceFactory SetVideoSurfaceFactory(VideoSurfaceFactory factory) {
  std::lock_guard lock(g_factoryLock);
  return std::exchange(Factory(), std::move(factory));
}

IVideoSurface* CreateDefaultVideoSurface() {
  VideoSurfaceFactory factory;
  {
    std::lock_guard lock(g_factoryLock);
    factory = Factory();
  }
  if (factory) {
    return factory();
  }
  return CMemorySurface::Create();
}

CCountingSurface::CCountingSurface() : CUnknown(L"Counting surface", nullptr) {}

CCountingSurface* CCountingSurface::Create() {
  auto* surface = new CCountingSurface();
  surface->NonDelegatingAddRef();
  return surface;
}

HRESULT CCountingSurface::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IVideoSurface) {
    return GetInterface(static_cast<IVideoSurface*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCountingSurface::Present(const VideoFrameView& /*frame*/) {
  ++m_frames;
  return S_OK;
}

HRESULT CCountingSurface::SetWindowState(const VideoWindowState& /*state*/) { return S_OK; }

CMemorySurface::CMemorySurface() : CUnknown(L"Memory surface", nullptr) {}

CMemorySurface* CMemorySurface::Create() {
  auto* surface = new (std::nothrow) CMemorySurface();
  if (surface != nullptr) {
    surface->NonDelegatingAddRef();
  }
  return surface;
}

HRESULT CMemorySurface::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IVideoSurface) {
    return GetInterface(static_cast<IVideoSurface*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMemorySurface::Present(const VideoFrameView& frame) {
  std::vector<BYTE> rgb(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height) * 3);
  const ConstPictureRef in{frame.data, frame.stride, frame.width, frame.height, frame.subtype, frame.bottomUp};
  const PictureRef out{rgb.data(), frame.width * 3, frame.width, frame.height, MEDIASUBTYPE_RGB24, false};
  if (!ConvertPicture(in, out)) {
    return E_INVALIDARG;
  }
  {
    std::lock_guard lock(m_lock);
    m_rgb.swap(rgb);
    m_width = frame.width;
    m_height = frame.height;
    ++m_frames;
  }
  m_arrived.notify_all();
  return S_OK;
}

HRESULT CMemorySurface::SetWindowState(const VideoWindowState& state) {
  std::lock_guard lock(m_lock);
  m_state = state;
  return S_OK;
}

LONG CMemorySurface::FrameCount() {
  std::lock_guard lock(m_lock);
  return m_frames;
}

VideoWindowState CMemorySurface::WindowState() {
  std::lock_guard lock(m_lock);
  return m_state;
}

bool CMemorySurface::LastPicture(LONG* width, LONG* height, std::vector<BYTE>* rgb) {
  std::lock_guard lock(m_lock);
  if (m_frames == 0) {
    return false;
  }
  *width = m_width;
  *height = m_height;
  *rgb = m_rgb;
  return true;
}

bool CMemorySurface::WaitForFrames(LONG count, DWORD timeoutMs) {
  std::unique_lock lock(m_lock);
  return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_frames >= count; });
}

}  // namespace halvard::media
