#include "server/engine/GroupPipeline.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "filters/hdsimulation/HDSimulation.h"
#include "filters/motion/MotionDetect.h"
#include "filters/splitter/SplitterConfig.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/capture/NetworkCamera.h"
#include "platform/media/MediaType.h"
#include "platform/media/Pins.h"
#include "platform/media/Types.h"
#include "platform/media/Uuids.h"
#include "platform/media/VideoSurface.h"
#include "server/archive/Archive.h"
#include "server/archive/CleanUp.h"
#include "server/archive/Profile.h"
#include "server/engine/CardAdjustments.h"
#include "server/settings/Settings.h"

namespace halvard::engine {

namespace s = halvard::settings;
using media::FromUtf8;

namespace {

/// Rows the motion detector leaves out at the top: the time stamp lives there.
constexpr LONG kMotionTopMargin = 16;
constexpr DWORD kMaximumViewers = 50;

ComPtr<IPin> FindPin(ICaptureGraphBuilder2* builder, IBaseFilter* filter, PIN_DIRECTION direction, int index) {
  ComPtr<IPin> pin;
  (void)builder->FindPin(filter, direction, nullptr, nullptr, TRUE, index, pin.ReleaseAndGetAddressOf());
  return pin;
}

using media::PinsOf;

/// The input pin of that name, or the filter's first input pin.
ComPtr<IPin> InputPin(IBaseFilter* filter, const wchar_t* name = nullptr) {
  ComPtr<IPin> pin;
  if (name != nullptr) {
    (void)filter->FindPin(name, pin.ReleaseAndGetAddressOf());
    return pin;
  }
  auto inputs = PinsOf(filter, PINDIR_INPUT);
  return inputs.empty() ? pin : inputs.front();
}

template <class T>
HRESULT Create(REFCLSID clsid, ComPtr<T>* out) {
  return com::CreateInstance(clsid, out);
}

/// What every step needs.
struct Build {
  CameraRoster& roster;
  CameraGroup& group;
  GroupGraph& g;
  IEngineHost& host;
  const std::string& name;

  /// A message box with a numbered text; always false, so a step can `return Fail(n)`.
  bool Fail(unsigned message) const {
    host.ShowMessage(host.Text(message));
    return false;
  }
};

// ---- step 1: the front of the graph ------------------------------------------------------

void SetCaptureFormat(const Build& b) {
  ComPtr<IAMAnalogVideoDecoder> decoder;
  if (SUCCEEDED(b.g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, b.g.source.Get(),
                                           IID_IAMAnalogVideoDecoder, decoder.PutVoid()))) {
    LONG available = 0;
    const DWORD standard = s::Lookup(s::kVideoStandards, s::ReadDataFormat(b.name), 1).analogVideoStandard;
    if (SUCCEEDED(decoder->get_AvailableTVFormats(&available)) && (static_cast<DWORD>(available) & standard) != 0) {
      (void)decoder->put_TVFormat(static_cast<LONG>(standard));
    }
  }
  ComPtr<IAMStreamConfig> config;
  if (FAILED(b.g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, b.g.source.Get(),
                                        IID_IAMStreamConfig, config.PutVoid()))) {
    return;
  }
  AM_MEDIA_TYPE* type = nullptr;
  if (FAILED(config->GetFormat(&type)) || type == nullptr) {
    return;
  }
  if (type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat != nullptr) {
    const s::CaptureSize size = s::Lookup(s::kCaptureSizes, s::kDataResolution.Read(b.name), s::kDataResolution.def);
    const bool rgb = s::kDataColor.Read(b.name) == 1;
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    info->bmiHeader.biWidth = size.width;
    info->bmiHeader.biHeight = size.height;
    info->bmiHeader.biBitCount = rgb ? 24 : 16;
    info->bmiHeader.biCompression = rgb ? 0 : MEDIASUBTYPE_YUY2.Data1;
    info->bmiHeader.biSizeImage = static_cast<DWORD>(size.width * size.height * (rgb ? 3 : 2));
    type->subtype = rgb ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_YUY2;
    type->lSampleSize = info->bmiHeader.biSizeImage;
    (void)config->SetFormat(type);
  }
  DeleteMediaType(type);
}

bool BuildFront(const Build& b) {
  if (FAILED(Create(CLSID_CaptureGraphBuilder2, &b.g.builder))) {
    return b.Fail(188);
  }
  if (FAILED(Create(CLSID_FilterGraph, &b.g.graph))) {
    return b.Fail(189);
  }
  if (FAILED(b.g.builder->SetFiltergraph(b.g.graph.Get()))) {
    return b.Fail(229);
  }
  const std::string friendly = s::kCardFriendlyName.Read(b.name);
  if (FAILED(capture::FindDeviceFilter(CLSID_VideoInputDeviceCategory, friendly,
                                       b.g.source.ReleaseAndGetAddressOf()))) {
    return b.Fail(228);
  }
  if (FAILED(b.g.graph->AddFilter(b.g.source.Get(), L"VidCap"))) {
    return b.Fail(190);
  }
  SetCaptureFormat(b);
  const DWORD hdLevel = s::kCardHdSimulationLevel.Read(b.name);
  if (hdLevel > 0) {
    if (FAILED(Create(CLSID_ZelHDSimulation, &b.g.hdSimulation))) {
      return b.Fail(193);
    }
    if (FAILED(b.g.graph->AddFilter(b.g.hdSimulation.Get(), L"ZelHDSimulation"))) {
      return b.Fail(192);
    }
    ComPtr<IHDSimulation> size;
    if (FAILED(b.g.hdSimulation.As(&size))) {
      return b.Fail(194);
    }
    const s::PictureSize picture = s::ReadEffectivePictureSize(b.name);
    (void)size->SetOutputSize(picture.width, picture.height);
    if (FAILED(b.g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, b.g.source.Get(), nullptr,
                                         b.g.hdSimulation.Get()))) {
      return b.Fail(195);
    }
  }
  if (FAILED(Create(CLSID_ZelSplitter, &b.g.splitter))) {
    return b.Fail(196);
  }
  if (FAILED(b.g.graph->AddFilter(b.g.splitter.Get(), L"ZelSplitter"))) {
    return b.Fail(197);
  }
  {
    ComPtr<ISplitterConfig> config;
    if (FAILED(b.g.splitter.As(&config))) {
      return b.Fail(198);
    }
    const SplitterConfig block{static_cast<LONG>(b.group.InputCount()), static_cast<LONG>(s::kDataColor.Read(b.name)),
                               static_cast<LONG>(s::kCardIdeLevel.Read(b.name))};
    (void)config->SetConfig(&block);
  }
  if (b.g.hdSimulation) {
    if (FAILED(b.g.builder->RenderStream(nullptr, &MEDIATYPE_Video, b.g.hdSimulation.Get(), nullptr,
                                         b.g.splitter.Get()))) {
      return b.Fail(199);
    }
  } else if (FAILED(b.g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, b.g.source.Get(), nullptr,
                                              b.g.splitter.Get()))) {
    return b.Fail(200);
  }
  return true;
}

// ---- step 3: tees ----------------------------------------------------------------------------

bool BuildTees(const Build& b) {
  if (FAILED(b.g.graph.As(&b.g.events))) {
    return false;
  }
  for (InputSlot& slot : b.g.inputs) {
    slot.splitterPin = FindPin(b.g.builder.Get(), b.g.splitter.Get(), PINDIR_OUTPUT, 0);
    if (!slot.splitterPin || FAILED(Create(CLSID_SmartTee, &slot.tee)) ||
        FAILED(b.g.graph->AddFilter(slot.tee.Get(), L"Tee"))) {
      return false;
    }
    const ComPtr<IPin> teeInput = InputPin(slot.tee.Get());
    if (!teeInput || FAILED(b.g.graph->Connect(slot.splitterPin.Get(), teeInput.Get()))) {
      return false;
    }
    slot.capturePin = FindPin(b.g.builder.Get(), slot.tee.Get(), PINDIR_OUTPUT, 0);
    slot.previewPin = FindPin(b.g.builder.Get(), slot.tee.Get(), PINDIR_OUTPUT, 1);
    if (!slot.capturePin || !slot.previewPin) {
      return false;
    }
  }
  // The graph has one notification window: the group's own, which reads the events
  // (the camera views would only drop them).
  return SUCCEEDED(b.g.events->SetNotifyWindow(b.g.eventWindow, static_cast<LONG>(kGraphEventMessage), 0));
}

// ---- step 4: recording ------------------------------------------------------------------------

/// Opens the archive sink of a slot on a fresh path and indexes it. S_OK or the failure.
HRESULT OpenArchiveFile(const std::string& group, const std::string& input, InputSlot& slot) {
  const std::string path = archive::MakeRecordingPath(group, input);
  (void)archive::CreateParentFolders(path);
  const HRESULT hr = slot.fileSink->Open(path.c_str());
  if (FAILED(hr)) {
    slot.recordingPath.clear();
    return hr;
  }
  (void)archive::RegisterArchiveFile(group, input, path);
  slot.recordingPath = path;
  slot.recordingFailed = false;
  return S_OK;
}

void AttachArchiveSink(const Build& b, const std::string& input, InputSlot& slot) {
  ComPtr<IServiceProvider> services;
  ComPtr<IWMWriterAdvanced> advanced;
  if (FAILED(slot.writer.As(&services)) ||
      FAILED(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid())) ||
      FAILED(WMCreateWriterFileSink(slot.fileSink.ReleaseAndGetAddressOf()))) {
    slot.fileSink.Reset();
    return;
  }
  if (FAILED(OpenArchiveFile(b.name, input, slot)) || FAILED(advanced->AddSink(slot.fileSink.Get())) ||
      FAILED(slot.fileSink.As(&slot.sinkControl))) {
    b.host.ReportLine(b.group.CameraTitle(static_cast<int>(&slot - b.g.inputs.data())) + ": " + b.host.Text(2001) +
                      " " + b.host.Text(2006) + " " + slot.recordingPath);
  }
}

void AttachNetworkSink(const Build& b, const std::string& input, InputSlot& slot) {
  ComPtr<IServiceProvider> services;
  ComPtr<IWMWriterAdvanced> advanced;
  if (FAILED(slot.writer.As(&services)) ||
      FAILED(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid())) ||
      FAILED(WMCreateWriterNetworkSink(slot.networkSink.ReleaseAndGetAddressOf()))) {
    slot.networkSink.Reset();
    return;
  }
  (void)slot.networkSink->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
  DWORD port = s::ReadInternetPort(b.name, input);
  const HRESULT opened = port > 0 && port <= 65535 ? slot.networkSink->Open(&port) : E_INVALIDARG;
  (void)slot.networkSink->SetMaximumClients(kMaximumViewers);
  if (FAILED(opened) || FAILED(advanced->AddSink(slot.networkSink.Get()))) {
    // The build goes on without the broadcast; the operator hears why.
    b.host.ReportLine(b.group.CameraTitle(static_cast<int>(&slot - b.g.inputs.data())) + ": " + b.host.Text(2010) +
                      " " + std::to_string(port) + " (" + com::ResultName(opened) + ")");
    (void)slot.networkSink->Close();
    slot.networkSink.Reset();
  }
  b.host.StartDirectoryUpdate(b.name, input);
}

bool AddAudio(const Build& b, const std::string& input, InputSlot& slot) {
  const bool audio = s::kAudio.Read(b.name, input) != 0;
  const std::string source = s::kAudioSource.Read(b.name, input);
  bool named = audio && !source.empty();
  if (named && FAILED(capture::FindDeviceFilter(CLSID_AudioInputDeviceCategory, source,
                                                slot.audio.ReleaseAndGetAddressOf()))) {
    // A sound device that is gone must not keep the camera from recording its picture.
    b.host.ReportLine(b.group.CameraTitle(static_cast<int>(&slot - b.g.inputs.data())) + ": " + b.host.Text(2011) +
                      " " + source);
    named = false;
  }
  if (!named && FAILED(Create(CLSID_DefaultAudioSource, &slot.audio))) {
    return false;
  }
  if (FAILED(b.g.graph->AddFilter(slot.audio.Get(), L"Audio"))) {
    return false;
  }
  if (named) {
    (void)b.g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Audio, slot.audio.Get(), nullptr, nullptr);
    (void)b.g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, slot.audio.Get(), nullptr,
                                    slot.writer.Get());
    return true;
  }
  const ComPtr<IPin> out = FindPin(b.g.builder.Get(), slot.audio.Get(), PINDIR_OUTPUT, 0);
  const ComPtr<IPin> in = InputPin(slot.writer.Get(), L"Audio");
  return out && in && SUCCEEDED(b.g.graph->Connect(out.Get(), in.Get()));
}

bool BuildRecording(const Build& b, int index, InputSlot& slot) {
  const std::string& input = b.group.InputName(index);
  if (FAILED(Create(CLSID_WMAsfWriter, &slot.writer)) || FAILED(b.g.graph->AddFilter(slot.writer.Get(), L"Mux")) ||
      FAILED(slot.writer.As(&slot.fileName))) {
    return false;
  }
  const std::string scratch = archive::MakeRecordingPath(b.name, input);
  (void)archive::CreateParentFolders(scratch);
  (void)slot.fileName->SetFileName(FromUtf8(scratch + "2").c_str(), nullptr);
  AttachArchiveSink(b, input, slot);
  if (s::kInputVideoMonitoring.Read(b.name, input) != 0) {
    AttachNetworkSink(b, input, slot);
  }
  if (FAILED(archive::ConfigureRecordingWriter(slot.writer.Get(), b.name, input))) {
    return false;
  }
  const ComPtr<IPin> video = InputPin(slot.writer.Get(), L"Video");
  if (!video || FAILED(b.g.graph->Connect(slot.capturePin.Get(), video.Get()))) {
    return false;
  }
  return AddAudio(b, input, slot);
}

// ---- step 5: preview chains --------------------------------------------------------------------

bool BuildMotion(const Build& b, int index, InputSlot& slot) {
  const std::string& input = b.group.InputName(index);
  if (FAILED(Create(CLSID_ZelMotion, &slot.motion))) {
    return b.Fail(201);
  }
  if (FAILED(b.g.graph->AddFilter(slot.motion.Get(), L"ZelMotion"))) {
    return b.Fail(202);
  }
  ComPtr<IMotionDetect> detect;
  if (FAILED(slot.motion.As(&detect))) {
    return b.Fail(203);
  }
  const DWORD holdMinutes =
      s::Lookup(s::kMotionNoMotionMinutes, s::kMotionNoMotion.Read(b.name, input), s::kMotionNoMotion.def);
  const DWORD factor = s::Lookup(s::kMotionNoAlarmFactors, s::kMotionNoAlarm.Read(b.name, input), s::kMotionNoAlarm.def);
  const s::PictureSize size = s::ReadEffectivePictureSize(b.name);
  const LONG block = static_cast<LONG>(
      s::Lookup(s::kMotionSizeBlocks, s::kMotionSensitivitySize.Read(b.name, input), s::kMotionSensitivitySize.def));
  MotionParams params{};
  params.holdPeriodMs = holdMinutes * 60'000;
  params.rearmPeriodMs = params.holdPeriodMs * factor;
  params.notifyWindow = slot.window.frame;
  params.width = size.width;
  params.height = size.height;
  params.topMargin = kMotionTopMargin;
  params.bottomMargin = 0;
  params.bytesPerPixel = s::kDataColor.Read(b.name) == 1 ? 3 : 2;
  params.blockSize = block;
  params.threshold = static_cast<LONG>(s::Lookup(s::kMotionBrightnessLevels,
                                                 s::kMotionSensitivityBrightness.Read(b.name, input),
                                                 s::kMotionSensitivityBrightness.def));
  (void)detect->SetParams(&params);
  MotionParams current{};
  if (SUCCEEDED(detect->GetParams(&current)) && current.areaBitmap != nullptr) {
    BYTE* area = current.areaBitmap;
    std::vector<BYTE> mark(s::kMotionMarkBytes);
    if (s::ReadBin(s::CameraKeyPath(b.name, input), s::kMotionMarkName, mark)) {
      std::memcpy(area, mark.data(), mark.size());
    } else {
      std::memset(area, 0, s::kMotionMarkBytes);
      const LONG columns = block > 0 ? size.width / block : 0;
      const LONG rows = block > 0 ? (size.height - kMotionTopMargin) / block : 0;
      const LONG cells = std::min<LONG>(columns * rows, static_cast<LONG>(s::kMotionMarkBytes * 8));
      for (LONG cell = 0; cell < cells; ++cell) {
        area[cell / 8] = static_cast<BYTE>(area[cell / 8] | (1u << (cell % 8)));
      }
    }
  }
  const ComPtr<IPin> in = InputPin(slot.motion.Get());
  if (!in || FAILED(b.g.graph->Connect(slot.previewPin.Get(), in.Get()))) {
    return b.Fail(204);
  }
  return true;
}

bool BuildPreview(const Build& b, int index, InputSlot& slot) {
  const std::string& input = b.group.InputName(index);
  if (s::kInputMotionDetection.Read(b.name, input) != 0 && !BuildMotion(b, index, slot)) {
    return false;
  }
  if (FAILED(Create(CLSID_ZelSnapShot, &slot.snapshot))) {
    return b.Fail(205);
  }
  if (FAILED(b.g.graph->AddFilter(slot.snapshot.Get(), L"ZelSnapShot"))) {
    return b.Fail(206);
  }
  const ComPtr<IPin> upstream =
      slot.motion ? FindPin(b.g.builder.Get(), slot.motion.Get(), PINDIR_OUTPUT, 0) : slot.previewPin;
  const ComPtr<IPin> snapshotIn = InputPin(slot.snapshot.Get());
  if (!upstream || !snapshotIn || FAILED(b.g.graph->Connect(upstream.Get(), snapshotIn.Get()))) {
    return b.Fail(207);
  }
  if (FAILED(Create(CLSID_VideoRenderer, &slot.renderer)) || FAILED(b.g.graph->AddFilter(slot.renderer.Get(), L"VidRender"))) {
    return false;
  }
  if (slot.window.surface != nullptr) {
    ComPtr<IVideoSurfaceHost> surfaceHost;
    if (SUCCEEDED(slot.renderer.As(&surfaceHost))) {
      (void)surfaceHost->SetSurface(slot.window.surface);
    }
  }
  const ComPtr<IPin> snapshotOut = FindPin(b.g.builder.Get(), slot.snapshot.Get(), PINDIR_OUTPUT, 0);
  const ComPtr<IPin> rendererIn = InputPin(slot.renderer.Get());
  if (!snapshotOut || !rendererIn || FAILED(b.g.graph->Connect(snapshotOut.Get(), rendererIn.Get())) ||
      FAILED(slot.renderer.As(&slot.videoWindow))) {
    return false;
  }
  IVideoWindow& w = *slot.videoWindow.Get();
  (void)w.put_Owner(static_cast<OAHWND>(slot.window.view));
  (void)w.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  (void)w.SetWindowForeground(-1);
  (void)w.SetWindowPosition(0, 0, slot.window.clientWidth, slot.window.clientHeight);
  (void)w.put_AutoShow(-1);
  (void)w.put_Visible(-1);
  (void)w.put_MessageDrain(static_cast<OAHWND>(slot.window.view));
  return true;
}

HRESULT RunGraph(GroupGraph& g) {
  ComPtr<IMediaControl> control;
  HRESULT hr = g.graph.As(&control);
  if (SUCCEEDED(hr)) {
    hr = control->Pause();
  }
  if (SUCCEEDED(hr)) {
    hr = control->Run();
  }
  return hr;
}

void StopGraph(GroupGraph& g) {
  ComPtr<IMediaControl> control;
  if (g.graph && SUCCEEDED(g.graph.As(&control))) {
    (void)control->Pause();
    (void)control->Stop();
  }
}

/// Disconnects and removes every filter downstream of a pin, deepest first.
void RemoveDownstream(IGraphBuilder* graph, IPin* pin) {
  ComPtr<IPin> connected;
  if (pin == nullptr || FAILED(pin->ConnectedTo(connected.ReleaseAndGetAddressOf())) || !connected) {
    return;
  }
  PIN_INFO info{};
  if (FAILED(connected->QueryPinInfo(&info)) || info.pFilter == nullptr) {
    return;
  }
  ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
  for (const auto& out : PinsOf(filter.Get(), PINDIR_OUTPUT)) {
    RemoveDownstream(graph, out.Get());
  }
  (void)graph->Disconnect(connected.Get());
  (void)graph->Disconnect(pin);
  (void)graph->RemoveFilter(filter.Get());
}

void RemoveDownstreamOfFilter(IGraphBuilder* graph, IBaseFilter* filter) {
  if (graph == nullptr) {
    return;
  }
  for (const auto& out : PinsOf(filter, PINDIR_OUTPUT)) {
    RemoveDownstream(graph, out.Get());
  }
}

std::string FailureText(HRESULT hr) {
  if (hr == NS_E_DISK_FULL) {
    return "the disk is full (" + com::ResultName(hr) + ")";
  }
  if (hr == NS_E_FILE_WRITE) {
    return "the file could not be written (" + com::ResultName(hr) + ")";
  }
  return com::ResultName(hr);
}

}  // namespace

std::uint32_t RotationPeriodMs(const std::string& group) {
  if (const char* text = std::getenv("HALVARD_FILE_LENGTH_SECONDS"); text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && seconds > 0 && seconds <= 7 * 86400) {
      return static_cast<std::uint32_t>(seconds * 1000);
    }
  }
  const DWORD minutes = s::Lookup(s::kFileLengthMinutes, s::kVideoFileLength.Read(group), s::kVideoFileLength.def);
  return minutes * 60'000u;
}

bool StartGroupPipeline(CameraRoster& roster, CameraGroup& group) {
  GroupGraph* graph = group.Graph();
  if (graph == nullptr) {
    return false;
  }
  IEngineHost& host = roster.Host();
  const std::string name = group.DisplayName();
  const Build b{roster, group, *graph, host, name};
  CameraRoster* rosterPtr = &roster;
  CameraGroup* groupPtr = &group;
  graph->eventWindow = window::CreateWindowHandle([rosterPtr, groupPtr](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kGraphEventMessage) {
      OnGraphEvents(*rosterPtr, *groupPtr);
    }
    return 0;
  });
  if (!BuildFront(b)) {
    ReportText(host, 180);
    return false;
  }
  ApplyPictureSettings(group);
  if (!BuildTees(b)) {
    ReportText(host, 184);
    return false;
  }
  for (int i = 0; i < static_cast<int>(group.InputCount()); ++i) {
    InputSlot& slot = graph->inputs[static_cast<std::size_t>(i)];
    slot.records = slot.enabled && s::kInputRecordingVideo.Read(name, group.InputName(i)) != 0;
    if (slot.records && !BuildRecording(b, i, slot)) {
      ReportText(host, 185);
      return false;
    }
  }
  for (int i = 0; i < static_cast<int>(group.InputCount()); ++i) {
    if (!BuildPreview(b, i, graph->inputs[static_cast<std::size_t>(i)])) {
      ReportText(host, 186);
      return false;
    }
  }
  if (FAILED(RunGraph(*graph))) {
    ReportText(host, 187);
    return false;
  }
  return true;
}

void TeardownGroupPipeline(GroupGraph& g) {
  StopGraph(g);
  for (InputSlot& slot : g.inputs) {
    if (slot.videoWindow) {
      (void)slot.videoWindow->put_Visible(0);
      (void)slot.videoWindow->put_Owner(0);
    }
    slot.videoWindow.Reset();
    slot.renderer.Reset();
  }
  for (InputSlot& slot : g.inputs) {
    if (slot.sinkControl) {
      (void)slot.sinkControl->Close();
    }
    slot.recordingPath.clear();
  }
  for (InputSlot& slot : g.inputs) {
    if (slot.writer && g.graph) {
      (void)g.graph->RemoveFilter(slot.writer.Get());
    }
    slot.writer.Reset();
    slot.fileName.Reset();
    if (slot.networkSink) {
      (void)slot.networkSink->Close();
    }
    slot.networkSink.Reset();
  }
  for (InputSlot& slot : g.inputs) {
    if (slot.audio && g.graph) {
      (void)g.graph->RemoveFilter(slot.audio.Get());
    }
    slot.audio.Reset();
  }
  for (InputSlot& slot : g.inputs) {
    slot.fileSink.Reset();
    slot.sinkControl.Reset();
  }
  for (InputSlot& slot : g.inputs) {
    if (g.graph) {
      RemoveDownstream(g.graph.Get(), slot.capturePin.Get());
      RemoveDownstream(g.graph.Get(), slot.previewPin.Get());
    }
    slot.capturePin.Reset();
    slot.previewPin.Reset();
    slot.tee.Reset();
    slot.splitterPin.Reset();
  }
  if (g.events) {
    (void)g.events->SetNotifyWindow(0, 0, 0);
  }
  g.events.Reset();
  if (g.eventWindow != 0) {
    (void)window::DestroyWindowHandle(g.eventWindow);
    g.eventWindow = 0;
  }
  g.splitter.Reset();
  g.hdSimulation.Reset();
  for (InputSlot& slot : g.inputs) {
    slot.motion.Reset();
    slot.snapshot.Reset();
  }
  if (g.graph) {
    RemoveDownstreamOfFilter(g.graph.Get(), g.source.Get());
  }
  g.source.Reset();
  g.graph.Reset();
  g.builder.Reset();
}

bool OnRotationTimer(CameraRoster& roster, CameraGroup& group) {
  IEngineHost& host = roster.Host();
  GroupGraph* g = group.Graph();
  if (g == nullptr) {
    return false;
  }
  StopGraph(*g);
  host.CheckScheduledReboot();
  g = group.Graph();
  if (g == nullptr) {
    return false;  // the reboot check stopped every group
  }
  // Room for the new files first.
  EnforceArchiveReserve(roster);
  const std::string name = group.DisplayName();
  for (int i = 0; i < static_cast<int>(group.InputCount()); ++i) {
    InputSlot& slot = g->inputs[static_cast<std::size_t>(i)];
    if (!slot.records || !slot.fileSink) {
      continue;
    }
    if (slot.sinkControl) {
      (void)slot.sinkControl->Close();
    }
    const HRESULT hr = OpenArchiveFile(name, group.InputName(i), slot);
    if (FAILED(hr)) {
      host.ReportLine(host.Text(2005) + " " + group.CameraTitle(i) + " (" + com::ResultName(hr) + ")");
      roster.StopGroup(group);
      host.RefreshGroupNode(group);
      return false;
    }
  }
  if (FAILED(RunGraph(*g))) {
    ReportText(host, 2000);
    roster.StopGroup(group);
    host.RefreshGroupNode(group);
    return false;
  }
  host.RefreshTree();
  return true;
}

void OnGraphEvents(CameraRoster& roster, CameraGroup& group) {
  IEngineHost& host = roster.Host();
  GroupGraph* g = group.Graph();
  if (g == nullptr || !g->events) {
    return;
  }
  bool aborted = false;
  HRESULT abortResult = S_OK;
  LONG code = 0;
  LONG_PTR param1 = 0;
  LONG_PTR param2 = 0;
  while (g->events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
    if (code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED) {
      aborted = true;
      abortResult = static_cast<HRESULT>(param1);
    }
    // A network camera that goes away comes back by itself: one line each way, and the
    // group (its recording file too) goes on.
    if (code == capture::kEventNetworkCameraOffline || code == capture::kEventNetworkCameraBack) {
      host.ReportLine(group.CameraTitle(0) + ": " +
                      (code == capture::kEventNetworkCameraOffline
                           ? host.Text(2020) + " " + capture::NetworkFailureText(static_cast<HRESULT>(param1))
                           : host.Text(2021)));
    }
    // A filter that cannot process its pictures says so once per connection: one line,
    // naming the camera when the filter is one camera's (param2 is the filter).
    if (code == kEventFrameFault) {
      std::string source = group.DisplayName();
      for (int i = 0; i < static_cast<int>(g->inputs.size()); ++i) {
        const InputSlot& slot = g->inputs[static_cast<std::size_t>(i)];
        if (slot.motion && reinterpret_cast<LONG_PTR>(slot.motion.Get()) == param2) {
          source = group.CameraTitle(i);
        }
      }
      host.ReportLine(source + ": " + host.Text(2022) + " " + FrameFaultText(static_cast<LONG>(param1)));
    }
    (void)g->events->FreeEventParams(code, param1, param2);
  }
  if (!aborted) {
    return;
  }
  // Which writers failed? Each says so through its archive file; one line per camera,
  // its file completed; the others, and every preview, go on.
  bool writerFailed = false;
  for (int i = 0; i < static_cast<int>(g->inputs.size()); ++i) {
    InputSlot& slot = g->inputs[static_cast<std::size_t>(i)];
    HRESULT status = S_OK;
    if (!slot.sinkControl || slot.recordingFailed || FAILED(slot.sinkControl->GetWriteStatus(&status)) ||
        SUCCEEDED(status)) {
      writerFailed = writerFailed || slot.recordingFailed;
      continue;
    }
    writerFailed = true;
    slot.recordingFailed = true;
    host.ReportLine(group.CameraTitle(i) + ": " + host.Text(2001) + " " + FailureText(status) + " (" +
                    slot.recordingPath + ")");
    (void)slot.sinkControl->Close();
    slot.recordingPath.clear();
  }
  if (writerFailed) {
    return;
  }
  // Nothing recorded failed: the capture stream itself ended (a device unplugged).
  host.ReportLine(host.Text(2004) + " " + group.DisplayName() + " (" + com::ResultName(abortResult) + ")");
  roster.StopGroup(group);
  host.RefreshGroupNode(group);
}

void EnforceArchiveReserve(CameraRoster& roster) {
  std::vector<archive::CameraRef> cameras;
  for (const auto& [group, input] : roster.Cameras()) {
    cameras.push_back({group, input});
  }
  const archive::FreeSpaceResult result =
      archive::EnforceFreeSpaceReserve(cameras, roster.FilesBeingWritten(), roster.FreeSpaceFunction());
  IEngineHost& host = roster.Host();
  for (const std::string& folder : result.removedDayFolders) {
    host.ReportLine(host.Text(2002) + " " + folder);
  }
  roster.NoteReserveUnmet(!result.reserveMet);
  if (!result.removedDayFolders.empty()) {
    host.RefreshTree();
  }
}

}  // namespace halvard::engine
