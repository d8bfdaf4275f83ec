#include "platform/wmf/AsfWriter.h"

namespace halvard::wmf {

CAsfWriterCore::CAsfWriterCore(IUnknown* outer) : m_outer(outer) {}

CAsfWriterCore::~CAsfWriterCore() = default;

HRESULT CAsfWriterCore::QueryOwnInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  if (riid == IID_IConfigAsfWriter) {
    *ppv = static_cast<IConfigAsfWriter*>(this);
  } else if (riid == IID_IConfigInterleaving) {
    *ppv = static_cast<IConfigInterleaving*>(this);
  } else if (riid == IID_IWMWriterAdvanced) {
    *ppv = static_cast<IWMWriterAdvanced*>(this);
  } else if (riid == IID_IUnknown && m_outer == nullptr) {
    *ppv = static_cast<IConfigAsfWriter*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT CAsfWriterCore::QueryInterface(REFIID riid, void** ppv) {
  return m_outer != nullptr ? m_outer->QueryInterface(riid, ppv) : QueryOwnInterface(riid, ppv);
}

ULONG CAsfWriterCore::AddRef() {
  if (m_outer != nullptr) {
    return m_outer->AddRef();
  }
  return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CAsfWriterCore::Release() {
  if (m_outer != nullptr) {
    return m_outer->Release();
  }
  const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    delete this;
  }
  return left;
}

HRESULT CAsfWriterCore::ConfigureFilterUsingProfile(IWMProfile* profile) {
  if (profile == nullptr) {
    return E_POINTER;
  }
  AsfSettings settings;
  HRESULT hr = m_guard ? m_guard() : S_OK;
  if (FAILED(hr)) {
    return hr;
  }
  hr = ReadAsfSettings(profile, &settings);
  if (FAILED(hr)) {
    return hr;
  }
  {
    const std::scoped_lock lock(m_mutex);
    hr = m_engine.Configure(settings);
    if (FAILED(hr)) {
      return hr;
    }
    m_profile = ComPtr<IWMProfile>(profile);
  }
  if (m_onConfigured) {
    m_onConfigured();
  }
  return S_OK;
}

HRESULT CAsfWriterCore::GetCurrentProfile(IWMProfile** profile) {
  if (profile == nullptr) {
    return E_POINTER;
  }
  const std::scoped_lock lock(m_mutex);
  *profile = m_profile.Get();
  if (*profile == nullptr) {
    return NS_E_NOT_CONFIGURED;
  }
  (*profile)->AddRef();
  return S_OK;
}

HRESULT CAsfWriterCore::put_Mode(InterleavingMode mode) {
  if (mode > INTERLEAVE_NONE_BUFFERED) {
    return E_INVALIDARG;
  }
  const std::scoped_lock lock(m_mutex);
  m_mode = mode;
  return S_OK;
}

HRESULT CAsfWriterCore::get_Mode(InterleavingMode* mode) {
  if (mode == nullptr) {
    return E_POINTER;
  }
  const std::scoped_lock lock(m_mutex);
  *mode = m_mode;
  return S_OK;
}

HRESULT CAsfWriterCore::GetSinkCount(DWORD* count) {
  if (count == nullptr) {
    return E_POINTER;
  }
  *count = static_cast<DWORD>(m_engine.Sinks().size());
  return S_OK;
}

HRESULT CAsfWriterCore::GetSink(DWORD index, IWMWriterSink** sink) {
  if (sink == nullptr) {
    return E_POINTER;
  }
  *sink = nullptr;
  auto sinks = m_engine.Sinks();
  if (index >= sinks.size()) {
    return E_INVALIDARG;
  }
  *sink = sinks[index].Detach();
  return S_OK;
}

HRESULT CAsfWriterCore::AddSink(IWMWriterSink* sink) { return m_engine.AddSink(sink); }

HRESULT CAsfWriterCore::RemoveSink(IWMWriterSink* sink) { return m_engine.RemoveSink(sink); }

HRESULT CAsfWriterCore::IsRealTime(BOOL* realTime) {
  if (realTime == nullptr) {
    return E_POINTER;
  }
  *realTime = TRUE;
  return S_OK;
}

}  // namespace halvard::wmf
