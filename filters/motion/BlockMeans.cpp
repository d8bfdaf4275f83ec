#include "filters/motion/BlockMeans.h"

namespace halvard::motion {

int MeanShift(int blockSize) {
  const long long quarter = static_cast<long long>(blockSize) * blockSize / 4;
  int shift = 0;
  while ((2LL << shift) <= quarter) {
    ++shift;
  }
  return quarter <= 1 ? 0 : shift;
}

void BlockMeansYuy2(const std::uint8_t* frame, std::ptrdiff_t stride, int /*width*/, int /*height*/,
                    const BlockGrid& grid, const std::uint8_t* areaBits, std::uint8_t* means) {
  const int blockBytes = grid.blockSize * 2;
  int index = 0;
  for (int row = 0; row < grid.rows; ++row) {
    const std::uint8_t* rowStart = frame + static_cast<std::ptrdiff_t>(grid.topMargin + row * grid.blockSize) * stride;
    for (int column = 0; column < grid.columns; ++column, ++index) {
      if (!IsBlockWatched(areaBits, index)) {
        means[index] = 0;
        continue;
      }
      const std::uint8_t* block = rowStart + static_cast<std::ptrdiff_t>(column) * blockBytes;
      std::uint32_t sum = 0;
      for (int y = 0; y < grid.blockSize; y += 2) {
        const std::uint8_t* line = block + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < blockBytes; x += 4) {
          sum += line[x];
        }
      }
      means[index] = static_cast<std::uint8_t>(sum >> grid.shift);
    }
  }
}

void BlockMeansRgb24(const std::uint8_t* frame, std::ptrdiff_t stride, int /*width*/, int height,
                     const BlockGrid& grid, const std::uint8_t* areaBits, std::uint8_t* means) {
  const int blockBytes = grid.blockSize * 3;
  int index = 0;
  for (int row = 0; row < grid.rows; ++row) {
    // Rows are stored bottom-up: the block's first display row is a high memory row and
    // the block extends towards lower memory rows.
    const int firstMemoryRow = height - 1 - grid.topMargin - row * grid.blockSize;
    const std::uint8_t* rowStart = frame + static_cast<std::ptrdiff_t>(firstMemoryRow) * stride;
    for (int column = 0; column < grid.columns; ++column, ++index) {
      if (!IsBlockWatched(areaBits, index)) {
        means[index] = 0;
        continue;
      }
      const std::uint8_t* block = rowStart + static_cast<std::ptrdiff_t>(column) * blockBytes;
      std::uint32_t sum = 0;
      for (int y = 0; y < grid.blockSize; y += 2) {
        const std::uint8_t* line = block - static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < blockBytes; x += 6) {
          sum += static_cast<std::uint32_t>(line[x]) + line[x + 1];
        }
      }
      means[index] = static_cast<std::uint8_t>(sum >> (grid.shift + 1));
    }
  }
}

bool PairShowsMotion(const std::uint8_t* a, const std::uint8_t* b, int count, int threshold) {
  for (int i = 0; i < count; ++i) {
    const int difference = static_cast<int>(a[i]) - static_cast<int>(b[i]);
    if (difference > threshold || difference < -threshold) {
      return true;
    }
  }
  return false;
}

}  // namespace halvard::motion
