#pragma once
// Test filters around a filter under test: a source that pushes frames the test gives
// it, and a sink that keeps what it receives. Both are plain framework filters driven
// by the test thread (no graph): connect pins with Connect, change states with
// Pause/Run/Stop on each filter, push with CTestSource::Push.

#include <functional>
#include <mutex>
#include <vector>

#include "platform/media/BaseFilter.h"
#include "platform/media/Interfaces.h"

namespace halvard::testing {

class CTestSource;
class CTestSink;

class CTestSourcePin final : public CBaseOutputPin {
 public:
  CTestSourcePin(CTestSource* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;

 private:
  CTestSource* m_source;
};

/// What a pushed sample carries besides its bytes (media times only when mediaStart >= 0).
struct SampleProperties {
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 1;
  LONGLONG mediaStart = -1;
  LONGLONG mediaStop = -1;
  bool syncPoint = true;
  bool discontinuity = false;
  bool preroll = false;
};

/// A source offering the types it is given; Push sends one frame.
class CTestSource final : public CBaseFilter {
 public:
  explicit CTestSource(std::vector<CMediaType> types);
  ~CTestSource() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  [[nodiscard]] CTestSourcePin* Pin() { return m_pin; }

  /// Delivers a sample holding `data` (the buffer is the connected type's sample size or
  /// the data size, whichever is larger). Returns the downstream result.
  HRESULT Push(const std::vector<BYTE>& data, REFERENCE_TIME start = 0);
  /// The same with every property of the sample given.
  HRESULT Push(const std::vector<BYTE>& data, const SampleProperties& properties);
  std::vector<CMediaType> types;
  LONG bufferSize = 0;  // 0: from the connected type
  IMediaSample* lastPushed = nullptr;  // identity only; not counted

 private:
  CCritSec m_lock;
  CTestSourcePin* m_pin;
};

class CTestSinkPin final : public CBaseInputPin {
 public:
  CTestSinkPin(CTestSink* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT ReceiveCanBlock() override { return S_FALSE; }

 private:
  CTestSink* m_sink;
};

/// A sink that keeps a copy of every sample (and the sample object's address).
class CTestSink final : public CBaseFilter {
 public:
  CTestSink();
  ~CTestSink() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  [[nodiscard]] CTestSinkPin* Pin() { return m_pin; }

  struct Received {
    std::vector<BYTE> data;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    IMediaSample* sample = nullptr;  // identity only; not counted
    // Every other property, as the sample answered.
    HRESULT timeResult = E_FAIL;       // GetTime
    HRESULT mediaTimeResult = E_FAIL;  // GetMediaTime
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
    bool preroll = false;
    bool typeChanged = false;  // GetMediaType gave a type
  };
  std::mutex mutex;
  std::vector<Received> received;
  int endOfStreams = 0;
  int beginFlushes = 0;
  int endFlushes = 0;
  int newSegments = 0;
  /// Which types the sink takes (default: any video).
  std::function<bool(const CMediaType&)> accept;

 private:
  CCritSec m_lock;
  CTestSinkPin* m_pin;
};

/// A real filter graph's event queue for filters the test drives itself: Attach joins a
/// filter to the graph without adding it, so the graph never touches its pins or state;
/// Take returns what the filters posted. Detaches every filter when destroyed.
class CGraphEvents {
 public:
  CGraphEvents();
  ~CGraphEvents();
  CGraphEvents(const CGraphEvents&) = delete;
  CGraphEvents& operator=(const CGraphEvents&) = delete;

  void Attach(CBaseFilter* filter);

  struct Event {
    LONG code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
  };
  /// The queued events of one code, in order (removed from the queue with the others).
  std::vector<Event> Take(LONG code);

 private:
  ComPtr<IFilterGraph> m_graph;
  ComPtr<IMediaEventEx> m_events;
  std::vector<CBaseFilter*> m_attached;  // not counted: the test holds them
};

/// An outer object for aggregation tests: its own IUnknown only. Counts its references
/// (the inner object's interfaces delegate theirs here) and the interfaces it was asked
/// for beyond IUnknown. Lives on the stack: Release never deletes it.
class COuterUnknown final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    ++asked;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }
  [[nodiscard]] int References() const { return m_references; }
  int asked = 0;

 private:
  int m_references = 1;
};

/// Takes the first reference of a framework object (creation leaves the count at 0).
template <class T>
T* Hold(T* object) {
  object->NonDelegatingAddRef();
  return object;
}

}  // namespace halvard::testing
