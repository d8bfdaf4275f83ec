#include <mutex>

#include "platform/media/BuiltinClasses.h"
#include "platform/media/FilterGraph.h"
#include "platform/media/Streams.h"
#include "platform/media/playback/Playback.h"

namespace halvard::media::playback {
namespace {

HRESULT OpenFileSource(LPCWSTR file, IBaseFilter** filter) {
  if (file == nullptr || filter == nullptr) {
    return E_POINTER;
  }
  *filter = nullptr;
  ComPtr<IBaseFilter> demux;
  HRESULT hr = CreateFileDemux(IID_IBaseFilter, demux.PutVoid());
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IFileSourceFilter> source;
  hr = demux->QueryInterface(IID_IFileSourceFilter, source.PutVoid());
  if (FAILED(hr)) {
    return hr;
  }
  hr = source->Load(file, nullptr);
  if (FAILED(hr)) {
    return hr;
  }
  *filter = demux.Detach();
  return S_OK;
}

[[maybe_unused]] const bool g_registered = [] {
  RegisterPlaybackClasses();
  return true;
}();

}  // namespace

void RegisterPlaybackClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    using halvard::com::CoRegisterBuiltinClass;
    CoRegisterBuiltinClass(CLSID_AsyncReader, &CreateAsyncReader);
    CoRegisterBuiltinClass(CLSID_WmfDemux, &CreateWmfDemux);
    CoRegisterBuiltinClass(CLSID_HalvardFileDemux, &CreateFileDemux);
    CoRegisterBuiltinClass(CLSID_HalvardDecoder, &CreateDecoder);
    AddKnownFilterClass(CLSID_AsyncReader, "Async Reader");
    AddKnownFilterClass(CLSID_WmfDemux, "WMF Demux");
    AddKnownFilterClass(CLSID_HalvardFileDemux, "File Demux");
    AddKnownFilterClass(CLSID_HalvardDecoder, "Decoder");
    AddFileSourceFactory(&OpenFileSource);
    AddRenderDecoder(CLSID_HalvardDecoder, L"Decoder");
  });
}

}  // namespace halvard::media::playback
