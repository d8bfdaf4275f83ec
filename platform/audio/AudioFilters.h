#pragma once
/// The audio filters of the media stand-in:
///
/// - the default audio source (CLSID_DefaultAudioSource): one output pin "Capture"
///   (category PIN_CATEGORY_CAPTURE) delivering silence in 100 ms blocks, paced by the
///   machine's clock;
/// - the ALSA audio capture source (created through the audio-input device category):
///   the same pin, with what the sound card hears. When the device cannot be opened or
///   fails while running, the source goes on with silence and sends one
///   EC_ERROR_STILLPLAYING event (VFW_E_NO_AUDIO_HARDWARE), so that a lost microphone
///   never stops a recording;
/// - the audio renderer (CLSID_DSoundRender, also CLSID_AudioRender): one input pin
///   "Audio Input pin (rendered)" that plays to the ALSA "default" device, or discards
///   the sound when there is none. It sends EC_COMPLETE at the end of the stream.
///   A timed sample of a running graph with a clock is played when the stream time
///   reaches its start; samples without times, or without a clock, at once. While the
///   graph is paused, and at a rate other than 1 (NewSegment), samples are taken
///   without being played, so that a paused or fast player is never held up by sound.
///
/// Every pin takes 16-bit PCM, mono or stereo, 8000 ... 48000 samples/s; the sources
/// offer 8000 samples/s mono first (what the recording profile asks for by default),
/// then the other common rates. Each source offers IFrameCounter (a frame is a block).

#include "platform/media/Interfaces.h"

namespace halvard::audio {

/// Creates the default audio source (silence).
[[nodiscard]] HRESULT CreateSilenceSource(REFIID riid, void** ppv);
/// Creates the audio renderer.
[[nodiscard]] HRESULT CreateAudioRenderer(REFIID riid, void** ppv);

/// Whether a PCM wave format is one the audio filters take.
[[nodiscard]] bool IsSupportedPcm(const WAVEFORMATEX& format);

}  // namespace halvard::audio
