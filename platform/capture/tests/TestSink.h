#pragma once
// A sink for the tests: takes uncompressed video, remembers the first byte of every frame
// and signals end of stream.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/media/Streams.h"

namespace halvard::capture::testing {

class CTestSink final : public CBaseFilter {
 public:
  class CPin final : public CBaseInputPin {
   public:
    CPin(CTestSink* owner, CCritSec* lock, HRESULT* phr)
        : CBaseInputPin(L"Test sink pin", owner, lock, phr, L"In"), m_owner(owner) {}
    HRESULT CheckMediaType(const CMediaType* pmt) override {
      return pmt != nullptr && *pmt->Type() == MEDIATYPE_Video && GetVideoInfoHeader(*pmt) != nullptr
                 ? S_OK
                 : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Receive(IMediaSample* sample) override {
      HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr != S_OK) {
        return hr;
      }
      BYTE* data = nullptr;
      hr = sample->GetPointer(&data);
      if (FAILED(hr)) {
        return hr;
      }
      std::lock_guard guard(m_owner->m_mutex);
      m_owner->m_channels.push_back(data[0]);
      m_owner->m_lengths.push_back(sample->GetActualDataLength());
      m_owner->m_changed.notify_all();
      return S_OK;
    }
    HRESULT EndOfStream() override {
      std::lock_guard guard(m_owner->m_mutex);
      m_owner->m_endOfStream = true;
      m_owner->m_changed.notify_all();
      return S_OK;
    }

   private:
    CTestSink* m_owner;
  };

  CTestSink() : CBaseFilter(L"Test sink", nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = std::make_unique<CPin>(this, &m_lock, &hr);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
  [[nodiscard]] IPin* InputPin() { return m_pin.get(); }

  /// Waits until n frames arrived or end of stream (up to timeoutMs); returns the count.
  std::size_t WaitFrames(std::size_t n, int timeoutMs = 10000) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return m_channels.size() >= n || m_endOfStream; });
    return m_channels.size();
  }
  bool WaitEndOfStream(int timeoutMs = 10000) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_endOfStream; });
  }
  std::vector<int> Channels() {
    std::lock_guard guard(m_mutex);
    return m_channels;
  }
  std::vector<LONG> Lengths() {
    std::lock_guard guard(m_mutex);
    return m_lengths;
  }
  void Clear() {
    std::lock_guard guard(m_mutex);
    m_channels.clear();
    m_lengths.clear();
    m_endOfStream = false;
  }

 private:
  CCritSec m_lock;
  std::unique_ptr<CPin> m_pin;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<int> m_channels;
  std::vector<LONG> m_lengths;
  bool m_endOfStream = false;
};

}  // namespace halvard::capture::testing
