#pragma once
/// Interfaces of the media pipeline in the classic layout: IUnknown's three methods
/// first, then each interface's methods in their documented order. Every interface has a
/// kIidOf specialisation, so ComPtr::As and halvard::com::CreateInstance work with it.
///
/// Deviation from the original: the automation interfaces (IMediaControl, IMediaEvent,
/// IMediaPosition, IVideoWindow, IBasicVideo) derive from IUnknown directly, without
/// IDispatch's four methods; nothing in the system calls them by name.

#include "platform/media/Types.h"
#include "platform/media/Uuids.h"

#define HALVARD_IID_OF(I) \
  template <>             \
  inline constexpr const IID* kIidOf<I> = &IID_##I

struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IMediaSample;
struct IMemAllocator;
struct IReferenceClock;
struct IFilterGraph;
struct IGraphBuilder;
struct IBaseFilter;
struct IMoniker;
struct IEnumMoniker;
struct IBindCtx;
struct IStream;
struct IErrorLog;
struct IFileSinkFilter;
struct IAMCopyCaptureFileProgress;

struct IReferenceClock : IUnknown {
  virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
  virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) = 0;
  virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                                 DWORD_PTR* cookie) = 0;
  virtual HRESULT Unadvise(DWORD_PTR cookie) = 0;

 protected:
  ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) = 0;
  virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
  virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;

 protected:
  ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
  virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
  virtual HRESULT FindPin(LPCWSTR id, IPin** ppPin) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
  virtual HRESULT QueryVendorInfo(LPWSTR* vendorInfo) = 0;

 protected:
  ~IBaseFilter() = default;
};

struct IPin : IUnknown {
  virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
  virtual HRESULT QueryId(LPWSTR* id) = 0;
  virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
  virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
  virtual HRESULT EndOfStream() = 0;
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;

 protected:
  ~IPin() = default;
};

struct IEnumPins : IUnknown {
  virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumPins** ppEnum) = 0;

 protected:
  ~IEnumPins() = default;
};

/// Each fetched type is task memory: free it with DeleteMediaType.
struct IEnumMediaTypes : IUnknown {
  virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMediaTypes** ppEnum) = 0;

 protected:
  ~IEnumMediaTypes() = default;
};

struct IEnumFilters : IUnknown {
  virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFilters** ppEnum) = 0;

 protected:
  ~IEnumFilters() = default;
};

struct IMediaSample : IUnknown {
  virtual HRESULT GetPointer(BYTE** buffer) = 0;
  virtual LONG GetSize() = 0;
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(BOOL isSyncPoint) = 0;
  virtual HRESULT IsPreroll() = 0;
  virtual HRESULT SetPreroll(BOOL isPreroll) = 0;
  virtual LONG GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(LONG length) = 0;
  virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) = 0;
  virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT IsDiscontinuity() = 0;
  virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
  virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
  virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;

 protected:
  ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
  virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Decommit() = 0;
  virtual HRESULT GetBuffer(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
  virtual HRESULT ReleaseBuffer(IMediaSample* buffer) = 0;

 protected:
  ~IMemAllocator() = default;
};

struct IMemInputPin : IUnknown {
  virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
  virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT Receive(IMediaSample* sample) = 0;
  virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
  virtual HRESULT ReceiveCanBlock() = 0;

 protected:
  ~IMemInputPin() = default;
};

struct IFilterGraph : IUnknown {
  virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
  virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
  virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT Reconnect(IPin* pin) = 0;
  virtual HRESULT Disconnect(IPin* pin) = 0;
  virtual HRESULT SetDefaultSyncSource() = 0;

 protected:
  ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
  virtual HRESULT Connect(IPin* out, IPin* in) = 0;
  virtual HRESULT Render(IPin* out) = 0;
  virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
  virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) = 0;
  virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
  virtual HRESULT Abort() = 0;
  virtual HRESULT ShouldOperationContinue() = 0;

 protected:
  ~IGraphBuilder() = default;
};

struct IFilterGraph2 : IGraphBuilder {
  virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                            IBaseFilter** filter) = 0;
  virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;

 protected:
  ~IFilterGraph2() = default;
};

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG msTimeout, OAFilterState* state) = 0;
  virtual HRESULT RenderFile(BSTR file) = 0;
  virtual HRESULT AddSourceFilter(BSTR file, IUnknown** filterInfo) = 0;
  virtual HRESULT get_FilterCollection(IUnknown** collection) = 0;
  virtual HRESULT get_RegFilterCollection(IUnknown** collection) = 0;
  virtual HRESULT StopWhenReady() = 0;

 protected:
  ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
  virtual HRESULT GetEventHandle(OAEVENT* event) = 0;
  virtual HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) = 0;
  virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* eventCode) = 0;
  virtual HRESULT CancelDefaultHandling(LONG eventCode) = 0;
  virtual HRESULT RestoreDefaultHandling(LONG eventCode) = 0;
  virtual HRESULT FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

 protected:
  ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
  virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instanceData) = 0;
  virtual HRESULT SetNotifyFlags(LONG flags) = 0;
  virtual HRESULT GetNotifyFlags(LONG* flags) = 0;

 protected:
  ~IMediaEventEx() = default;
};

/// How filters report events to the graph.
struct IMediaEventSink : IUnknown {
  virtual HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

 protected:
  ~IMediaEventSink() = default;
};

struct IMediaSeeking : IUnknown {
  virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT CheckCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT IsFormatSupported(const GUID* format) = 0;
  virtual HRESULT QueryPreferredFormat(GUID* format) = 0;
  virtual HRESULT GetTimeFormat(GUID* format) = 0;
  virtual HRESULT IsUsingTimeFormat(const GUID* format) = 0;
  virtual HRESULT SetTimeFormat(const GUID* format) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;
  virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
  virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                    const GUID* sourceFormat) = 0;
  virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
  virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
  virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
  virtual HRESULT SetRate(double rate) = 0;
  virtual HRESULT GetRate(double* rate) = 0;
  virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;

 protected:
  ~IMediaSeeking() = default;
};

struct IVideoWindow : IUnknown {
  virtual HRESULT put_Caption(BSTR caption) = 0;
  virtual HRESULT get_Caption(BSTR* caption) = 0;
  virtual HRESULT put_WindowStyle(LONG style) = 0;
  virtual HRESULT get_WindowStyle(LONG* style) = 0;
  virtual HRESULT put_WindowStyleEx(LONG style) = 0;
  virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
  virtual HRESULT put_AutoShow(LONG autoShow) = 0;
  virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
  virtual HRESULT put_WindowState(LONG state) = 0;
  virtual HRESULT get_WindowState(LONG* state) = 0;
  virtual HRESULT put_BackgroundPalette(LONG palette) = 0;
  virtual HRESULT get_BackgroundPalette(LONG* palette) = 0;
  virtual HRESULT put_Visible(LONG visible) = 0;
  virtual HRESULT get_Visible(LONG* visible) = 0;
  virtual HRESULT put_Left(LONG left) = 0;
  virtual HRESULT get_Left(LONG* left) = 0;
  virtual HRESULT put_Width(LONG width) = 0;
  virtual HRESULT get_Width(LONG* width) = 0;
  virtual HRESULT put_Top(LONG top) = 0;
  virtual HRESULT get_Top(LONG* top) = 0;
  virtual HRESULT put_Height(LONG height) = 0;
  virtual HRESULT get_Height(LONG* height) = 0;
  virtual HRESULT put_Owner(OAHWND owner) = 0;
  virtual HRESULT get_Owner(OAHWND* owner) = 0;
  virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
  virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
  virtual HRESULT get_BorderColor(LONG* color) = 0;
  virtual HRESULT put_BorderColor(LONG color) = 0;
  virtual HRESULT get_FullScreenMode(LONG* fullScreen) = 0;
  virtual HRESULT put_FullScreenMode(LONG fullScreen) = 0;
  virtual HRESULT SetWindowForeground(LONG focus) = 0;
  virtual HRESULT NotifyOwnerMessage(OAHWND hwnd, LONG message, LONG_PTR wParam, LONG_PTR lParam) = 0;
  virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT GetMinIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT HideCursor(LONG hide) = 0;
  virtual HRESULT IsCursorHidden(LONG* hidden) = 0;

 protected:
  ~IVideoWindow() = default;
};

struct IBasicVideo : IUnknown {
  virtual HRESULT get_AvgTimePerFrame(REFTIME* time) = 0;
  virtual HRESULT get_BitRate(LONG* rate) = 0;
  virtual HRESULT get_BitErrorRate(LONG* rate) = 0;
  virtual HRESULT get_VideoWidth(LONG* width) = 0;
  virtual HRESULT get_VideoHeight(LONG* height) = 0;
  virtual HRESULT put_SourceLeft(LONG v) = 0;
  virtual HRESULT get_SourceLeft(LONG* v) = 0;
  virtual HRESULT put_SourceWidth(LONG v) = 0;
  virtual HRESULT get_SourceWidth(LONG* v) = 0;
  virtual HRESULT put_SourceTop(LONG v) = 0;
  virtual HRESULT get_SourceTop(LONG* v) = 0;
  virtual HRESULT put_SourceHeight(LONG v) = 0;
  virtual HRESULT get_SourceHeight(LONG* v) = 0;
  virtual HRESULT put_DestinationLeft(LONG v) = 0;
  virtual HRESULT get_DestinationLeft(LONG* v) = 0;
  virtual HRESULT put_DestinationWidth(LONG v) = 0;
  virtual HRESULT get_DestinationWidth(LONG* v) = 0;
  virtual HRESULT put_DestinationTop(LONG v) = 0;
  virtual HRESULT get_DestinationTop(LONG* v) = 0;
  virtual HRESULT put_DestinationHeight(LONG v) = 0;
  virtual HRESULT get_DestinationHeight(LONG* v) = 0;
  virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT SetDefaultSourcePosition() = 0;
  virtual HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  virtual HRESULT SetDefaultDestinationPosition() = 0;
  virtual HRESULT GetVideoSize(LONG* width, LONG* height) = 0;
  virtual HRESULT GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) = 0;
  /// The current picture as a packed DIB (BITMAPINFOHEADER + pixels). With dib null,
  /// *bufferSize receives the size needed.
  virtual HRESULT GetCurrentImage(LONG* bufferSize, LONG* dib) = 0;
  virtual HRESULT IsUsingDefaultSource() = 0;
  virtual HRESULT IsUsingDefaultDestination() = 0;

 protected:
  ~IBasicVideo() = default;
};

struct IVideoFrameStep : IUnknown {
  virtual HRESULT Step(DWORD frames, IUnknown* stepObject) = 0;
  virtual HRESULT CanStep(LONG multiple, IUnknown* stepObject) = 0;
  virtual HRESULT CancelStep() = 0;

 protected:
  ~IVideoFrameStep() = default;
};

struct IAMFilterMiscFlags : IUnknown {
  virtual ULONG GetMiscFlags() = 0;

 protected:
  ~IAMFilterMiscFlags() = default;
};

struct IKsPropertySet : IUnknown {
  virtual HRESULT Set(REFGUID propSet, DWORD id, void* instanceData, DWORD instanceLength, void* propertyData,
                      DWORD dataLength) = 0;
  virtual HRESULT Get(REFGUID propSet, DWORD id, void* instanceData, DWORD instanceLength, void* propertyData,
                      DWORD dataLength, DWORD* returned) = 0;
  virtual HRESULT QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport) = 0;

 protected:
  ~IKsPropertySet() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  virtual HRESULT SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux, IFileSinkFilter** sink) = 0;
  virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                                void** ppv) = 0;
  virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                               IBaseFilter* sink) = 0;
  virtual HRESULT ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                                REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) = 0;
  virtual HRESULT AllocCapFile(LPCOLESTR file, DWORDLONG size) = 0;
  virtual HRESULT CopyCaptureFile(LPOLESTR oldFile, LPOLESTR newFile, int allowEscAbort,
                                  IAMCopyCaptureFileProgress* callback) = 0;
  virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                          BOOL unconnected, int index, IPin** pin) = 0;

 protected:
  ~ICaptureGraphBuilder2() = default;
};

// ---- devices ------------------------------------------------------------------------------

/// Errors are written to an error log by property bags; unused here but part of Read.
struct IErrorLog : IUnknown {
 protected:
  ~IErrorLog() = default;
};

struct IPropertyBag : IUnknown {
  /// Reads a named property. *value's vt on entry asks for a type (VT_EMPTY: any);
  /// the caller clears the variant afterwards (VariantClear).
  virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) = 0;
  virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;

 protected:
  ~IPropertyBag() = default;
};

struct IPersistStream : IPersist {
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;

 protected:
  ~IPersistStream() = default;
};

/// A device moniker: BindToObject gives the device's filter, BindToStorage its property
/// bag ("FriendlyName", "DevicePath"). The other methods may answer E_NOTIMPL.
struct IMoniker : IPersistStream {
  virtual HRESULT BindToObject(IBindCtx* ctx, IMoniker* left, REFIID riid, void** ppv) = 0;
  virtual HRESULT BindToStorage(IBindCtx* ctx, IMoniker* left, REFIID riid, void** ppv) = 0;
  virtual HRESULT Reduce(IBindCtx* ctx, DWORD howFar, IMoniker** toLeft, IMoniker** reduced) = 0;
  virtual HRESULT ComposeWith(IMoniker* right, BOOL onlyIfNotGeneric, IMoniker** composite) = 0;
  virtual HRESULT Enum(BOOL forward, IEnumMoniker** ppEnum) = 0;
  virtual HRESULT IsEqual(IMoniker* other) = 0;
  virtual HRESULT Hash(DWORD* hash) = 0;
  virtual HRESULT IsRunning(IBindCtx* ctx, IMoniker* left, IMoniker* newlyRunning) = 0;
  virtual HRESULT GetTimeOfLastChange(IBindCtx* ctx, IMoniker* left, FILETIME* time) = 0;
  virtual HRESULT Inverse(IMoniker** inverse) = 0;
  virtual HRESULT CommonPrefixWith(IMoniker* other, IMoniker** prefix) = 0;
  virtual HRESULT RelativePathTo(IMoniker* other, IMoniker** relativePath) = 0;
  virtual HRESULT GetDisplayName(IBindCtx* ctx, IMoniker* left, LPOLESTR* displayName) = 0;
  virtual HRESULT ParseDisplayName(IBindCtx* ctx, IMoniker* left, LPOLESTR displayName, ULONG* eaten,
                                   IMoniker** out) = 0;
  virtual HRESULT IsSystemMoniker(DWORD* mksys) = 0;

 protected:
  ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
  virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMoniker** ppEnum) = 0;

 protected:
  ~IEnumMoniker() = default;
};

struct ICreateDevEnum : IUnknown {
  /// S_OK with an enumerator; S_FALSE and *ppEnum = null when the category is empty or
  /// unknown.
  virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** ppEnum, DWORD flags) = 0;

 protected:
  ~ICreateDevEnum() = default;
};

struct IAMAnalogVideoDecoder : IUnknown {
  virtual HRESULT get_AvailableTVFormats(LONG* standards) = 0;
  virtual HRESULT put_TVFormat(LONG standard) = 0;
  virtual HRESULT get_TVFormat(LONG* standard) = 0;
  virtual HRESULT get_HorizontalLocked(LONG* locked) = 0;
  virtual HRESULT put_VCRHorizontalLocking(LONG locking) = 0;
  virtual HRESULT get_VCRHorizontalLocking(LONG* locking) = 0;
  virtual HRESULT get_NumberOfLines(LONG* lines) = 0;
  virtual HRESULT put_OutputEnable(LONG enable) = 0;
  virtual HRESULT get_OutputEnable(LONG* enable) = 0;

 protected:
  ~IAMAnalogVideoDecoder() = default;
};

struct IAMStreamConfig : IUnknown {
  virtual HRESULT SetFormat(AM_MEDIA_TYPE* pmt) = 0;
  /// *pmt is task memory: free it with DeleteMediaType.
  virtual HRESULT GetFormat(AM_MEDIA_TYPE** pmt) = 0;
  virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
  virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) = 0;

 protected:
  ~IAMStreamConfig() = default;
};

struct ISpecifyPropertyPages : IUnknown {
  /// pages->pElems is task memory (CoTaskMemFree).
  virtual HRESULT GetPages(CAUUID* pages) = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};

struct IFileSinkFilter : IUnknown {
  virtual HRESULT SetFileName(LPCOLESTR file, const AM_MEDIA_TYPE* pmt) = 0;
  /// *file is task memory; pmt (may be null) is filled and its format freed by the caller.
  virtual HRESULT GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE* pmt) = 0;

 protected:
  ~IFileSinkFilter() = default;
};

/// A source that opens a file by name (the file reader, the file demultiplexer).
/// Load: S_OK; E_POINTER; VFW_E_NOT_FOUND (no such file); VFW_E_INVALID_FILE_FORMAT (the
/// file cannot be read as media); VFW_E_WRONG_STATE (already loaded). GetCurFile: *file
/// is task memory (CoTaskMemFree); pmt (may be null) receives the stream type and its
/// format is freed by the caller; E_FAIL before Load.
struct IFileSourceFilter : IUnknown {
  virtual HRESULT Load(LPCOLESTR file, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE* pmt) = 0;

 protected:
  ~IFileSourceFilter() = default;
};

struct IServiceProvider : IUnknown {
  virtual HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) = 0;

 protected:
  ~IServiceProvider() = default;
};

HALVARD_IID_OF(IReferenceClock);
HALVARD_IID_OF(IMediaFilter);
HALVARD_IID_OF(IBaseFilter);
HALVARD_IID_OF(IPin);
HALVARD_IID_OF(IEnumPins);
HALVARD_IID_OF(IEnumMediaTypes);
HALVARD_IID_OF(IEnumFilters);
HALVARD_IID_OF(IMediaSample);
HALVARD_IID_OF(IMemAllocator);
HALVARD_IID_OF(IMemInputPin);
HALVARD_IID_OF(IFilterGraph);
HALVARD_IID_OF(IGraphBuilder);
HALVARD_IID_OF(IFilterGraph2);
HALVARD_IID_OF(IMediaControl);
HALVARD_IID_OF(IMediaEvent);
HALVARD_IID_OF(IMediaEventEx);
HALVARD_IID_OF(IMediaEventSink);
HALVARD_IID_OF(IMediaSeeking);
HALVARD_IID_OF(IVideoWindow);
HALVARD_IID_OF(IBasicVideo);
HALVARD_IID_OF(IVideoFrameStep);
HALVARD_IID_OF(IAMFilterMiscFlags);
HALVARD_IID_OF(IKsPropertySet);
HALVARD_IID_OF(ICaptureGraphBuilder2);
HALVARD_IID_OF(IErrorLog);
HALVARD_IID_OF(IPropertyBag);
HALVARD_IID_OF(IPersistStream);
HALVARD_IID_OF(IMoniker);
HALVARD_IID_OF(IEnumMoniker);
HALVARD_IID_OF(ICreateDevEnum);
HALVARD_IID_OF(IAMAnalogVideoDecoder);
HALVARD_IID_OF(IAMStreamConfig);
HALVARD_IID_OF(ISpecifyPropertyPages);
HALVARD_IID_OF(IFileSinkFilter);
HALVARD_IID_OF(IFileSourceFilter);
HALVARD_IID_OF(IServiceProvider);
