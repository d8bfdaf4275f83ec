#pragma once
/// The filters that halvard-graph brings along:
///
/// - raw-file source ("rawsrc"): reads packed YUY2 or RGB24 (bottom-up DIB rows) frames
///   of one size from a file, one after another, at a frame rate (0: as fast as the
///   graph takes them), looping at the end of the file when asked, else ending the
///   stream. Properties: location, width, height, format (YUY2 | RGB24), rate, loop,
///   frames (a frame limit per run).
/// - raw-file sink ("rawsink", "count"): takes any uncompressed video, counts frames in
///   total and per channel byte (the first byte of each frame, which a multiplexing
///   card sets), and with a location appends every frame to that file. Sends EC_COMPLETE
///   at the end of the stream. Property: location.
///
/// Both offer IFrameCounter. Objects are created with a reference count of 1.

#include <string>

#include "platform/media/FrameCounter.h"
#include "platform/media/Interfaces.h"

namespace halvard::graphtool {

/// Properties of the tool's own filters.
class IToolProperties {
 public:
  /// E_INVALIDARG with a message in *error for an unknown key or a bad value;
  /// VFW_E_NOT_STOPPED when the filter runs; the file's own error for a location that
  /// cannot be opened (HRESULT_FROM_WIN32 of ENOENT / EACCES as ERROR_FILE_NOT_FOUND /
  /// ERROR_ACCESS_DENIED, else E_FAIL).
  virtual HRESULT SetProperty(const std::string& key, const std::string& value, std::string* error) = 0;

 protected:
  ~IToolProperties() = default;
};

/// Creates a raw-file source; *properties points into the object (valid while it lives).
[[nodiscard]] HRESULT CreateRawSource(IBaseFilter** filter, IToolProperties** properties);
/// Creates a raw-file sink.
[[nodiscard]] HRESULT CreateRawSink(IBaseFilter** filter, IToolProperties** properties);

}  // namespace halvard::graphtool
