#pragma once
/// The Windows Media profile of a recording camera: one audio stream (Windows Media
/// Audio 2, mono) and one video stream (Windows Media Video 7) built from the camera's
/// settings, and the configuration of the camera's writer filter with it. The same
/// profile serves the archive files and the HTTP broadcast.
///
/// Threads: the user-interface thread (pipeline build); no state is kept.

#include <functional>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/wmf/Wmf.h"

namespace halvard::archive {

/// Audio parameters of a profile.
struct AudioProfileParams {
  WORD formatTag = kWaveFormatWmAudio2;
  DWORD bitrate = 0;     ///< bit/s
  DWORD sampleRate = 0;  ///< samples/s
  WORD channels = 1;
};

/// Video parameters of a profile.
struct VideoProfileParams {
  DWORD compression = kFourCcWmv1;
  DWORD bitrate = 0;  ///< bit/s
  LONG width = 0;
  LONG height = 0;
  LONG frameRate = 0;  ///< frames/s; must be positive
  DWORD quality = 0;   ///< 0 smooth motion .. 100 sharp image
  DWORD keyFrameIntervalSeconds = 0;
};

/// The camera's parameters from its settings ("Audio Bitrate", "Audio Sample Rate",
/// "Video Bitrate", "Video Frame Rate", "Video Motion Quality", "Video Key Frame
/// Interval") and its group's ("Data Resolution", "Card HD Simulation Level").
/// A stored frame rate is read as a signed number, so that a typed -1 stays negative.
void ReadProfileParams(std::string_view group, std::string_view input, AudioProfileParams* audio,
                       VideoProfileParams* video);

/// Visits every format of every installed codec of a stream type (WMMEDIATYPE_Audio or
/// WMMEDIATYPE_Video), in the codec list's order, until `visit` returns false. Formats
/// that cannot be read are passed over. Result: the codec list's own failure, else S_OK.
using CodecFormatVisitor = std::function<bool(IWMStreamConfig* config)>;
[[nodiscard]] HRESULT ForEachCodecFormat(IWMCodecInfo* codecs, REFGUID streamType, const CodecFormatVisitor& visit);

/// Picks the audio format: wave-format header, equal tag, channels and sample rate,
/// average bytes per second x 8 within 249 bit/s of the bitrate; the smallest block
/// alignment wins, a later format of equal alignment replacing an earlier one.
/// Fills *header with the header and its extra bytes. NS_E_AUDIO_CODEC_NOT_INSTALLED
/// when none qualifies; E_POINTER.
[[nodiscard]] HRESULT SelectAudioFormat(IWMCodecInfo* codecs, const AudioProfileParams& audio,
                                        std::vector<BYTE>* header);

/// A new profile "Custom Profile" of format version 7.0 with stream 1 "Audio Stream"
/// (connection "Audio") and stream 2 "Video Stream" (connection "Video").
/// Results: S_OK; E_POINTER (no out-parameter); E_INVALIDARG (a missing parameter
/// block, or a frame rate of zero or less); NS_E_AUDIO_CODEC_NOT_INSTALLED (no audio
/// format matches); NS_E_VIDEO_CODEC_NOT_INSTALLED (no WMV1 format); the failing
/// result of any profile call (a quality above 100 gives E_INVALIDARG).
[[nodiscard]] HRESULT BuildCustomProfile(const AudioProfileParams* audio, const VideoProfileParams* video,
                                         IWMProfile** profile);

/// Sets full interleaving on the writer filter, builds the camera's profile and
/// configures the writer with it. Results: S_OK; E_POINTER; E_NOINTERFACE when the
/// writer lacks IConfigInterleaving or IConfigAsfWriter; BuildCustomProfile's and the
/// writer's failures. A failed call leaves the writer unconfigured.
[[nodiscard]] HRESULT ConfigureRecordingWriter(IUnknown* writer, std::string_view group, std::string_view input);

}  // namespace halvard::archive
