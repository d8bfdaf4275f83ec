#pragma once
/// Profiles, stream configurations and the codec list of the Windows Media stand-in.

#include <string>
#include <vector>

#include "platform/wmf/Wmf.h"

namespace halvard::wmf {

/// One format the installed audio encoder produces.
struct AudioCodecFormat {
  WMWAVEFORMATEX wave;
  std::vector<BYTE> extra;  ///< the codec's cbSize bytes after the header
};

/// Every Windows Media Audio 2 format the encoder accepts: sample rates from 8 kHz to
/// 48 kHz, mono and stereo, at bitrates of 24 kbit/s and more (the encoder's lowest)
/// up to 4 bits per sample. Built once by opening the encoder on each candidate, so
/// that no format is offered that the writer could not produce.
[[nodiscard]] const std::vector<AudioCodecFormat>& AudioCodecFormats();

/// The media type of a stream configuration with its format block.
struct MediaTypeCopy {
  WM_MEDIA_TYPE type{};
  std::vector<BYTE> format;
};

/// Reads a stream's media type through IWMMediaProps.
[[nodiscard]] HRESULT ReadMediaType(IWMStreamConfig* config, MediaTypeCopy* out);

/// Reads a stream's name or connection name.
[[nodiscard]] std::string ReadStreamName(IWMStreamConfig* config);
[[nodiscard]] std::string ReadConnectionName(IWMStreamConfig* config);

}  // namespace halvard::wmf
