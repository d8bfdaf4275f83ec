// The filter conformance suite: every filter class that exists goes through the same
// checks — interfaces, pins, media types accepted and refused, state changes unconnected
// and connected, flush and end of stream, and references back to zero at teardown.
//
// The classes come from two places, so new filters are picked up without touching this
// file: the table of known filter classes (built-in classes of every platform library
// linked into this test register themselves there), and every component library in the
// build's lib folder that exports the four Dll* entry points (registered into the test's
// private settings store, then every class it registers as a filter).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/com/ComRegistration.h"
#include "platform/media/TestSource.h"
#include "platform/media/tests/TestFilters.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace halvard::media;
using namespace halvard::media::testing;
using halvard::com::CreateInstance;

HALVARD_DEFINE_GUID(kUnknownIid, 0x12345678, 0x1234, 0x1234, 0x12, 0x34, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC);

ComPtr<IUnknown> Identity(IUnknown* object) {
  ComPtr<IUnknown> identity;
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  return identity;
}

ComPtr<IMediaSample> AnySample(ComPtr<IMemAllocator>* keep) {
  EXPECT_EQ(CMemAllocator::Create(keep->ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES request{1, 320 * 240 * 4, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  EXPECT_EQ((*keep)->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ((*keep)->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  EXPECT_EQ((*keep)->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  return ComPtr<IMediaSample>::Attach(sample);
}

void CheckInterfacesAndPins(IBaseFilter* filter, REFCLSID clsid) {
  CLSID reported = GUID_NULL;
  EXPECT_EQ(filter->GetClassID(&reported), S_OK);
  EXPECT_EQ(reported, clsid);
  void* nothing = reinterpret_cast<void*>(1);
  EXPECT_EQ(filter->QueryInterface(kUnknownIid, &nothing), E_NOINTERFACE);
  EXPECT_EQ(nothing, nullptr);
  ComPtr<IMediaFilter> mediaFilter;
  ASSERT_EQ(filter->QueryInterface(IID_IMediaFilter, mediaFilter.PutVoid()), S_OK);
  ComPtr<IPersist> persist;
  ASSERT_EQ(filter->QueryInterface(IID_IPersist, persist.PutVoid()), S_OK);
  EXPECT_EQ(Identity(filter).Get(), Identity(mediaFilter.Get()).Get());
  EXPECT_EQ(Identity(filter).Get(), Identity(persist.Get()).Get());

  const auto pins = Pins(filter);
  EXPECT_FALSE(pins.empty()) << "a filter without pins";
  ComPtr<IEnumPins> enumPins;
  ASSERT_EQ(filter->EnumPins(enumPins.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(enumPins->Skip(static_cast<ULONG>(pins.size()) + 1), S_FALSE);
  ComPtr<IEnumPins> clone;
  EXPECT_EQ(enumPins->Clone(clone.ReleaseAndGetAddressOf()), S_OK);

  for (const auto& pin : pins) {
    PIN_INFO info{};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(Identity(info.pFilter).Get(), Identity(filter).Get());
    info.pFilter->Release();
    SCOPED_TRACE(ToUtf8(info.achName));
    EXPECT_NE(info.achName[0], 0) << "pins have names";
    PIN_DIRECTION dir;
    ASSERT_EQ(pin->QueryDirection(&dir), S_OK);
    EXPECT_EQ(dir, info.dir);

    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    ComPtr<IPin> found;
    EXPECT_EQ(filter->FindPin(id, found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Identity(found.Get()).Get(), Identity(pin.Get()).Get());
    CoTaskMemFree(id);
    EXPECT_EQ(filter->FindPin(L"no such pin", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);

    ComPtr<IPin> peer;
    EXPECT_EQ(pin->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer.Get(), nullptr);
    CMediaType mt;
    EXPECT_EQ(pin->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(pin->Disconnect(), S_FALSE);
    CMediaType empty;  // no major type at all
    EXPECT_EQ(pin->QueryAccept(&empty), S_FALSE) << "an empty type is refused";
    CMediaType unknown(&kUnknownIid);
    const HRESULT acceptHr = pin->QueryAccept(&unknown);
    EXPECT_TRUE(acceptHr == S_OK || acceptHr == S_FALSE) << "QueryAccept answers S_OK or S_FALSE only";

    ComPtr<IEnumMediaTypes> types;
    const HRESULT enumHr = pin->EnumMediaTypes(types.ReleaseAndGetAddressOf());
    EXPECT_TRUE(enumHr == S_OK || enumHr == VFW_E_NOT_CONNECTED) << halvard::com::ResultName(enumHr);
    if (enumHr == S_OK) {
      AM_MEDIA_TYPE* offered = nullptr;
      ULONG fetched = 0;
      int count = 0;
      while (types->Next(1, &offered, &fetched) == S_OK && count < 100) {
        DeleteMediaType(offered);
        ++count;
      }
    }

    if (dir == PINDIR_INPUT) {
      ComPtr<IMemInputPin> input;
      ASSERT_EQ(pin->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
      ComPtr<IMemAllocator> allocator;
      auto sample = AnySample(&allocator);
      const HRESULT hr = input->Receive(sample.Get());
      EXPECT_TRUE(FAILED(hr) || hr == S_FALSE) << "an unconnected input refuses samples: "
                                               << halvard::com::ResultName(hr);
      sample = nullptr;
      (void)allocator->Decommit();
    } else {
      EXPECT_EQ(pin->EndOfStream(), E_UNEXPECTED) << "output pins do not take stream calls";
    }
  }
}

void CheckUnconnectedStates(IBaseFilter* filter) {
  FILTER_STATE state = State_Running;
  EXPECT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(filter->Pause(), S_OK);
  EXPECT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(filter->Run(0), S_OK);
  EXPECT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(filter->Stop(), S_OK);
  EXPECT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(filter->Run(0), S_OK) << "run straight from stopped";
  EXPECT_EQ(filter->Stop(), S_OK);
}

bool IsRenderer(IBaseFilter* filter) {
  ComPtr<IAMFilterMiscFlags> flags;
  return SUCCEEDED(filter->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid())) &&
         (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0;
}

/// Streams through the filter inside a graph: test source → filter → counting sinks.
void CheckConnected(ComPtr<IBaseFilter> filter) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CreateInstance(CLSID_FilterGraph, &graph), S_OK);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(graph.As(&events), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph->AddFilter(filter.Get(), L"Filter under test")));

  const auto inputs = Pins(filter.Get(), PINDIR_INPUT);
  const auto outputs = Pins(filter.Get(), PINDIR_OUTPUT);
  ComPtr<IBaseFilter> source;
  ComPtr<IHalvardTestSource> sourceControl;
  if (!inputs.empty()) {
    source = Create(CLSID_HalvardTestSource);
    ASSERT_TRUE(source);
    ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(source.As(&sourceControl), S_OK);
    (void)sourceControl->SetTimestamps(FALSE);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(FirstPin(source.Get(), PINDIR_OUTPUT).As(&config), S_OK);
    bool connected = false;
    for (const GUID* subtype : {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32}) {
      CMediaType format = MakeVideoType(*subtype, 320, 240);
      ASSERT_EQ(config->SetFormat(&format), S_OK);
      const HRESULT hr =
          graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(), inputs.front().Get(), nullptr);
      if (SUCCEEDED(hr)) {
        connected = true;
        break;
      }
      // A refusal leaves both sides unconnected.
      ComPtr<IPin> peer;
      EXPECT_EQ(inputs.front()->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
      EXPECT_TRUE(FAILED(hr));
    }
    if (!connected) {
      GTEST_LOG_(INFO) << "input takes none of the test formats: streaming checks skipped";
      return;
    }
  }
  std::vector<ComPtr<IBaseFilter>> sinks;
  for (const auto& out : Pins(filter.Get(), PINDIR_OUTPUT)) {
    auto sink = CCountingSink::Create();
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(sink.Get(), L"Sink")));
    if (SUCCEEDED(graph->ConnectDirect(out.Get(), FirstPin(sink.Get(), PINDIR_INPUT).Get(), nullptr))) {
      sinks.push_back(sink);
    } else {
      (void)graph->RemoveFilter(sink.Get());
    }
    if (sinks.size() >= 4) {
      break;  // enough for a filter whose output list grows with every connection
    }
  }
  if (sinks.empty() && !IsRenderer(filter.Get())) {
    GTEST_LOG_(INFO) << "no output connects and the filter is no renderer: streaming checks skipped";
    return;
  }

  // A bounded stream ends with EC_COMPLETE from every renderer.
  if (sourceControl) {
    ASSERT_EQ(sourceControl->SetFrameLimit(30), S_OK);
  }
  ASSERT_EQ(control->Pause(), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  if (sourceControl) {
    LONG code = 0;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    HRESULT hr = S_OK;
    do {
      hr = events->GetEvent(&code, &p1, &p2, 20000);
      (void)events->FreeEventParams(code, p1, p2);
    } while (hr == S_OK && code != EC_COMPLETE && code != EC_ERRORABORT);
    EXPECT_EQ(hr, S_OK) << "end of stream reached every renderer";
    EXPECT_EQ(code, EC_COMPLETE);
    LONG delivered = 0;
    for (const auto& sink : sinks) {
      delivered += CCountingSink::From(sink.Get())->m_samples.load();
      EXPECT_EQ(CCountingSink::From(sink.Get())->m_endOfStream.load(), 1);
    }
    EXPECT_TRUE(sinks.empty() || delivered > 0) << "samples came out";
  }
  ASSERT_EQ(control->Stop(), S_OK);

  // An open stream: pause, run, flush on the input as upstream would, stop.
  if (sourceControl) {
    ASSERT_EQ(sourceControl->SetFrameLimit(0), S_OK);
  }
  ASSERT_EQ(control->Run(), S_OK);
  if (!sinks.empty()) {
    EXPECT_TRUE(WaitFor([&] { return CCountingSink::From(sinks.front().Get())->m_samples.load() > 0; }, 20000) ||
                sinks.size() > 1);
  }
  ASSERT_EQ(control->Pause(), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  if (!inputs.empty()) {
    EXPECT_TRUE(SUCCEEDED(inputs.front()->BeginFlush()));
    EXPECT_TRUE(SUCCEEDED(inputs.front()->EndFlush()));
    for (const auto& sink : sinks) {
      EXPECT_GE(CCountingSink::From(sink.Get())->m_flushes.load(), 1) << "the flush went downstream";
    }
  }
  ASSERT_EQ(control->Stop(), S_OK);
  OAFilterState state = State_Running;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  // The filter can go while connected: removing it disconnects both sides.
  ASSERT_EQ(graph->RemoveFilter(filter.Get()), S_OK);
  for (const auto& sink : sinks) {
    ComPtr<IPin> peer;
    EXPECT_EQ(FirstPin(sink.Get(), PINDIR_INPUT)->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  }
}

void CheckClass(REFCLSID clsid, const std::string& name) {
  SCOPED_TRACE(name + " " + halvard::com::FormatGuid(clsid));
  const LONG objectsBefore = CBaseObject::ObjectsActive();
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CreateInstance(clsid, &filter), S_OK);
    CheckInterfacesAndPins(filter.Get(), clsid);
    CheckUnconnectedStates(filter.Get());
    // The last reference goes to zero.
    IBaseFilter* raw = filter.Detach();
    EXPECT_EQ(raw->Release(), 0u);
  }
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CreateInstance(clsid, &filter), S_OK);
    CheckConnected(filter);
    IBaseFilter* raw = filter.Detach();
    EXPECT_EQ(raw->Release(), 0u) << "the graph let go of the filter";
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), objectsBefore) << "every pin, allocator and sample is gone";
}

TEST(FilterConformance, EveryKnownFilterClass) {
  const auto classes = KnownFilterClasses();
  ASSERT_FALSE(classes.empty());
  for (const auto& known : classes) {
    CheckClass(known.clsid, known.name);
  }
}

TEST(FilterConformance, EveryFilterOfTheComponentLibrariesInTheBuild) {
  const auto libDir = halvard::testing::BuildDir() / "lib";
  std::vector<void*> handles;
  int registered = 0;
  for (const auto& entry : std::filesystem::directory_iterator(libDir)) {
    if (entry.path().extension() != ".so") {
      continue;
    }
    void* handle = dlopen(entry.path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      continue;
    }
    auto doRegister = reinterpret_cast<PfnDllRegisterServer>(dlsym(handle, "DllRegisterServer"));
    if (doRegister == nullptr || dlsym(handle, "DllGetClassObject") == nullptr ||
        dlsym(handle, "DllCanUnloadNow") == nullptr || dlsym(handle, "DllUnregisterServer") == nullptr) {
      dlclose(handle);
      continue;
    }
    if (SUCCEEDED(doRegister())) {
      ++registered;
    }
    handles.push_back(handle);
  }
  std::vector<halvard::com::RegisteredFilter> filters;
  ASSERT_EQ(halvard::com::EnumerateRegisteredFilters(halvard::com::kLegacyFilterCategory, &filters), S_OK);
  int tested = 0;
  for (const auto& filter : filters) {
    if (filter.libraryPath.rfind(libDir.string(), 0) != 0) {
      continue;
    }
    CheckClass(filter.clsid, filter.name);
    ++tested;
  }
  GTEST_LOG_(INFO) << registered << " component libraries registered, " << tested << " filter classes checked";
  CoFreeUnusedLibraries();
  for (void* handle : handles) {
    dlclose(handle);
  }
}

}  // namespace
