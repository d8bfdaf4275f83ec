#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/audio/AudioDevices.h"
#include "platform/audio/AudioFilters.h"
#include "platform/media/FrameCounter.h"
#include "platform/media/MediaType.h"
#include "platform/media/Unknown.h"

namespace halvard::audio {
namespace {

ComPtr<IPin> FirstPin(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IPin> pin;
  EXPECT_EQ(pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr), S_OK);
  return pin;
}

// Waits (without asserting on time) until the counter reaches n.
LONGLONG WaitCount(IFrameCounter* counter, LONGLONG n) {
  LONGLONG count = 0;
  for (int i = 0; i < 500; ++i) {
    counter->GetFrameCount(&count);
    if (count >= n) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return count;
}

// Runs source -> renderer for a number of blocks and returns what the renderer got.
LONGLONG RunBlocks(IBaseFilter* source, IBaseFilter* renderer, LONGLONG blocks) {
  ComPtr<IPin> out = FirstPin(source);
  ComPtr<IPin> in = FirstPin(renderer);
  EXPECT_EQ(out->Connect(in.Get(), nullptr), S_OK);
  ComPtr<IFrameCounter> sourceCounter;
  ComPtr<IFrameCounter> rendererCounter;
  EXPECT_EQ(ComPtr<IBaseFilter>(source).As(&sourceCounter), S_OK);
  EXPECT_EQ(ComPtr<IBaseFilter>(renderer).As(&rendererCounter), S_OK);
  LONGLONG before = 0;
  EXPECT_EQ(rendererCounter->GetFrameCount(&before), S_OK);
  EXPECT_EQ(sourceCounter->SetFrameLimit(blocks), S_OK);
  EXPECT_EQ(rendererCounter->SetFrameLimit(blocks), E_NOTIMPL);
  EXPECT_EQ(renderer->Pause(), S_OK);
  EXPECT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(renderer->Run(0), S_OK);
  EXPECT_EQ(source->Run(0), S_OK);
  WaitCount(rendererCounter.Get(), before + blocks);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // room for a frame too many
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(renderer->Stop(), S_OK);
  LONGLONG after = 0;
  EXPECT_EQ(rendererCounter->GetFrameCount(&after), S_OK);
  const LONGLONG got = after - before;
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_OK);
  return got;
}

TEST(Audio, SilenceSourceFeedsTheRenderer) {
  RegisterAudioClasses();
  const LONG objects = CBaseObject::ObjectsActive();
  {
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(com::CreateInstance(CLSID_DefaultAudioSource, &source), S_OK);
    ASSERT_EQ(com::CreateInstance(CLSID_DSoundRender, &renderer), S_OK);

    // The first type offered is what the recording profile asks for by default.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(FirstPin(source.Get())->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(types->Next(1, &pmt, nullptr), S_OK);
    ASSERT_EQ(pmt->formattype, FORMAT_WaveFormatEx);
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    EXPECT_EQ(wf->nSamplesPerSec, 8000u);
    EXPECT_EQ(wf->nChannels, 1);
    EXPECT_EQ(wf->wBitsPerSample, 16);
    DeleteMediaType(pmt);

    EXPECT_EQ(RunBlocks(source.Get(), renderer.Get(), 3), 3);
    // The same filters run again.
    EXPECT_EQ(RunBlocks(source.Get(), renderer.Get(), 2), 2);
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), objects);
}

TEST(Audio, MissingSoundCardGivesSilenceInsteadOfAFailure) {
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(CreateAudioCaptureSource({"No such card", "alsa:hw:99,0", "hw:99,0"}, IID_IBaseFilter, source.PutVoid()),
            S_OK);
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(CreateAudioRenderer(IID_IBaseFilter, renderer.PutVoid()), S_OK);
  EXPECT_EQ(RunBlocks(source.Get(), renderer.Get(), 2), 2);
}

TEST(Audio, RendererTakesSixteenBitPcmOnly) {
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(CreateAudioRenderer(IID_IBaseFilter, renderer.PutVoid()), S_OK);
  ComPtr<IPin> in = FirstPin(renderer.Get());
  PIN_INFO info{};
  ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Audio Input pin (rendered)");
  info.pFilter->Release();

  CMediaType pcm(&MEDIATYPE_Audio);
  pcm.SetSubtype(&MEDIASUBTYPE_PCM);
  pcm.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wf{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
  pcm.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
  EXPECT_EQ(in->QueryAccept(&pcm), S_OK);
  wf.wBitsPerSample = 8;
  wf.nBlockAlign = 2;
  pcm.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
  EXPECT_EQ(in->QueryAccept(&pcm), S_FALSE);
  const CMediaType video = media::MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  EXPECT_EQ(in->QueryAccept(&video), S_FALSE);

  EXPECT_TRUE(IsSupportedPcm({WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0}));
  EXPECT_FALSE(IsSupportedPcm({WAVE_FORMAT_PCM, 1, 96000, 192000, 2, 16, 0}));
  EXPECT_FALSE(IsSupportedPcm({WAVE_FORMAT_PCM, 3, 8000, 48000, 6, 16, 0}));
  EXPECT_FALSE(IsSupportedPcm({0x161, 1, 8000, 1000, 2, 16, 0}));
  EXPECT_FALSE(IsSupportedPcm({WAVE_FORMAT_PCM, 2, 8000, 16000, 2, 16, 0}));  // block size wrong
}

TEST(Audio, DeviceListingNeverFails) {
  for (const AudioDevice& d : EnumerateAudioInputs()) {
    EXPECT_FALSE(d.friendlyName.empty());
    EXPECT_EQ(d.devicePath.rfind("alsa:hw:", 0), 0u);
  }
}

}  // namespace
}  // namespace halvard::audio
