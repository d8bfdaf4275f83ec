#pragma once
/// The capture-graph builder (CLSID_CaptureGraphBuilder2).
///
/// - SetFiltergraph: once (E_UNEXPECTED when a graph is already set); GetFiltergraph
///   creates a graph when none was given.
/// - FindPin(source, direction, category, type, unconnected, index): the index-th pin of
///   the filter with that direction, category (IKsPropertySet of the pin), major type
///   (one of the pin's offered types or its connection type) and, when asked, no
///   connection. E_FAIL when there is none.
/// - FindInterface(category, type, filter, riid): LOOK_UPSTREAM_ONLY / LOOK_DOWNSTREAM_ONLY
///   search only that way from the filter; otherwise the filter itself, then the pin of
///   the category (or every pin), then the filters downstream, then upstream.
///   E_NOINTERFACE when nothing answers.
/// - RenderStream(category, type, source, intermediate, sink): source is an output pin or
///   a filter (then its first unconnected output pin of the category and type); the
///   stream goes through intermediate (when given) to sink's first unconnected input pin
///   (IGraphBuilder::Connect, so a colour converter is inserted when needed), or is
///   rendered (IGraphBuilder::Render) when there is no sink. A preview requested from a
///   filter that has only a capture pin goes through a Smart Tee inserted on that pin;
///   a later capture request uses the tee's capture pin. E_FAIL when no pin fits;
///   otherwise the connection's result.
/// - SetOutputFileName, ControlStream, AllocCapFile, CopyCaptureFile: E_NOTIMPL.

#include "platform/media/Interfaces.h"

namespace halvard::media {
HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv);
}  // namespace halvard::media
