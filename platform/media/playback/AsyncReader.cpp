// The file reader of the Windows Media route: it checks that the file can be read and
// hands its name to the demultiplexer behind it, which opens the file itself.

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/media/Streams.h"
#include "platform/media/playback/Playback.h"
#include "platform/media/playback/PlaybackInternal.h"

namespace halvard::media::playback {
namespace {

class CAsyncReader;

// The pin carries no samples: the peer reads the file named by the filter.
class CReaderOutputPin final : public CBasePin {
 public:
  CReaderOutputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
      : CBasePin(L"Reader output", filter, lock, phr, L"Output", PINDIR_OUTPUT) {}
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return pmt != nullptr && pmt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > 0) {
      return VFW_S_NO_MORE_ITEMS;
    }
    *pmt = CMediaType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&GUID_NULL);
    return S_OK;
  }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }
};

class CAsyncReader final : public CBaseFilter, public IFileSourceFilter {
 public:
  CAsyncReader() : CBaseFilter(L"File Source (Async.)", nullptr, &m_lock, CLSID_AsyncReader) {
    HRESULT hr = S_OK;
    m_pin = std::make_unique<CReaderOutputPin>(this, &m_lock, &hr);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IFileSourceFilter) {
      return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  int GetPinCount() override { return m_loaded ? 1 : 0; }
  CBasePin* GetPin(int n) override { return m_loaded && n == 0 ? m_pin.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  HRESULT Load(LPCOLESTR file, const AM_MEDIA_TYPE* /*pmt*/) override {
    if (file == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    if (m_loaded) {
      return VFW_E_WRONG_STATE;
    }
    const std::string path = ToUtf8(file);
    const HRESULT hr = CheckReadable(path);
    if (FAILED(hr)) {
      return hr;
    }
    m_file = file;
    m_loaded = true;
    IncrementPinVersion();
    return S_OK;
  }

  HRESULT GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE* pmt) override {
    return CopyCurFile(m_lock, m_loaded ? m_file : std::wstring(), file, pmt);
  }

 private:
  CCritSec m_lock;
  std::unique_ptr<CReaderOutputPin> m_pin;
  std::wstring m_file;
  bool m_loaded = false;
};

}  // namespace

HRESULT CheckReadable(const std::string& path) {
  if (path.empty()) {
    return E_INVALIDARG;
  }
  // Read-only and without any lock, so a recording still being written is never held up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? VFW_E_NOT_FOUND : E_ACCESSDENIED;
  }
  ::close(fd);
  return S_OK;
}

HRESULT CopyCurFile(CCritSec& lock, const std::wstring& name, LPOLESTR* file, AM_MEDIA_TYPE* pmt) {
  if (file == nullptr) {
    return E_POINTER;
  }
  *file = nullptr;
  CAutoLock guard(&lock);
  if (name.empty()) {
    return E_FAIL;
  }
  const std::size_t bytes = (name.size() + 1) * sizeof(wchar_t);
  *file = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (*file == nullptr) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(*file, name.c_str(), bytes);
  if (pmt != nullptr) {
    std::memset(pmt, 0, sizeof *pmt);
    pmt->majortype = MEDIATYPE_Stream;
    pmt->subtype = GUID_NULL;
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
    pmt->formattype = FORMAT_None;
  }
  return S_OK;
}

HRESULT CreateAsyncReader(REFIID riid, void** ppv) { return CreateObject<CAsyncReader>(riid, ppv); }

}  // namespace halvard::media::playback
