#pragma once
/// The still-picture export dialogs the resources hold: "Save Picture" (JPEG or BMP,
/// with the JPEG quality) and "Save as Bmp Sequence" (file name prefix and postfix, the
/// frame range and the picture size). No command opens them: still pictures are always
/// written as BMP. They store nothing; OK only checks the entries.
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ui/dialogs/DialogBase.h"

class QLineEdit;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsSavePictureTitle = 4617;
inline constexpr UINT kIdsBmpSequenceTitle = 4624;
inline constexpr UINT kIdsAffixInvalid = 4634;
inline constexpr UINT kIdsFrameRangeInvalid = 4635;
/// Longest prefix or postfix of the sequence's file names.
inline constexpr std::size_t kMaxAffixChars = 40;

/// Whether text may be part of a file name: at most kMaxAffixChars bytes, none of
/// \ / : * ? " < > | nor a control character.
[[nodiscard]] bool IsFileNameAffix(std::string_view text);

class CSavePictureDialog final : public CDialogBase {
 public:
  explicit CSavePictureDialog(TextFunction texts, QWidget* parent = nullptr);
  [[nodiscard]] bool Jpeg() const;
  [[nodiscard]] int Quality() const;

 protected:
  [[nodiscard]] bool Apply() override { return true; }

 private:
  QRadioButton* m_jpeg = nullptr;
  QRadioButton* m_bmp = nullptr;
  QSlider* m_quality = nullptr;
};

class CBmpSequenceDialog final : public CDialogBase {
 public:
  /// `frames`: the recording's frame count (the range is 1 .. frames).
  CBmpSequenceDialog(TextFunction texts, int frames, QWidget* parent = nullptr);
  [[nodiscard]] QLineEdit* Prefix() const { return m_prefix; }
  [[nodiscard]] QLineEdit* Postfix() const { return m_postfix; }
  [[nodiscard]] QSpinBox* From() const { return m_from; }
  [[nodiscard]] QSpinBox* To() const { return m_to; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  QLineEdit* m_prefix = nullptr;
  QLineEdit* m_postfix = nullptr;
  QSpinBox* m_from = nullptr;
  QSpinBox* m_to = nullptr;
  QSpinBox* m_width = nullptr;
  QSpinBox* m_height = nullptr;
};

}  // namespace halvard::ui::dialogs
