#pragma once
/// CTransformFilter: one input pin "XForm In", one output pin "XForm Out", and a new
/// output buffer for every sample (the transform copies from input to output).
///
/// Required of a derived filter: CheckInputType, CheckTransform, DecideBufferSize,
/// GetMediaType, and Transform(in, out) unless Receive is overridden.
/// Optional (default in brackets): StartStreaming / StopStreaming [S_OK], SetMediaType
/// [S_OK], CheckConnect [S_OK], BreakConnect [S_OK], CompleteConnect [S_OK],
/// Receive [InitializeOutputSample, Transform, Deliver; S_FALSE from Transform drops
/// the sample], EndOfStream / BeginFlush / EndFlush / NewSegment [passed downstream],
/// AlterQuality [S_FALSE].
///
/// Locks: m_csFilter is the filter lock (state, connections); m_csReceive serialises the
/// streaming calls (Receive, EndOfStream, flushes) with Stop.
/// Seeking: the output pin answers IMediaSeeking through a CPosPassThru to the input's
/// upstream pin.

#include <memory>

#include "platform/media/BaseFilter.h"
#include "platform/media/PosPassThru.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR name);
  /// CheckInputType, and CheckTransform against the output type when the output is
  /// connected.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR name);
  ~CTransformOutputPin() override;

  DECLARE_IUNKNOWN
  /// Adds IMediaSeeking (pass-through upstream).
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  /// E_UNEXPECTED while the input is unconnected; else CheckTransform(input, pmt).
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  /// The filter's GetMediaType while the input is connected, else VFW_S_NO_MORE_ITEMS.
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  /// E_UNEXPECTED while the input is unconnected.
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;

 protected:
  CTransformFilter* m_pTransformFilter;
  std::unique_ptr<CPosPassThru> m_pPosition;  // created on first request
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  /// Creates the pins on first use (input 0, output 1).
  CBasePin* GetPin(int n) override;
  /// "In" and "Out" are accepted beside the pin names, as in the original.
  HRESULT FindPin(LPCWSTR id, IPin** ppPin) override;
  HRESULT Stop() override;
  HRESULT Pause() override;

  // ---- required ----
  /// Copies / converts in into out. S_FALSE: do not deliver this sample.
  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out);
  virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
  virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* pmt) = 0;

  // ---- optional ----
  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  virtual HRESULT AlterQuality() { return S_FALSE; }
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt);
  virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pin);
  virtual HRESULT BreakConnect(PIN_DIRECTION dir);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin);
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  /// An output buffer carrying the input sample's times and flags.
  HRESULT InitializeOutputSample(IMediaSample* sample, IMediaSample** outSample);

  [[nodiscard]] CTransformInputPin* InputPin() { return m_pInput; }
  [[nodiscard]] CTransformOutputPin* OutputPin() { return m_pOutput; }

 protected:
  friend class CTransformInputPin;
  friend class CTransformOutputPin;
  bool m_bEOSDelivered = false;
  bool m_bSampleSkipped = false;
  bool m_bQualityChanged = false;
  CCritSec m_csFilter;
  CCritSec m_csReceive;
  CTransformInputPin* m_pInput = nullptr;   // owned
  CTransformOutputPin* m_pOutput = nullptr; // owned
};
