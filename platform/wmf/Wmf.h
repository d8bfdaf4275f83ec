#pragma once
/// The Windows Media Format stand-in: profiles and codec formats, the writer's advanced
/// interface with its sinks (file and HTTP network), the metadata editor and the media
/// detector. Recordings are ASF files with Windows Media Video 7 ("WMV1") and Windows
/// Media Audio 2 (format tag 0x161), encoded and multiplexed by FFmpeg.
///
/// Text parameters are UTF-8. Text out-parameters follow the size-query convention: a
/// null buffer returns the needed length (characters including the terminator) in the
/// length argument; a buffer that is too small gives ASF_E_BUFFERTOOSMALL.
///
/// Threads: profiles, stream configurations and the editor are for one thread at a
/// time; sinks take packets on the writer's streaming thread and their control calls
/// on any other thread (each sink serialises itself).

#include <cstdint>

#include "platform/base/WinTypes.h"
#include "platform/com/Com.h"
#include "platform/wmf/WmfTypes.h"

// ---- result codes --------------------------------------------------------------------

constexpr HRESULT ASF_E_BUFFERTOOSMALL = MAKE_HRESULT_CODE(0xC00D07F0);
constexpr HRESULT NS_E_INVALID_REQUEST = MAKE_HRESULT_CODE(0xC00D002B);
constexpr HRESULT NS_E_NOT_CONFIGURED = MAKE_HRESULT_CODE(0xC00D0016);
constexpr HRESULT NS_E_INVALID_STREAM = MAKE_HRESULT_CODE(0xC00D0BBC);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = MAKE_HRESULT_CODE(0xC00D001D);
constexpr HRESULT NS_E_FILE_WRITE = MAKE_HRESULT_CODE(0xC00D0019);
constexpr HRESULT NS_E_DISK_FULL = MAKE_HRESULT_CODE(0xC00D0025);
constexpr HRESULT NS_E_NETWORK_RESOURCE_FAILURE = MAKE_HRESULT_CODE(0xC00D0035);
constexpr HRESULT NS_E_PORT_IN_USE_HTTP = MAKE_HRESULT_CODE(0xC00D0070);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MAKE_HRESULT_CODE(0xC00D0BB8);
constexpr HRESULT NS_E_INVALID_DATA = MAKE_HRESULT_CODE(0xC00D0BBA);
constexpr HRESULT NS_E_UNRECOGNIZED_STREAM_TYPE = MAKE_HRESULT_CODE(0xC00D0BB9);
constexpr HRESULT NS_E_NO_STREAM = MAKE_HRESULT_CODE(0xC00D002F);

// ---- enumerations -----------------------------------------------------------------------

/// Windows Media format versions of CreateEmptyProfile.
enum WMT_VERSION : DWORD {
  WMT_VER_4_0 = 0x00040000,
  WMT_VER_7_0 = 0x00070000,
  WMT_VER_8_0 = 0x00080000,
  WMT_VER_9_0 = 0x00090000,
};

enum WMT_NET_PROTOCOL : DWORD { WMT_PROTOCOL_HTTP = 0 };

/// Interleaving modes of the writer filter.
enum InterleavingMode : DWORD {
  INTERLEAVE_NONE = 0,
  INTERLEAVE_CAPTURE = 1,
  INTERLEAVE_FULL = 2,
  INTERLEAVE_NONE_BUFFERED = 3,
};

/// Attribute data types of the header info interface.
enum WMT_ATTR_DATATYPE : DWORD {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

/// Flags of a data unit handed to a sink.
inline constexpr DWORD WM_SF_CLEANPOINT = 0x1;

// ---- interface identifiers ---------------------------------------------------------------

HALVARD_DEFINE_GUID(IID_IWMProfileManager, 0xD16679F2, 0x6CA0, 0x472D, 0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55);
HALVARD_DEFINE_GUID(IID_IWMCodecInfo, 0xA970F41E, 0x34DE, 0x4A98, 0xB3, 0xBA, 0xE4, 0xB3, 0xCA, 0x75, 0x28, 0xF0);
HALVARD_DEFINE_GUID(IID_IWMProfile, 0x96406BDB, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMStreamConfig, 0x96406BDC, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMMediaProps, 0x96406BCE, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMVideoMediaProps, 0x96406BCF, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMWriterAdvanced, 0x96406BE3, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMWriterSink, 0x96406BE4, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMWriterFileSink, 0x96406BE5, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMWriterFileSink2, 0x14282BA7, 0x4AEF, 0x4205, 0x8C, 0xE5, 0xC2, 0x29, 0x03, 0x5A, 0x05, 0xBC);
HALVARD_DEFINE_GUID(IID_IWMWriterNetworkSink, 0x96406BE7, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08,
                    0xFF);
HALVARD_DEFINE_GUID(IID_IWMMetadataEditor, 0x96406BD9, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IWMHeaderInfo, 0x96406BDA, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
HALVARD_DEFINE_GUID(IID_IConfigAsfWriter, 0x45086030, 0xF7E4, 0x486A, 0xB5, 0x04, 0x82, 0x6B, 0xB5, 0x79, 0x2A, 0x3B);
HALVARD_DEFINE_GUID(IID_IConfigInterleaving, 0xBEE3D220, 0x157B, 0x11D0, 0xBD, 0x23, 0x00, 0xA0, 0xC9, 0x11, 0xCE,
                    0x86);
HALVARD_DEFINE_GUID(IID_IMediaDet, 0x65BD0710, 0x24D2, 0x4FF7, 0x93, 0x24, 0xED, 0x2E, 0x5D, 0x3A, 0xBA, 0xFA);
HALVARD_DEFINE_GUID(CLSID_MediaDet, 0x65BD0711, 0x24D2, 0x4FF7, 0x93, 0x24, 0xED, 0x2E, 0x5D, 0x3A, 0xBA, 0xFA);

// ---- profiles --------------------------------------------------------------------------

/// Media properties of a stream configuration.
struct IWMMediaProps : IUnknown {
  virtual HRESULT GetType(GUID* type) = 0;
  /// Copies the media type and its format block into `type` (the block follows the
  /// structure; pbFormat points into the same buffer). A null `type` returns the size.
  virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* typeBytes) = 0;
  /// Copies the media type and its format block. E_INVALIDARG for a type whose format
  /// block does not match its format type.
  virtual HRESULT SetMediaType(const WM_MEDIA_TYPE* type) = 0;

 protected:
  ~IWMMediaProps() = default;
};

/// Video stream configuration: key-frame spacing and quality on top of the media type.
struct IWMVideoMediaProps : IWMMediaProps {
  /// Maximum key-frame spacing in 100-ns units (0 = the codec's default).
  virtual HRESULT GetMaxKeyFrameSpacing(LONGLONG* spacing) = 0;
  virtual HRESULT SetMaxKeyFrameSpacing(LONGLONG spacing) = 0;
  /// Quality 0 (smooth motion) to 100 (sharp pictures); larger values give E_INVALIDARG.
  virtual HRESULT GetQuality(DWORD* quality) = 0;
  virtual HRESULT SetQuality(DWORD quality) = 0;

 protected:
  ~IWMVideoMediaProps() = default;
};

/// One stream of a profile; also answers IWMMediaProps and, for video, IWMVideoMediaProps.
struct IWMStreamConfig : IUnknown {
  virtual HRESULT GetStreamType(GUID* type) = 0;
  virtual HRESULT GetStreamNumber(WORD* number) = 0;
  /// Stream numbers run from 1 to 63; others give E_INVALIDARG.
  virtual HRESULT SetStreamNumber(WORD number) = 0;
  virtual HRESULT GetStreamName(char* name, WORD* length) = 0;
  virtual HRESULT SetStreamName(const char* name) = 0;
  virtual HRESULT GetConnectionName(char* name, WORD* length) = 0;
  virtual HRESULT SetConnectionName(const char* name) = 0;
  virtual HRESULT GetBitrate(DWORD* bitsPerSecond) = 0;
  virtual HRESULT SetBitrate(DWORD bitsPerSecond) = 0;
  virtual HRESULT GetBufferWindow(DWORD* windowMs) = 0;
  virtual HRESULT SetBufferWindow(DWORD windowMs) = 0;

 protected:
  ~IWMStreamConfig() = default;
};

struct IWMProfile : IUnknown {
  virtual HRESULT GetVersion(WMT_VERSION* version) = 0;
  virtual HRESULT GetName(char* name, DWORD* length) = 0;
  virtual HRESULT SetName(const char* name) = 0;
  virtual HRESULT GetStreamCount(DWORD* count) = 0;
  /// The stream at `index` (0-based, in the order added).
  virtual HRESULT GetStream(DWORD index, IWMStreamConfig** config) = 0;
  /// NS_E_NO_STREAM when no stream has that number.
  virtual HRESULT GetStreamByNumber(WORD number, IWMStreamConfig** config) = 0;
  virtual HRESULT RemoveStreamByNumber(WORD number) = 0;
  /// Adds a copy of the configuration. NS_E_INVALID_STREAM when its number is 0 or
  /// already used, or when it has no media type.
  virtual HRESULT AddStream(IWMStreamConfig* config) = 0;
  /// A new, unnumbered stream configuration of the type (audio or video).
  /// NS_E_UNRECOGNIZED_STREAM_TYPE for any other type.
  virtual HRESULT CreateNewStream(REFGUID streamType, IWMStreamConfig** config) = 0;

 protected:
  ~IWMProfile() = default;
};

struct IWMProfileManager : IUnknown {
  /// An empty profile of a format version (4.0, 7.0, 8.0 or 9.0; others E_INVALIDARG).
  virtual HRESULT CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) = 0;

 protected:
  ~IWMProfileManager() = default;
};

/// The installed codecs and their formats, answered by the profile manager. Audio: one
/// codec, Windows Media Audio 2 (tag 0x161); video: one codec, Windows Media Video 7.
struct IWMCodecInfo : IUnknown {
  virtual HRESULT GetCodecInfoCount(REFGUID streamType, DWORD* codecs) = 0;
  virtual HRESULT GetCodecFormatCount(REFGUID streamType, DWORD codecIndex, DWORD* formats) = 0;
  /// A new stream configuration holding the format's media type and bitrate.
  virtual HRESULT GetCodecFormat(REFGUID streamType, DWORD codecIndex, DWORD formatIndex, IWMStreamConfig** config) = 0;

 protected:
  ~IWMCodecInfo() = default;
};

// ---- writer and sinks -------------------------------------------------------------------

/// What a sink receives from the writer. Called on the writer's streaming thread.
/// OnHeader starts a stream: the complete ASF header (up to and including the data
/// object's header). OnDataUnit: one ASF data packet; WM_SF_CLEANPOINT when a video key
/// frame starts in it. OnEndWriting ends the stream: `trailer` is appended (the index),
/// `finalHeader` (same size as the first header) replaces the header with the final
/// duration, sizes and counts. A failed result stops the writer when the sink is one
/// the recording depends on (IsRealTime answers S_FALSE for those).
struct IWMWriterSink : IUnknown {
  virtual HRESULT OnHeader(const BYTE* header, DWORD bytes) = 0;
  /// S_OK when the sink drops data rather than fail (network), S_FALSE when a failure
  /// must stop the writer (files).
  virtual HRESULT IsRealTime(BOOL* realTime) = 0;
  virtual HRESULT OnDataUnit(const BYTE* packet, DWORD bytes, DWORD flags) = 0;
  virtual HRESULT OnEndWriting(const BYTE* trailer, DWORD trailerBytes, const BYTE* finalHeader,
                               DWORD finalHeaderBytes) = 0;

 protected:
  ~IWMWriterSink() = default;
};

struct IWMWriterFileSink : IWMWriterSink {
  /// Opens (creates or truncates) the file the next stream goes to. A file sink
  /// already open is closed first (completed). NS_E_FILE_OPEN_FAILED when the file
  /// cannot be created.
  virtual HRESULT Open(const char* path) = 0;

 protected:
  ~IWMWriterFileSink() = default;
};

/// The file sink's control interface.
struct IWMWriterFileSink2 : IWMWriterFileSink {
  /// Completes and closes the file: when the writer already ended the stream the file
  /// is complete; when it is still writing, the sink completes the header itself
  /// (duration, sizes, counts; no index). Result of the last failed write, flush or
  /// close (NS_E_DISK_FULL, NS_E_FILE_WRITE), else S_OK; S_FALSE when nothing was open.
  virtual HRESULT Close() = 0;
  virtual HRESULT IsClosed(BOOL* closed) = 0;
  virtual HRESULT GetFileSize(QWORD* bytes) = 0;
  /// The result of the first failed write or flush of the open file (NS_E_DISK_FULL,
  /// NS_E_FILE_WRITE), S_OK while every write succeeded, S_FALSE when nothing is open.
  /// Unlike Close it leaves the file as it is, so a recorder can ask which of its
  /// files failed when the writer reports an error.
  virtual HRESULT GetWriteStatus(HRESULT* status) = 0;

 protected:
  ~IWMWriterFileSink2() = default;
};

/// Serves the stream over HTTP on one port of every local address. Plain HTTP clients
/// get "video/x-ms-asf": the header, then packets from the next key frame. Clients that
/// speak the Windows Media HTTP streaming form (a "Pragma: xClientGUID" or an
/// "NSPlayer" agent) get the "$H"/"$D" chunk framing; when the writer starts a new
/// stream they get "$C" and the new header, whereas plain clients are ended (the
/// connection closes) so that they reconnect.
struct IWMWriterNetworkSink : IWMWriterSink {
  /// At most `clients` viewers at once (default 5); the next one gets "503".
  virtual HRESULT SetMaximumClients(DWORD clients) = 0;
  virtual HRESULT GetMaximumClients(DWORD* clients) = 0;
  /// Only WMT_PROTOCOL_HTTP (else E_INVALIDARG).
  virtual HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) = 0;
  virtual HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) = 0;
  /// "http://<host name>:<port>" of the open sink; NS_E_NOT_CONFIGURED when not open.
  virtual HRESULT GetHostURL(char* url, DWORD* length) = 0;
  /// Listens on *port (0 = any free port, written back). NS_E_PORT_IN_USE_HTTP when the
  /// port is taken; E_UNEXPECTED when already open.
  virtual HRESULT Open(DWORD* port) = 0;
  /// Drops every connected client and keeps listening.
  virtual HRESULT Disconnect() = 0;
  /// Ends every client and stops listening (the port is free again on return).
  virtual HRESULT Close() = 0;

 protected:
  ~IWMWriterNetworkSink() = default;
};

/// The writer's sink list.
struct IWMWriterAdvanced : IUnknown {
  virtual HRESULT GetSinkCount(DWORD* count) = 0;
  virtual HRESULT GetSink(DWORD index, IWMWriterSink** sink) = 0;
  /// Adds a sink; while the writer is writing, the sink gets the current header at
  /// once and packets from the next key frame. E_INVALIDARG when already added.
  virtual HRESULT AddSink(IWMWriterSink* sink) = 0;
  /// E_INVALIDARG when the sink was not added.
  virtual HRESULT RemoveSink(IWMWriterSink* sink) = 0;
  /// S_OK: the writer paces itself by the source (always so here).
  virtual HRESULT IsRealTime(BOOL* realTime) = 0;

 protected:
  ~IWMWriterAdvanced() = default;
};

/// Profile configuration of the writer filter.
struct IConfigAsfWriter : IUnknown {
  /// Takes a copy of the profile; the filter's input pins follow its streams.
  /// NS_E_INVALID_STREAM (or the profile's own error) when it has no usable stream;
  /// VFW_E_WRONG_STATE while running.
  virtual HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) = 0;
  virtual HRESULT GetCurrentProfile(IWMProfile** profile) = 0;

 protected:
  ~IConfigAsfWriter() = default;
};

struct IConfigInterleaving : IUnknown {
  virtual HRESULT put_Mode(InterleavingMode mode) = 0;
  virtual HRESULT get_Mode(InterleavingMode* mode) = 0;

 protected:
  ~IConfigInterleaving() = default;
};

// ---- metadata editor ---------------------------------------------------------------------

struct IWMMetadataEditor : IUnknown {
  /// NS_E_FILE_OPEN_FAILED when the file does not open, NS_E_INVALID_DATA when it is
  /// not an ASF file with a readable header.
  virtual HRESULT Open(const char* path) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT Flush() = 0;

 protected:
  ~IWMMetadataEditor() = default;
};

/// Header attributes of an open file, stream number 0 (the file). Known attributes:
/// "Duration" (QWORD, 100-ns, without the preroll), "Bitrate" (DWORD, bit/s, sum of
/// the streams), "Seekable" (BOOL), "Broadcast" (BOOL), "FileSize" (QWORD).
/// ASF_E_NOTFOUND-like result NS_E_NO_STREAM for an unknown name.
struct IWMHeaderInfo : IUnknown {
  virtual HRESULT GetAttributeByName(WORD* streamNumber, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                     WORD* length) = 0;

 protected:
  ~IWMHeaderInfo() = default;
};

// ---- media detector ---------------------------------------------------------------------

/// Information and frames of a media file (any FFmpeg can read).
struct IMediaDet : IUnknown {
  /// Opens the file; the current stream becomes 0. VFW_E_INVALID_FILE_FORMAT or
  /// NS_E_FILE_OPEN_FAILED when it does not open.
  virtual HRESULT put_Filename(const char* path) = 0;
  virtual HRESULT get_OutputStreams(LONG* streams) = 0;
  /// E_INVALIDARG outside 0 .. streams - 1.
  virtual HRESULT put_CurrentStream(LONG stream) = 0;
  virtual HRESULT get_CurrentStream(LONG* stream) = 0;
  virtual HRESULT get_StreamType(GUID* majorType) = 0;
  /// Video: WMFORMAT_VideoInfo with the picture size (biHeight positive) and average
  /// time per frame; audio: WMFORMAT_WaveFormatEx. The format block is allocated by
  /// the detector; free it with halvard::wmf::FreeMediaType.
  virtual HRESULT get_StreamMediaType(WM_MEDIA_TYPE* type) = 0;
  /// Length of the current stream in seconds.
  virtual HRESULT get_StreamLength(double* seconds) = 0;
  /// Frames per second of the current (video) stream.
  virtual HRESULT get_FrameRate(double* fps) = 0;
  /// The frame shown at `seconds` as a bitmap header followed by bottom-up 24-bit
  /// pixels (rows padded to 4 bytes) scaled to width x height. With a null buffer the
  /// needed size is returned in *bufferBytes; a smaller buffer gives E_INVALIDARG.
  virtual HRESULT GetBitmapBits(double seconds, LONG* bufferBytes, char* buffer, LONG width, LONG height) = 0;
  /// The same frame written as a 24-bit BMP file. VFW_E_NOT_FOUND when the position
  /// is past the last frame, E_FAIL when the file cannot be written.
  virtual HRESULT WriteBitmapBits(double seconds, LONG width, LONG height, const char* path) = 0;

 protected:
  ~IMediaDet() = default;
};

template <>
inline constexpr const IID* kIidOf<IWMProfileManager> = &IID_IWMProfileManager;
template <>
inline constexpr const IID* kIidOf<IWMCodecInfo> = &IID_IWMCodecInfo;
template <>
inline constexpr const IID* kIidOf<IWMProfile> = &IID_IWMProfile;
template <>
inline constexpr const IID* kIidOf<IWMStreamConfig> = &IID_IWMStreamConfig;
template <>
inline constexpr const IID* kIidOf<IWMMediaProps> = &IID_IWMMediaProps;
template <>
inline constexpr const IID* kIidOf<IWMVideoMediaProps> = &IID_IWMVideoMediaProps;
template <>
inline constexpr const IID* kIidOf<IWMWriterAdvanced> = &IID_IWMWriterAdvanced;
template <>
inline constexpr const IID* kIidOf<IWMWriterSink> = &IID_IWMWriterSink;
template <>
inline constexpr const IID* kIidOf<IWMWriterFileSink> = &IID_IWMWriterFileSink;
template <>
inline constexpr const IID* kIidOf<IWMWriterFileSink2> = &IID_IWMWriterFileSink2;
template <>
inline constexpr const IID* kIidOf<IWMWriterNetworkSink> = &IID_IWMWriterNetworkSink;
template <>
inline constexpr const IID* kIidOf<IWMMetadataEditor> = &IID_IWMMetadataEditor;
template <>
inline constexpr const IID* kIidOf<IWMHeaderInfo> = &IID_IWMHeaderInfo;
template <>
inline constexpr const IID* kIidOf<IConfigAsfWriter> = &IID_IConfigAsfWriter;
template <>
inline constexpr const IID* kIidOf<IConfigInterleaving> = &IID_IConfigInterleaving;
template <>
inline constexpr const IID* kIidOf<IMediaDet> = &IID_IMediaDet;

// ---- creation ---------------------------------------------------------------------------

HRESULT WMCreateProfileManager(IWMProfileManager** manager);
/// A new file sink (not open).
HRESULT WMCreateWriterFileSink(IWMWriterFileSink** sink);
/// A new network sink (not open, HTTP, five clients).
HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** sink);
HRESULT WMCreateEditor(IWMMetadataEditor** editor);

namespace halvard::wmf {

/// A media detector (what CLSID_MediaDet creates).
[[nodiscard]] HRESULT CreateMediaDet(IMediaDet** det);

/// Frees the format block of a media type filled by get_StreamMediaType and clears it.
void FreeMediaType(WM_MEDIA_TYPE* type);

}  // namespace halvard::wmf
