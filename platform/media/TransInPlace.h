#pragma once
/// CTransInPlaceFilter: a transform that works on the sample it receives and passes the
/// same sample on (pins "Input" and "Output"). Both pins use one allocator whenever
/// possible; when upstream's samples are read-only and the filter modifies data, or
/// downstream refuses the shared allocator, the output gets its own allocator and each
/// sample is copied before the transform.
///
/// Required: CheckInputType, Transform(sample). Optional: as CTransformFilter.
/// The output type is always the input type: the output offers the types upstream
/// offers, and an output connected with another type reconnects the input with it.

#include "platform/media/Transform.h"

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
 public:
  CTransInPlaceInputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr, LPCWSTR name);
  /// Downstream's types when the output is connected, else VFW_E_NOT_CONNECTED.
  HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  /// CheckInputType, and downstream's QueryAccept when the output is connected.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  /// Downstream's allocator when the output is connected, else the base behaviour.
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
 public:
  CTransInPlaceOutputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr, LPCWSTR name);
  /// Upstream's types when the input is connected, else VFW_E_NOT_CONNECTED.
  HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  /// VFW_E_NOT_CONNECTED while the input is unconnected; the type must pass
  /// CheckInputType and, when it differs from the input type, upstream's QueryAccept.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  /// Offers the input's allocator first (read-only as upstream said).
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) override;

  /// Shares allocator (the input's) from now on.
  void UseAllocator(IMemAllocator* allocator);
  [[nodiscard]] IMemAllocator** AllocatorSlot() { return &m_pAllocator; }

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceFilter : public CTransformFilter {
 public:
  /// modifiesData: whether Transform writes into the sample (then read-only samples are
  /// copied first).
  CTransInPlaceFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* phr, bool modifiesData = true);

  CBasePin* GetPin(int n) override;

  /// R: works on the sample in place. S_FALSE: do not deliver it.
  virtual HRESULT Transform(IMediaSample* sample) = 0;
  /// Not used by in-place filters.
  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
  /// Not used: the output offers upstream's types.
  HRESULT GetMediaType(int, CMediaType*) override { return E_UNEXPECTED; }
  /// Buffers like the input's allocator (at least one buffer of the input sample size).
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
  /// Reconnects the input when the output connected with a different type.
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;
  /// Copy when needed, Transform, Deliver.
  HRESULT Receive(IMediaSample* sample) override;

  [[nodiscard]] bool ModifiesData() const { return m_bModifiesData; }
  /// True when the two pins ended up with different allocators (samples are copied).
  [[nodiscard]] bool UsingDifferentAllocators() const;

 protected:
  /// An output buffer with a copy of source's data and properties, or null.
  IMediaSample* Copy(IMediaSample* source);

  friend class CTransInPlaceInputPin;
  friend class CTransInPlaceOutputPin;
  bool m_bModifiesData;
};
