#pragma once
/// The colour converter (CLSID_Colour): a copy transform ("XForm In" / "XForm Out")
/// between YUY2, RGB24 and RGB32 at the same picture size. The graph inserts it when a
/// direct connection of two video pins fails.

#include "platform/media/Interfaces.h"

namespace halvard::media {
HRESULT CreateColourConverter(REFIID riid, void** ppv);
}  // namespace halvard::media
