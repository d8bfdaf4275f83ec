#pragma once
/// Media samples and allocators: CMediaSample, CBaseAllocator (a pool of samples with
/// Commit/Decommit and blocking GetBuffer) and CMemAllocator (samples in one memory block).
///
/// Lifetime: every sample handed out by GetBuffer holds a reference to its allocator;
/// the sample's last Release returns it to the pool (ReleaseBuffer). Decommit refuses
/// further GetBuffer calls (VFW_E_NOT_COMMITTED, also waking blocked callers) and frees
/// the memory once every sample has come back.
/// Threads: all methods may be called from any thread.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/media/MediaType.h"
#include "platform/media/Sync.h"
#include "platform/media/Unknown.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample {
 public:
  /// buffer / length: the sample's memory, owned by the allocator.
  CMediaSample(LPCTSTR name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer = nullptr, LONG length = 0);
  virtual ~CMediaSample();

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  /// At zero the sample goes back to its allocator (it is not deleted).
  ULONG Release() override;

  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override;
  /// VFW_E_SAMPLE_TIME_NOT_SET when no time was set; VFW_S_NO_STOP_TIME with a start only.
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  /// start null clears the times.
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(BOOL isSyncPoint) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(BOOL isPreroll) override;
  LONG GetActualDataLength() override;
  /// VFW_E_BUFFER_OVERFLOW beyond the buffer size.
  HRESULT SetActualDataLength(LONG length) override;
  /// S_FALSE (and null) when the type did not change with this sample.
  HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(BOOL discontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;

  /// Sets the memory (used by allocators).
  HRESULT SetPointer(BYTE* buffer, LONG length);

 protected:
  friend class CBaseAllocator;
  /// Clears times, flags and type before the sample is handed out again.
  void ResetProperties();

  std::atomic<LONG> m_cRef{0};
  CBaseAllocator* m_pAllocator;
  BYTE* m_pBuffer;
  LONG m_cbBuffer;
  LONG m_lActual = 0;
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONGLONG m_MediaEnd = 0;
  bool m_timeValid = false;
  bool m_stopValid = false;
  bool m_mediaTimeValid = false;
  bool m_syncPoint = false;
  bool m_preroll = false;
  bool m_discontinuity = false;
  AM_MEDIA_TYPE* m_pMediaType = nullptr;  // task memory
};

class CBaseAllocator : public CUnknown, public IMemAllocator {
 public:
  CBaseAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  /// Stores the request (rounded: at least 1 buffer, alignment 1). VFW_E_ALREADY_COMMITTED
  /// while committed; VFW_E_BUFFERS_OUTSTANDING while samples are out; VFW_E_BADALIGN
  /// for an alignment that is not a power of two; E_POINTER.
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
  /// Allocates the samples (Alloc). VFW_E_SIZENOTSET before SetProperties; E_OUTOFMEMORY.
  HRESULT Commit() override;
  HRESULT Decommit() override;
  /// A free sample (reference count 1). Blocks while none is free unless AM_GBF_NOWAIT
  /// (then VFW_E_TIMEOUT). VFW_E_NOT_COMMITTED when not committed or decommitted while
  /// waiting.
  HRESULT GetBuffer(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  /// Called by a sample's last Release.
  HRESULT ReleaseBuffer(IMediaSample* buffer) override;

  /// Samples currently out.
  [[nodiscard]] LONG OutstandingCount();

 protected:
  /// R: creates m_lCount samples of m_lSize bytes into m_free.
  virtual HRESULT Alloc() = 0;
  /// R: frees what Alloc made (called when decommitted and every sample is back).
  virtual void Free() = 0;

  std::mutex m_lock;
  std::condition_variable m_freeAvailable;
  std::vector<CMediaSample*> m_free;
  std::vector<std::unique_ptr<CMediaSample>> m_all;
  LONG m_lCount = 0;
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  bool m_bCommitted = false;
  bool m_bDecommitInProgress = false;
  bool m_propertiesSet = false;
  LONG m_outstanding = 0;
};

class CMemAllocator final : public CBaseAllocator {
 public:
  CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CMemAllocator() override;
  /// Creates one (reference count 1) for pins that need an allocator of their own.
  static HRESULT Create(IMemAllocator** allocator);

 protected:
  HRESULT Alloc() override;
  void Free() override;

 private:
  BYTE* m_pBuffer = nullptr;
};
