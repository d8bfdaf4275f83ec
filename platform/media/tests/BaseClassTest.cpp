// The base classes as filter authors use them: a copy transform, an in-place transform
// behind read-only samples, and the output queue.

#include <gtest/gtest.h>

#include "platform/media/TestSource.h"
#include "platform/media/tests/TestFilters.h"

namespace {

using namespace halvard::media;
using namespace halvard::media::testing;
using halvard::com::CreateInstance;

HALVARD_DEFINE_GUID(kInvertClsid, 0x1A2B3C4D, 0x0001, 0x0002, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A);
HALVARD_DEFINE_GUID(kMarkClsid, 0x1A2B3C4D, 0x0001, 0x0002, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B);

/// Copy transform: inverts every byte of YUY2 frames.
class CInvert final : public CTransformFilter {
 public:
  CInvert() : CTransformFilter(L"Invert", nullptr, kInvertClsid) {}
  HRESULT CheckInputType(const CMediaType* mt) override {
    return mt->subtype == MEDIASUBTYPE_YUY2 && GetBitmapInfoHeader(*mt) != nullptr ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position > 0) {
      return VFW_S_NO_MORE_ITEMS;
    }
    return pmt->Set(m_pInput->CurrentMediaType());
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = 2;
    wanted.cbBuffer = static_cast<LONG>(m_pInput->CurrentMediaType().GetSampleSize());
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(&wanted, &actual);
    return FAILED(hr) ? hr : (actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK);
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    (void)in->GetPointer(&src);
    (void)out->GetPointer(&dst);
    const LONG n = in->GetActualDataLength();
    for (LONG i = 0; i < n; ++i) {
      dst[i] = static_cast<BYTE>(255 - src[i]);
    }
    return out->SetActualDataLength(n);
  }
};

/// In-place transform: writes 0xAB into byte 1 of every sample.
class CMark final : public CTransInPlaceFilter {
 public:
  explicit CMark(HRESULT* phr) : CTransInPlaceFilter(L"Mark", nullptr, kMarkClsid, phr, true) {}
  HRESULT CheckInputType(const CMediaType* mt) override {
    return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Transform(IMediaSample* sample) override {
    BYTE* data = nullptr;
    (void)sample->GetPointer(&data);
    data[1] = 0xAB;
    return S_OK;
  }
};

/// A source whose pin seeks: it remembers what it was told.
class CSeekableSource final : public CSource {
 public:
  class CStream final : public CSourceStream, public IMediaSeeking {
   public:
    CStream(HRESULT* phr, CSeekableSource* filter) : CSourceStream(L"Seekable", phr, filter, L"Out") {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
      if (riid == IID_IMediaSeeking) {
        return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
      }
      return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT GetMediaType(CMediaType* pmt) override { return pmt->Set(MakeVideoType(MEDIASUBTYPE_YUY2, 64, 48)); }
    using CSourceStream::GetMediaType;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
      ALLOCATOR_PROPERTIES wanted{2, 64 * 48 * 2, 1, 0};
      (void)request;
      ALLOCATOR_PROPERTIES actual{};
      return alloc->SetProperties(&wanted, &actual);
    }
    HRESULT FillBuffer(IMediaSample*) override { return S_FALSE; }

    HRESULT GetCapabilities(DWORD* caps) override {
      *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
      return S_OK;
    }
    HRESULT CheckCapabilities(DWORD*) override { return S_OK; }
    HRESULT IsFormatSupported(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
    HRESULT QueryPreferredFormat(GUID* f) override {
      *f = TIME_FORMAT_MEDIA_TIME;
      return S_OK;
    }
    HRESULT GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
    HRESULT IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
    HRESULT SetTimeFormat(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG; }
    HRESULT GetDuration(LONGLONG* d) override {
      *d = 10 * UNITS;
      return S_OK;
    }
    HRESULT GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
    HRESULT GetCurrentPosition(LONGLONG* c) override {
      *c = m_position;
      return S_OK;
    }
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    HRESULT SetPositions(LONGLONG* current, DWORD flags, LONGLONG*, DWORD) override {
      if (current != nullptr && (flags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) {
        m_position = *current;
      }
      return S_OK;
    }
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override {
      *c = m_position;
      return GetDuration(s);
    }
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
      *e = 0;
      return GetDuration(l);
    }
    HRESULT SetRate(double rate) override {
      m_rate = rate;
      return S_OK;
    }
    HRESULT GetRate(double* rate) override {
      *rate = m_rate;
      return S_OK;
    }
    HRESULT GetPreroll(LONGLONG* p) override {
      *p = 0;
      return S_OK;
    }
    LONGLONG m_position = 0;
    double m_rate = 1.0;
  };
  CSeekableSource() : CSource(L"Seekable source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    m_stream = new CStream(&hr, this);
  }
  CStream* m_stream;
};

template <class T, class... Args>
ComPtr<IBaseFilter> Make(Args... args) {
  return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(new T(args...)));
}

class BaseClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_objectsBefore = CBaseObject::ObjectsActive();
    ASSERT_EQ(CreateInstance(CLSID_FilterGraph, &m_graph), S_OK);
    ASSERT_EQ(m_graph.As(&m_control), S_OK);
    m_source = Create(CLSID_HalvardTestSource);
    ASSERT_EQ(m_graph->AddFilter(m_source.Get(), L"Source"), S_OK);
    ASSERT_EQ(m_source.As(&m_sourceControl), S_OK);
    ASSERT_EQ(m_sourceControl->SetTimestamps(FALSE), S_OK);
  }
  void TearDown() override {
    m_sourceControl = nullptr;
    m_source = nullptr;
    m_control = nullptr;
    m_graph = nullptr;
    EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsBefore);
  }
  HRESULT Connect(IBaseFilter* from, IBaseFilter* to, int outputIndex = 0) {
    auto outs = Pins(from, PINDIR_OUTPUT);
    return m_graph->ConnectDirect(outs[static_cast<std::size_t>(outputIndex)].Get(), FirstPin(to, PINDIR_INPUT).Get(),
                                  nullptr);
  }
  void RunFrames(LONG frames) {
    ASSERT_EQ(m_sourceControl->SetFrameLimit(frames), S_OK);
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(m_graph.As(&events), S_OK);
    ASSERT_EQ(m_control->Run(), S_OK);
    LONG code = 0;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(m_control->Stop(), S_OK);
  }

  LONG m_objectsBefore = 0;
  ComPtr<IGraphBuilder> m_graph;
  ComPtr<IMediaControl> m_control;
  ComPtr<IBaseFilter> m_source;
  ComPtr<IHalvardTestSource> m_sourceControl;
};

TEST_F(BaseClassTest, CopyTransformHasItsPinsNegotiatesAfterItsInputAndCopies) {
  auto invert = Make<CInvert>();
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(invert.Get(), L"Invert"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  ComPtr<IPin> in;
  ComPtr<IPin> out;
  ASSERT_EQ(invert->FindPin(L"XForm In", in.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(invert->FindPin(L"XForm Out", out.ReleaseAndGetAddressOf()), S_OK);
  // The output cannot connect before the input: it has no type to offer, and a given
  // type is refused by the pin's connection check.
  auto sinkIn = FirstPin(sink.Get(), PINDIR_INPUT);
  EXPECT_EQ(m_graph->ConnectDirect(out.Get(), sinkIn.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  CMediaType yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  EXPECT_EQ(m_graph->ConnectDirect(out.Get(), sinkIn.Get(), &yuy2), E_UNEXPECTED);
  ASSERT_EQ(Connect(m_source.Get(), invert.Get()), S_OK);
  ASSERT_EQ(Connect(invert.Get(), sink.Get()), S_OK);
  // Separate buffers on the two sides.
  RunFrames(5);
  const auto first = CCountingSink::From(sink.Get())->FirstBytes();
  ASSERT_EQ(first.size(), 5u);
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i], 255 - i);
  }
  // Seeking is passed upstream: the test source does not seek, so neither does the output.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(out.As(&seeking), S_OK);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
}

TEST_F(BaseClassTest, InPlaceTransformCopiesReadOnlySamplesAndSharesWritableOnes) {
  // Source → Tee: the tee hands read-only samples on; the marking filter must copy them,
  // so the other branch never sees its mark.
  auto tee = Create(CLSID_SmartTee);
  HRESULT hr = S_OK;
  auto mark = Make<CMark>(&hr);
  auto marked = CCountingSink::Create();
  auto untouched = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(tee.Get(), L"Tee"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(mark.Get(), L"Mark"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(marked.Get(), L"Marked"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(untouched.Get(), L"Untouched"), S_OK);
  ASSERT_EQ(Connect(m_source.Get(), tee.Get()), S_OK);
  ASSERT_EQ(Connect(tee.Get(), mark.Get(), 0), S_OK);
  ASSERT_EQ(Connect(mark.Get(), marked.Get()), S_OK);
  ASSERT_EQ(Connect(tee.Get(), untouched.Get(), 1), S_OK);
  auto* markFilter = static_cast<CMark*>(static_cast<CTransInPlaceFilter*>(static_cast<CBaseFilter*>(
      static_cast<IBaseFilter*>(mark.Get()))));
  EXPECT_TRUE(markFilter->UsingDifferentAllocators());
  RunFrames(8);
  for (BYTE b : CCountingSink::From(marked.Get())->SecondBytes()) {
    EXPECT_EQ(b, 0xAB);
  }
  EXPECT_EQ(CCountingSink::From(marked.Get())->SecondBytes().size(), 8u);
  for (BYTE b : CCountingSink::From(untouched.Get())->SecondBytes()) {
    EXPECT_NE(b, 0xAB);
  }
}

TEST_F(BaseClassTest, InPlaceTransformSharesTheAllocatorWhenSamplesAreWritable) {
  HRESULT hr = S_OK;
  auto mark = Make<CMark>(&hr);
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(mark.Get(), L"Mark"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  ComPtr<IPin> output;
  ASSERT_EQ(mark->FindPin(L"Output", output.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IEnumMediaTypes> types;
  EXPECT_EQ(output->EnumMediaTypes(types.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(Connect(m_source.Get(), mark.Get()), S_OK);
  ASSERT_EQ(Connect(mark.Get(), sink.Get()), S_OK);
  auto* markFilter = static_cast<CMark*>(static_cast<CBaseFilter*>(static_cast<IBaseFilter*>(mark.Get())));
  EXPECT_FALSE(markFilter->UsingDifferentAllocators());
  RunFrames(3);
  EXPECT_EQ(CCountingSink::From(sink.Get())->SecondBytes(), (std::vector<BYTE>{0xAB, 0xAB, 0xAB}));
}

TEST_F(BaseClassTest, OutputQueueKeepsOrderAndStopsAfterAFailure) {
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  ASSERT_EQ(Connect(m_source.Get(), sink.Get()), S_OK);
  auto sinkIn = FirstPin(sink.Get(), PINDIR_INPUT);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CMemAllocator::Create(allocator.ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES request{4, 16, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);

  // The sink is stopped: it refuses the samples, and the queue remembers that.
  HRESULT hr = S_OK;
  {
    COutputQueue queue(sinkIn.Get(), &hr, TRUE, FALSE);
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(queue.IsQueued());  // a sink's Receive may block
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(queue.Receive(sample), S_OK);  // queued
    EXPECT_TRUE(WaitFor([&] { return queue.IsIdle() != FALSE; }));
    EXPECT_EQ(queue.Receive(sample), VFW_E_WRONG_STATE);
    queue.Reset();
    sample->Release();
  }
  // Running: samples arrive in order, then the end of stream.
  ASSERT_EQ(sink->Run(0), S_OK);
  {
    COutputQueue queue(sinkIn.Get(), &hr, FALSE, TRUE, 2, TRUE);
    for (BYTE i = 0; i < 3; ++i) {
      IMediaSample* sample = nullptr;
      ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
      BYTE* data = nullptr;
      (void)sample->GetPointer(&data);
      data[0] = i;
      EXPECT_EQ(queue.Receive(sample), S_OK);
      sample->Release();
    }
    queue.EOS();  // delivers the partial batch first
    EXPECT_TRUE(WaitFor([&] { return CCountingSink::From(sink.Get())->m_endOfStream.load() == 1; }));
  }
  EXPECT_EQ(CCountingSink::From(sink.Get())->FirstBytes(), (std::vector<BYTE>{0, 1, 2}));
  ASSERT_EQ(sink->Stop(), S_OK);
  EXPECT_EQ(allocator->Decommit(), S_OK);
}

}  // namespace

namespace {

TEST_F(BaseClassTest, GraphSeekingReachesTheSourceThroughTransformAndRenderer) {
  auto source = Make<CSeekableSource>();
  auto invert = Make<CInvert>();
  auto renderer = Create(CLSID_VideoRenderer);
  ASSERT_EQ(m_graph->AddFilter(source.Get(), L"File"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(invert.Get(), L"Invert"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(renderer.Get(), L"VidRender"), S_OK);
  ASSERT_EQ(Connect(source.Get(), invert.Get()), S_OK);
  ASSERT_EQ(Connect(invert.Get(), renderer.Get()), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(m_graph.As(&seeking), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10 * UNITS);
  LONGLONG position = 5 * UNITS;
  ASSERT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  auto* stream = static_cast<CSeekableSource*>(static_cast<CBaseFilter*>(static_cast<IBaseFilter*>(source.Get())))->m_stream;
  EXPECT_EQ(stream->m_position, 5 * UNITS);
  LONGLONG current = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 5 * UNITS);
  ASSERT_EQ(seeking->SetRate(2.0), S_OK);
  EXPECT_EQ(stream->m_rate, 2.0);
  DWORD caps = 0;
  ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
  EXPECT_NE(caps & AM_SEEKING_CanSeekAbsolute, 0u);
  EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);
}

}  // namespace

namespace {

/// A source whose third buffer fails.
class CFailingSource final : public CSource {
 public:
  class CStream final : public CSourceStream {
   public:
    CStream(HRESULT* phr, CFailingSource* filter) : CSourceStream(L"Failing", phr, filter, L"Out") {}
    HRESULT GetMediaType(CMediaType* pmt) override { return pmt->Set(MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8)); }
    using CSourceStream::GetMediaType;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES*) override {
      ALLOCATOR_PROPERTIES wanted{2, 8 * 8 * 3, 1, 0};
      ALLOCATOR_PROPERTIES actual{};
      return alloc->SetProperties(&wanted, &actual);
    }
    HRESULT FillBuffer(IMediaSample*) override { return ++m_count < 3 ? S_OK : E_OUTOFMEMORY; }
    int m_count = 0;
  };
  CFailingSource() : CSource(L"Failing source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    new CStream(&hr, this);
  }
};

TEST_F(BaseClassTest, AFailingSourceEndsItsStreamAndReportsTheError) {
  auto source = Make<CFailingSource>();
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(source.Get(), L"Failing"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  ASSERT_EQ(Connect(source.Get(), sink.Get()), S_OK);
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(m_graph.As(&events), S_OK);
  ASSERT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);  // see every event as it comes
  ASSERT_EQ(m_control->Run(), S_OK);
  std::vector<LONG> codes;
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  while (events->GetEvent(&code, &p1, &p2, 2000) == S_OK) {
    codes.push_back(code);
    if (code == EC_ERRORABORT) {
      EXPECT_EQ(p1, E_OUTOFMEMORY);
      break;
    }
  }
  EXPECT_EQ(codes, (std::vector<LONG>{EC_COMPLETE, EC_ERRORABORT}));  // end of stream first, then the error
  EXPECT_EQ(CCountingSink::From(sink.Get())->m_samples.load(), 2);
  ASSERT_EQ(m_control->Stop(), S_OK);
}

}  // namespace

namespace {

/// A source pin that lists two types through the positional GetMediaType only.
class CTwoTypeSource final : public CSource {
 public:
  class CStream final : public CSourceStream {
   public:
    CStream(HRESULT* phr, CTwoTypeSource* filter) : CSourceStream(L"Two types", phr, filter, L"Out") {}
    HRESULT GetMediaType(int position, CMediaType* pmt) override {
      if (position < 0) {
        return E_INVALIDARG;
      }
      if (position > 1) {
        return VFW_S_NO_MORE_ITEMS;
      }
      return pmt->Set(MakeVideoType(position == 0 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_YUY2, 8, 8));
    }
    using CSourceStream::GetMediaType;
    HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }
    HRESULT FillBuffer(IMediaSample*) override { return S_FALSE; }
  };
  CTwoTypeSource() : CSource(L"Two-type source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    m_stream = new CStream(&hr, this);
  }
  CStream* m_stream = nullptr;  // owned by CSource
};

TEST_F(BaseClassTest, SourcePinAcceptsEveryTypeItListsAndNoOther) {
  auto source = Make<CTwoTypeSource>();
  auto* stream = static_cast<CTwoTypeSource*>(source.Get())->m_stream;
  const CMediaType rgb = MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8);
  const CMediaType yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 8, 8);
  const CMediaType larger = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8);
  EXPECT_EQ(stream->CheckMediaType(&rgb), S_OK);
  EXPECT_EQ(stream->CheckMediaType(&yuy2), S_OK);
  EXPECT_EQ(stream->CheckMediaType(&larger), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(stream->CheckMediaType(nullptr), E_POINTER);
}

}  // namespace
