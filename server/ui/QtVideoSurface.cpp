#include "server/ui/QtVideoSurface.h"

#include <cstring>
#include <new>

#include "platform/media/ColourConversion.h"

namespace halvard::ui {

CQtVideoSurface::CQtVideoSurface(HWND view) : CUnknown(L"Camera view surface", nullptr), m_view(view) {}

CQtVideoSurface* CQtVideoSurface::Create(HWND view) {
  auto* surface = new (std::nothrow) CQtVideoSurface(view);
  if (surface != nullptr) {
    surface->NonDelegatingAddRef();
  }
  return surface;
}

HRESULT CQtVideoSurface::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IVideoSurface) {
    return GetInterface(static_cast<IVideoSurface*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CQtVideoSurface::Present(const VideoFrameView& frame) {
  if (frame.data == nullptr) {
    return E_POINTER;
  }
  if (!media::IsConvertibleSubtype(frame.subtype) || frame.width <= 0 || frame.height <= 0 || frame.stride <= 0) {
    return E_INVALIDARG;
  }
  Picture picture;
  {
    const std::lock_guard lock(m_lock);
    std::swap(picture, m_spare);
  }
  // The copy runs outside the lock, so painting never waits for it.
  const std::size_t size = static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(frame.height);
  picture.bytes.resize(size);
  std::memcpy(picture.bytes.data(), frame.data, size);
  picture.stride = frame.stride;
  picture.width = frame.width;
  picture.height = frame.height;
  picture.subtype = frame.subtype;
  picture.bottomUp = frame.bottomUp;
  {
    const std::lock_guard lock(m_lock);
    std::swap(picture, m_waiting);
    m_spare = std::move(picture);  // the picture nobody painted becomes the next spare
    m_hasNew = true;
  }
  ++m_presented;
  // One notice at a time: pictures arriving before the view painted only replace the
  // waiting one.
  const HWND view = m_view.load();
  if (view != 0 && !m_notifyPending.exchange(true)) {
    if (!PostMessage(view, kMsgPictureReady, 0, 0)) {
      m_notifyPending.store(false);
    }
  }
  return S_OK;
}

HRESULT CQtVideoSurface::SetWindowState(const VideoWindowState&) {
  // The view's own frame decides where and whether it is shown.
  return S_OK;
}

bool CQtVideoSurface::TakeNewest(QImage* image) {
  m_notifyPending.store(false);
  {
    const std::lock_guard lock(m_lock);
    if (!m_hasNew) {
      return false;
    }
    std::swap(m_converting, m_waiting);
    m_hasNew = false;
  }
  const Picture& p = m_converting;
  if (image->width() != p.width || image->height() != p.height || image->format() != QImage::Format_RGB32) {
    *image = QImage(p.width, p.height, QImage::Format_RGB32);
  }
  const media::ConstPictureRef in{p.bytes.data(), p.stride, p.width, p.height, p.subtype, p.bottomUp};
  // 32-bit RGB in memory order B, G, R, X is QImage's RGB32 on little-endian machines.
  const media::PictureRef out{image->bits(), static_cast<LONG>(image->bytesPerLine()), p.width, p.height,
                              MEDIASUBTYPE_RGB32, false};
  if (!media::ConvertPicture(in, out)) {
    return false;
  }
  ++m_converted;
  return true;
}

void CQtVideoSurface::Detach() { m_view.store(0); }

}  // namespace halvard::ui
