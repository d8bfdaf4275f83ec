#pragma once
/// The properties halvard-graph gives the system's three video filters, read from the
/// graph line and checked before anything reaches a filter:
///
/// - splitter: channels=N (0 ... 1000), colour=YUY2|RGB24|0|1, level=0|1|2 (enhancement).
/// - motion: hold and rearm (ms), reserved, width, height, top, bottom, bpp, block,
///   threshold (the field names of MotionParams are accepted as well: holdPeriodMs,
///   rearmPeriodMs, topMargin, bottomMargin, bytesPerPixel, blockSize), and area=all or
///   a comma-separated list of block indices or column:row pairs. The notify window is
///   always the tool's own.
/// - scaler (hdsimulation): width and height, or level=n (n x 640 by 2 x n x the
///   height of the scaler's input).
///
/// Pure functions: no filter is touched here.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filters/motion/MotionDetect.h"
#include "filters/splitter/SplitterConfig.h"

namespace halvard::graphtool {

using PropertyList = std::vector<std::pair<std::string, std::string>>;

/// Reads the splitter's properties over *config (which holds the filter's current
/// configuration). E_INVALIDARG with a message for an unknown key or a bad value.
[[nodiscard]] HRESULT ParseSplitterProperties(const PropertyList& props, SplitterConfig* config, std::string* error);

struct ScalerSettings {
  std::optional<LONG> width;
  std::optional<LONG> height;
  std::optional<LONG> level;
  [[nodiscard]] bool Empty() const { return !width && !height && !level; }
};

/// E_INVALIDARG for an unknown key, a bad value, level together with a size, or only one
/// of width and height.
[[nodiscard]] HRESULT ParseScalerProperties(const PropertyList& props, ScalerSettings* settings, std::string* error);

/// The output size to set. inputHeight: the height of the connected input, if any.
/// E_INVALIDARG when a level is given and the input is not connected yet; S_FALSE when
/// nothing is to be set.
[[nodiscard]] HRESULT ScalerOutputSize(const ScalerSettings& settings, std::optional<LONG> inputHeight, LONG* width,
                                       LONG* height, std::string* error);

/// The watched blocks: every block of the grid, or the ones listed.
struct MotionArea {
  bool all = true;
  /// (index, -1) for a block index; (column, row) for a pair.
  std::vector<std::pair<long, long>> blocks;
};

struct MotionSettings {
  std::optional<DWORD> holdPeriodMs;
  std::optional<DWORD> rearmPeriodMs;
  std::optional<DWORD> reserved;
  std::optional<LONG> width;
  std::optional<LONG> height;
  std::optional<LONG> topMargin;
  std::optional<LONG> bottomMargin;
  std::optional<LONG> bytesPerPixel;
  std::optional<LONG> blockSize;
  std::optional<LONG> threshold;
  std::optional<MotionArea> area;  ///< none: the filter's bitmap stays as it is
};

/// E_INVALIDARG for an unknown key (the notify window included), a value that is not a
/// number of the field's type, or an area that does not parse.
[[nodiscard]] HRESULT ParseMotionProperties(const PropertyList& props, MotionSettings* settings, std::string* error);

/// The frame geometry of a connected video type, for the fields the line left out.
struct UpstreamVideo {
  LONG width = 0;
  LONG height = 0;  ///< positive
  LONG bytesPerPixel = 0;
};

/// Overrides the fields of *params that the settings give; width, height and bytes per
/// pixel that they leave out come from upstream when known.
void MergeMotionParams(const MotionSettings& settings, const std::optional<UpstreamVideo>& upstream,
                       MotionParams* params);

/// Bytes of the motion filter's area bitmap.
inline constexpr std::size_t kAreaBitmapBytes = 720;

/// Writes the area into the bitmap for the grid of params (columns = width / block,
/// rows = (height - top - bottom) / block): "all" sets every block of the grid and
/// clears the rest; a list clears the bitmap and sets the listed blocks. E_INVALIDARG
/// with a message for a block outside the grid or a grid the bitmap cannot hold; the
/// bitmap is not touched then.
[[nodiscard]] HRESULT WriteMotionArea(const MotionArea& area, const MotionParams& params, BYTE* bitmap,
                                      std::string* error);

}  // namespace halvard::graphtool
