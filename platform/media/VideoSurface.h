#pragma once
/// Where the video renderer puts its pictures. The renderer hands every picture and every
/// change of its window state to its surface; the surface draws (the Qt surface of the
/// server) or keeps them (CMemorySurface, for tests and tools).
///
/// A renderer without a surface asks the process's surface factory for one when its
/// input connects (SetVideoSurfaceFactory; the default factory makes a CMemorySurface).
/// A program may also give a renderer a surface through IVideoSurfaceHost.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <string>
#include <mutex>
#include <vector>

#include "platform/media/Unknown.h"

/// One picture as the renderer received it. Valid only during the call.
struct VideoFrameView {
  const BYTE* data;
  LONG stride;      ///< bytes from one stored row to the next
  LONG width;
  LONG height;      ///< absolute height
  GUID subtype;     ///< MEDIASUBTYPE_YUY2, _RGB24 or _RGB32
  bool bottomUp;    ///< rows stored bottom-up (RGB with a positive biHeight)
  REFERENCE_TIME start;  ///< sample start time, or -1 when it had none
};

/// The state of the renderer's window (IVideoWindow), as the surface should show it.
struct VideoWindowState {
  HWND owner = 0;
  HWND messageDrain = 0;
  LONG style = 0;
  LONG left = 0;
  LONG top = 0;
  LONG width = 0;
  LONG height = 0;
  bool visible = false;
  bool autoShow = true;
  LONG windowState = 0;  ///< SW_*
  std::wstring caption;
};

struct IVideoSurface : IUnknown {
  /// A new picture. Called on the streaming thread; must not block for long.
  virtual HRESULT Present(const VideoFrameView& frame) = 0;
  /// The window state changed. Called on the thread that used IVideoWindow.
  virtual HRESULT SetWindowState(const VideoWindowState& state) = 0;

 protected:
  ~IVideoSurface() = default;
};

struct IVideoSurfaceHost : IUnknown {
  /// Replaces the renderer's surface (null: none; pictures are then dropped).
  virtual HRESULT SetSurface(IVideoSurface* surface) = 0;
  /// The current surface (AddRef'd), or S_FALSE and null.
  virtual HRESULT GetSurface(IVideoSurface** surface) = 0;

 protected:
  ~IVideoSurfaceHost() = default;
};

HALVARD_IID_OF(IVideoSurface);
HALVARD_IID_OF(IVideoSurfaceHost);

namespace halvard::media {

/// Makes surfaces for renderers that have none. Called on the thread that connects the
/// renderer. Returns a new reference, or null.
using VideoSurfaceFactory = std::function<IVideoSurface*()>;
/// Installs the factory (empty = the default CMemorySurface factory). Returns the old one.
VideoSurfaceFactory SetVideoSurfaceFactory(VideoSurfaceFactory factory);
/// A surface from the current factory (new reference) or null.
[[nodiscard]] IVideoSurface* CreateDefaultVideoSurface();

/// Counts the pictures and keeps nothing: what a window that nobody looks at costs
/// (benchmarks, tests of many cameras). Thread-safe.
class CCountingSurface final : public CUnknown, public IVideoSurface {
 public:
  CCountingSurface();
  /// A new surface with reference count 1.
  static CCountingSurface* Create();
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT Present(const VideoFrameView& frame) override;
  HRESULT SetWindowState(const VideoWindowState& state) override;
  [[nodiscard]] LONG FrameCount() const { return m_frames.load(); }

 private:
  std::atomic<LONG> m_frames{0};
};

/// Keeps the last picture (as 24-bit RGB top-down rows, for easy checking), counts the
/// pictures and remembers the window state. Thread-safe.
class CMemorySurface final : public CUnknown, public IVideoSurface {
 public:
  CMemorySurface();
  /// A new surface with reference count 1.
  static CMemorySurface* Create();

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT Present(const VideoFrameView& frame) override;
  HRESULT SetWindowState(const VideoWindowState& state) override;

  [[nodiscard]] LONG FrameCount();
  [[nodiscard]] VideoWindowState WindowState();
  /// The last picture: width, height and RGB24 top-down rows (3 × width bytes each, no
  /// padding). false before the first picture.
  bool LastPicture(LONG* width, LONG* height, std::vector<BYTE>* rgb);
  /// Waits until at least count pictures arrived (or timeoutMs). True when they did.
  bool WaitForFrames(LONG count, DWORD timeoutMs);

 private:
  std::mutex m_lock;
  std::condition_variable m_arrived;
  LONG m_frames = 0;
  LONG m_width = 0;
  LONG m_height = 0;
  std::vector<BYTE> m_rgb;
  VideoWindowState m_state;
};

}  // namespace halvard::media
