#include "platform/media/playback/StreamFormat.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

namespace halvard::media::playback {
namespace {

constexpr std::int32_t kMaxExtradata = 1 << 20;

GUID FourccGuid(std::uint32_t fourcc) {
  // The media subtype convention for a FOURCC: {fourcc-0000-0010-8000-00AA00389B71}.
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

}  // namespace

bool MakeStreamType(const AVCodecParameters& par, std::int64_t avgTimePerFrame, CMediaType* mt) {
  StreamCodecInfo info;
  info.magic = kStreamCodecMagic;
  info.codecType = par.codec_type;
  info.codecId = par.codec_id;
  info.codecTag = par.codec_tag;
  info.width = par.width;
  info.height = par.height;
  info.pixelFormat = par.format;
  info.channels = par.ch_layout.nb_channels;
  info.sampleRate = par.sample_rate;
  info.blockAlign = par.block_align;
  info.bitsPerCodedSample = par.bits_per_coded_sample;
  info.frameSize = par.frame_size;
  info.bitRate = par.bit_rate;
  info.extradataSize = par.extradata != nullptr && par.extradata_size > 0 && par.extradata_size <= kMaxExtradata
                           ? par.extradata_size
                           : 0;
  const std::uint32_t tag = par.codec_tag != 0 ? par.codec_tag : static_cast<std::uint32_t>(par.codec_id);
  std::vector<BYTE> block;
  if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
    if (par.width <= 0 || par.height <= 0) {
      return false;
    }
    VIDEOINFOHEADER vih{};
    vih.rcSource = RECT{0, 0, par.width, par.height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = static_cast<DWORD>(par.bit_rate > 0 && par.bit_rate < 0xFFFFFFFFLL ? par.bit_rate : 0);
    vih.AvgTimePerFrame = avgTimePerFrame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = par.width;
    vih.bmiHeader.biHeight = par.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = static_cast<WORD>(par.bits_per_coded_sample > 0 ? par.bits_per_coded_sample : 24);
    vih.bmiHeader.biCompression = tag;
    block.resize(sizeof vih);
    std::memcpy(block.data(), &vih, sizeof vih);
    *mt = CMediaType(&MEDIATYPE_Video);
    mt->SetFormatType(&FORMAT_VideoInfo);
  } else if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
    if (par.ch_layout.nb_channels <= 0 || par.sample_rate <= 0) {
      return false;
    }
    WAVEFORMATEX wf{};
    wf.wFormatTag = static_cast<WORD>(par.codec_tag != 0 ? par.codec_tag : 0xFFFF);
    wf.nChannels = static_cast<WORD>(par.ch_layout.nb_channels);
    wf.nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    wf.nAvgBytesPerSec = static_cast<DWORD>(par.bit_rate > 0 ? par.bit_rate / 8 : 0);
    wf.nBlockAlign = static_cast<WORD>(par.block_align);
    wf.wBitsPerSample = static_cast<WORD>(par.bits_per_coded_sample);
    wf.cbSize = static_cast<WORD>(sizeof(StreamCodecInfo) + static_cast<std::size_t>(info.extradataSize) > 0xFFFF
                                      ? 0
                                      : sizeof(StreamCodecInfo) + static_cast<std::size_t>(info.extradataSize));
    block.resize(sizeof wf);
    std::memcpy(block.data(), &wf, sizeof wf);
    *mt = CMediaType(&MEDIATYPE_Audio);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
  } else {
    return false;
  }
  const std::size_t at = block.size();
  block.resize(at + sizeof info + static_cast<std::size_t>(info.extradataSize));
  std::memcpy(block.data() + at, &info, sizeof info);
  if (info.extradataSize > 0) {
    std::memcpy(block.data() + at + sizeof info, par.extradata, static_cast<std::size_t>(info.extradataSize));
  }
  const GUID subtype = FourccGuid(tag);
  mt->SetSubtype(&subtype);
  mt->SetFormat(block.data(), static_cast<ULONG>(block.size()));
  mt->SetTemporalCompression(true);
  mt->SetVariableSize();
  return true;
}

bool ReadStreamType(const AM_MEDIA_TYPE& mt, StreamCodecInfo* info, std::vector<std::uint8_t>* extradata) {
  std::size_t header = 0;
  if (mt.majortype == MEDIATYPE_Video && mt.formattype == FORMAT_VideoInfo) {
    header = sizeof(VIDEOINFOHEADER);
  } else if (mt.majortype == MEDIATYPE_Audio && mt.formattype == FORMAT_WaveFormatEx) {
    header = sizeof(WAVEFORMATEX);
  } else {
    return false;
  }
  if (mt.pbFormat == nullptr || mt.cbFormat < header + sizeof(StreamCodecInfo)) {
    return false;
  }
  std::memcpy(info, mt.pbFormat + header, sizeof *info);
  if (info->magic != kStreamCodecMagic || info->extradataSize < 0 || info->extradataSize > kMaxExtradata ||
      mt.cbFormat < header + sizeof(StreamCodecInfo) + static_cast<std::size_t>(info->extradataSize)) {
    return false;
  }
  const BYTE* extra = mt.pbFormat + header + sizeof(StreamCodecInfo);
  extradata->assign(extra, extra + info->extradataSize);
  return true;
}

bool FillCodecParameters(const StreamCodecInfo& info, const std::vector<std::uint8_t>& extradata,
                         AVCodecParameters* par) {
  par->codec_type = static_cast<AVMediaType>(info.codecType);
  par->codec_id = static_cast<AVCodecID>(info.codecId);
  par->codec_tag = info.codecTag;
  par->width = info.width;
  par->height = info.height;
  par->format = info.pixelFormat;
  if (info.codecType == AVMEDIA_TYPE_AUDIO) {
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, info.channels);
  }
  par->sample_rate = info.sampleRate;
  par->block_align = info.blockAlign;
  par->bits_per_coded_sample = info.bitsPerCodedSample;
  par->frame_size = info.frameSize;
  par->bit_rate = info.bitRate;
  av_freep(&par->extradata);
  par->extradata_size = 0;
  if (!extradata.empty()) {
    par->extradata = static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) {
      return false;
    }
    std::memcpy(par->extradata, extradata.data(), extradata.size());
    par->extradata_size = static_cast<int>(extradata.size());
  }
  return true;
}

}  // namespace halvard::media::playback
