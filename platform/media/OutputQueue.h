#pragma once
/// COutputQueue: delivers samples and stream events to one downstream input pin, either
/// on the caller's thread or through a worker thread and a list.
///
/// Automatic mode (bAuto): a worker thread only when the downstream pin reports that
/// its Receive can block (IMemInputPin::ReceiveCanBlock == S_OK); otherwise delivery is
/// direct. bQueue forces the thread when bAuto is false. Samples are delivered in batches
/// of lBatchSize (bBatchExact: only full batches, else whatever is waiting). Stream
/// events (EndOfStream, NewSegment) keep their place among the samples; BeginFlush
/// discards what is waiting and passes the flush on at once.
///
/// lListSize and dwPriority are accepted for the documented signature only: the list is
/// bounded by the upstream allocator's buffers, and the worker runs at normal priority.
/// The queue takes a reference to every sample it is given and releases it after
/// delivery. A delivery failure is remembered: later samples are released and the
/// failure returned, until EndFlush / Reset.
/// Threads: Receive / EOS / NewSegment from the streaming thread; BeginFlush / EndFlush
/// from the application thread, as the pins receive them.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/media/BaseFilter.h"

constexpr LONG DEFAULTCACHE = 10;

class COutputQueue : public CCritSec {
 public:
  /// inputPin: the downstream pin (counted for the queue's lifetime). *phr receives
  /// E_NOINTERFACE when it has no IMemInputPin.
  COutputQueue(IPin* inputPin, HRESULT* phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE, LONG lBatchSize = 1,
               BOOL bBatchExact = FALSE, LONG lListSize = DEFAULTCACHE, DWORD dwPriority = THREAD_PRIORITY_NORMAL,
               bool bFlushingOpt = false);
  /// Discards what is waiting and ends the thread.
  ~COutputQueue();

  void BeginFlush();
  void EndFlush();
  void EOS();
  /// Delivers a partial batch now.
  void SendAnyway();
  void NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
  /// Queues or delivers the sample; the queue adds its own reference. Returns the
  /// remembered failure, S_FALSE while flushing, else S_OK (queued) or downstream's result.
  HRESULT Receive(IMediaSample* sample);
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed);
  /// Forgets a remembered failure and discards what is waiting.
  void Reset();
  /// True when nothing is waiting and the worker (if any) is idle.
  [[nodiscard]] BOOL IsIdle();
  /// Whether deliveries go through a worker thread.
  [[nodiscard]] bool IsQueued() const { return m_bQueue; }

 private:
  struct Entry {
    enum Kind { Sample, EndOfStream, Segment, SendNow } kind;
    IMediaSample* sample;
    REFERENCE_TIME start;
    REFERENCE_TIME stop;
    double rate;
  };
  void ThreadProc();
  HRESULT DeliverBatch(std::vector<IMediaSample*>& batch);
  void DiscardLocked();
  std::vector<IMediaSample*> TakeBatch();

  IPin* m_pPin;
  IMemInputPin* m_pInputPin;
  bool m_bQueue;
  LONG m_lBatchSize;
  bool m_bBatchExact;
  std::mutex m_lock;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<Entry> m_list;
  std::vector<IMediaSample*> m_batch;  // direct mode: samples waiting for a full batch
  std::thread m_thread;
  bool m_terminate = false;
  bool m_flushing = false;
  bool m_busy = false;
  HRESULT m_hr = S_OK;
};
