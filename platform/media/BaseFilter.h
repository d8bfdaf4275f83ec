#pragma once
/// The filter and pin base classes: CBaseFilter, CBasePin, CBaseInputPin,
/// CBaseOutputPin and the pin and media-type enumerators.
///
/// Locks. Each filter has one filter lock (a CCritSec handed to CBaseFilter and to every
/// pin) that serialises state changes, connections and pin-list changes. Streaming calls
/// (Receive, EndOfStream, flushes) run on the upstream streaming thread; filters that
/// need to serialise them take a separate streaming lock of their own (CTransformFilter
/// does). Streaming threads never take the filter lock: Stop holds it while it waits for
/// them (CSourceStream::Inactive).
///
/// References. Pins delegate their reference counts to their filter: a pin lives as long
/// as its filter, and a reference to a pin keeps the filter alive. The graph pointer of
/// a filter is not counted (the graph owns its filters).
///
/// Virtual methods, for authors of filters (R = required, O = optional with the default
/// described):
///   CBaseFilter:  GetPinCount R, GetPin R; Stop/Pause/Run O (change m_State, call
///                 Active/Inactive/Run on every connected pin); GetPinVersion O
///                 (m_PinVersion); FindPin O (by pin name).
///   CBasePin:     CheckMediaType R; GetMediaType O (E_UNEXPECTED: no preferred types);
///                 SetMediaType O (stores the type in m_mt); CheckConnect O (direction
///                 check: VFW_E_INVALID_DIRECTION for two pins of one direction);
///                 CompleteConnect O (S_OK); BreakConnect O (S_OK); Active/Inactive O (S_OK);
///                 Run O (S_OK); EndOfStream O (S_OK); NewSegment O (stores the segment);
///                 BeginFlush/EndFlush R for pins that see them (pure in CBasePin).
///   CBaseInputPin: Receive O (checks state and type: call it first from overrides);
///                 GetAllocatorRequirements O (E_NOTIMPL); BeginFlush/EndFlush O (flag);
///                 NotifyAllocator O (keeps the allocator and the read-only flag).
///   CBaseOutputPin: DecideBufferSize R; DecideAllocator O (downstream's allocator,
///                 else our CMemAllocator); InitAllocator O (a CMemAllocator).

#include <string>
#include <vector>

#include "platform/media/Allocator.h"
#include "platform/media/MediaType.h"
#include "platform/media/Sync.h"
#include "platform/media/Unknown.h"

class CBasePin;
class CBaseFilter;

/// Stream time (100 ns) with the documented helper shape.
class CRefTime {
 public:
  CRefTime() = default;
  CRefTime(REFERENCE_TIME t) : m_time(t) {}  // NOLINT: implicit like the original
  operator REFERENCE_TIME() const { return m_time; }
  CRefTime& operator+=(const CRefTime& o) {
    m_time += o.m_time;
    return *this;
  }
  CRefTime& operator-=(const CRefTime& o) {
    m_time -= o.m_time;
    return *this;
  }
  [[nodiscard]] LONG Millisecs() const { return static_cast<LONG>(m_time / MILLISECONDS); }
  REFERENCE_TIME m_time = 0;
};

// ---- CBaseFilter ------------------------------------------------------------------------

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMFilterMiscFlags {
 public:
  /// lock: the filter lock, owned by the derived filter and shared with its pins.
  CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid);
  CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  /// IBaseFilter, IMediaFilter, IPersist, IAMFilterMiscFlags (when GetMiscFlags != 0).
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  HRESULT GetClassID(CLSID* clsid) override;

  // IMediaFilter
  /// Stops: Inactive() on every connected pin, then m_State = State_Stopped. Pins'
  /// failures are returned (the state changes anyway).
  HRESULT Stop() override;
  /// From stopped: Active() on every connected pin (the first failure is returned and the
  /// state does not change). Then m_State = State_Paused.
  HRESULT Pause() override;
  /// Pauses first when stopped, remembers the start time, calls Run(start) on every
  /// connected pin, then m_State = State_Running.
  HRESULT Run(REFERENCE_TIME start) override;
  /// The state at once (never intermediate). E_POINTER.
  HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  HRESULT EnumPins(IEnumPins** ppEnum) override;
  /// The pin whose name equals id. VFW_E_NOT_FOUND (and null) otherwise.
  HRESULT FindPin(LPCWSTR id, IPin** ppPin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  /// Called by the graph: remembers the graph (not counted) and the name.
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  /// E_NOTIMPL.
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

  // IAMFilterMiscFlags: 0 by default; renderers and sources override.
  ULONG GetMiscFlags() override { return 0; }

  // ---- for derived classes and pins ----
  /// Number of pins. Required.
  virtual int GetPinCount() = 0;
  /// Pin n (0-based), not AddRef'd; null when out of range. Required.
  virtual CBasePin* GetPin(int n) = 0;
  /// Changes whenever the pin list changes; pin enumerators then report
  /// VFW_E_ENUM_OUT_OF_SYNC. Optional: returns m_PinVersion.
  virtual LONG GetPinVersion() { return m_PinVersion; }
  void IncrementPinVersion() { ++m_PinVersion; }

  /// Sends an event to the graph's event queue (EC_COMPLETE, EC_ERRORABORT, ...). The
  /// graph may keep param1 / param2. E_NOTIMPL when the filter is in no graph.
  HRESULT NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);
  /// Asks the graph to reconnect pin (and its peer), with pmt when given.
  /// E_NOINTERFACE when the filter is in no graph.
  HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* pmt);
  [[nodiscard]] IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  [[nodiscard]] bool IsActive();
  [[nodiscard]] bool IsStopped();
  [[nodiscard]] FILTER_STATE State() const { return m_State; }
  /// Current stream time from the clock; VFW_E_NO_CLOCK without one.
  virtual HRESULT StreamTime(CRefTime& streamTime);
  [[nodiscard]] CCritSec* FilterLock() const { return m_pLock; }
  [[nodiscard]] const std::wstring& Name() const { return m_name; }

 protected:
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  IReferenceClock* m_pClock = nullptr;  // counted
  CRefTime m_tStart;
  CLSID m_clsid;
  CCritSec* m_pLock;
  std::wstring m_name;  // the name in the graph
  IFilterGraph* m_pGraph = nullptr;  // not counted
  IMediaEventSink* m_pSink = nullptr;  // not counted (the graph's)
  LONG m_PinVersion = 1;
};

// ---- CBasePin --------------------------------------------------------------------------

class CBasePin : public CUnknown, public IPin, public IKsPropertySet {
 public:
  /// name: the pin's name (copied). lock: the filter lock.
  CBasePin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  /// IPin; IKsPropertySet when SetCategory gave the pin a category.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  /// Counted on the filter: the pin lives as long as its filter.
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  /// Output pins only. Agrees a type with receivePin (pmt may be partial or null) and
  /// connects. VFW_E_ALREADY_CONNECTED; VFW_E_NOT_STOPPED (filter not stopped);
  /// VFW_E_NO_ACCEPTABLE_TYPES (no common type); VFW_E_TYPE_NOT_ACCEPTED (a complete pmt
  /// refused); the errors of CheckConnect / ReceiveConnection / CompleteConnect.
  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) override;
  /// Input side of Connect. VFW_E_ALREADY_CONNECTED; VFW_E_NOT_STOPPED;
  /// VFW_E_TYPE_NOT_ACCEPTED; E_POINTER.
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  /// S_OK disconnected, S_FALSE was not connected, VFW_E_NOT_STOPPED. Only this side.
  HRESULT Disconnect() override;
  /// VFW_E_NOT_CONNECTED (and null) when unconnected.
  HRESULT ConnectedTo(IPin** pin) override;
  /// VFW_E_NOT_CONNECTED (and an empty type) when unconnected.
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* dir) override;
  HRESULT QueryId(LPWSTR* id) override;
  /// S_OK when CheckMediaType accepts, S_FALSE otherwise.
  HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  /// E_NOTIMPL: every input feeds every output.
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IKsPropertySet (pin category)
  HRESULT Set(REFGUID propSet, DWORD id, void* instanceData, DWORD instanceLength, void* propertyData,
              DWORD dataLength) override;
  HRESULT Get(REFGUID propSet, DWORD id, void* instanceData, DWORD instanceLength, void* propertyData,
              DWORD dataLength, DWORD* returned) override;
  HRESULT QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport) override;

  // ---- for derived classes ----
  /// R: S_OK when the pin can take the type; any failure refuses it.
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  /// O: the preferred type at position (0-based): S_OK, VFW_S_NO_MORE_ITEMS past the end,
  /// E_INVALIDARG below 0. Default: E_UNEXPECTED (the pin proposes no types).
  virtual HRESULT GetMediaType(int position, CMediaType* pmt);
  /// O: version of the GetMediaType list. Default: 0.
  virtual LONG GetMediaTypeVersion() { return 0; }
  /// O: called with the agreed type; default stores it in m_mt.
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  /// O: checks the peer before types are tried. Default: directions must differ.
  virtual HRESULT CheckConnect(IPin* pin);
  /// O: undoes CheckConnect / CompleteConnect. Default: S_OK.
  virtual HRESULT BreakConnect();
  /// O: the connection is made; failures undo it. Default: S_OK.
  virtual HRESULT CompleteConnect(IPin* receivePin);
  /// O: the filter goes stopped → paused. Default: S_OK.
  virtual HRESULT Active();
  /// O: the filter goes to stopped. Default: S_OK.
  virtual HRESULT Inactive();
  /// O: the filter runs from start. Default: S_OK.
  virtual HRESULT Run(REFERENCE_TIME start);

  /// Gives the pin a category (PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW, ...):
  /// then it answers IKsPropertySet with AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY.
  void SetCategory(const GUID& category) { m_category = category; }
  [[nodiscard]] const GUID& Category() const { return m_category; }

  [[nodiscard]] bool IsConnected() const { return m_Connected != nullptr; }
  /// The connected peer, not AddRef'd.
  [[nodiscard]] IPin* GetConnected() const { return m_Connected; }
  [[nodiscard]] bool IsStopped() const { return m_pFilter->State() == State_Stopped; }
  [[nodiscard]] CMediaType& CurrentMediaType() { return m_mt; }
  [[nodiscard]] PIN_DIRECTION Direction() const { return m_dir; }
  [[nodiscard]] const std::wstring& PinName() const { return m_name; }
  [[nodiscard]] LPCWSTR Name() const { return m_name.c_str(); }
  [[nodiscard]] CBaseFilter* Filter() const { return m_pFilter; }
  [[nodiscard]] REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  [[nodiscard]] REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  [[nodiscard]] double CurrentRate() const { return m_dRate; }

 protected:
  HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* pmt);
  HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* pmt, IEnumMediaTypes* ppEnum);
  HRESULT AttemptConnection(IPin* receivePin, const CMediaType* pmt);
  HRESULT DisconnectInternal();

  std::wstring m_name;
  IPin* m_Connected = nullptr;  // counted
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;
  bool m_bRunTimeError = false;
  bool m_bCanReconnectWhenActive = false;
  bool m_bTryMyTypesFirst = false;
  CBaseFilter* m_pFilter;  // our owner, not counted
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFF;
  double m_dRate = 1.0;
  GUID m_category = GUID_NULL;
};

// ---- enumerators -------------------------------------------------------------------------

/// One enumerator over the items of an owner that holds a version of its list: the
/// reference counting, Next/Skip/Reset/Clone and the rule that once the owner's list
/// changed, Next and Skip give VFW_E_ENUM_OUT_OF_SYNC until Reset. Holds a reference to
/// the owner. Traits gives the interface, the owner and item types, and:
///   Guard          what to hold while reading the owner (a lock, or nothing);
///   Version(o)     the owner's list version;
///   Take(o, &pos, &item)  the next item from pos on (advancing pos; a new reference);
///                  false at the end;
///   Step(o, &pos)  passes one position; false at the end;
///   kCloneChecksVersion  whether Clone refuses an enumerator that is out of sync.
template <class Traits>
class CEnumItems final : public Traits::Interface {
 public:
  using Owner = typename Traits::Owner;
  using Item = typename Traits::Item;

  CEnumItems(Owner* owner, const CEnumItems* toCopy) : m_owner(owner), m_version(Traits::Version(owner)) {
    if (toCopy != nullptr) {
      m_position = toCopy->m_position;
      m_version = toCopy->m_version;
    }
    m_owner->AddRef();
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == Traits::Iid() || riid == IID_IUnknown) {
      return GetInterface(static_cast<typename Traits::Interface*>(this), ppv);
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }
  ULONG Release() override {
    const LONG count = m_cRef.fetch_sub(1) - 1;
    if (count == 0) {
      delete this;
    }
    return static_cast<ULONG>(count);
  }

  HRESULT Next(ULONG count, Item* items, ULONG* fetched) override {
    if (items == nullptr) {
      return E_POINTER;
    }
    if (fetched != nullptr) {
      *fetched = 0;
    } else if (count > 1) {
      return E_INVALIDARG;
    }
    const typename Traits::Guard guard(m_owner);
    if (m_version != Traits::Version(m_owner)) {
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    ULONG got = 0;
    while (got < count && Traits::Take(m_owner, &m_position, &items[got])) {
      ++got;
    }
    if (fetched != nullptr) {
      *fetched = got;
    }
    return got == count ? S_OK : S_FALSE;
  }

  HRESULT Skip(ULONG count) override {
    const typename Traits::Guard guard(m_owner);
    if (m_version != Traits::Version(m_owner)) {
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    for (; count > 0; --count) {
      if (!Traits::Step(m_owner, &m_position)) {
        return S_FALSE;
      }
    }
    return S_OK;
  }

  HRESULT Reset() override {
    const typename Traits::Guard guard(m_owner);
    m_version = Traits::Version(m_owner);
    m_position = 0;
    return S_OK;
  }

  HRESULT Clone(typename Traits::Interface** ppEnum) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    const typename Traits::Guard guard(m_owner);
    if (Traits::kCloneChecksVersion && m_version != Traits::Version(m_owner)) {
      *ppEnum = nullptr;
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *ppEnum = new (std::nothrow) CEnumItems(m_owner, this);
    return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  ~CEnumItems() { m_owner->Release(); }
  std::atomic<LONG> m_cRef{1};
  Owner* m_owner;
  int m_position = 0;
  LONG m_version;
};

/// A filter's pins, read under the filter lock; a missing pin is passed over.
struct PinEnumTraits {
  using Interface = IEnumPins;
  using Owner = CBaseFilter;
  using Item = IPin*;
  struct Guard {
    explicit Guard(CBaseFilter* filter);
    CAutoLock lock;
  };
  static const IID& Iid() { return IID_IEnumPins; }
  static LONG Version(CBaseFilter* filter);
  static bool Take(CBaseFilter* filter, int* position, IPin** pin);
  static bool Step(CBaseFilter* filter, int* position);
  static constexpr bool kCloneChecksVersion = true;
};

/// A pin's preferred types (GetMediaType), each handed out as a new AM_MEDIA_TYPE.
struct MediaTypeEnumTraits {
  using Interface = IEnumMediaTypes;
  using Owner = CBasePin;
  using Item = AM_MEDIA_TYPE*;
  struct Guard {
    explicit Guard(CBasePin*) {}
  };
  static const IID& Iid() { return IID_IEnumMediaTypes; }
  static LONG Version(CBasePin* pin);
  static bool Take(CBasePin* pin, int* position, AM_MEDIA_TYPE** type);
  static bool Step(CBasePin* pin, int* position);
  static constexpr bool kCloneChecksVersion = false;
};

/// Enumerates a filter's pins; holds a reference to the filter.
using CEnumPins = CEnumItems<PinEnumTraits>;
/// Enumerates a pin's preferred types; holds a reference to the pin.
using CEnumMediaTypes = CEnumItems<MediaTypeEnumTraits>;

// ---- CBaseOutputPin ----------------------------------------------------------------------

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
  ~CBaseOutputPin() override;

  /// Also requires the peer's IMemInputPin (its QueryInterface failure is returned).
  HRESULT CheckConnect(IPin* pin) override;
  /// Negotiates the allocator (DecideAllocator).
  HRESULT CompleteConnect(IPin* receivePin) override;
  /// Decommits and releases the allocator and the peer's IMemInputPin.
  HRESULT BreakConnect() override;
  /// Commits the allocator. VFW_E_NO_ALLOCATOR when there is none.
  HRESULT Active() override;
  /// Decommits the allocator.
  HRESULT Inactive() override;

  /// O: the allocator: downstream's (GetAllocator) when it takes our buffer size, else
  /// our own (InitAllocator); then NotifyAllocator(..., FALSE) downstream.
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc);
  /// R: sets the buffer count and size on alloc (SetProperties) and checks the result.
  virtual HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) = 0;
  /// O: creates the pin's own allocator (a CMemAllocator).
  virtual HRESULT InitAllocator(IMemAllocator** alloc);

  /// A free buffer from the allocator (blocks until one is free unless AM_GBF_NOWAIT).
  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
  /// Hands a sample downstream (Receive). VFW_E_NOT_CONNECTED when unconnected.
  virtual HRESULT Deliver(IMediaSample* sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  // Output pins do not receive these: E_UNEXPECTED.
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  /// The peer's IMemInputPin, not AddRef'd (null when unconnected).
  [[nodiscard]] IMemInputPin* ConnectedIMemInputPin() const { return m_pInputPin; }
  [[nodiscard]] IMemAllocator* Allocator() const { return m_pAllocator; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // counted
  IMemInputPin* m_pInputPin = nullptr;    // counted
};

// ---- CBaseInputPin -----------------------------------------------------------------------

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  /// Adds IMemInputPin.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  /// The allocator already notified, else a new CMemAllocator of ours.
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  /// Keeps the allocator upstream will use and whether its samples are read-only.
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  /// E_NOTIMPL: no requirements.
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  /// Base checks for a sample: CheckStreaming; a sample carrying a new media type that
  /// CheckMediaType refuses gives VFW_E_INVALIDMEDIATYPE (after EndOfStream and an
  /// EC_ERRORABORT event). Filters override, call this first and return its failure.
  HRESULT Receive(IMediaSample* sample) override;
  /// Receive for each sample in turn; stops at the first result other than S_OK.
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  /// S_OK when a connected output pin's peer can block (or there are no outputs),
  /// S_FALSE otherwise.
  HRESULT ReceiveCanBlock() override;

  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT BreakConnect() override;
  /// Leaves flushing and run-time error state; decommits the allocator.
  HRESULT Inactive() override;

  /// S_OK when samples may be received: VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE
  /// (stopped), S_FALSE (flushing), VFW_E_RUNTIME_ERROR (after a fatal error).
  virtual HRESULT CheckStreaming();

  [[nodiscard]] bool IsReadOnly() const { return m_bReadOnly; }
  [[nodiscard]] bool IsFlushing() const { return m_bFlushing; }
  [[nodiscard]] IMemAllocator* PeekAllocator() const { return m_pAllocator; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // counted
  bool m_bReadOnly = false;
  std::atomic<bool> m_bFlushing{false};
};
