// The checks every video filter of ours passes, one table row per filter: registration
// and creation by class identifier, the interfaces it exposes and those it must not,
// aggregation inside an outer object, state changes while unconnected, and every
// property of a sample carried from its input to its first output.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "filters/hdsimulation/HDSimulationFilter.h"
#include "filters/motion/MotionFilter.h"
#include "filters/splitter/SplitterFilter.h"
#include "filters/tests/FilterTestKit.h"
#include "platform/com/ComRegistration.h"
#include "platform/media/MediaType.h"
#include "tests/support/TestSupport.h"

namespace {

using halvard::com::PinDirection;
using halvard::testing::CTestSink;
using halvard::testing::CTestSource;
using halvard::testing::Hold;

struct RegisteredPin {
  std::string name;
  PinDirection direction;
};

struct FilterCase {
  const char* name;
  const CLSID* clsid;
  const char* library;
  const char* registeredName;
  std::vector<RegisteredPin> registeredPins;
  const GUID* registeredMajorType;  // of every registered pin; null: not checked
  const IID* ownInterface;
  CUnknown* (*create)(LPUNKNOWN outer, HRESULT* phr);
  std::vector<std::wstring> pinNames;  // of a new filter, in order
  /// Checks of the filter's own interface on a filter created by class identifier.
  std::function<void(IUnknown*)> checkOwnInterface;
  /// Configuration before the connection of the sample test (64 x 48 YUY2 in).
  std::function<void(IUnknown*)> prepare;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

const std::vector<FilterCase>& Cases() {
  static const std::vector<FilterCase> cases = {
      {"HDSimulation",
       &CLSID_ZelHDSimulation,
       "libZelHDSimulation.so",
       "ZelHDSimulation",
       {{"Input", PinDirection::Input}, {"Output", PinDirection::Output}},
       &MEDIATYPE_Video,
       &IID_IHDSimulation,
       CHDSimulationFilter::CreateInstance,
       {L"XForm In", L"XForm Out"},
       [](IUnknown* unknown) {
         ComPtr<IHDSimulation> hd;
         ASSERT_EQ(unknown->QueryInterface(IID_IHDSimulation, hd.PutVoid()), S_OK);
         EXPECT_EQ(hd->SetOutputSize(1280, 960), S_OK);
       },
       [](IUnknown* unknown) {
         ComPtr<IHDSimulation> hd;
         ASSERT_EQ(unknown->QueryInterface(IID_IHDSimulation, hd.PutVoid()), S_OK);
         ASSERT_EQ(hd->SetOutputSize(128, 96), S_OK);
       }},
      {"Motion",
       &CLSID_ZelMotion,
       "libZelMotion.so",
       "ZelMotion Filter",
       {{"Input", PinDirection::Input}, {"Output", PinDirection::Output}},
       &GUID_NULL,
       &IID_IMotionDetect,
       CMotionFilter::CreateInstance,
       {L"Input", L"Output"},
       [](IUnknown* unknown) {
         ComPtr<IMotionDetect> detect;
         ASSERT_EQ(unknown->QueryInterface(IID_IMotionDetect, detect.PutVoid()), S_OK);
         MotionParams p{};
         EXPECT_EQ(detect->GetParams(&p), S_OK);
         EXPECT_EQ(p.holdPeriodMs, 180000u);
       },
       [](IUnknown*) {}},
      {"Splitter",
       &CLSID_ZelSplitter,
       "libZelSplitter.so",
       "ZEL Splitter",
       {{"Input", PinDirection::Input},
        {"Output", PinDirection::Output},
        {"Output", PinDirection::Output},
        {"Output", PinDirection::Output},
        {"Output", PinDirection::Output}},
       nullptr,
       &IID_ISplitterConfig,
       CSplitterFilter::CreateInstance,
       {L"Input", L"Output1", L"Output2", L"Output3", L"Output4"},
       [](IUnknown* unknown) {
         ComPtr<ISplitterConfig> config;
         ASSERT_EQ(unknown->QueryInterface(IID_ISplitterConfig, config.PutVoid()), S_OK);
         SplitterConfig c{};
         EXPECT_EQ(config->GetConfig(&c), S_OK);
         EXPECT_EQ(c.channelCount, 4);
       },
       [](IUnknown*) {}},
  };
  return cases;
}

class FilterConformance : public ::testing::TestWithParam<FilterCase> {
 protected:
  /// A new filter from its class's creation function, first reference taken.
  CBaseFilter* NewFilter() {
    HRESULT hr = S_OK;
    CUnknown* object = GetParam().create(nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    return Hold(dynamic_cast<CBaseFilter*>(object));
  }
};

bool Exposes(IUnknown* unknown, REFIID iid) {
  void* p = nullptr;
  const HRESULT hr = unknown->QueryInterface(iid, &p);
  if (SUCCEEDED(hr)) {
    static_cast<IUnknown*>(p)->Release();
    return true;
  }
  EXPECT_EQ(p, nullptr) << "a refused interface clears its out-parameter";
  EXPECT_EQ(hr, E_NOINTERFACE);
  return false;
}

TEST_P(FilterConformance, RegistersAndIsCreatedByClassIdentifier) {
  const FilterCase& c = GetParam();
  halvard::testing::ScopedRegistry registry;
  const auto result = halvard::testing::RunCommand(
      halvard::testing::ShellQuote(halvard::testing::ProgramPath("halvard-regsvr")) + " " +
          halvard::testing::ShellQuote(halvard::testing::LibraryPath(c.library)),
      true);
  ASSERT_EQ(result.status, 0) << result.output;
  halvard::com::RegisteredFilter info;
  ASSERT_EQ(halvard::com::ReadFilterRegistration(*c.clsid, &info), S_OK);
  EXPECT_EQ(info.name, c.registeredName);
  EXPECT_EQ(info.merit, 0x200000u);
  ASSERT_EQ(info.pins.size(), c.registeredPins.size());
  for (std::size_t i = 0; i < info.pins.size(); ++i) {
    EXPECT_EQ(info.pins[i].name, c.registeredPins[i].name) << i;
    EXPECT_EQ(info.pins[i].direction, c.registeredPins[i].direction) << i;
    EXPECT_FALSE(info.pins[i].allowedMany) << i;
    EXPECT_FALSE(info.pins[i].allowedZero) << i;
    if (c.registeredMajorType != nullptr) {
      ASSERT_EQ(info.pins[i].mediaTypes.size(), 1u) << i;
      EXPECT_EQ(info.pins[i].mediaTypes[0].majorType, *c.registeredMajorType) << i;
      EXPECT_EQ(info.pins[i].mediaTypes[0].minorType, GUID_NULL) << i;
    }
  }

  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(halvard::com::CreateInstance(*c.clsid, &filter), S_OK);
  CLSID clsid{};
  EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, *c.clsid);
  c.checkOwnInterface(filter.Get());

  // Created inside an outer object, only IUnknown may be asked for; the inner object's
  // interfaces then answer for the outer one and count its references.
  halvard::testing::COuterUnknown outer;
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(*c.clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                           factory.PutVoid()),
            S_OK);
  IUnknown* inner = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IBaseFilter, reinterpret_cast<void**>(&inner)), E_NOINTERFACE);
  EXPECT_EQ(inner, nullptr);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  ASSERT_NE(inner, nullptr);
  EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
  EXPECT_EQ(outer.References(), 1);
  IBaseFilter* aggregated = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&aggregated)), S_OK);
  EXPECT_EQ(outer.References(), 2) << "the inner interface counts on the outer object";
  IUnknown* identity = nullptr;
  ASSERT_EQ(aggregated->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the identity is the outer object's";
  EXPECT_EQ(outer.References(), 3);
  void* unknownToOuter = nullptr;
  EXPECT_EQ(aggregated->QueryInterface(IID_IVideoWindow, &unknownToOuter), E_NOINTERFACE);
  EXPECT_EQ(outer.asked, 1) << "asked through the outer object";
  identity->Release();
  aggregated->Release();
  EXPECT_EQ(outer.References(), 1);
  EXPECT_EQ(inner->Release(), 0u);
}

TEST_P(FilterConformance, InterfacesItExposesAndThoseItMustNot) {
  CBaseFilter* filter = NewFilter();
  auto* unknown = static_cast<IBaseFilter*>(filter);
  for (const IID* iid : {&IID_IUnknown, &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, GetParam().ownInterface}) {
    EXPECT_TRUE(Exposes(unknown, *iid));
  }
  for (const IID* iid : {&IID_IPin, &IID_IMemInputPin, &IID_IMediaSeeking, &IID_IMediaPosition, &IID_IReferenceClock,
                         &IID_IBasicAudio, &IID_IBasicVideo, &IID_IVideoWindow, &IID_IAMFilterMiscFlags,
                         &IID_IKsPropertySet, &IID_IFileSinkFilter, &IID_IMediaEventSink, &IID_IPersistStream}) {
    EXPECT_FALSE(Exposes(unknown, *iid));
  }
  // Only its own interface of the three filters'.
  for (const IID* iid : {&IID_IHDSimulation, &IID_IMotionDetect, &IID_ISplitterConfig}) {
    EXPECT_EQ(Exposes(unknown, *iid), iid == GetParam().ownInterface);
  }
  // Pins: IPin, IMemInputPin on inputs only, never the filter's interfaces.
  for (int i = 0; i < filter->GetPinCount(); ++i) {
    CBasePin* pin = filter->GetPin(i);
    auto* pinUnknown = static_cast<IPin*>(pin);
    EXPECT_TRUE(Exposes(pinUnknown, IID_IPin)) << i;
    EXPECT_EQ(Exposes(pinUnknown, IID_IMemInputPin), pin->Direction() == PINDIR_INPUT) << i;
    EXPECT_FALSE(Exposes(pinUnknown, IID_IBaseFilter)) << i;
    EXPECT_FALSE(Exposes(pinUnknown, IID_IKsPropertySet)) << i;
    EXPECT_FALSE(Exposes(pinUnknown, *GetParam().ownInterface)) << i;
    if (pin->Direction() == PINDIR_INPUT) {
      EXPECT_FALSE(Exposes(pinUnknown, IID_IMediaSeeking)) << i;
    }
  }
  filter->NonDelegatingRelease();
}

TEST_P(FilterConformance, StateChangesWhileUnconnected) {
  const LONG before = CBaseObject::ObjectsActive();
  CBaseFilter* filter = NewFilter();
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
  // The pins, enumerated and released, stay as they were (the splitter's channel n is
  // always its n-th output).
  const auto& names = GetParam().pinNames;
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
  std::vector<IPin*> pin(names.size() + 3, nullptr);
  ULONG fetched = 0;
  EXPECT_EQ(pins->Next(static_cast<ULONG>(pin.size()), pin.data(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, names.size());
  for (ULONG i = 0; i < fetched; ++i) {
    PIN_INFO info{};
    ASSERT_EQ(pin[i]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), names[i]) << i;
    EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(filter));
    if (info.pFilter != nullptr) {
      info.pFilter->Release();
    }
    pin[i]->Release();
  }
  EXPECT_EQ(filter->GetPinCount(), static_cast<int>(names.size()));
  pins.Reset();
  filter->NonDelegatingRelease();
  EXPECT_EQ(CBaseObject::ObjectsActive(), before) << "every reference returned";
}

TEST_P(FilterConformance, EverySamplePropertyReachesTheFirstOutput) {
  const LONG before = CBaseObject::ObjectsActive();
  CBaseFilter* filter = NewFilter();
  GetParam().prepare(static_cast<IBaseFilter*>(filter));
  CTestSource* source = Hold(new CTestSource({halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 64, 48, 400000)}));
  CTestSink* sink = Hold(new CTestSink());
  ASSERT_EQ(source->Pin()->Connect(filter->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(static_cast<CBasePin*>(filter->GetPin(1))->Connect(sink->Pin(), nullptr), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(filter->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);

  std::vector<BYTE> frame(64u * 48u * 2u, 90);
  frame[0] = 0;  // camera 0 for the splitter
  std::vector<halvard::testing::SampleProperties> sent(3);
  sent[0] = {1000, 401000, 7, 8, true, true, false};
  sent[1] = {401000, 801000, -1, -1, false, false, true};
  sent[2] = {801000, 1201000, 9, 10, false, true, true};
  for (const auto& properties : sent) {
    ASSERT_EQ(source->Push(frame, properties), S_OK);
  }
  {
    std::lock_guard lock(sink->mutex);
    ASSERT_EQ(sink->received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      const auto& r = sink->received[i];
      EXPECT_EQ(r.timeResult, S_OK) << i;
      EXPECT_EQ(r.start, sent[i].start) << i;
      EXPECT_EQ(r.stop, sent[i].stop) << i;
      EXPECT_EQ(r.mediaTimeResult == S_OK, sent[i].mediaStart >= 0) << i;
      if (sent[i].mediaStart >= 0) {
        EXPECT_EQ(r.mediaStart, sent[i].mediaStart) << i;
        EXPECT_EQ(r.mediaStop, sent[i].mediaStop) << i;
      }
      EXPECT_EQ(r.syncPoint, sent[i].syncPoint) << i;
      EXPECT_EQ(r.discontinuity, sent[i].discontinuity) << i;
      EXPECT_EQ(r.preroll, sent[i].preroll) << i;
      EXPECT_FALSE(r.typeChanged) << i;
      EXPECT_FALSE(r.data.empty()) << i;
    }
  }

  source->Stop();
  filter->Stop();
  sink->Stop();
  source->Pin()->Disconnect();
  for (int i = 0; i < filter->GetPinCount(); ++i) {
    filter->GetPin(i)->Disconnect();
  }
  sink->Pin()->Disconnect();
  source->NonDelegatingRelease();
  sink->NonDelegatingRelease();
  filter->NonDelegatingRelease();
  EXPECT_EQ(CBaseObject::ObjectsActive(), before) << "every reference returned";
}

INSTANTIATE_TEST_SUITE_P(VideoFilters, FilterConformance, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FilterCase>& info) { return info.param.name; });

}  // namespace
