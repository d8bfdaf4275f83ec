#pragma once
/// The picture surface of a camera view. The renderer presents every picture on the
/// streaming thread; the surface only keeps the newest one (a copy into a spare buffer,
/// then a swap under its lock: no conversion on that thread) and asks the view to paint
/// by posting a message to the view's window handle. The view converts the newest
/// picture to RGB when it paints, so a hidden, minimised or covered view costs only the
/// copy.

#include <atomic>
#include <mutex>
#include <vector>

#include <QImage>

#include "platform/media/VideoSurface.h"
#include "platform/window/Window.h"

namespace halvard::ui {

/// Message the surface posts to the view when a new picture is waiting.
inline constexpr UINT kMsgPictureReady = WM_APP + 0x51;

/// Threads: Present on the streaming thread; SetWindowState on the thread that drives
/// the renderer's window; TakeNewest, Detach and the counters on the user-interface
/// thread. One lock guards the waiting picture; it is never held while converting.
class CQtVideoSurface final : public CUnknown, public IVideoSurface {
 public:
  /// A new surface with reference count 1 that notifies `view` (0: nobody).
  static CQtVideoSurface* Create(HWND view);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  /// S_OK; E_POINTER for no data, E_INVALIDARG for a subtype the view cannot convert
  /// or a size of zero.
  HRESULT Present(const VideoFrameView& frame) override;
  HRESULT SetWindowState(const VideoWindowState& state) override;

  /// Converts the newest picture, if one arrived since the last call, into `image`
  /// (32-bit RGB, top-down). True when `image` was replaced.
  bool TakeNewest(QImage* image);
  /// Stops notifying the view (it is being destroyed); pictures are still accepted.
  void Detach();

  /// Pictures presented, and pictures converted, since creation.
  [[nodiscard]] long PresentedCount() const { return m_presented.load(); }
  [[nodiscard]] long ConvertedCount() const { return m_converted.load(); }

 private:
  explicit CQtVideoSurface(HWND view);

  struct Picture {
    std::vector<BYTE> bytes;
    LONG stride = 0;
    LONG width = 0;
    LONG height = 0;
    GUID subtype{};
    bool bottomUp = false;
  };

  std::mutex m_lock;      // guards m_waiting, m_spare, m_hasNew
  Picture m_waiting;      // the newest picture not yet converted
  Picture m_spare;        // a buffer to copy the next picture into
  Picture m_converting;   // user-interface thread only
  bool m_hasNew = false;
  std::atomic<HWND> m_view;
  std::atomic<bool> m_notifyPending{false};
  std::atomic<long> m_presented{0};
  std::atomic<long> m_converted{0};
};

}  // namespace halvard::ui
