#pragma once
/// The capture pipeline of one running camera group: one filter graph with the capture
/// source, the HD simulation scaler (when enlarged), the splitter, and for every input a
/// Smart Tee whose capture side feeds a Windows Media writer (archive file sink, HTTP
/// network sink) and whose preview side feeds the motion filter, the snapshot filter and
/// the video renderer of the camera window. Also the rotation of the archive files, the
/// graph's events, and the free-space guard of the archive.
///
/// Threads: the user-interface thread, except where noted. Streaming threads only post
/// window messages (the motion command to the camera frame, graph events to the group's
/// event window).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/media/Interfaces.h"
#include "platform/wmf/Wmf.h"
#include "server/engine/CameraRoster.h"

namespace halvard::engine {

/// Message that the graph posts to the group's event window for each queued event.
inline constexpr UINT kGraphEventMessage = 1175;

/// One input's part of the graph.
struct InputSlot {
  bool enabled = false;
  bool records = false;
  CameraWindow window;
  ComPtr<IPin> splitterPin;
  ComPtr<IBaseFilter> tee;
  ComPtr<IPin> capturePin;
  ComPtr<IPin> previewPin;
  ComPtr<IBaseFilter> motion;
  ComPtr<IBaseFilter> snapshot;
  ComPtr<IBaseFilter> renderer;
  ComPtr<IVideoWindow> videoWindow;
  ComPtr<IBaseFilter> writer;
  ComPtr<IFileSinkFilter> fileName;
  ComPtr<IWMWriterFileSink> fileSink;
  ComPtr<IWMWriterFileSink2> sinkControl;
  ComPtr<IWMWriterNetworkSink> networkSink;
  ComPtr<IBaseFilter> audio;
  std::string recordingPath;  ///< the archive file the sink writes ("" when none is open)
  bool recordingFailed = false;  ///< a write failed; reported once, retried at rotation
};

/// The running state of a group.
struct GroupGraph {
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> hdSimulation;
  ComPtr<IBaseFilter> splitter;
  ComPtr<IMediaEventEx> events;
  std::vector<InputSlot> inputs;
  HWND eventWindow = 0;  ///< engine-owned window that drains the graph's events
  bool captureFailed = false;
};

/// Rotation period of a group: "Video File Length" minutes, or
/// $HALVARD_FILE_LENGTH_SECONDS when it holds a positive number (tests, demonstrations).
[[nodiscard]] std::uint32_t RotationPeriodMs(const std::string& group);

/// Builds and runs the graph of a group whose camera windows are open (group.Graph()
/// holds the slots with their windows). Messages and reports as documented; false on
/// any failure (the caller tears the group down).
[[nodiscard]] bool StartGroupPipeline(CameraRoster& roster, CameraGroup& group);
/// Stops the graph and releases every object of it, in the documented order; closes the
/// archive files. The camera windows are the caller's.
void TeardownGroupPipeline(GroupGraph& graph);
/// The rotation tick: stop, reboot check, new archive files, run. False when the group
/// had to be stopped (the caller has then stopped it already).
bool OnRotationTimer(CameraRoster& roster, CameraGroup& group);
/// Drains the group's graph events: a writer that failed stops that camera's recording
/// (one line; the next rotation tries again); a capture stream that failed stops the
/// group (one line).
void OnGraphEvents(CameraRoster& roster, CameraGroup& group);
/// Runs the free-space guard over every camera of the roster; one line per day removed.
void EnforceArchiveReserve(CameraRoster& roster);

}  // namespace halvard::engine
