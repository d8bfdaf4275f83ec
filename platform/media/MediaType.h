#pragma once
/// CMediaType: an AM_MEDIA_TYPE that owns its format block, plus the free functions
/// that manage media types handed across interfaces.

#include "platform/media/Interfaces.h"

/// Frees the format block (and pUnk) of a type, leaving the type without a format.
void FreeMediaType(AM_MEDIA_TYPE& mt);
/// FreeMediaType, then CoTaskMemFree of the structure itself (for types from
/// IEnumMediaTypes::Next, IAMStreamConfig::GetFormat, IMediaSample::GetMediaType).
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
/// Deep copy into target (whose previous contents are not freed). E_OUTOFMEMORY when the
/// format block cannot be allocated (target then has no format).
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
/// A task-memory deep copy, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

/// The bitmap header of a video type (FORMAT_VideoInfo), or null when the type has none
/// or its format block is too small.
[[nodiscard]] const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& mt);
[[nodiscard]] const VIDEOINFOHEADER* GetVideoInfoHeader(const AM_MEDIA_TYPE& mt);

class CMediaType : public AM_MEDIA_TYPE {
 public:
  /// An empty type: all GUIDs null, fixed-size samples, sample size 1, no format.
  CMediaType();
  /// A type with major type set.
  explicit CMediaType(const GUID* majorType);
  CMediaType(const AM_MEDIA_TYPE& other);  // NOLINT: implicit like the original
  CMediaType(const CMediaType& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  ~CMediaType();

  /// Full comparison: GUIDs and format block byte for byte.
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  /// Copies other into this. E_OUTOFMEMORY leaves this without a format.
  HRESULT Set(const CMediaType& other);
  HRESULT Set(const AM_MEDIA_TYPE& other);
  /// True when the major type is not GUID_NULL.
  [[nodiscard]] bool IsValid() const;

  [[nodiscard]] const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  [[nodiscard]] const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  [[nodiscard]] const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }
  [[nodiscard]] BOOL IsFixedSize() const { return bFixedSizeSamples; }
  [[nodiscard]] BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  [[nodiscard]] ULONG GetSampleSize() const;
  /// Sets a fixed sample size (0 = variable-size samples).
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  [[nodiscard]] BYTE* Format() const { return pbFormat; }
  [[nodiscard]] ULONG FormatLength() const { return cbFormat; }
  /// Copies a format block. false when out of memory.
  bool SetFormat(const BYTE* format, ULONG length);
  void ResetFormatBuffer();
  /// A zeroed format block of length bytes (replacing the old one); null when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  /// Resizes the format block, keeping its start. null when out of memory.
  BYTE* ReallocFormatBuffer(ULONG length);

  /// Resets to the empty type.
  void InitMediaType();
  /// True when the major type, subtype or format type is GUID_NULL (a wildcard).
  [[nodiscard]] bool IsPartiallySpecified() const;
  /// True when every field set in partial (not GUID_NULL) matches this type, and when
  /// partial has a format type, the format blocks are equal.
  [[nodiscard]] bool MatchesPartial(const CMediaType* partial) const;
};

namespace halvard::media {

/// A complete video type with a VIDEOINFOHEADER: subtype YUY2 (16 bits), RGB24 or RGB32,
/// positive height (RGB bottom-up as the DIB convention says), image size from the
/// geometry, frame time avgTimePerFrame (100 ns units).
[[nodiscard]] CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height,
                                       REFERENCE_TIME avgTimePerFrame = UNITS / 25);

/// Bits per pixel of the supported uncompressed video subtypes (0 for others).
[[nodiscard]] WORD BitCountOf(const GUID& subtype);

/// The name of a known identifier ("MEDIASUBTYPE_YUY2") or its braced text.
[[nodiscard]] std::string GuidName(const GUID& guid);

/// "Video YUY2 320x240" style description for logs and tools.
[[nodiscard]] std::string DescribeMediaType(const AM_MEDIA_TYPE& mt);

}  // namespace halvard::media
