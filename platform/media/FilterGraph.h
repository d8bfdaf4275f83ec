#pragma once
/// The filter graph manager (CLSID_FilterGraph) and its system clock (CLSID_SystemClock).
///
/// The graph answers IGraphBuilder / IFilterGraph2, IMediaControl, IMediaEventEx,
/// IMediaEventSink, IMediaSeeking, IVideoFrameStep, and IVideoWindow / IBasicVideo
/// (forwarded to the first filter of the graph that has them, normally the video
/// renderer).
///
/// Behaviour worth knowing:
/// - AddFilter keeps names unique: a clash gets " 0001", " 0002", ... appended and the
///   call returns VFW_S_DUPLICATE_NAME. A null name uses the filter's own name or "Filter".
/// - Connect: direct connection first, else through a colour converter (CLSID_Colour)
///   between YUY2, RGB24 and RGB32; the direct connection's error when neither works.
/// - Render: video to a new video renderer ("Video Renderer"), audio to the default
///   audio renderer (CLSID_DSoundRender, "Audio Renderer"); a stream neither takes goes
///   through a decoder (AddRenderDecoder) first; VFW_E_CANNOT_RENDER otherwise.
/// - State changes go to the filters downstream first (renderers before sources). A
///   failed transition stops every filter and returns the failure; the graph is then
///   stopped. Transitions are synchronous (GetState never reports intermediate states).
/// - Events: EC_COMPLETE is collected from every renderer and queued once; others are
///   queued as they come. With a notification window each queued event posts the window
///   message with wParam 0 and lParam = the instance data. GetEvent waits up to the
///   time-out and returns E_ABORT when nothing came.
/// - Seeking goes to every filter that seeks and has no connected output (renderers);
///   they pass it upstream. An absolute position and a rate change start a new segment:
///   the stream time starts again from 0 at the next Run. SetRate takes any positive
///   rate (E_INVALIDARG otherwise); while running the graph pauses around the change,
///   which restarts the sources at the position shown.
/// - Releasing the graph stops it, disconnects every pin and releases every filter.
/// Threads: every method may be called from any thread; the graph lock serialises
/// building and state changes. Filters post events from their streaming threads.

#include <functional>
#include <string_view>

#include "platform/media/Interfaces.h"

namespace halvard::media {

/// Opens a file as a source filter for RenderFile / AddSourceFilter (the Windows Media
/// layer installs one). Returns S_OK and a new reference, or a failure
/// (VFW_E_UNKNOWN_FILE_TYPE when the file is not of its kind).
using FileSourceFactory = std::function<HRESULT(LPCWSTR file, IBaseFilter** filter)>;
/// Adds a file source factory; factories are asked in the order they were added.
void AddFileSourceFactory(FileSourceFactory factory);

/// Adds a filter class that Render places between an output pin that no renderer takes
/// (a compressed stream) and the renderer: the class is added to the graph under name,
/// connected to the pin and its output rendered in turn; a class that does not take the
/// pin is removed again. Classes are tried in the order they were added; adding one
/// twice is harmless.
void AddRenderDecoder(REFCLSID clsid, std::wstring_view name);

/// Creates a filter graph (new reference).
HRESULT CreateFilterGraph(REFIID riid, void** ppv);
/// Creates a system clock (new reference): GetTime in 100 ns units of the monotonic clock.
HRESULT CreateSystemClock(REFIID riid, void** ppv);

}  // namespace halvard::media
