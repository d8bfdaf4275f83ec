#pragma once
/// The values of a camera's "Video Recording" dialog: reading them from the store,
/// checking what the operator typed, and the writes of the values that changed.
///
/// The camera's display name is not among the writes: renaming moves the archive folder
/// and the camera key, which the camera roster does (its own messages on failure); the
/// dialog renames first and writes the rest under the new name.
///
/// Threads: the user-interface thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

/// One audio format the encoder produces for a mono camera: sample rate in kHz and
/// bitrate in kbit/s, as "Audio Sample Rate" and "Audio Bitrate" store them.
struct AudioFormatChoice {
  DWORD sampleRateKhz = 0;
  DWORD bitrateKbps = 0;
  friend bool operator==(const AudioFormatChoice&, const AudioFormatChoice&) = default;
};

/// The mono Windows Media Audio 2 formats of the installed encoder that the recording
/// profile would accept (each confirmed with the profile's own format choice), ordered
/// by sample rate, then bitrate. Empty when no encoder is installed.
[[nodiscard]] std::vector<AudioFormatChoice> EncoderAudioFormats();

/// What the dialog shows; numbers as typed (text), so that a wrong entry is refused
/// with a message rather than silently clamped.
struct RecordingForm {
  std::string name;            ///< camera display name ("Input %d" of the group)
  bool record = true;          ///< "Input Recording Video"
  std::string root;            ///< "Video File Root"
  DWORD fileLengthIndex = 1;   ///< "Video File Length" (group), index of kFileLengthMinutes
  std::string historyDays;     ///< "Video History"
  std::string bitrateKbps;     ///< "Video Bitrate"
  std::string frameRate;       ///< "Video Frame Rate"
  std::string keyFrameSeconds; ///< "Video Key Frame Interval"
  DWORD quality = 95;          ///< "Video Motion Quality", 0 .. 100
  bool audio = false;          ///< "Audio"
  std::string audioSource;     ///< "Audio Source" (empty: the default source)
  AudioFormatChoice audioFormat;  ///< "Audio Sample Rate", "Audio Bitrate"
  bool audition = true;        ///< "Audio Audition"
};

/// Which field a refusal is about.
enum class RecordingField {
  Name, Root, FileLength, History, Bitrate, FrameRate, KeyFrame, Quality, AudioFormat
};

/// A refused entry: the field, the message's text number, and the allowed range where
/// the message names one.
struct RecordingRefusal {
  RecordingField field;
  UINT textId;
  long minimum = 0;
  long maximum = 0;
};

/// Limits of the typed numbers.
inline constexpr long kMaxHistoryDays = 3650;
inline constexpr long kMaxVideoBitrateKbps = 100000;
inline constexpr long kMaxFrameRate = 60;
inline constexpr long kMaxKeyFrameSeconds = 3600;
/// "Video File Root" is a REG_SZ read through a 200-byte buffer: longer text would read
/// back as the default and the recordings would silently go elsewhere.
inline constexpr std::size_t kMaxRootChars = 99;

/// Text numbers of the refusals.
inline constexpr UINT kIdsNumberRange = 4010;   ///< "%s must be a whole number from %ld to %ld."
inline constexpr UINT kIdsRootInvalid = 4126;
inline constexpr UINT kIdsAudioFormatUnavailable = 4127;
inline constexpr UINT kIdsInvalidInputName = 122;

class CRecordingPage {
 public:
  CRecordingPage(std::string group, std::string input);

  [[nodiscard]] const std::string& Group() const { return m_group; }
  [[nodiscard]] const std::string& Input() const { return m_input; }
  /// The values as stored (defaults where nothing is stored), as read on construction.
  [[nodiscard]] const RecordingForm& Stored() const { return m_stored; }

  /// The first refused entry, nullopt when every entry is allowed. `formats` is what the
  /// encoder offers: an audio format that changed must be one of them (an unchanged one
  /// is kept, so that a stored value the encoder lacks does not block other changes).
  [[nodiscard]] std::optional<RecordingRefusal> Check(const RecordingForm& form,
                                                      const std::vector<AudioFormatChoice>& formats) const;
  /// Whether the display name differs from the stored one.
  [[nodiscard]] bool NameChanged(const RecordingForm& form) const { return form.name != m_stored.name; }
  /// The writes of every value that differs from the stored one, for the camera named
  /// `input` (the new name after a rename). Call only after Check passed. The archive
  /// root is stored ending in '/'.
  [[nodiscard]] CSettingsChanges Changes(const RecordingForm& form, std::string_view input) const;

  /// The archive root as stored: '\' turned to '/', ending in '/'.
  [[nodiscard]] static std::string NormaliseRoot(std::string_view root);

 private:
  std::string m_group;
  std::string m_input;
  RecordingForm m_stored;
};

/// Parses a whole decimal number (optional sign, surrounding blanks allowed); nullopt
/// for anything else or a value beyond long.
[[nodiscard]] std::optional<long> ParseWholeNumber(std::string_view text);

}  // namespace halvard::ui::dialogs
