// halvard-graph: builds a filter graph from one line, runs it and reports what went where.
//
//   halvard-graph [--frames N | --seconds S] [--timeout S] [--quiet] LINE...
//   halvard-graph --list
//
// See Usage() for the line and the filters. Exit status: 0 when the graph ran; 1 when
// a step failed (the message names the result code); 2 for a wrong command line.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filters/hdsimulation/HDSimulation.h"
#include "filters/motion/MotionDetect.h"
#include "filters/splitter/SplitterConfig.h"
#include "platform/audio/AudioDevices.h"
#include "platform/capture/CaptureDevices.h"
#include "platform/capture/CaptureSource.h"
#include "platform/capture/CardState.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/capture/PVProp.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/FrameCounter.h"
#include "platform/media/MediaType.h"
#include "platform/media/playback/Playback.h"
#include "platform/time/Time.h"
#include "platform/window/Window.h"
#include "tools/halvard-graph/FilterProperties.h"
#include "tools/halvard-graph/GraphLine.h"
#include "tools/halvard-graph/ToolFilters.h"

namespace halvard::graphtool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

const char* Usage() {
  return R"(usage: halvard-graph [--frames N | --seconds S] [--timeout S] [--quiet] LINE...
       halvard-graph --list
       halvard-graph --motion SET

LINE describes the graph, filters linked by "!":
  capture device="BT878 Capture 0" width=320 height=240 format=YUY2 ! tee name=t ! renderer  t. ! count
A filter is an alias below, a class identifier ({...}) or a device name ("BT878 Capture 0").
"name=" names a filter; "NAME." continues from it (its next free output), "NAME.PIN" picks a pin.

Aliases and their properties:
  capture        video capture device: device=NAME (default: the first), width, height,
                 format=YUY2|RGB24, standard=PAL_B|NTSC_M|...|number, and through the card
                 library: source=0..4, enable=LIST, disable=LIST (inputs, e.g. 1,3),
                 brightness|contrast|saturation|hue=INPUT:VALUE, motion=LIST (simulated
                 cards: inputs whose object moves)
  simcard        the simulated card's capture source (card 0) by class identifier
  audiocapture   audio capture device: device=NAME (default: the first)
  silence        the default audio source
  rawsrc         raw frames from a file: location, width, height, format, rate, loop
  rawsink        raw frames into a file: location; counts frames per channel byte
  count          a sink that counts frames per channel byte
  splitter       the stream splitter: channels=N (0 ... 1000), colour=YUY2|RGB24 (or 0|1),
                 level=0|1|2 (detail enhancement; 2 adds histogram equalisation); set
                 before its input connects. Outputs Output1 ... carry channels 0, 1, ...
  motion         the motion filter: hold, rearm (ms), width, height, top, bottom (margins in
                 rows), bpp (2 = YUY2, 3 = RGB24), block, threshold, reserved (or the
                 parameter block's field names: holdPeriodMs, topMargin, blockSize, ...);
                 width, height and bpp not given come from the type it is connected with.
                 area=all or a list of watched blocks, as indices or column:row pairs
                 (area=0,1,2 or area=3:0,3:1); without area every block is watched.
                 Its motion messages go to the tool's own message window and are printed
                 with the filter's name, timeGetTime and the wall clock:
                   motion message from NAME (command 324) at T ms, YYYY-MM-DD HH:MM:SS.mmm
  hdsimulation   the HD simulation scaler (also "scaler"): width and height, or level=n for
                 n x 640 by 2 x n x the input's height; set before its output connects
                 (level needs its input linked earlier on the line)
  filesrc        the file reader ("Async Reader"): location=PATH of a recording
  wmfdemux       the Windows Media demultiplexer ("WMF Demux") behind filesrc; outputs
                 Video, Audio (then Video 2, ...)
  filedemux      the demultiplexer of any file FFmpeg opens, as a source: location=PATH
  decoder        decodes one demultiplexer output to YUY2 / RGB24 pictures or PCM sound
                 (a recording decoded and counted: filesrc location=F.wmv ! wmfdemux
                 ! decoder ! count)
  tee, colour, renderer, snapshot, audiorenderer, testsrc, asfwriter
                 the filters of those classes
Every source of ours also takes frames=N (end of stream after N frames).

The system's filter components (splitter, motion, hdsimulation) are created
by class identifier from the registrations in the settings store, as the server creates
them: register their libraries once with halvard-regsvr (halvard-regsvr LIBRARY.so);
an unregistered class fails with REGDB_E_CLASSNOTREG. The tool never registers anything.

Options:
  --frames N     every source of ours ends its stream after N frames; the run ends when
                 the graph reports completion
  --seconds S    run for S seconds (decimals allowed)
  --timeout S    give up after S seconds (default 60; 0 waits for ever)
  --quiet        print only the counts
  --list         list the aliases' classes, the known filter classes and the devices
  --motion SET   write the motion set of the simulated cards' inputs ("0:2 1:0", "all",
                 "none") into their control file, which running cards (in any process)
                 follow within a second, and exit

Simulated cards: HALVARD_SIMULATED_CARDS=N gives N cards "BT878 Capture 0" ...; the
motion of their inputs follows motion= above, the file named by
$HALVARD_SIMULATED_CONTROL (default: simulated-motion in the data folder, holding e.g.
"0:2 1:0") and $HALVARD_SIMULATED_MOTION.
)";
}

const std::map<std::string, GUID>& ClassAliases() {
  static const std::map<std::string, GUID> aliases = {
      {"tee", CLSID_SmartTee},
      {"colour", CLSID_Colour},
      {"color", CLSID_Colour},
      {"renderer", CLSID_VideoRenderer},
      {"videorenderer", CLSID_VideoRenderer},
      {"snapshot", CLSID_ZelSnapShot},
      {"silence", CLSID_DefaultAudioSource},
      {"audiorenderer", CLSID_DSoundRender},
      {"testsrc", CLSID_HalvardTestSource},
      {"simcard", CLSID_HalvardSimulatedCapture},
      {"splitter", CLSID_ZelSplitter},
      {"motion", CLSID_ZelMotion},
      {"hdsimulation", CLSID_ZelHDSimulation},
      {"scaler", CLSID_ZelHDSimulation},
      {"asfwriter", CLSID_WMAsfWriter},
      {"filesrc", CLSID_AsyncReader},
      {"wmfdemux", CLSID_WmfDemux},
      {"filedemux", CLSID_HalvardFileDemux},
      {"decoder", CLSID_HalvardDecoder},
  };
  return aliases;
}

struct Failure {
  std::string what;
  HRESULT hr;
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string EventName(LONG code) {
  static const std::map<LONG, const char*> names = {
      {EC_COMPLETE, "EC_COMPLETE"},
      {EC_USERABORT, "EC_USERABORT"},
      {EC_ERRORABORT, "EC_ERRORABORT"},
      {EC_TIME, "EC_TIME"},
      {EC_REPAINT, "EC_REPAINT"},
      {EC_STREAM_ERROR_STOPPED, "EC_STREAM_ERROR_STOPPED"},
      {EC_STREAM_ERROR_STILLPLAYING, "EC_STREAM_ERROR_STILLPLAYING"},
      {EC_ERROR_STILLPLAYING, "EC_ERROR_STILLPLAYING"},
      {EC_PALETTE_CHANGED, "EC_PALETTE_CHANGED"},
      {EC_VIDEO_SIZE_CHANGED, "EC_VIDEO_SIZE_CHANGED"},
      {EC_QUALITY_CHANGE, "EC_QUALITY_CHANGE"},
      {EC_SHUTTING_DOWN, "EC_SHUTTING_DOWN"},
      {EC_CLOCK_CHANGED, "EC_CLOCK_CHANGED"},
      {EC_PAUSED, "EC_PAUSED"},
      {EC_DEVICE_LOST, "EC_DEVICE_LOST"},
      {EC_STEP_COMPLETE, "EC_STEP_COMPLETE"},
      {EC_WINDOW_DESTROYED, "EC_WINDOW_DESTROYED"},
      {EC_DISPLAY_CHANGED, "EC_DISPLAY_CHANGED"},
  };
  const auto it = names.find(code);
  if (it != names.end()) {
    return it->second;
  }
  char text[24];
  std::snprintf(text, sizeof text, "EC_0x%02X", static_cast<unsigned>(code));
  return text;
}

bool ParseList(const std::string& text, std::vector<int>* items) {
  items->clear();
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = text.find(',', pos);
    const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    char* end = nullptr;
    const long v = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || v < 0 || v >= capture::kCardInputs) {
      return false;
    }
    items->push_back(static_cast<int>(v));
    if (comma == std::string::npos) {
      break;
    }
    pos = comma + 1;
  }
  return !items->empty();
}

bool ParseLong(const std::string& text, long long minimum, long long maximum, long long* value) {
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || v < minimum || v > maximum) {
    return false;
  }
  *value = v;
  return true;
}

std::optional<DWORD> ParseStandard(const std::string& text) {
  static const std::map<std::string, DWORD> names = {
      {"NTSC_M", capture::kStandardNtscM},   {"NTSC_M_J", capture::kStandardNtscMJ},
      {"NTSC_433", capture::kStandardNtsc433}, {"PAL_B", capture::kStandardPalB},
      {"PAL_D", capture::kStandardPalD},     {"PAL_G", capture::kStandardPalG},
      {"PAL_H", capture::kStandardPalH},     {"PAL_I", capture::kStandardPalI},
      {"PAL_M", capture::kStandardPalM},     {"PAL_N", capture::kStandardPalN},
      {"PAL_60", capture::kStandardPal60},   {"SECAM_B", capture::kStandardSecamB},
      {"SECAM_D", capture::kStandardSecamD}, {"SECAM_G", capture::kStandardSecamG},
      {"SECAM_H", capture::kStandardSecamH}, {"SECAM_K", capture::kStandardSecamK},
      {"SECAM_K1", capture::kStandardSecamK1}, {"SECAM_L", capture::kStandardSecamL},
      {"SECAM_L1", capture::kStandardSecamL1},
  };
  if (const auto it = names.find(text); it != names.end()) {
    return it->second;
  }
  long long v = 0;
  if (ParseLong(text, 1, 0x7FFFFFFF, &v)) {
    return static_cast<DWORD>(v);
  }
  return std::nullopt;
}

// One filter of the graph as the tool knows it.
struct Node {
  std::string name;          // its name in the graph
  std::string label;         // what the line called it
  ComPtr<IBaseFilter> filter;
  IToolProperties* toolProperties = nullptr;  // our own filters; points into filter
  int card = -1;             // a capture card's library number
  bool isCapture = false;
  enum class Kind { Other, Splitter, Motion, Scaler } kind = Kind::Other;
  ScalerSettings scaler;     // applied when its output is linked (or after the links)
  bool scalerApplied = false;
  MotionSettings motion;     // applied after the links, when upstream is known
  HWND window = 0;           // the motion filter's notify window
  long motionMessages = 0;
};

// Settings of a capture filter, applied together after every property was read.
struct CaptureSettings {
  std::optional<LONG> width;
  std::optional<LONG> height;
  std::optional<bool> rgb;
  std::optional<DWORD> standard;
};

class CGraphTool {
 public:
  int Run(int argc, char** argv);

 private:
  std::optional<Failure> Build(const GraphSpec& spec);
  std::optional<Failure> CreateNode(const FilterSpec& spec, std::size_t index, Node* node,
                                    std::vector<std::pair<std::string, std::string>>* rest);
  std::optional<Failure> ApplyCaptureProperties(Node& node, const std::vector<std::pair<std::string, std::string>>& props);
  std::optional<Failure> Link(const LinkSpec& link);
  std::optional<Failure> ApplyFilterProperties(Node& node, const PropertyList& props);
  std::optional<Failure> ApplyScaler(Node& node);
  std::optional<Failure> ApplyMotion(Node& node);
  void OnMotion(Node& node);
  std::optional<Failure> RunGraph();
  void PrintCounts();
  void PrintEvent(LONG code, LONG_PTR p1, LONG_PTR p2);
  static void List();

  ComPtr<IGraphBuilder> m_graph;
  std::vector<Node> m_nodes;
  long long m_frames = 0;
  double m_seconds = 0;
  double m_timeoutSeconds = 60;
  bool m_quiet = false;
  bool m_libraryInitialised = false;
  window::CMessageQueue m_queue;  // the motion filters' notify windows; pumped by Run's thread
};

std::optional<Failure> CGraphTool::CreateNode(const FilterSpec& spec, std::size_t index, Node* node,
                                              std::vector<std::pair<std::string, std::string>>* rest) {
  node->label = spec.factory;
  node->name = spec.name.empty() ? spec.factory + std::to_string(index) : spec.name;
  *rest = spec.properties;
  const std::string& f = spec.factory;
  HRESULT hr = S_OK;
  const auto takeProperty = [&](const std::string& key) -> std::optional<std::string> {
    for (auto it = rest->begin(); it != rest->end(); ++it) {
      if (it->first == key) {
        std::string value = it->second;
        rest->erase(it);
        return value;
      }
    }
    return std::nullopt;
  };
  const auto bindDevice = [&](REFCLSID category, const std::optional<std::string>& device) -> std::optional<Failure> {
    std::string name;
    if (device) {
      name = *device;
    } else {
      const std::vector<std::string> names = capture::ListDeviceNames(category);
      if (names.empty()) {
        return Failure{"filter \"" + f + "\": no device", VFW_E_NO_CAPTURE_HARDWARE};
      }
      name = names.front();
    }
    hr = capture::FindDeviceFilter(category, name, node->filter.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
      return Failure{"device \"" + name + "\"", hr};
    }
    node->label = name;
    if (category == CLSID_VideoInputDeviceCategory) {
      node->isCapture = true;
      for (const capture::CaptureDevice& d : capture::EnumerateCaptureDevices()) {
        if (d.friendlyName == name) {
          node->card = d.card;
        }
      }
    }
    return std::nullopt;
  };

  if (f == "capture") {
    return bindDevice(CLSID_VideoInputDeviceCategory, takeProperty("device"));
  }
  if (f == "audiocapture") {
    return bindDevice(CLSID_AudioInputDeviceCategory, takeProperty("device"));
  }
  if (f == "rawsrc" || f == "rawsink" || f == "count") {
    hr = f == "rawsrc" ? CreateRawSource(node->filter.ReleaseAndGetAddressOf(), &node->toolProperties)
                       : CreateRawSink(node->filter.ReleaseAndGetAddressOf(), &node->toolProperties);
    if (FAILED(hr)) {
      return Failure{"filter \"" + f + "\"", hr};
    }
    return std::nullopt;
  }
  GUID clsid = GUID_NULL;
  if (const auto it = ClassAliases().find(f); it != ClassAliases().end()) {
    clsid = it->second;
  } else if (!f.empty() && f.front() == '{') {
    if (!com::ParseGuid(f, &clsid)) {
      return Failure{"\"" + f + "\" is not a class identifier", E_INVALIDARG};
    }
  } else {
    // A device name: video first, then audio.
    for (const GUID* category : {&CLSID_VideoInputDeviceCategory, &CLSID_AudioInputDeviceCategory}) {
      const std::vector<std::string> names = capture::ListDeviceNames(*category);
      if (std::find(names.begin(), names.end(), f) != names.end()) {
        return bindDevice(*category, f);
      }
    }
    return Failure{"no filter alias or device is called \"" + f + "\"", VFW_E_NOT_FOUND};
  }
  hr = com::CreateInstance(clsid, &node->filter);
  if (hr == REGDB_E_CLASSNOTREG) {
    return Failure{"creating \"" + f + "\" " + com::FormatGuid(clsid) +
                       ": the class is not registered (register its library with halvard-regsvr)",
                   hr};
  }
  if (FAILED(hr)) {
    return Failure{"creating \"" + f + "\"", hr};
  }
  if (clsid == CLSID_ZelSplitter) {
    node->kind = Node::Kind::Splitter;
  } else if (clsid == CLSID_ZelMotion) {
    node->kind = Node::Kind::Motion;
  } else if (clsid == CLSID_ZelHDSimulation) {
    node->kind = Node::Kind::Scaler;
  }
  node->isCapture = clsid == CLSID_HalvardSimulatedCapture;
  if (node->isCapture) {
    node->card = 0;
  }
  return std::nullopt;
}

std::optional<Failure> CGraphTool::ApplyCaptureProperties(Node& node,
                                                          const std::vector<std::pair<std::string, std::string>>& props) {
  CaptureSettings settings;
  const auto bad = [&](const std::string& key, const std::string& why) {
    return Failure{"filter \"" + node.name + "\": " + key + " " + why, E_INVALIDARG};
  };
  const auto needCard = [&](const std::string& key) -> std::optional<Failure> {
    if (node.card < 0) {
      return bad(key, "needs a card of the card library");
    }
    if (!m_libraryInitialised) {
      m_libraryInitialised = PV_HWInit() != FALSE;
      if (!m_libraryInitialised) {
        return Failure{"the card library does not start", VFW_E_NO_CAPTURE_HARDWARE};
      }
    }
    return std::nullopt;
  };
  for (const auto& [key, value] : props) {
    long long n = 0;
    if (key == "width" || key == "height") {
      if (!ParseLong(value, 1, 8192, &n)) {
        return bad(key, "must be a number");
      }
      (key == "width" ? settings.width : settings.height) = static_cast<LONG>(n);
    } else if (key == "format") {
      if (value != "YUY2" && value != "RGB24") {
        return bad(key, "must be YUY2 or RGB24");
      }
      settings.rgb = value == "RGB24";
    } else if (key == "standard") {
      settings.standard = ParseStandard(value);
      if (!settings.standard) {
        return bad(key, "must be a standard such as PAL_B or NTSC_M");
      }
    } else if (key == "frames") {
      ComPtr<IFrameCounter> counter;
      if (!ParseLong(value, 0, 1LL << 40, &n)) {
        return bad(key, "must be a number");
      }
      if (FAILED(node.filter.As(&counter)) || FAILED(counter->SetFrameLimit(n))) {
        return bad(key, "is not supported");
      }
    } else if (key == "source") {
      if (auto f = needCard(key)) {
        return f;
      }
      if (!ParseLong(value, 0, 4, &n) || !PV_SetVideoSource(node.card, static_cast<int>(n))) {
        return bad(key, "must be 0 ... 4");
      }
    } else if (key == "enable" || key == "disable" || key == "motion") {
      std::vector<int> inputs;
      if (!ParseList(value, &inputs)) {
        return bad(key, "must list inputs 0 ... 3, e.g. 1,3");
      }
      if (key == "motion") {
        for (int i : inputs) {
          capture::SetSimulatedMotion(node.card < 0 ? 0 : node.card, i, true);
        }
        continue;
      }
      if (auto f = needCard(key)) {
        return f;
      }
      for (int i : inputs) {
        if (!PV_EnableVideoSource(node.card, i, key == "enable" ? 1 : 0)) {
          return bad(key, "was refused by the card library");
        }
      }
    } else if (key == "brightness" || key == "contrast" || key == "saturation" || key == "hue") {
      if (auto f = needCard(key)) {
        return f;
      }
      const std::size_t colon = value.find(':');
      long long input = 0;
      if (colon == std::string::npos || !ParseLong(value.substr(0, colon), 0, 3, &input) ||
          !ParseLong(value.substr(colon + 1), 0, 10000, &n)) {
        return bad(key, "must be INPUT:VALUE with a value of 0 ... 10000");
      }
      const auto setter = key == "brightness" ? &PV_SetBrightness
                          : key == "contrast" ? &PV_SetContrast
                          : key == "saturation" ? &PV_SetSaturation
                                                : &PV_SetHue;
      if (!setter(node.card, static_cast<int>(input), static_cast<int>(n))) {
        return bad(key, "was refused by the card library");
      }
    } else {
      return bad("property \"" + key + "\"", "is unknown");
    }
  }

  if (settings.standard) {
    ComPtr<IPin> pin;
    ComPtr<IAMAnalogVideoDecoder> decoder;
    HRESULT hr = node.filter.As(&decoder);
    if (SUCCEEDED(hr)) {
      hr = decoder->put_TVFormat(static_cast<LONG>(*settings.standard));
    }
    if (FAILED(hr)) {
      return Failure{"filter \"" + node.name + "\": setting the standard", hr};
    }
  }
  if (settings.width || settings.height || settings.rgb) {
    ComPtr<IPin> pin;
    HRESULT hr = node.filter->FindPin(L"Capture", pin.ReleaseAndGetAddressOf());
    ComPtr<IAMStreamConfig> config;
    if (SUCCEEDED(hr)) {
      hr = pin.As(&config);
    }
    AM_MEDIA_TYPE* current = nullptr;
    if (SUCCEEDED(hr)) {
      hr = config->GetFormat(&current);
    }
    if (SUCCEEDED(hr)) {
      const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*current);
      const LONG width = settings.width.value_or(vih != nullptr ? vih->bmiHeader.biWidth : 320);
      const LONG height = settings.height.value_or(vih != nullptr ? vih->bmiHeader.biHeight : 240);
      const bool rgb = settings.rgb.value_or(current->subtype == MEDIASUBTYPE_RGB24);
      CMediaType wanted = media::MakeVideoType(rgb ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_YUY2, width, height,
                                               vih != nullptr ? vih->AvgTimePerFrame : UNITS / 25);
      hr = config->SetFormat(&wanted);
      DeleteMediaType(current);
    }
    if (FAILED(hr)) {
      return Failure{"filter \"" + node.name + "\": setting the format", hr};
    }
  }
  return std::nullopt;
}

std::optional<Failure> CGraphTool::Build(const GraphSpec& spec) {
  HRESULT hr = com::CreateInstance(CLSID_FilterGraph, &m_graph);
  if (FAILED(hr)) {
    return Failure{"creating the filter graph", hr};
  }
  m_nodes.resize(spec.filters.size());
  for (std::size_t i = 0; i < spec.filters.size(); ++i) {
    Node& node = m_nodes[i];
    std::vector<std::pair<std::string, std::string>> props;
    if (auto f = CreateNode(spec.filters[i], i, &node, &props)) {
      return f;
    }
    const std::wstring wideName = media::FromUtf8(node.name);
    hr = m_graph->AddFilter(node.filter.Get(), wideName.c_str());
    if (FAILED(hr)) {
      return Failure{"adding \"" + node.name + "\" to the graph", hr};
    }
    if (node.toolProperties != nullptr) {
      for (const auto& [key, value] : props) {
        std::string error;
        hr = node.toolProperties->SetProperty(key, value, &error);
        if (FAILED(hr)) {
          return Failure{"filter \"" + node.name + "\": " + error, hr};
        }
      }
    } else if (node.isCapture) {
      if (auto f = ApplyCaptureProperties(node, props)) {
        return f;
      }
    } else if (node.kind != Node::Kind::Other) {
      if (auto f = ApplyFilterProperties(node, props)) {
        return f;
      }
    } else {
      for (const auto& [key, value] : props) {
        ComPtr<IFileSourceFilter> file;
        if (key == "location" && SUCCEEDED(node.filter.As(&file))) {
          hr = file->Load(media::FromUtf8(value).c_str(), nullptr);
          if (FAILED(hr)) {
            return Failure{"filter \"" + node.name + "\": opening \"" + value + "\"", hr};
          }
          continue;
        }
        if (key == "frames") {
          ComPtr<IFrameCounter> counter;
          long long n = 0;
          if (ParseLong(value, 0, 1LL << 40, &n) && SUCCEEDED(node.filter.As(&counter)) &&
              SUCCEEDED(counter->SetFrameLimit(n))) {
            continue;
          }
        }
        return Failure{"filter \"" + node.name + "\" has no property \"" + key + "\"", E_INVALIDARG};
      }
    }
  }
  for (const LinkSpec& link : spec.links) {
    if (auto f = Link(link)) {
      return f;
    }
  }
  for (Node& node : m_nodes) {
    if (node.kind == Node::Kind::Scaler) {
      if (auto f = ApplyScaler(node)) {
        return f;
      }
    } else if (node.kind == Node::Kind::Motion) {
      if (auto f = ApplyMotion(node)) {
        return f;
      }
    }
  }
  return std::nullopt;
}

std::optional<Failure> CGraphTool::ApplyFilterProperties(Node& node, const PropertyList& props) {
  std::string error;
  const auto failed = [&](HRESULT hr) { return Failure{"filter \"" + node.name + "\": " + error, hr}; };
  HRESULT hr = S_OK;
  switch (node.kind) {
    case Node::Kind::Splitter: {
      // Before the input connects: the colour format is taken at connection.
      ComPtr<ISplitterConfig> config;
      SplitterConfig c{};
      hr = node.filter.As(&config);
      if (SUCCEEDED(hr)) {
        hr = config->GetConfig(&c);
      }
      if (FAILED(hr)) {
        error = "its configuration interface";
        return failed(hr);
      }
      hr = ParseSplitterProperties(props, &c, &error);
      if (FAILED(hr)) {
        return failed(hr);
      }
      hr = config->SetConfig(&c);
      if (FAILED(hr)) {
        error = "setting the configuration";
        return failed(hr);
      }
      return std::nullopt;
    }
    case Node::Kind::Scaler:
      hr = ParseScalerProperties(props, &node.scaler, &error);
      return FAILED(hr) ? std::optional<Failure>(failed(hr)) : std::nullopt;
    case Node::Kind::Motion: {
      hr = ParseMotionProperties(props, &node.motion, &error);
      if (FAILED(hr)) {
        return failed(hr);
      }
      Node* target = &node;
      node.window = window::CreateWindowHandle(
          [this, target](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == WM_COMMAND && wParam == ID_MOTION_DETECTED) {
              OnMotion(*target);
            }
            return 0;
          },
          &m_queue);
      return std::nullopt;
    }
    case Node::Kind::Other:
      break;
  }
  return std::nullopt;
}

// The input's connected type, when the input is connected.
std::optional<CMediaType> InputType(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) {
    return std::nullopt;
  }
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION d{};
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_INPUT && SUCCEEDED(pin->ConnectionMediaType(&mt))) {
      CMediaType type(mt);
      FreeMediaType(mt);
      return type;
    }
  }
  return std::nullopt;
}

std::optional<Failure> CGraphTool::ApplyScaler(Node& node) {
  if (node.scalerApplied || node.scaler.Empty()) {
    return std::nullopt;
  }
  std::optional<LONG> inputHeight;
  if (const auto type = InputType(node.filter.Get())) {
    if (const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*type)) {
      inputHeight = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
    }
  }
  LONG width = 0;
  LONG height = 0;
  std::string error;
  HRESULT hr = ScalerOutputSize(node.scaler, inputHeight, &width, &height, &error);
  if (FAILED(hr)) {
    return Failure{"filter \"" + node.name + "\": " + error, hr};
  }
  ComPtr<IHDSimulation> hd;
  hr = node.filter.As(&hd);
  if (SUCCEEDED(hr)) {
    hr = hd->SetOutputSize(width, height);
  }
  if (FAILED(hr)) {
    return Failure{"filter \"" + node.name + "\": setting the output size", hr};
  }
  node.scalerApplied = true;
  if (!m_quiet) {
    std::printf("%s: output size %ld x %ld\n", node.name.c_str(), static_cast<long>(width), static_cast<long>(height));
  }
  return std::nullopt;
}

std::optional<Failure> CGraphTool::ApplyMotion(Node& node) {
  ComPtr<IMotionDetect> detect;
  HRESULT hr = node.filter.As(&detect);
  MotionParams params{};
  if (SUCCEEDED(hr)) {
    hr = detect->GetParams(&params);
  }
  if (FAILED(hr)) {
    return Failure{"filter \"" + node.name + "\": its parameter interface", hr};
  }
  std::optional<UpstreamVideo> upstream;
  if (const auto type = InputType(node.filter.Get())) {
    if (const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*type)) {
      const LONG h = vih->bmiHeader.biHeight;
      upstream = UpstreamVideo{vih->bmiHeader.biWidth, h < 0 ? -h : h, vih->bmiHeader.biBitCount / 8};
    }
  }
  BYTE* bitmap = params.areaBitmap;
  MergeMotionParams(node.motion, upstream, &params);
  params.notifyWindow = node.window;
  hr = detect->SetParams(&params);
  if (FAILED(hr)) {
    const long long blocks =
        params.blockSize > 0 ? static_cast<long long>(params.width / params.blockSize) *
                                   ((static_cast<long long>(params.height) - params.topMargin - params.bottomMargin) /
                                    params.blockSize)
                             : 0;
    return Failure{"filter \"" + node.name + "\": the motion parameters were refused (" +
                       std::to_string(params.width) + " x " + std::to_string(params.height) + ", margins " +
                       std::to_string(params.topMargin) + " and " + std::to_string(params.bottomMargin) +
                       ", blocks of " + std::to_string(params.blockSize) + ": " + std::to_string(blocks) +
                       " blocks, at most 5760)",
                   hr};
  }
  if (node.motion.area) {
    std::string error;
    hr = WriteMotionArea(*node.motion.area, params, bitmap, &error);
    if (FAILED(hr)) {
      return Failure{"filter \"" + node.name + "\": " + error, hr};
    }
  }
  // What the filter holds now, not what was asked for.
  if (FAILED(detect->GetParams(&params))) {
    return Failure{"filter \"" + node.name + "\": reading the parameters back", E_UNEXPECTED};
  }
  if (!m_quiet) {
    std::printf("%s: %ld x %ld, %ld bytes per pixel, margins %ld and %ld, blocks of %ld, threshold %ld, hold %lu ms, "
                "rearm %lu ms\n",
                node.name.c_str(), static_cast<long>(params.width), static_cast<long>(params.height),
                static_cast<long>(params.bytesPerPixel), static_cast<long>(params.topMargin),
                static_cast<long>(params.bottomMargin), static_cast<long>(params.blockSize),
                static_cast<long>(params.threshold), static_cast<unsigned long>(params.holdPeriodMs),
                static_cast<unsigned long>(params.rearmPeriodMs));
  }
  return std::nullopt;
}

// Runs on the tool's thread, which pumps the message queue.
void CGraphTool::OnMotion(Node& node) {
  ++node.motionMessages;
  const DWORD ticks = timeGetTime();
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char clock[32];
  std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &local);
  std::printf("motion message from %s (command %u) at %lu ms, %s.%03lld\n", node.name.c_str(),
              static_cast<unsigned>(ID_MOTION_DETECTED), static_cast<unsigned long>(ticks), clock,
              static_cast<long long>(ms));
  std::fflush(stdout);
}

// The named pin, or the first unconnected pin of a direction.
HRESULT FindLinkPin(IBaseFilter* filter, const std::string& pinName, PIN_DIRECTION dir, IPin** pin) {
  *pin = nullptr;
  if (!pinName.empty()) {
    const std::wstring wide = media::FromUtf8(pinName);
    return filter->FindPin(wide.c_str(), pin);
  }
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IPin> p;
  while (pins->Next(1, p.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION d{};
    ComPtr<IPin> peer;
    if (SUCCEEDED(p->QueryDirection(&d)) && d == dir &&
        p->ConnectedTo(peer.ReleaseAndGetAddressOf()) == VFW_E_NOT_CONNECTED) {
      *pin = p.Detach();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

std::optional<Failure> CGraphTool::Link(const LinkSpec& link) {
  Node& from = m_nodes[link.from];
  Node& to = m_nodes[link.to];
  const std::string what = "linking \"" + from.name + "\" to \"" + to.name + "\"";
  if (from.kind == Node::Kind::Scaler) {
    // The output type is derived from the size: it must be set before the output connects.
    if (auto f = ApplyScaler(from)) {
      return f;
    }
  }
  ComPtr<IPin> out;
  ComPtr<IPin> in;
  HRESULT hr = FindLinkPin(from.filter.Get(), link.fromPin, PINDIR_OUTPUT, out.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return Failure{what + ": no free output pin" + (link.fromPin.empty() ? "" : " \"" + link.fromPin + "\""), hr};
  }
  hr = FindLinkPin(to.filter.Get(), link.toPin, PINDIR_INPUT, in.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    return Failure{what + ": no free input pin" + (link.toPin.empty() ? "" : " \"" + link.toPin + "\""), hr};
  }
  hr = m_graph->Connect(out.Get(), in.Get());
  if (FAILED(hr)) {
    return Failure{what, hr};
  }
  if (!m_quiet) {
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(out->ConnectionMediaType(&mt))) {
      std::printf("linked %s to %s: %s\n", from.name.c_str(), to.name.c_str(), media::DescribeMediaType(mt).c_str());
      FreeMediaType(mt);
    }
  }
  return std::nullopt;
}

void CGraphTool::PrintEvent(LONG code, LONG_PTR p1, LONG_PTR p2) {
  if (m_quiet) {
    return;
  }
  std::string text = "event " + EventName(code);
  if (code == EC_ERRORABORT || code == EC_ERROR_STILLPLAYING || code == EC_STREAM_ERROR_STOPPED ||
      code == EC_STREAM_ERROR_STILLPLAYING || code == EC_COMPLETE) {
    const auto hr = static_cast<HRESULT>(p1);
    text += " " + com::ResultName(hr) + " (" + Hex(hr) + ")";
  } else {
    text += " " + std::to_string(p1) + " " + std::to_string(p2);
  }
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

std::optional<Failure> CGraphTool::RunGraph() {
  if (m_frames > 0) {
    for (Node& node : m_nodes) {
      ComPtr<IFrameCounter> counter;
      if (SUCCEEDED(node.filter.As(&counter))) {
        (void)counter->SetFrameLimit(m_frames);  // sinks answer E_NOTIMPL
      }
    }
  }
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  HRESULT hr = m_graph.As(&control);
  if (SUCCEEDED(hr)) {
    hr = m_graph.As(&events);
  }
  if (FAILED(hr)) {
    return Failure{"the graph's control interfaces", hr};
  }
  hr = control->Run();
  if (FAILED(hr)) {
    (void)control->Stop();
    return Failure{"running the graph", hr};
  }
  const auto started = std::chrono::steady_clock::now();
  std::optional<Failure> failure;
  for (;;) {
    LONG code = 0;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    if (events->GetEvent(&code, &p1, &p2, 0) != S_OK) {
      (void)m_queue.PumpOne(20);  // motion messages while waiting
    } else {
      PrintEvent(code, p1, p2);
      (void)events->FreeEventParams(code, p1, p2);
      if (code == EC_COMPLETE || code == EC_USERABORT) {
        break;
      }
      if (code == EC_ERRORABORT) {
        failure = Failure{"the stream", static_cast<HRESULT>(p1)};
        break;
      }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (g_interrupted != 0 || (m_seconds > 0 && elapsed >= m_seconds)) {
      break;
    }
    if (m_timeoutSeconds > 0 && elapsed >= m_timeoutSeconds && m_seconds <= 0) {
      failure = Failure{"waiting for the graph to complete", VFW_E_TIMEOUT};
      break;
    }
  }
  hr = control->Stop();
  if (FAILED(hr) && !failure) {
    failure = Failure{"stopping the graph", hr};
  }
  m_queue.PumpPending();  // messages posted before the stop
  // Events of the stop itself (none expected, but they are part of the story).
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    PrintEvent(code, p1, p2);
    (void)events->FreeEventParams(code, p1, p2);
  }
  return failure;
}

void CGraphTool::PrintCounts() {
  // Every filter of the graph, converters the graph added included.
  ComPtr<IEnumFilters> filters;
  if (FAILED(m_graph->EnumFilters(filters.ReleaseAndGetAddressOf()))) {
    return;
  }
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) {
      continue;
    }
    if (info.pGraph != nullptr) {
      info.pGraph->Release();
    }
    const std::string name = media::ToUtf8(info.achName);
    ComPtr<IFrameCounter> counter;
    if (FAILED(filter.As(&counter))) {
      const auto motion = std::find_if(m_nodes.begin(), m_nodes.end(), [&](const Node& n) {
        return n.kind == Node::Kind::Motion && n.filter.Get() == filter.Get();
      });
      if (motion != m_nodes.end()) {
        std::printf("%s: %ld motion message%s\n", name.c_str(), motion->motionMessages,
                    motion->motionMessages == 1 ? "" : "s");
      } else {
        std::printf("%s: (no counts)\n", name.c_str());
      }
      continue;
    }
    // Our counting filters have one pin each: its count is the filter's.
    std::string pinName;
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (SUCCEEDED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) &&
        pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      PIN_INFO pinInfo{};
      if (SUCCEEDED(pin->QueryPinInfo(&pinInfo))) {
        pinName = "." + media::ToUtf8(pinInfo.achName);
        if (pinInfo.pFilter != nullptr) {
          pinInfo.pFilter->Release();
        }
      }
    }
    LONGLONG total = 0;
    (void)counter->GetFrameCount(&total);
    std::string line = name + pinName + ": " + std::to_string(total) + " frames";
    std::string channels;
    for (LONG c = 0; c < 256; ++c) {
      LONGLONG n = 0;
      if (SUCCEEDED(counter->GetChannelFrameCount(c, &n)) && n > 0) {
        channels += (channels.empty() ? "" : ", ") + std::string("channel ") + std::to_string(c) + ": " +
                    std::to_string(n);
      }
    }
    if (!channels.empty()) {
      line += " (" + channels + ")";
    }
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
}

void CGraphTool::List() {
  std::printf("aliases:\n");
  for (const auto& [alias, clsid] : ClassAliases()) {
    std::printf("  %-14s %s\n", alias.c_str(), com::FormatGuid(clsid).c_str());
  }
  std::printf("  %-14s video capture device\n  %-14s audio capture device\n", "capture", "audiocapture");
  std::printf("  %-14s tool filter\n  %-14s tool filter\n  %-14s tool filter\n", "rawsrc", "rawsink", "count");
  std::printf("filter classes:\n");
  for (const media::KnownFilterClass& k : media::KnownFilterClasses()) {
    std::printf("  %s %s\n", com::FormatGuid(k.clsid).c_str(), k.name.c_str());
  }
  std::printf("video capture devices:\n");
  for (const capture::CaptureDevice& d : capture::EnumerateCaptureDevices()) {
    std::printf("  \"%s\" %s\n", d.friendlyName.c_str(), d.devicePath.c_str());
  }
  std::printf("audio capture devices:\n");
  for (const audio::AudioDevice& d : audio::EnumerateAudioInputs()) {
    std::printf("  \"%s\" %s\n", d.friendlyName.c_str(), d.devicePath.c_str());
  }
}

// Writes the control file in one piece (a new file renamed over the old), so that a
// card reading it never sees half a set.
int WriteMotion(const std::string& set) {
  const std::string path = capture::MotionControlPath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << set << "\n";
    if (!out) {
      std::fprintf(stderr, "halvard-graph: cannot write %s\n", temporary.c_str());
      return 1;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::fprintf(stderr, "halvard-graph: cannot write %s: %s\n", path.c_str(), ec.message().c_str());
    return 1;
  }
  std::printf("%s: %s\n", path.c_str(), set.c_str());
  return 0;
}

int CGraphTool::Run(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](const char* option) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "halvard-graph: %s needs a value\n", option);
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (a == "--help" || a == "-h") {
      std::printf("%s", Usage());
      return 0;
    }
    if (a == "--list") {
      List();
      return 0;
    }
    if (a == "--motion") {
      const auto v = value(a.c_str());
      return v ? WriteMotion(*v) : 2;
    }
    if (a == "--quiet") {
      m_quiet = true;
    } else if (a == "--frames" || a == "--seconds" || a == "--timeout") {
      const auto v = value(a.c_str());
      char* end = nullptr;
      if (!v) {
        return 2;
      }
      const double d = std::strtod(v->c_str(), &end);
      if (v->empty() || *end != '\0' || d < 0 || (a == "--frames" && (d != static_cast<long long>(d) || d < 1))) {
        std::fprintf(stderr, "halvard-graph: %s takes a %s\n", a.c_str(),
                     a == "--frames" ? "positive whole number" : "number of seconds");
        return 2;
      }
      if (a == "--frames") {
        m_frames = static_cast<long long>(d);
      } else if (a == "--seconds") {
        m_seconds = d;
      } else if (a == "--timeout") {
        m_timeoutSeconds = d;
      }
    } else if (a == "--") {
      for (++i; i < argc; ++i) {
        words.emplace_back(argv[i]);
      }
    } else if (a.size() > 2 && a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "halvard-graph: unknown option %s\n%s", a.c_str(), Usage());
      return 2;
    } else {
      words.push_back(a);
    }
  }
  if (m_frames > 0 && m_seconds > 0) {
    std::fprintf(stderr, "halvard-graph: give --frames or --seconds, not both\n");
    return 2;
  }
  std::string error;
  std::vector<std::string> lineWords;
  GraphSpec spec;
  if (!SplitWords(JoinArguments(words), &lineWords, &error) || !ParseGraphLine(lineWords, &spec, &error)) {
    std::fprintf(stderr, "halvard-graph: %s\n%s", error.c_str(), Usage());
    return 2;
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  media::RegisterBuiltinMediaClasses();
  media::playback::RegisterPlaybackClasses();
  capture::RegisterCaptureClasses();

  std::optional<Failure> failure = Build(spec);
  if (!failure) {
    failure = RunGraph();
    PrintCounts();
  }
  if (m_graph) {
    // Take the graph apart before the filters go, as every program should.
    ComPtr<IMediaControl> control;
    if (SUCCEEDED(m_graph.As(&control))) {
      (void)control->Stop();
    }
  }
  for (Node& node : m_nodes) {
    if (node.window != 0) {
      window::DestroyWindowHandle(node.window);
    }
  }
  m_nodes.clear();
  m_graph = nullptr;
  if (m_libraryInitialised) {
    (void)PV_HWUnInit();
  }
  CoUninitialize();
  if (failure) {
    std::fprintf(stderr, "halvard-graph: %s: %s (%s)\n", failure->what.c_str(), com::ResultName(failure->hr).c_str(),
                 Hex(failure->hr).c_str());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace halvard::graphtool

int main(int argc, char** argv) {
  halvard::graphtool::CGraphTool tool;
  return tool.Run(argc, argv);
}
