#pragma once
/// IFrameCounter: frame counts and a frame limit, offered by the capture sources, the
/// audio sources and the diagnostic tool's own filters, so that tools and tests can say
/// how many frames went where and can end a stream after a number of frames.

#include "platform/media/Interfaces.h"

// {02453AC6-1304-40BA-9AC9-1E6B22C3EFAD}
HALVARD_DEFINE_GUID(IID_IFrameCounter, 0x02453AC6, 0x1304, 0x40BA, 0x9A, 0xC9, 0x1E, 0x6B, 0x22, 0xC3, 0xEF, 0xAD);

struct IFrameCounter : IUnknown {
  /// Frames the filter delivered (a source) or received (a sink) since it was created.
  /// E_POINTER.
  virtual HRESULT GetFrameCount(LONGLONG* frames) = 0;
  /// Frames of one channel (0 ... 255): the input a multiplexing source delivered them
  /// for, or the channel byte of the frames a sink received. E_POINTER; E_INVALIDARG
  /// for a channel outside 0 ... 255.
  virtual HRESULT GetChannelFrameCount(LONG channel, LONGLONG* frames) = 0;
  /// A source delivers at most this many frames in each run (counted from the pause
  /// that follows a stop) and then ends its stream (end of stream downstream); 0 removes
  /// the limit. E_INVALIDARG below 0; E_NOTIMPL for a sink.
  virtual HRESULT SetFrameLimit(LONGLONG frames) = 0;

 protected:
  ~IFrameCounter() = default;
};

template <>
inline constexpr const IID* kIidOf<IFrameCounter> = &IID_IFrameCounter;

/// IFrameCounter with its argument checks; a filter supplies the counts (and, for a
/// source, the limit). IUnknown stays with the filter.
class CFrameCounter : public IFrameCounter {
 public:
  HRESULT GetFrameCount(LONGLONG* frames) override {
    if (frames == nullptr) {
      return E_POINTER;
    }
    *frames = CountedFrames();
    return S_OK;
  }
  HRESULT GetChannelFrameCount(LONG channel, LONGLONG* frames) override {
    if (frames == nullptr) {
      return E_POINTER;
    }
    *frames = 0;
    if (channel < 0 || channel > 255) {
      return E_INVALIDARG;
    }
    *frames = CountedChannelFrames(channel);
    return S_OK;
  }
  HRESULT SetFrameLimit(LONGLONG frames) override {
    if (frames < 0) {
      return E_INVALIDARG;
    }
    return LimitFrames(frames);
  }

 protected:
  ~CFrameCounter() = default;
  /// Frames delivered or received so far.
  [[nodiscard]] virtual LONGLONG CountedFrames() = 0;
  /// Frames of one channel, 0 ... 255.
  [[nodiscard]] virtual LONGLONG CountedChannelFrames(LONG channel) = 0;
  /// Applies a limit of at least 0 (0: none). Default, for sinks: E_NOTIMPL.
  virtual HRESULT LimitFrames(LONGLONG /*frames*/) { return E_NOTIMPL; }
};
