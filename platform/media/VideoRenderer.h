#pragma once
/// The video renderer (CLSID_VideoRenderer): one input pin "Input" taking uncompressed
/// video (YUY2, RGB24, RGB32 with a VIDEOINFOHEADER), IVideoWindow and IBasicVideo, frame
/// stepping (IVideoFrameStep), seeking passed upstream (IMediaSeeking), and a pluggable
/// surface (IVideoSurfaceHost, VideoSurface.h) that receives every picture.
///
/// Timing: while running, a sample with a start time is presented when the graph clock
/// reaches stream start + sample time; samples without times, late samples, samples due
/// more than ten seconds ahead (broken time stamps of a live source) and every sample of
/// a graph without a clock are presented at once. Sources that play at a rate other
/// than 1 divide their times by it (NewSegment carries the rate). While paused the first
/// sample is presented and held (Receive blocks) until the graph runs, stops or flushes,
/// or a frame step lets more through; a sample that waits for its time when the graph
/// pauses is held unshown, so the picture of the pause stays, and is shown by the next
/// step or at its time after Run. Each completed step sends EC_STEP_COMPLETE. The
/// current position (IMediaSeeking) is the time of the picture shown, in the source's
/// units (segment start + sample time x rate), converted by the source for other time
/// formats. End of stream sends EC_COMPLETE when running (at Run when it
/// arrived while paused).
/// IVideoWindow and IBasicVideo answer VFW_E_NOT_CONNECTED while the input is unconnected.

#include "platform/media/Interfaces.h"

namespace halvard::media {
/// Creates a video renderer (new reference).
HRESULT CreateVideoRenderer(REFIID riid, void** ppv);
}  // namespace halvard::media
