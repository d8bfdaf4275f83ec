#pragma once
// A test picture with guard bytes around every row and a guard row above and below the
// picture, so that a kernel writing even one byte outside its rows fails the test in any
// build, sanitizers or not. The guards hold a position-dependent pattern (not one value),
// so a stray write of any byte value is seen.
//
//   CPaddedPicture dst(rowBytes, rows);
//   Kernel(..., dst.Data(), dst.Stride(), ...);
//   EXPECT_TRUE(dst.GuardsIntact());

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace halvard::testing {

class CPaddedPicture {
 public:
  /// Guard bytes kept on each side of a row (and the room between rows).
  static constexpr int kGuardBytes = 32;

  enum class Rows {
    Padded,   ///< every row followed by kGuardBytes of guard (stride = rowBytes + kGuardBytes)
    Gapless,  ///< rows without gaps (stride = rowBytes): only the guards above and below
  };

  CPaddedPicture(int rowBytes, int rows, Rows layout = Rows::Padded)
      : m_rowBytes(rowBytes),
        m_rows(rows),
        m_stride(layout == Rows::Padded ? rowBytes + kGuardBytes : rowBytes),
        m_lead(static_cast<std::size_t>(m_stride) + kGuardBytes),
        m_bytes(m_lead + static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(rows) + m_stride + kGuardBytes) {
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
      m_bytes[i] = GuardByte(i);
    }
  }

  /// Copies a gapless picture (rows x rowBytes bytes) into the rows.
  void Fill(const std::vector<std::uint8_t>& gapless) {
    for (int r = 0; r < m_rows; ++r) {
      std::memcpy(Row(r), gapless.data() + static_cast<std::size_t>(r) * m_rowBytes, static_cast<std::size_t>(m_rowBytes));
    }
  }

  [[nodiscard]] std::uint8_t* Data() { return m_bytes.data() + m_lead; }
  [[nodiscard]] std::uint8_t* Row(int r) { return Data() + static_cast<std::ptrdiff_t>(r) * m_stride; }
  [[nodiscard]] std::ptrdiff_t Stride() const { return m_stride; }
  /// The bytes the kernel may touch: whole picture from the first row's start to the
  /// last row's end (for kernels that take one size).
  [[nodiscard]] std::size_t PictureBytes() const {
    return m_rows == 0 ? 0 : static_cast<std::size_t>(m_stride) * (m_rows - 1) + m_rowBytes;
  }

  /// The rows without their guards.
  [[nodiscard]] std::vector<std::uint8_t> Pixels() {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(m_rowBytes) * m_rows);
    for (int r = 0; r < m_rows; ++r) {
      std::memcpy(out.data() + static_cast<std::size_t>(r) * m_rowBytes, Row(r), static_cast<std::size_t>(m_rowBytes));
    }
    return out;
  }

  /// Success when every guard byte still holds its pattern; else where the first
  /// damaged byte is, relative to the picture's rows.
  [[nodiscard]] ::testing::AssertionResult GuardsIntact() const {
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
      if (IsPixel(i) || m_bytes[i] == GuardByte(i)) {
        continue;
      }
      const auto offset = static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(m_lead);
      const std::ptrdiff_t row = offset >= 0 ? offset / m_stride : -1 - (-offset - 1) / m_stride;
      return ::testing::AssertionFailure() << "guard byte written at row " << row << ", byte "
                                           << offset - row * m_stride << " (rows of " << m_rowBytes << " bytes)";
    }
    return ::testing::AssertionSuccess();
  }

 private:
  static std::uint8_t GuardByte(std::size_t i) { return static_cast<std::uint8_t>(0xA5u ^ (i * 37u)); }

  [[nodiscard]] bool IsPixel(std::size_t i) const {
    if (i < m_lead) {
      return false;
    }
    const std::size_t offset = i - m_lead;
    const std::size_t row = offset / static_cast<std::size_t>(m_stride);
    return row < static_cast<std::size_t>(m_rows) && offset % static_cast<std::size_t>(m_stride) < static_cast<std::size_t>(m_rowBytes);
  }

  int m_rowBytes;
  int m_rows;
  std::ptrdiff_t m_stride;
  std::size_t m_lead;  // guard row and left guard before the first pixel
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace halvard::testing
