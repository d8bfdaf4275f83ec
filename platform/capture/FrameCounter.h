#pragma once
// IFrameCounter and CFrameCounter live in the media layer (platform/media/FrameCounter.h),
// which the capture and audio sources both build on; this name stays for the includers
// that have not moved yet.

#include "platform/media/FrameCounter.h"
