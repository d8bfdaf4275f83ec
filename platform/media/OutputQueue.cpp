#include "platform/media/OutputQueue.h"

#include <utility>

COutputQueue::COutputQueue(IPin* inputPin, HRESULT* phr, BOOL bAuto, BOOL bQueue, LONG lBatchSize, BOOL bBatchExact,
                           LONG /*lListSize*/, DWORD /*dwPriority*/, bool /*bFlushingOpt*/)
    : m_pPin(inputPin),
      m_pInputPin(nullptr),
      m_bQueue(bQueue != FALSE),
      m_lBatchSize(lBatchSize < 1 ? 1 : lBatchSize),
      m_bBatchExact(bBatchExact != FALSE) {
  HRESULT hr = S_OK;
  if (inputPin == nullptr) {
    hr = E_POINTER;
  } else {
    m_pPin->AddRef();
    hr = inputPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (SUCCEEDED(hr) && bAuto) {
      m_bQueue = m_pInputPin->ReceiveCanBlock() == S_OK;
    }
    if (SUCCEEDED(hr) && m_bQueue) {
      try {
        m_thread = std::thread([this] { ThreadProc(); });
      } catch (...) {
        hr = E_OUTOFMEMORY;
        m_bQueue = false;
      }
    }
  }
  if (phr != nullptr) {
    *phr = hr;
  }
}

COutputQueue::~COutputQueue() {
  {
    std::lock_guard lock(m_lock);
    m_terminate = true;
    DiscardLocked();
  }
  m_wake.notify_all();
  if (m_thread.joinable()) {
    m_thread.join();
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
  }
  if (m_pPin != nullptr) {
    m_pPin->Release();
  }
}

void COutputQueue::DiscardLocked() {
  for (Entry& entry : m_list) {
    if (entry.kind == Entry::Sample) {
      entry.sample->Release();
    }
  }
  m_list.clear();
  for (IMediaSample* sample : m_batch) {
    sample->Release();
  }
  m_batch.clear();
}

std::vector<IMediaSample*> COutputQueue::TakeBatch() {
  std::lock_guard lock(m_lock);
  return std::exchange(m_batch, {});
}

HRESULT COutputQueue::DeliverBatch(std::vector<IMediaSample*>& batch) {
  HRESULT hr = S_OK;
  if (!batch.empty()) {
    LONG processed = 0;
    hr = batch.size() == 1 ? m_pInputPin->Receive(batch[0])
                           : m_pInputPin->ReceiveMultiple(batch.data(), static_cast<LONG>(batch.size()), &processed);
    for (IMediaSample* sample : batch) {
      sample->Release();
    }
    batch.clear();
  }
  return hr;
}

void COutputQueue::ThreadProc() {
  std::vector<IMediaSample*> batch;
  for (;;) {
    Entry entry{};
    {
      std::unique_lock lock(m_lock);
      m_busy = false;
      m_idle.notify_all();
      m_wake.wait(lock, [this] { return m_terminate || !m_list.empty(); });
      if (m_terminate) {
        break;
      }
      entry = m_list.front();
      m_list.pop_front();
      m_busy = true;
    }
    HRESULT hr = S_OK;
    switch (entry.kind) {
      case Entry::Sample:
        batch.push_back(entry.sample);
        if (static_cast<LONG>(batch.size()) >= m_lBatchSize || !m_bBatchExact) {
          bool more = false;
          {
            std::lock_guard lock(m_lock);
            more = !m_list.empty() && m_list.front().kind == Entry::Sample &&
                   static_cast<LONG>(batch.size()) < m_lBatchSize;
          }
          if (!more) {
            hr = DeliverBatch(batch);
          }
        }
        break;
      case Entry::SendNow:
        hr = DeliverBatch(batch);
        break;
      case Entry::EndOfStream:
        hr = DeliverBatch(batch);
        (void)m_pPin->EndOfStream();
        break;
      case Entry::Segment:
        hr = DeliverBatch(batch);
        (void)m_pPin->NewSegment(entry.start, entry.stop, entry.rate);
        break;
    }
    if (hr != S_OK) {
      std::lock_guard lock(m_lock);
      if (m_hr == S_OK) {
        m_hr = hr;
      }
    }
  }
  for (IMediaSample* sample : batch) {
    sample->Release();
  }
}

HRESULT COutputQueue::Receive(IMediaSample* sample) {
  LONG processed = 0;
  return ReceiveMultiple(&sample, 1, &processed);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (samples == nullptr || processed == nullptr) {
    return E_POINTER;
  }
  *processed = 0;
  if (!m_bQueue) {
    std::vector<IMediaSample*> ready;
    {
      std::lock_guard lock(m_lock);
      if (m_flushing) {
        return S_FALSE;
      }
      if (m_hr != S_OK) {
        return m_hr;
      }
      for (LONG i = 0; i < count; ++i) {
        samples[i]->AddRef();
        m_batch.push_back(samples[i]);
        ++*processed;
      }
      if (static_cast<LONG>(m_batch.size()) >= m_lBatchSize || !m_bBatchExact) {
        ready.swap(m_batch);
      }
    }
    const HRESULT hr = DeliverBatch(ready);
    if (hr != S_OK) {
      std::lock_guard lock(m_lock);
      m_hr = hr;
    }
    return hr;
  }
  {
    std::lock_guard lock(m_lock);
    if (m_flushing) {
      return S_FALSE;
    }
    if (m_hr != S_OK) {
      return m_hr;
    }
    for (LONG i = 0; i < count; ++i) {
      samples[i]->AddRef();
      m_list.push_back(Entry{Entry::Sample, samples[i], 0, 0, 0.0});
      ++*processed;
    }
  }
  m_wake.notify_all();
  return S_OK;
}

void COutputQueue::EOS() {
  if (!m_bQueue) {
    auto batch = TakeBatch();
    (void)DeliverBatch(batch);
    (void)m_pPin->EndOfStream();
    return;
  }
  {
    std::lock_guard lock(m_lock);
    m_list.push_back(Entry{Entry::EndOfStream, nullptr, 0, 0, 0.0});
  }
  m_wake.notify_all();
}

void COutputQueue::SendAnyway() {
  if (!m_bQueue) {
    auto batch = TakeBatch();
    (void)DeliverBatch(batch);
    return;
  }
  {
    std::lock_guard lock(m_lock);
    m_list.push_back(Entry{Entry::SendNow, nullptr, 0, 0, 0.0});
  }
  m_wake.notify_all();
}

void COutputQueue::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!m_bQueue) {
    auto batch = TakeBatch();
    (void)DeliverBatch(batch);
    (void)m_pPin->NewSegment(start, stop, rate);
    return;
  }
  {
    std::lock_guard lock(m_lock);
    m_list.push_back(Entry{Entry::Segment, nullptr, start, stop, rate});
  }
  m_wake.notify_all();
}

void COutputQueue::BeginFlush() {
  {
    std::lock_guard lock(m_lock);
    m_flushing = true;
    DiscardLocked();
  }
  // Passed on at once: downstream must stop blocking in Receive so the worker can finish.
  (void)m_pPin->BeginFlush();
}

void COutputQueue::EndFlush() {
  if (m_bQueue) {
    // Wait for a delivery that was in progress when the flush began.
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] { return !m_busy || m_terminate; });
  }
  {
    std::lock_guard lock(m_lock);
    m_flushing = false;
    m_hr = S_OK;
  }
  (void)m_pPin->EndFlush();
}

void COutputQueue::Reset() {
  std::lock_guard lock(m_lock);
  DiscardLocked();
  m_hr = S_OK;
}

BOOL COutputQueue::IsIdle() {
  std::lock_guard lock(m_lock);
  return (m_list.empty() && !m_busy && m_batch.empty()) ? TRUE : FALSE;
}
