#pragma once
/// Pixel kernels of the motion detector: the mean brightness of square blocks of one
/// frame, and the comparison of two frames' means. Pure functions; the caller owns
/// every buffer and has checked the geometry (see CMotionDetector).

#include <cstddef>
#include <cstdint>

namespace halvard::motion {

/// Largest number of blocks the area bitmap can mark (720 bytes, one bit per block).
inline constexpr int kMaxBlocks = 5760;
inline constexpr int kAreaBitmapBytes = kMaxBlocks / 8;

/// The grid of blocks laid over a frame. Row 0 is the first row of blocks below the top
/// margin in display order, whatever the memory order of the format.
struct BlockGrid {
  int blockSize = 0;  ///< edge of a square block in pixels, 1 or more
  int columns = 0;    ///< width / blockSize
  int rows = 0;       ///< (height - topMargin - bottomMargin) / blockSize
  int topMargin = 0;  ///< picture rows excluded at the top (display order)
  int shift = 0;      ///< MeanShift(blockSize)
};

/// floor(log2(blockSize^2 / 4)), 0 when blockSize^2 / 4 <= 1: 2 for blocks of 4, 6 for 16,
/// 8 for 32, 10 for 64.
[[nodiscard]] int MeanShift(int blockSize);

/// Whether block (column, row) is watched: bit column + row * columns of the area bitmap,
/// least significant bit first.
[[nodiscard]] inline bool IsBlockWatched(const std::uint8_t* areaBits, int index) {
  return (areaBits[index >> 3] >> (index & 7)) & 1;
}

/// Block means of a YUY2 frame (rows top-down, `stride` bytes apart): for each watched
/// block, the luma of every second pixel on every second row, summed and shifted right by
/// grid.shift; unwatched blocks get 0. `means` receives columns x rows bytes (low 8 bits
/// of each mean). The frame must hold (topMargin + rows x blockSize) rows of
/// columns x blockSize pixels; `height` is not needed by this format.
void BlockMeansYuy2(const std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const BlockGrid& grid,
                    const std::uint8_t* areaBits, std::uint8_t* means);

/// Block means of an RGB24 frame stored bottom-up (`stride` bytes per row, the first
/// display row is the last stored row): blue + green of every second pixel on every
/// second display row, shifted right by grid.shift + 1. Same layout of `means` as above.
void BlockMeansRgb24(const std::uint8_t* frame, std::ptrdiff_t stride, int width, int height, const BlockGrid& grid,
                     const std::uint8_t* areaBits, std::uint8_t* means);

/// True as soon as one pair of means differs by more than `threshold` in either
/// direction (a difference of exactly the threshold is no motion).
[[nodiscard]] bool PairShowsMotion(const std::uint8_t* a, const std::uint8_t* b, int count, int threshold);

}  // namespace halvard::motion
