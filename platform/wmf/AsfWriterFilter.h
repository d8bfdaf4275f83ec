#pragma once
/// The Windows Media writer filter (CLSID_WMAsfWriter): a renderer with one input pin
/// per stream of its profile, named by the stream's connection name ("Audio",
/// "Video"). It answers IFileSinkFilter (its own output file), IConfigAsfWriter,
/// IConfigInterleaving, and IServiceProvider, whose service IID_IWMWriterAdvanced gives
/// the sink list. A new filter carries the default recording profile (mono 8 kHz audio
/// at 24 kbit/s, 320 x 240 WMV1 at 30 frames/s and 400 kbit/s) until configured.
///
/// Input: video YUY2, RGB24 (bottom-up) or I420, even sizes up to 1280 x 960 (the
/// picture is scaled to the profile's size); audio 16-bit PCM at the profile's rate and
/// channel count. Other types fail the connection (VFW_E_TYPE_NOT_ACCEPTED).
///
/// States: stopped → paused starts a stream (header to the own file and every sink);
/// paused/running → stopped ends it (trailer, files complete). A failed write (full
/// disk) fails the pin's Receive with the sink's result and posts EC_ERRORABORT once;
/// when every connected pin had its end of stream, EC_COMPLETE.
///
/// Registered as a built-in class of the process when the library loads.

#include "platform/media/Interfaces.h"

namespace halvard::wmf {

/// Creates a writer filter (what CoCreateInstance(CLSID_WMAsfWriter) does).
HRESULT CreateAsfWriterFilter(REFIID riid, void** ppv);

}  // namespace halvard::wmf
