#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/audio/PlaySound.h"
#include "tests/support/TestSupport.h"

using halvard::audio::ParseWave;
using halvard::audio::PlaySoundOn;
using halvard::audio::WaveSound;

namespace {

void Put32(std::vector<BYTE>* b, DWORD v) {
  for (int i = 0; i < 4; ++i) {
    b->push_back(static_cast<BYTE>(v >> (8 * i)));
  }
}
void Put16(std::vector<BYTE>* b, WORD v) {
  b->push_back(static_cast<BYTE>(v));
  b->push_back(static_cast<BYTE>(v >> 8));
}
void PutId(std::vector<BYTE>* b, const char* id) { b->insert(b->end(), id, id + 4); }

struct WaveSpec {
  WORD tag = 1;
  WORD channels = 1;
  DWORD rate = 8000;
  WORD bits = 16;
  WORD blockAlign = 0;  // 0: computed
  std::size_t frames = 800;
  std::vector<BYTE> extraChunk;  // inserted between "fmt " and "data"
};

std::vector<BYTE> MakeWave(const WaveSpec& s) {
  const WORD align = s.blockAlign != 0 ? s.blockAlign : static_cast<WORD>(s.channels * s.bits / 8);
  const std::size_t dataBytes = s.frames * align;
  std::vector<BYTE> b;
  PutId(&b, "RIFF");
  Put32(&b, static_cast<DWORD>(36 + s.extraChunk.size() + dataBytes));
  PutId(&b, "WAVE");
  PutId(&b, "fmt ");
  Put32(&b, 16);
  Put16(&b, s.tag);
  Put16(&b, s.channels);
  Put32(&b, s.rate);
  Put32(&b, s.rate * align);
  Put16(&b, align);
  Put16(&b, s.bits);
  b.insert(b.end(), s.extraChunk.begin(), s.extraChunk.end());
  PutId(&b, "data");
  Put32(&b, static_cast<DWORD>(dataBytes));
  for (std::size_t i = 0; i < dataBytes; ++i) {
    b.push_back(static_cast<BYTE>(s.bits == 8 ? 128 : 0));
  }
  return b;
}

std::string WriteFile(const halvard::testing::TempDir& dir, const std::string& name, const std::vector<BYTE>& data) {
  const std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
  return path;
}

TEST(WaveHeader, PcmFilesOfEightAndSixteenBits) {
  const std::vector<BYTE> mono16 = MakeWave({});
  const std::optional<WaveSound> a = ParseWave(mono16);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->channels, 1);
  EXPECT_EQ(a->samplesPerSec, 8000u);
  EXPECT_EQ(a->bitsPerSample, 16);
  EXPECT_EQ(a->dataOffset, 44u);
  EXPECT_EQ(a->dataBytes, 1600u);

  // Another chunk of odd size before the data is skipped with its pad byte.
  WaveSpec stereo8;
  stereo8.channels = 2;
  stereo8.bits = 8;
  stereo8.frames = 10;
  stereo8.extraChunk = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  const std::optional<WaveSound> b = ParseWave(MakeWave(stereo8));
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->blockAlign, 2);
  EXPECT_EQ(b->dataOffset, 56u);
  EXPECT_EQ(b->dataBytes, 20u);
}

TEST(WaveHeader, TruncatedFilesNeverReachPastTheirEnd) {
  const std::vector<BYTE> full = MakeWave({});
  for (std::size_t n = 0; n < full.size(); ++n) {
    // A copy of exactly n bytes, so that the sanitizer sees any read beyond it.
    const std::vector<BYTE> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    const std::optional<WaveSound> w = ParseWave(cut);
    if (n < 44) {
      EXPECT_FALSE(w.has_value()) << n;
    } else {
      ASSERT_TRUE(w.has_value()) << n;
      EXPECT_EQ(w->dataBytes, (n - 44) / 2 * 2) << n;  // whole frames of what is there
      EXPECT_LE(w->dataOffset + w->dataBytes, n);
    }
  }
}

TEST(WaveHeader, OtherFormatsAndGarbageAreRefused) {
  std::vector<std::vector<BYTE>> bad;
  WaveSpec s;
  s.tag = 3;  // float
  bad.push_back(MakeWave(s));
  s = {};
  s.bits = 24;
  bad.push_back(MakeWave(s));
  s = {};
  s.channels = 0;
  s.blockAlign = 2;
  bad.push_back(MakeWave(s));
  s = {};
  s.blockAlign = 3;
  bad.push_back(MakeWave(s));
  s = {};
  s.rate = 0;
  bad.push_back(MakeWave(s));
  // A chunk claiming more than the file before any data.
  s = {};
  s.extraChunk = {'L', 'I', 'S', 'T', 0xff, 0xff, 0xff, 0x7f};
  bad.push_back(MakeWave(s));
  std::vector<BYTE> noData = MakeWave({});
  noData.resize(36);
  bad.push_back(noData);
  std::vector<BYTE> dataFirst = MakeWave({});
  std::memcpy(dataFirst.data() + 12, "data", 4);
  bad.push_back(dataFirst);
  bad.push_back(std::vector<BYTE>(200, 0x5a));
  std::vector<BYTE> riffOnly = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
  bad.push_back(riffOnly);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(ParseWave(bad[i]).has_value()) << "case " << i;
  }
}

TEST(PlaySound, FailsAtOnceWithoutAPlayableFileOrDevice) {
  const halvard::testing::TempDir dir;
  EXPECT_EQ(PlaySound(dir.File("missing.wav").c_str(), nullptr, SND_SYNC | SND_FILENAME), FALSE);
  EXPECT_EQ(PlaySound(dir.Path().string().c_str(), nullptr, SND_SYNC | SND_FILENAME), FALSE);  // a folder
  EXPECT_EQ(PlaySound(WriteFile(dir, "garbage.wav", std::vector<BYTE>(100, 7)).c_str(), nullptr, SND_SYNC), FALSE);
  EXPECT_EQ(PlaySound(WriteFile(dir, "empty.wav", {}).c_str(), nullptr, SND_SYNC), FALSE);
  const std::string good = WriteFile(dir, "good.wav", MakeWave({}));
  EXPECT_EQ(PlaySoundOn(good.c_str(), SND_SYNC, "no-such-device"), FALSE);
  // Stopping when nothing plays is fine.
  EXPECT_EQ(PlaySound(nullptr, nullptr, 0), TRUE);
  // Through the default device: played where there is sound, refused at once where
  // there is none (CI); it returns either way.
  const BOOL result = PlaySound(good.c_str(), nullptr, SND_SYNC | SND_FILENAME);
  EXPECT_TRUE(result == TRUE || result == FALSE);
}

TEST(PlaySound, PlaysSynchronouslyAndAsynchronouslyOnTheNullDevice) {
  const halvard::testing::TempDir dir;
  WaveSpec s;
  s.frames = 400;  // 50 ms
  const std::string path = WriteFile(dir, "short.wav", MakeWave(s));
  if (PlaySoundOn(path.c_str(), SND_SYNC, "null") != TRUE) {
    GTEST_SKIP() << "ALSA has no null device here";
  }
  s.bits = 8;
  s.channels = 2;
  const std::string eight = WriteFile(dir, "eight.wav", MakeWave(s));
  EXPECT_EQ(PlaySoundOn(eight.c_str(), SND_SYNC, "null"), TRUE);
  EXPECT_EQ(PlaySoundOn(path.c_str(), SND_ASYNC, "null"), TRUE);
  // A new sound replaces the one playing; a null path stops it.
  EXPECT_EQ(PlaySoundOn(eight.c_str(), SND_ASYNC, "null"), TRUE);
  EXPECT_EQ(PlaySoundOn(nullptr, 0, "null"), TRUE);
}

}  // namespace
