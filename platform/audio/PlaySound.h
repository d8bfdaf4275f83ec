#pragma once
/// Sound playback of a wave file (the alarm sound of motion events) through ALSA's
/// "default" playback device.
///
/// Only RIFF WAVE files with PCM samples of 8 bits (unsigned) or 16 bits (signed,
/// little-endian), 1 to 8 channels, are played. A data chunk that claims more bytes than
/// the file holds is played as far as the file goes; nothing past the file's data is
/// ever read.
///
/// A new sound stops the one still playing asynchronously (one sound at a time per
/// process, as the Windows call does).
///
/// Threads: any; calls are serialised by one process-wide lock, so a synchronous sound
/// blocks other callers for its length.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/base/WinTypes.h"

/// Returns when the sound has ended.
inline constexpr DWORD SND_SYNC = 0x0000;
/// Returns once the sound has started; it plays on a thread of its own.
inline constexpr DWORD SND_ASYNC = 0x0001;
/// `path` names a file (the only kind of sound supported; the flag may be left out).
inline constexpr DWORD SND_FILENAME = 0x00020000;

/// Plays the wave file `path` (module is ignored). TRUE when the sound was played
/// (SND_SYNC) or started (SND_ASYNC). FALSE, without blocking, when the file cannot be
/// read, is not a PCM wave file of the kinds above, or no sound device can be opened.
/// A null path stops an asynchronous sound and returns TRUE.
BOOL PlaySound(const char* path, void* module, DWORD flags);

namespace halvard::audio {

/// The playable content of a wave file.
struct WaveSound {
  WORD channels = 0;
  DWORD samplesPerSec = 0;
  WORD bitsPerSample = 0;  ///< 8 or 16
  WORD blockAlign = 0;     ///< bytes per frame
  std::size_t dataOffset = 0;  ///< first sample byte in the file
  std::size_t dataBytes = 0;   ///< whole frames only, never past the end of the file
};

/// Parses a wave file image: "RIFF" size "WAVE", then chunks ("fmt " before "data";
/// other chunks skipped, odd sizes padded). nullopt when the header is truncated or
/// malformed, the format is not PCM 8/16-bit with 1..8 channels and a rate of 1 to
/// 768,000 samples/s, the block alignment does not match, or there is no data chunk.
[[nodiscard]] std::optional<WaveSound> ParseWave(std::span<const BYTE> file);

/// PlaySound on a named ALSA playback device (tests use "null"). Same results.
BOOL PlaySoundOn(const char* path, DWORD flags, const std::string& device);

}  // namespace halvard::audio
