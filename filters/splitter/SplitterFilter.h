#pragma once
/// CSplitterFilter: hands each frame of a multiplexed capture stream to the output pin of
/// its camera (the channel number in the frame's first byte), after enhancing the
/// picture and stamping the local date and time into it. Samples are not copied: the
/// input's allocator is shared read-only with every output.
///
/// Locks: one filter lock (m_lock) serialises configuration, connections, state changes
/// and the whole processing of a frame in Receive (streaming thread). Flushes arrive on
/// the application thread and do not take it (the pin list only changes while stopped).
/// Pins: the input "Input" and the outputs "Output1", "Output2", ...: one unconnected
/// output is always offered, up to 1000 outputs. Output pins live as long as the filter:
/// a frame's channel n is the n-th output pin, so no pin may disappear from the list.

#include <memory>
#include <vector>

#include "filters/VideoFormat.h"
#include "filters/splitter/DetailEnhancement.h"
#include "filters/splitter/OverlayRenderer.h"
#include "filters/splitter/SplitterConfig.h"
#include "platform/media/BaseFilter.h"
#include "platform/media/OutputQueue.h"
#include "platform/media/PosPassThru.h"

class CSplitterFilter;

class CSplitterInputPin final : public CBaseInputPin {
 public:
  CSplitterInputPin(CSplitterFilter* filter, CCritSec* lock, HRESULT* phr);

  /// The colour format's subtype and bit count, and every connected output's downstream
  /// accepting the type; else VFW_E_TYPE_NOT_ACCEPTED. S_OK at once when re-entered.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  /// Reconnects connected outputs whose type differs from the new input type.
  HRESULT CompleteConnect(IPin* receivePin) override;
  /// Keeps the type and its picture layout; the next frame prepares for it.
  HRESULT SetMediaType(const CMediaType* pmt) override;
  /// Releases the allocator and the enhancement buffers and forgets the layout and the
  /// faults reported; the next frame prepares again.
  HRESULT BreakConnect() override;
  /// Enhances, stamps and hands the frame to its camera's output. A frame left
  /// unprocessed or dropped (too small for its picture, a size the enhancement does not
  /// handle, a channel without an output) posts kEventFrameFault, once per kind and
  /// connection. Always S_OK unless the base pin refuses the sample.
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  void Prepare();
  void Report(FrameFault fault);

  CSplitterFilter* m_splitter;
  bool m_checking = false;
  bool m_prepared = false;
  halvard::filters::VideoFormat m_format;  // the connected type's, set in SetMediaType
  halvard::filters::CFrameFaultLog m_faults;
  halvard::splitter::COverlayRenderer m_overlay;
  halvard::splitter::CEnhancementBuffers m_buffers;
};

class CSplitterOutputPin final : public CBaseOutputPin {
 public:
  CSplitterOutputPin(CSplitterFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, int number);
  ~CSplitterOutputPin() override;

  /// IMediaSeeking for the first output pin that asks; E_NOINTERFACE for the others.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  /// VFW_E_NOT_CONNECTED while the input is unconnected; else the type must be accepted
  /// by the input's upstream pin, the input check and every other connected output.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  /// The types of the input's upstream pin (VFW_E_NOT_CONNECTED while unconnected).
  HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  /// Shares the input's allocator; reconnects upstream for another type; grows the pins.
  HRESULT CompleteConnect(IPin* receivePin) override;
  /// Hands the input's allocator downstream, read-only.
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
  /// Releases (without decommitting) the shared allocator.
  HRESULT BreakConnect() override;
  /// Creates the output queue (E_OUTOFMEMORY or the queue's error).
  HRESULT Active() override;
  /// Destroys the output queue.
  HRESULT Inactive() override;

  /// Through the queue; without one (not connected or not active) the sample is dropped.
  HRESULT Deliver(IMediaSample* sample) override;
  HRESULT DeliverEndOfStream() override;
  HRESULT DeliverBeginFlush() override;
  HRESULT DeliverEndFlush() override;
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  [[nodiscard]] int Number() const { return m_number; }

 private:
  CSplitterFilter* m_splitter;
  int m_number;
  std::unique_ptr<COutputQueue> m_queue;
  std::unique_ptr<CPosPassThru> m_position;  // only on the pin that owns the pass-through
};

class CSplitterFilter final : public CBaseFilter, public ISplitterConfig {
 public:
  static constexpr int kMaxOutputPins = 1000;

  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CSplitterFilter(LPUNKNOWN outer, HRESULT* phr);
  ~CSplitterFilter() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISplitterConfig
  HRESULT GetConfig(SplitterConfig* config) override;
  HRESULT SetConfig(const SplitterConfig* config) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  [[nodiscard]] CSplitterInputPin* InputPin() const { return m_input; }
  [[nodiscard]] int OutputCount() const { return static_cast<int>(m_outputs.size()); }
  /// The output at a list position (0 = Output1), or null.
  [[nodiscard]] CSplitterOutputPin* OutputAt(int index) const;
  [[nodiscard]] SplitterConfig Config() const { return m_config; }
  /// Whether the type is the colour format's (YUY2 / 16 bits or RGB24 / 24 bits).
  [[nodiscard]] bool MatchesColourFormat(const CMediaType& mt) const;

 private:
  friend class CSplitterOutputPin;
  void AddOutputPin();
  void OnOutputConnected();
  bool TakeSeeking();

  CCritSec m_lock;
  SplitterConfig m_config{4, 0, 0};
  CSplitterInputPin* m_input = nullptr;
  std::vector<CSplitterOutputPin*> m_outputs;
  int m_nextPinNumber = 0;
  bool m_seekingFree = true;
};
