#pragma once
/// The values of a camera's "Motion Detection" dialog, and the marked area ("Motion
/// Mark") as a grid of blocks over the camera's picture.
///
/// Threads: the user-interface thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

/// The picture rows above the block grid that the detector never watches.
inline constexpr int kMotionGridTopMargin = 16;

/// The detection area: one bit per block, block (column c, row r) being bit c + r x
/// columns from the first byte, least significant bit first; 720 bytes in all.
class CMotionMark {
 public:
  /// A grid of `blockSize` blocks over a picture of width x height (the top margin left
  /// out), with the stored bytes (any other size than 720 marks every block).
  CMotionMark(int width, int height, int blockSize, std::vector<BYTE> bytes);

  [[nodiscard]] int Columns() const { return m_columns; }
  [[nodiscard]] int Rows() const { return m_rows; }
  [[nodiscard]] int BlockSize() const { return m_block; }
  [[nodiscard]] bool IsMarked(int column, int row) const;
  /// Outside the grid nothing happens.
  void Set(int column, int row, bool marked);
  /// Every block of the grid marked, every other bit clear (as the server does when
  /// nothing is stored).
  void MarkAll();
  void ClearAll();
  [[nodiscard]] const std::vector<BYTE>& Bytes() const { return m_bytes; }
  /// The same area on a grid of another block size: a new block is marked when the
  /// old block under its centre was.
  [[nodiscard]] CMotionMark WithBlockSize(int blockSize) const;

 private:
  int m_width;
  int m_height;
  int m_block;
  int m_columns;
  int m_rows;
  std::vector<BYTE> m_bytes;
};

struct MotionValues {
  bool detection = false;        ///< "Input Motion Detection"
  DWORD sizeIndex = 1;           ///< "Motion Sensitivity Size"
  DWORD brightnessIndex = 2;     ///< "Motion Sensitivity Brightness"
  DWORD holdIndex = 1;           ///< "Motion No Motion"
  DWORD rearmIndex = 0;          ///< "Motion No Alarm"
  bool sound = false;            ///< "Motion Sound"
  std::string soundFile;         ///< "Motion Sound File"
  std::vector<BYTE> mark;        ///< "Motion Mark", 720 bytes
};

/// The indexes the dialog offers: sizes 0..2 (blocks of 64, 32, 16 pixels) and
/// brightness changes 0..4.
inline constexpr DWORD kOfferedSizes = 3;
inline constexpr DWORD kOfferedBrightness = 5;

inline constexpr UINT kIdsSoundFileInvalid = 4330;

class CMotionPage {
 public:
  CMotionPage(std::string group, std::string input);
  [[nodiscard]] const std::string& Group() const { return m_group; }
  [[nodiscard]] const std::string& Input() const { return m_input; }
  [[nodiscard]] const MotionValues& Stored() const { return m_stored; }
  /// Text number of the refusal: a sound that is on and whose file changed must name an
  /// existing file of at most 99 characters (else it reads back as the default).
  [[nodiscard]] std::optional<UINT> Check(const MotionValues& values) const;
  [[nodiscard]] CSettingsChanges Changes(const MotionValues& values) const;
  /// The camera's picture size (the group's resolution and HD simulation level).
  [[nodiscard]] int PictureWidth() const { return m_width; }
  [[nodiscard]] int PictureHeight() const { return m_height; }

 private:
  std::string m_group;
  std::string m_input;
  MotionValues m_stored;
  int m_width = 320;
  int m_height = 240;
};

}  // namespace halvard::ui::dialogs
