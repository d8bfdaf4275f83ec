#include "filters/hdsimulation/HDSimulationFilter.h"

#include <gtest/gtest.h>

#include <vector>

#include "filters/tests/FilterTestKit.h"
#include "filters/tests/SyntheticVideo.h"
#include "platform/media/MediaType.h"

namespace {

using halvard::testing::CTestSink;
using halvard::testing::CTestSource;
using halvard::testing::Hold;

// Source (YUY2 of the given size) -> scaler -> sink, running.
class ScalerGraph {
 public:
  ScalerGraph(LONG inWidth, LONG inHeight, LONG outWidth, LONG outHeight, LONG sourceBuffer = 0) {
    objectsBefore = CBaseObject::ObjectsActive();
    HRESULT hr = S_OK;
    filter = Hold(new CHDSimulationFilter(nullptr, &hr));
    source = Hold(new CTestSource({halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, inWidth, inHeight, 400000)}));
    sink = Hold(new CTestSink());
    source->bufferSize = sourceBuffer;
    filter->SetOutputSize(outWidth, outHeight);
    connected = source->Pin()->Connect(filter->GetPin(0), nullptr) == S_OK &&
                static_cast<CBasePin*>(filter->GetPin(1))->Connect(sink->Pin(), nullptr) == S_OK &&
                sink->Run(0) == S_OK && filter->Run(0) == S_OK && source->Run(0) == S_OK;
  }
  ~ScalerGraph() {
    source->Stop();
    filter->Stop();
    sink->Stop();
    source->Pin()->Disconnect();
    filter->GetPin(0)->Disconnect();
    filter->GetPin(1)->Disconnect();
    sink->Pin()->Disconnect();
    source->NonDelegatingRelease();
    filter->NonDelegatingRelease();
    sink->NonDelegatingRelease();
    EXPECT_EQ(CBaseObject::ObjectsActive(), objectsBefore);
  }
  bool connected = false;
  LONG objectsBefore = 0;
  CHDSimulationFilter* filter = nullptr;
  CTestSource* source = nullptr;
  CTestSink* sink = nullptr;
};

TEST(HDSimulationFilter, OutputTypeDescribesTheStoredSize) {
  ScalerGraph g(352, 288, 705, 576);
  ASSERT_TRUE(g.connected);
  CMediaType mt;
  ASSERT_EQ(g.filter->GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(*mt.Type(), MEDIATYPE_Video);
  EXPECT_EQ(*mt.Subtype(), MEDIASUBTYPE_YUY2);
  EXPECT_EQ(*mt.FormatType(), FORMAT_VideoInfo);
  const ULONG sampleSize = 576u * 2u * 708u;  // width rounded up to a multiple of 4
  EXPECT_EQ(mt.GetSampleSize(), sampleSize);
  EXPECT_FALSE(mt.IsTemporalCompressed());
  const VIDEOINFOHEADER* info = GetVideoInfoHeader(mt);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->AvgTimePerFrame, 400000);
  EXPECT_EQ(info->dwBitRate, sampleSize * 8u * 25u);
  EXPECT_EQ(info->bmiHeader.biSize, 40u);
  EXPECT_EQ(info->bmiHeader.biWidth, 705);
  EXPECT_EQ(info->bmiHeader.biHeight, 576);
  EXPECT_EQ(info->bmiHeader.biPlanes, 1);
  EXPECT_EQ(info->bmiHeader.biBitCount, 16);
  EXPECT_EQ(info->bmiHeader.biCompression, 0x32595559u);
  EXPECT_EQ(info->bmiHeader.biSizeImage, sampleSize);
  EXPECT_EQ(info->rcSource.right, 0);
  EXPECT_EQ(g.filter->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(g.filter->GetMediaType(-1, &mt), E_INVALIDARG);
}

TEST(HDSimulationFilter, ScalesKeepsByteZeroAndCarriesTimes) {
  ScalerGraph g(352, 288, 704, 576);
  ASSERT_TRUE(g.connected);
  for (int i = 0; i < 3; ++i) {
    auto frame = halvard::testing::SyntheticFrame(352, 288, 2, i);
    frame[0] = static_cast<BYTE>(i);  // the channel number
    ASSERT_EQ(g.source->Push(frame, 1000 * i), S_OK);
    std::vector<BYTE> expected(704u * 576u * 2u);
    halvard::hdsimulation::CBicubicScaler reference(halvard::hdsimulation::SimdLevel::None);
    ASSERT_TRUE(reference.Scale(frame.data(), 352, 288, expected.data(), 704, 576));
    expected[0] = static_cast<BYTE>(i);
    std::lock_guard lock(g.sink->mutex);
    ASSERT_EQ(g.sink->received.size(), static_cast<std::size_t>(i + 1));
    EXPECT_EQ(g.sink->received.back().data, expected);
    EXPECT_EQ(g.sink->received.back().start, 1000 * i);
  }
  EXPECT_EQ(g.filter->TableBuilds(), 1);
}

TEST(HDSimulationFilter, EqualSizesCopyTheBuffer) {
  ScalerGraph g(320, 240, 320, 240);
  ASSERT_TRUE(g.connected);
  const auto frame = halvard::testing::SyntheticFrame(320, 240, 2, 4);
  ASSERT_EQ(g.source->Push(frame), S_OK);
  std::lock_guard lock(g.sink->mutex);
  ASSERT_EQ(g.sink->received.size(), 1u);
  EXPECT_EQ(g.sink->received[0].data, frame);
}

TEST(HDSimulationFilter, OddSizesAndLaterSizeChangesStayInsideTheBuffers) {
  ScalerGraph g(353, 241, 707, 483);
  ASSERT_TRUE(g.connected);
  // A new size while connected applies to the next connection, not to this stream.
  g.filter->SetOutputSize(1920, 1080);
  const auto frame = halvard::testing::SyntheticFrame(353, 241, 2, 1);
  ASSERT_EQ(g.source->Push(frame), S_OK);
  std::lock_guard lock(g.sink->mutex);
  ASSERT_EQ(g.sink->received.size(), 1u);
  EXPECT_EQ(g.sink->received[0].data.size(), 483u * 2u * 708u);
  EXPECT_EQ(g.sink->received[0].data[0], frame[0]);
}

TEST(HDSimulationFilter, InputBuffersSmallerThanTheirPictureAreDroppedAndSaySoOnce) {
  ScalerGraph g(64, 48, 128, 96, /*sourceBuffer=*/64 * 2 * 40);
  ASSERT_TRUE(g.connected);
  halvard::testing::CGraphEvents events;
  events.Attach(g.filter);
  std::vector<BYTE> frame(64u * 2u * 40u, 100);
  ASSERT_EQ(g.source->Push(frame), S_OK);
  ASSERT_EQ(g.source->Push(frame), S_OK);
  {
    std::lock_guard lock(g.sink->mutex);
    EXPECT_EQ(g.sink->received.size(), 0u);
  }
  const auto faults = events.Take(kEventFrameFault);
  ASSERT_EQ(faults.size(), 1u);  // the first drop of the connection only
  EXPECT_EQ(faults[0].param1, kFrameFaultBufferTooSmall);
  EXPECT_EQ(faults[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(g.filter)));
}

TEST(HDSimulationFilter, TypeChecks) {
  HRESULT hr = S_OK;
  CHDSimulationFilter* filter = Hold(new CHDSimulationFilter(nullptr, &hr));
  EXPECT_EQ(filter->GetPin(0)->PinName(), L"XForm In");
  EXPECT_EQ(filter->GetPin(1)->PinName(), L"XForm Out");
  auto yuy2 = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 352, 288);
  auto rgb = halvard::media::MakeVideoType(MEDIASUBTYPE_RGB24, 352, 288);
  EXPECT_EQ(filter->CheckInputType(&yuy2), S_OK);
  EXPECT_EQ(filter->CheckInputType(&rgb), VFW_E_INVALID_MEDIA_TYPE);
  auto otherFormat = yuy2;
  otherFormat.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(filter->CheckInputType(&otherFormat), VFW_E_INVALID_MEDIA_TYPE);
  auto anyMajor = yuy2;
  anyMajor.SetType(&GUID_NULL);
  EXPECT_EQ(filter->CheckInputType(&anyMajor), S_OK);  // the major type is not checked
  // A YUY2 type claiming another bit count is refused, not trusted.
  auto yuy2With24Bits = yuy2;
  reinterpret_cast<VIDEOINFOHEADER*>(yuy2With24Bits.Format())->bmiHeader.biBitCount = 24;
  EXPECT_EQ(filter->CheckInputType(&yuy2With24Bits), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_EQ(filter->CheckTransform(&yuy2, &rgb), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_EQ(filter->CheckTransform(&yuy2, &yuy2), S_OK);
  CMediaType mt;
  EXPECT_EQ(filter->GetMediaType(0, &mt), E_UNEXPECTED);  // input unconnected
  {
    ComPtr<IHDSimulation> hd;
    ASSERT_EQ(filter->QueryInterface(IID_IHDSimulation, hd.PutVoid()), S_OK);
    EXPECT_EQ(hd->SetOutputSize(-5, 0), S_OK);
  }
  filter->NonDelegatingRelease();
}

TEST(HDSimulationFilter, CheckingOtherTypesChangesNothingWhileConnected) {
  ScalerGraph g(64, 48, 128, 96);
  ASSERT_TRUE(g.connected);
  auto big = halvard::media::MakeVideoType(MEDIASUBTYPE_YUY2, 704, 576);
  auto rgb = halvard::media::MakeVideoType(MEDIASUBTYPE_RGB24, 32, 32);
  EXPECT_EQ(g.filter->CheckInputType(&big), S_OK);
  EXPECT_NE(g.filter->CheckInputType(&rgb), S_OK);
  CMediaType mt;
  ASSERT_EQ(g.filter->GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(GetVideoInfoHeader(mt)->bmiHeader.biBitCount, 16);
  EXPECT_EQ(mt.GetSampleSize(), 128u * 2u * 96u);
  const auto frame = halvard::testing::SyntheticFrame(64, 48, 2, 0);
  ASSERT_EQ(g.source->Push(frame), S_OK);
  std::lock_guard lock(g.sink->mutex);
  ASSERT_EQ(g.sink->received.size(), 1u);
  std::vector<BYTE> expected(128u * 96u * 2u);
  halvard::hdsimulation::CBicubicScaler reference(halvard::hdsimulation::SimdLevel::None);
  ASSERT_TRUE(reference.Scale(frame.data(), 64, 48, expected.data(), 128, 96));
  expected[0] = frame[0];
  EXPECT_EQ(g.sink->received[0].data, expected);
}

TEST(HDSimulationFilter, UnusableOutputSizeCannotConnect) {
  ScalerGraph g(64, 48, 0, 48);
  EXPECT_FALSE(g.connected);
}

TEST(HDSimulationFilter, EndOfStreamAndFlushesPassThrough) {
  ScalerGraph g(64, 48, 128, 96);
  ASSERT_TRUE(g.connected);
  IPin* input = g.filter->GetPin(0);
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(input->BeginFlush(), S_OK);
  EXPECT_EQ(input->EndFlush(), S_OK);
  std::lock_guard lock(g.sink->mutex);
  EXPECT_EQ(g.sink->endOfStreams, 1);
  EXPECT_EQ(g.sink->beginFlushes, 1);
  EXPECT_EQ(g.sink->endFlushes, 1);
}

}  // namespace
