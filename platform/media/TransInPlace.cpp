#include "platform/media/TransInPlace.h"

#include <cstring>

// ---- CTransInPlaceInputPin ------------------------------------------------------------------

CTransInPlaceInputPin::CTransInPlaceInputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr,
                                             LPCWSTR name)
    : CTransformInputPin(objectName, filter, phr, name), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) {
    return E_POINTER;
  }
  *ppEnum = nullptr;
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output == nullptr || !output->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  return output->GetConnected()->EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* pmt) {
  const HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
  if (hr != S_OK) {
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output != nullptr && output->IsConnected()) {
    return output->GetConnected()->QueryAccept(pmt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output != nullptr && output->IsConnected() && output->ConnectedIMemInputPin() != nullptr) {
    // Offer downstream's allocator, so that one buffer serves both pins.
    if (SUCCEEDED(output->ConnectedIMemInputPin()->GetAllocator(allocator))) {
      return S_OK;
    }
  }
  return CBaseInputPin::GetAllocator(allocator);
}

HRESULT CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  HRESULT hr = CBaseInputPin::NotifyAllocator(allocator, readOnly);
  if (FAILED(hr)) {
    return hr;
  }
  CTransInPlaceOutputPin* output = static_cast<CTransInPlaceOutputPin*>(m_pTIPFilter->m_pOutput);
  if (output == nullptr || !output->IsConnected()) {
    return S_OK;
  }
  IMemInputPin* downstream = output->ConnectedIMemInputPin();
  const bool mustCopy = readOnly && m_pTIPFilter->ModifiesData();
  if (!mustCopy && downstream->NotifyAllocator(allocator, readOnly) == S_OK) {
    output->UseAllocator(allocator);
    return S_OK;
  }
  // Separate buffers: the output keeps (or gets) an allocator of its own.
  if (output->Allocator() == nullptr || output->Allocator() == allocator) {
    hr = output->CBaseOutputPin::DecideAllocator(downstream, output->AllocatorSlot());
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

HRESULT CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  CTransformOutputPin* output = m_pTIPFilter->m_pOutput;
  if (output != nullptr && output->IsConnected() && output->ConnectedIMemInputPin() != nullptr) {
    return output->ConnectedIMemInputPin()->GetAllocatorRequirements(props);
  }
  return E_NOTIMPL;
}

// ---- CTransInPlaceOutputPin -------------------------------------------------------------------

CTransInPlaceOutputPin::CTransInPlaceOutputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr,
                                               LPCWSTR name)
    : CTransformOutputPin(objectName, filter, phr, name), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) {
    return E_POINTER;
  }
  *ppEnum = nullptr;
  CTransformInputPin* input = m_pTIPFilter->m_pInput;
  if (input == nullptr || !input->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  return input->GetConnected()->EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* pmt) {
  CTransformInputPin* input = m_pTIPFilter->m_pInput;
  if (input == nullptr || !input->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  const HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
  if (hr != S_OK) {
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (*pmt != input->CurrentMediaType() && input->GetConnected()->QueryAccept(pmt) != S_OK) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) {
  if (pin == nullptr || alloc == nullptr) {
    return E_POINTER;
  }
  CTransformInputPin* input = m_pTIPFilter->m_pInput;
  IMemAllocator* shared = input != nullptr ? input->PeekAllocator() : nullptr;
  if (shared != nullptr && !(input->IsReadOnly() && m_pTIPFilter->ModifiesData())) {
    if (pin->NotifyAllocator(shared, input->IsReadOnly() ? TRUE : FALSE) == S_OK) {
      if (*alloc != nullptr) {
        (*alloc)->Release();
      }
      *alloc = shared;
      shared->AddRef();
      return S_OK;
    }
  }
  return CBaseOutputPin::DecideAllocator(pin, alloc);
}

void CTransInPlaceOutputPin::UseAllocator(IMemAllocator* allocator) {
  allocator->AddRef();
  if (m_pAllocator != nullptr) {
    m_pAllocator->Release();
  }
  m_pAllocator = allocator;
}

// ---- CTransInPlaceFilter --------------------------------------------------------------------

CTransInPlaceFilter::CTransInPlaceFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* /*phr*/,
                                         bool modifiesData)
    : CTransformFilter(name, outer, clsid), m_bModifiesData(modifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
  if (m_pInput == nullptr) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CTransInPlaceInputPin(L"TransInPlace input pin", this, &hr, L"Input");
    if (m_pInput == nullptr) {
      return nullptr;
    }
    m_pOutput = new (std::nothrow) CTransInPlaceOutputPin(L"TransInPlace output pin", this, &hr, L"Output");
    if (m_pOutput == nullptr) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) {
    return m_pInput;
  }
  if (n == 1) {
    return m_pOutput;
  }
  return nullptr;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
  if (m_pInput == nullptr || !m_pInput->IsConnected()) {
    return E_UNEXPECTED;
  }
  ALLOCATOR_PROPERTIES wanted = *request;
  if (IMemAllocator* inputAllocator = m_pInput->PeekAllocator()) {
    ALLOCATOR_PROPERTIES inputProps{};
    if (SUCCEEDED(inputAllocator->GetProperties(&inputProps))) {
      wanted.cBuffers = std::max(wanted.cBuffers, inputProps.cBuffers);
      wanted.cbBuffer = std::max(wanted.cbBuffer, inputProps.cbBuffer);
    }
  }
  const CMediaType& mt = m_pInput->CurrentMediaType();
  LONG size = static_cast<LONG>(mt.GetSampleSize());
  if (size == 0) {
    if (const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt)) {
      size = static_cast<LONG>(bmi->biSizeImage != 0 ? bmi->biSizeImage : DIBSIZE(*bmi));
    }
  }
  wanted.cbBuffer = std::max(wanted.cbBuffer, size);
  wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 1);
  wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
  if (wanted.cbBuffer <= 0) {
    return E_FAIL;
  }
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = alloc->SetProperties(&wanted, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  return actual.cbBuffer < wanted.cbBuffer || actual.cBuffers < 1 ? E_FAIL : S_OK;
}

HRESULT CTransInPlaceFilter::CompleteConnect(PIN_DIRECTION dir, IPin* /*receivePin*/) {
  if (dir == PINDIR_OUTPUT && m_pInput != nullptr && m_pInput->IsConnected() &&
      m_pInput->CurrentMediaType() != m_pOutput->CurrentMediaType()) {
    return ReconnectPin(m_pInput, &m_pOutput->CurrentMediaType());
  }
  return S_OK;
}

bool CTransInPlaceFilter::UsingDifferentAllocators() const {
  return m_pInput != nullptr && m_pOutput != nullptr && m_pInput->PeekAllocator() != m_pOutput->Allocator();
}

IMediaSample* CTransInPlaceFilter::Copy(IMediaSample* source) {
  IMediaSample* out = nullptr;
  if (FAILED(InitializeOutputSample(source, &out))) {
    return nullptr;
  }
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  (void)source->GetPointer(&from);
  (void)out->GetPointer(&to);
  const LONG length = source->GetActualDataLength();
  if (length > out->GetSize()) {
    out->Release();
    return nullptr;
  }
  std::memcpy(to, from, static_cast<std::size_t>(length));
  (void)out->SetActualDataLength(length);
  AM_MEDIA_TYPE* changed = nullptr;
  if (source->GetMediaType(&changed) == S_OK && changed != nullptr) {
    (void)out->SetMediaType(changed);
    DeleteMediaType(changed);
  }
  return out;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample) {
  if (UsingDifferentAllocators()) {
    IMediaSample* copy = Copy(sample);
    if (copy == nullptr) {
      // No buffer (stopping) or a sample larger than ours: drop it, keep streaming.
      return S_FALSE;
    }
    HRESULT hr = Transform(copy);
    if (hr == S_OK) {
      hr = m_pOutput->Deliver(copy);
    } else if (hr == S_FALSE) {
      hr = S_OK;
    }
    copy->Release();
    return hr;
  }
  HRESULT hr = Transform(sample);
  if (hr == S_OK) {
    return m_pOutput->Deliver(sample);
  }
  return hr == S_FALSE ? S_OK : hr;
}
