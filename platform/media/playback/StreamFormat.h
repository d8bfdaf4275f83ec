#pragma once
// The format blocks on the demultiplexer's output pins: a VIDEOINFOHEADER or a
// WAVEFORMATEX as any filter expects, followed by what libavcodec needs to open a
// decoder for the stream (codec, sizes, extradata). Plain bytes, no pointers, so a type
// copied by the graph stays valid on its own.

#include <cstdint>
#include <vector>

#include "platform/media/MediaType.h"

struct AVCodecParameters;

namespace halvard::media::playback {

struct StreamCodecInfo {
  std::uint32_t magic = 0;  // kStreamCodecMagic
  std::int32_t codecType = 0;
  std::int32_t codecId = 0;
  std::uint32_t codecTag = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t pixelFormat = -1;
  std::int32_t channels = 0;
  std::int32_t sampleRate = 0;
  std::int32_t blockAlign = 0;
  std::int32_t bitsPerCodedSample = 0;
  std::int32_t frameSize = 0;
  std::int64_t bitRate = 0;
  std::int32_t extradataSize = 0;
  std::int32_t reserved = 0;
};

inline constexpr std::uint32_t kStreamCodecMagic = 0x48504C42;  // "HPLB"

/// Builds the output type of a stream (video: MEDIATYPE_Video; audio: MEDIATYPE_Audio);
/// false for other streams.
bool MakeStreamType(const AVCodecParameters& par, std::int64_t avgTimePerFrame, CMediaType* mt);
/// The codec description inside a type made by MakeStreamType, or false.
bool ReadStreamType(const AM_MEDIA_TYPE& mt, StreamCodecInfo* info, std::vector<std::uint8_t>* extradata);
/// Fills codec parameters from a description (the extradata is copied).
bool FillCodecParameters(const StreamCodecInfo& info, const std::vector<std::uint8_t>& extradata,
                         AVCodecParameters* par);

}  // namespace halvard::media::playback
