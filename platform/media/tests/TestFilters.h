#pragma once
// Filters and helpers shared by the media tests.

#include <atomic>
#include <functional>
#include <vector>

#include "platform/media/BuiltinClasses.h"
#include "platform/media/Streams.h"

namespace halvard::media::testing {

/// A sink that takes video of the listed subtypes (all when empty), counts what arrives
/// and reports end of stream as EC_COMPLETE.
class CCountingSink final : public CBaseFilter {
 public:
  class CInput final : public CBaseInputPin {
   public:
    CInput(CCountingSink* sink, HRESULT* phr) : CBaseInputPin(L"Sink input", sink, &sink->m_lock, phr, L"In"), m_sink(sink) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
      if (m_sink->m_subtypes.empty()) {
        return pmt->majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
      }
      for (const GUID& s : m_sink->m_subtypes) {
        if (pmt->majortype == MEDIATYPE_Video && pmt->subtype == s && GetBitmapInfoHeader(*pmt) != nullptr) {
          return S_OK;
        }
      }
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr != S_OK) {
        return hr;
      }
      if (m_sink->m_firstBytes.size() < 1000) {
        BYTE* data = nullptr;
        (void)sample->GetPointer(&data);
        std::lock_guard lock(m_sink->m_dataLock);
        m_sink->m_firstBytes.push_back(data[0]);
        m_sink->m_secondBytes.push_back(sample->GetActualDataLength() > 1 ? data[1] : 0);
      }
      ++m_sink->m_samples;
      return S_OK;
    }
    HRESULT EndOfStream() override {
      const HRESULT hr = CheckStreaming();
      if (hr != S_OK) {
        return hr;
      }
      ++m_sink->m_endOfStream;
      return m_sink->NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
    HRESULT BeginFlush() override {
      ++m_sink->m_flushes;
      return CBaseInputPin::BeginFlush();
    }

   private:
    CCountingSink* m_sink;
  };

  explicit CCountingSink(std::vector<GUID> subtypes = {})
      : CBaseFilter(L"Counting sink", nullptr, &m_lock, GUID_NULL), m_subtypes(std::move(subtypes)) {
    HRESULT hr = S_OK;
    m_input = std::make_unique<CInput>(this, &hr);
  }
  static ComPtr<IBaseFilter> Create(std::vector<GUID> subtypes = {}) {
    auto* sink = new CCountingSink(std::move(subtypes));
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(sink));
  }
  static CCountingSink* From(IBaseFilter* filter) { return static_cast<CCountingSink*>(filter); }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_input.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  std::atomic<LONG> m_samples{0};
  std::atomic<LONG> m_endOfStream{0};
  std::atomic<LONG> m_flushes{0};
  std::mutex m_dataLock;
  std::vector<BYTE> m_firstBytes;
  std::vector<BYTE> m_secondBytes;
  std::vector<BYTE> FirstBytes() {
    std::lock_guard lock(m_dataLock);
    return m_firstBytes;
  }
  std::vector<BYTE> SecondBytes() {
    std::lock_guard lock(m_dataLock);
    return m_secondBytes;
  }

 private:
  CCritSec m_lock;
  std::vector<GUID> m_subtypes;
  std::unique_ptr<CInput> m_input;
};

inline std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter, int direction = -1) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(e.ReleaseAndGetAddressOf()))) {
    return pins;
  }
  IPin* pin = nullptr;
  ULONG n = 0;
  while (e->Next(1, &pin, &n) == S_OK) {
    auto owned = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION dir;
    (void)owned->QueryDirection(&dir);
    if (direction < 0 || dir == direction) {
      pins.push_back(owned);
    }
  }
  return pins;
}

inline ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir) {
  auto pins = Pins(filter, dir);
  return pins.empty() ? nullptr : pins.front();
}

inline ComPtr<IBaseFilter> Create(REFCLSID clsid) {
  ComPtr<IBaseFilter> filter;
  (void)halvard::com::CreateInstance(clsid, &filter);
  return filter;
}

/// Polls until predicate() or timeoutMs passed.
inline bool WaitFor(const std::function<bool()>& predicate, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace halvard::media::testing
