#pragma once
/// The playback filters: what turns a recording on disk back into pictures and sound.
///
/// - The file reader "Async Reader" (CLSID_AsyncReader): IFileSourceFilter; one output
///   pin "Output" of type MEDIATYPE_Stream that carries only the file's name. It opens
///   nothing itself beyond checking that the file can be read.
/// - The demultiplexer: "WMF Demux" (CLSID_WmfDemux) behind the reader for Windows Media
///   files, and the same filter as CLSID_HalvardFileDemux for the direct route, where it
///   is loaded by name (IFileSourceFilter) and opens anything FFmpeg's libavformat opens
///   (.asf, .wmv, .avi, .mpg, .mov, ...). One output pin per video or audio stream that
///   can be decoded ("Video", "Audio", then "Video 2", ...). The pins answer
///   IMediaSeeking in 100 ns units (TIME_FORMAT_MEDIA_TIME) and, with a video stream of a
///   known frame rate, in frames (TIME_FORMAT_FRAME). Positions count from the first
///   time stamp of the file. An absolute position starts at the nearest earlier key
///   frame; the samples before the position are marked preroll (negative times), so the
///   decoder drops their pictures and the first picture shown is the exact one. Sample
///   times are (time - position) / rate and each new segment is announced with
///   NewSegment(position, stop, rate), so renderers pace any positive rate without
///   knowing it. Seeking is done by the video pin (the first pin without video); the
///   other pins answer the same positions and accept the calls without acting. After
///   Stop the next start goes on from the position reading had reached.
/// - The decoder (CLSID_HalvardDecoder): one input "XForm In" taking a stream of the
///   demultiplexer, one output "XForm Out" giving YUY2 (first) or RGB24 pictures, or
///   16-bit PCM, 8000 ... 48000 samples/s, mono or stereo.
///
/// A file that is still being written opens and plays what it holds when it is opened
/// (it is only read, never locked). A file that cannot be opened as media fails Load or
/// the reader-to-demultiplexer connection with VFW_E_INVALID_FILE_FORMAT; a file that
/// ends inside a packet ends the stream there. A recording without a duration in its
/// header answers GetDuration with E_NOTIMPL and 0.
///
/// Threads: the demultiplexer reads and delivers on one streaming thread of its own,
/// started when it pauses and ended by Stop and by seeking (a flush unblocks every
/// renderer first, so neither waits for a picture). Everything else follows the base
/// classes (BaseFilter.h).

#include "platform/media/Interfaces.h"

namespace halvard::media::playback {

/// Creates the file reader (new reference).
[[nodiscard]] HRESULT CreateAsyncReader(REFIID riid, void** ppv);
/// Creates the demultiplexer as "WMF Demux" (new reference).
[[nodiscard]] HRESULT CreateWmfDemux(REFIID riid, void** ppv);
/// Creates the demultiplexer of the direct route (new reference).
[[nodiscard]] HRESULT CreateFileDemux(REFIID riid, void** ppv);
/// Creates the decoder (new reference).
[[nodiscard]] HRESULT CreateDecoder(REFIID riid, void** ppv);

/// Registers the three classes as built-in classes, makes them known to the tools,
/// installs the file source factory (RenderFile / AddSourceFilter open files with the
/// demultiplexer of the direct route) and the decoder as the filter the graph inserts to
/// render a compressed stream. Runs when the library loads; idempotent.
void RegisterPlaybackClasses();

}  // namespace halvard::media::playback
