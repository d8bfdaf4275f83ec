#pragma once
/// The Smart Tee (CLSID_SmartTee): one input "Input" and two outputs, "Capture"
/// (PIN_CATEGORY_CAPTURE) and "Preview" (PIN_CATEGORY_PREVIEW), both carrying the input
/// type. Accepts any type; the outputs offer the input's type once it is connected, and
/// a new input type must be acceptable to every connected output.
///
/// Samples are not copied: each output hands the input's allocator downstream read-only
/// and delivers the very sample that arrived, through an output queue of its own (a worker
/// thread when the downstream pin can block, so a slow preview never holds up the capture
/// branch). An output whose downstream refuses the shared allocator gets its own and
/// receives copies; the preview copy is dropped when no buffer is free.

#include "platform/media/Interfaces.h"

namespace halvard::media {
HRESULT CreateSmartTee(REFIID riid, void** ppv);
}  // namespace halvard::media
