#include "server/ui/playback/VideoFileInfo.h"

#include <cstdio>
#include <cstdlib>

#include "platform/com/Com.h"
#include "platform/media/Interfaces.h"
#include "platform/media/Uuids.h"
#include "platform/wmf/Wmf.h"
#include "server/ui/playback/PlaybackGraph.h"

namespace halvard::ui::playback {

namespace {



/// "Duration" (8 bytes, or 4 when shorter) and "Bitrate" (4 bytes) of the header.
bool ReadWindowsMediaHeader(const std::string& path, VideoFileInfo* info) {
  ComPtr<IWMMetadataEditor> editor;
  if (WMCreateEditor(editor.ReleaseAndGetAddressOf()) != S_OK || editor->Open(path.c_str()) != S_OK) {
    return false;
  }
  bool ok = false;
  ComPtr<IWMHeaderInfo> header;
  if (editor.As(&header) == S_OK) {
    WORD stream = 0;
    WMT_ATTR_DATATYPE type{};
    QWORD duration = 0;
    WORD length = sizeof duration;
    if (header->GetAttributeByName(&stream, "Duration", &type, reinterpret_cast<BYTE*>(&duration), &length) == S_OK &&
        (length == 8 || length == 4)) {
      if (length == 4) {
        duration &= 0xFFFFFFFFu;
      }
      info->playLength = static_cast<double>(duration) * 1e-7;
      DWORD bitrate = 0;
      length = sizeof bitrate;
      stream = 0;
      if (header->GetAttributeByName(&stream, "Bitrate", &type, reinterpret_cast<BYTE*>(&bitrate), &length) == S_OK &&
          length == sizeof bitrate) {
        info->bitrate = bitrate;
        ok = true;
      }
    }
  }
  (void)editor->Close();
  return ok;
}

/// The picture size of the file rendered in a graph of its own, from the renderer's
/// basic video interface.
bool ReadRenderedSize(const std::string& path, VideoFileInfo* info) {
  VideoFileInfo windowsMedia = *info;
  windowsMedia.windowsMedia = true;
  GraphError error;
  const std::unique_ptr<IPlaybackGraph> graph = CreatePlaybackGraph(path, windowsMedia, 0, nullptr, &error);
  if (!graph) {
    return false;
  }
  return graph->VideoSize(&info->width, &info->height) && info->width > 0 && info->height > 0;
}

bool ReadWithDetector(const std::string& path, VideoFileInfo* info) {
  ComPtr<IMediaDet> det;
  if (FAILED(wmf::CreateMediaDet(det.ReleaseAndGetAddressOf())) || FAILED(det->put_Filename(path.c_str()))) {
    return false;
  }
  LONG streams = 0;
  if (FAILED(det->get_OutputStreams(&streams))) {
    return false;
  }
  for (LONG i = 0; i < streams; ++i) {
    if (FAILED(det->put_CurrentStream(i))) {
      continue;
    }
    WM_MEDIA_TYPE type{};
    if (FAILED(det->get_StreamMediaType(&type))) {
      continue;
    }
    const bool video = type.majortype == WMMEDIATYPE_Video && type.formattype == WMFORMAT_VideoInfo &&
                       type.pbFormat != nullptr && type.cbFormat >= sizeof(WMVIDEOINFOHEADER);
    if (video) {
      const auto* header = reinterpret_cast<const WMVIDEOINFOHEADER*>(type.pbFormat);
      info->width = header->bmiHeader.biWidth;
      info->height = std::abs(header->bmiHeader.biHeight);
    }
    wmf::FreeMediaType(&type);
    if (!video) {
      continue;
    }
    (void)det->get_FrameRate(&info->frameRate);
    (void)det->get_StreamLength(&info->playLength);
    return true;
  }
  return false;
}

}  // namespace

bool ReadVideoFileInfo(const std::string& path, VideoFileInfo* info) {
  if (info == nullptr) {
    return false;
  }
  *info = {};
  if (ReadWindowsMediaHeader(path, info) && ReadRenderedSize(path, info)) {
    info->windowsMedia = true;
    return true;
  }
  *info = {};
  if (ReadWithDetector(path, info)) {
    return true;
  }
  *info = {};
  return false;
}

std::string PixelsText(LONG pixels) {
  char text[48];
  std::snprintf(text, sizeof text, "%ld Pixels", static_cast<long>(pixels));
  return text;
}

std::string SecondsText(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f Seconds", seconds);
  return text;
}

std::string KbpsText(DWORD bitrate) {
  char text[48];
  std::snprintf(text, sizeof text, "%d Kbps", static_cast<int>(bitrate / 1024));
  return text;
}

}  // namespace halvard::ui::playback
