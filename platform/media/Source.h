#pragma once
/// CSource and CSourceStream: a source filter whose output pins each run a streaming
/// thread while the filter is paused or running.
///
/// A derived pin implements (R) FillBuffer, GetMediaType (or GetMediaType(int, ...)),
/// DecideBufferSize and CheckMediaType (default: any type GetMediaType enumerates), and
/// optionally (O) OnThreadCreate / OnThreadDestroy / OnThreadStartPlay [S_OK],
/// DoBufferProcessingLoop [get buffer, FillBuffer, Deliver until a stop request].
///
/// Thread: Active() (stopped → paused) starts the pin's thread, which calls
/// OnThreadCreate, then loops: GetDeliveryBuffer, FillBuffer, Deliver. FillBuffer
/// returning S_FALSE ends the stream (EndOfStream downstream, the thread then waits for
/// Stop); a failure sends EC_ERRORABORT with the code and ends it too. Inactive() (→
/// stopped) asks the thread to stop, decommits the allocator (which releases a thread
/// blocked in GetDeliveryBuffer), waits for it to end and calls OnThreadDestroy on it.
/// FillBuffer therefore must not block for long without checking CheckRequest.

#include <thread>
#include <vector>

#include "platform/media/BaseFilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(LPCTSTR name, LPUNKNOWN outer, CLSID clsid, HRESULT* phr);
  CSource(LPCTSTR name, LPUNKNOWN outer, CLSID clsid);
  /// Deletes the pins still registered.
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  /// Called by CSourceStream's constructor / destructor.
  HRESULT AddPin(CSourceStream* pin);
  HRESULT RemovePin(CSourceStream* pin);
  /// Index of pin, or -1.
  int FindPinNumber(IPin* pin);

  [[nodiscard]] CCritSec* pStateLock() { return &m_cStateLock; }

 protected:
  CCritSec m_cStateLock;  // the filter lock
  std::vector<CSourceStream*> m_paStreams;  // owned
};

class CSourceStream : public CBaseOutputPin {
 public:
  /// Registers itself with filter (which then owns and deletes it).
  CSourceStream(LPCTSTR objectName, HRESULT* phr, CSource* filter, LPCWSTR pinName);
  ~CSourceStream() override;

  /// R: fills the sample (data, length, times). S_OK delivers it, S_FALSE ends the stream.
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  /// O: on the streaming thread before / after streaming.
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  virtual HRESULT OnThreadStartPlay() { return S_OK; }
  /// O: the delivery loop; returns when a stop was requested or the stream ended.
  virtual HRESULT DoBufferProcessingLoop();

  /// Starts the thread (after the base commits the allocator).
  HRESULT Active() override;
  /// Stops and joins the thread, then decommits.
  HRESULT Inactive() override;

  /// The pin's single type, for pins with one: override this or GetMediaType(int, ...).
  /// Default: E_UNEXPECTED.
  virtual HRESULT GetMediaType(CMediaType* pmt);
  /// O: position 0 is GetMediaType(CMediaType*), then VFW_S_NO_MORE_ITEMS.
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  /// O: the type must equal one that GetMediaType(int, ...) enumerates (else
  /// VFW_E_TYPE_NOT_ACCEPTED; E_POINTER for null).
  HRESULT CheckMediaType(const CMediaType* pmt) override;

  /// Commands a streaming loop checks between buffers.
  enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
  /// True (and the command) when a stop or exit has been requested.
  bool CheckRequest(Command* command);
  /// Whether the streaming thread exists.
  [[nodiscard]] bool ThreadExists() const { return m_thread.joinable(); }

 protected:
  CSource* m_pFilter;

 private:
  void ThreadProc();
  std::thread m_thread;
  std::mutex m_requestLock;
  std::condition_variable m_requestSignal;
  bool m_stopRequested = false;
};
