#include "platform/audio/PlaySound.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace halvard::audio {
namespace {

// An alarm sound is seconds long; a file beyond this is refused rather than read whole.
constexpr std::uintmax_t kMaxFileBytes = 64u * 1024 * 1024;
constexpr snd_pcm_uframes_t kChunkFrames = 2048;

DWORD Le32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}
WORD Le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
bool Is(const BYTE* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

bool ReadFile(const char* path, std::vector<BYTE>* data) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    return false;
  }
  const std::streamoff size = in.tellg();
  if (size <= 0 || static_cast<std::uintmax_t>(size) > kMaxFileBytes) {
    return false;
  }
  data->resize(static_cast<std::size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data->data()), size);
  return in.gcount() == size;
}

// One sound: the device, the samples and whether it should stop early.
struct Playback {
  snd_pcm_t* pcm = nullptr;
  std::vector<BYTE> file;
  WaveSound wave;
};

void Play(Playback& p, const std::atomic<bool>& stop) {
  const BYTE* data = p.file.data() + p.wave.dataOffset;
  snd_pcm_uframes_t left = p.wave.dataBytes / p.wave.blockAlign;
  while (left > 0 && !stop.load()) {
    const snd_pcm_uframes_t frames = left < kChunkFrames ? left : kChunkFrames;
    const snd_pcm_sframes_t n = snd_pcm_writei(p.pcm, data, frames);
    if (n < 0) {
      if (snd_pcm_recover(p.pcm, static_cast<int>(n), 1) < 0) {
        break;
      }
      continue;
    }
    data += static_cast<std::size_t>(n) * p.wave.blockAlign;
    left -= static_cast<snd_pcm_uframes_t>(n);
  }
  if (stop.load()) {
    snd_pcm_drop(p.pcm);
  } else {
    snd_pcm_drain(p.pcm);
  }
  snd_pcm_close(p.pcm);
  p.pcm = nullptr;
}

// The process's one sound at a time.
class CSoundPlayer {
 public:
  ~CSoundPlayer() { StopLocked(); }

  BOOL Start(const char* path, DWORD flags, const std::string& device) {
    std::lock_guard guard(m_lock);
    StopLocked();
    if (path == nullptr) {
      return TRUE;
    }
    auto p = std::make_unique<Playback>();
    if (!ReadFile(path, &p->file)) {
      return FALSE;
    }
    const std::optional<WaveSound> wave = ParseWave(p->file);
    if (!wave) {
      return FALSE;
    }
    p->wave = *wave;
    // Opened without blocking: a device held by another program, or none at all, must
    // not hold up the caller (the user-interface thread).
    if (snd_pcm_open(&p->pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
      return FALSE;
    }
    const snd_pcm_format_t format = wave->bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_nonblock(p->pcm, 0) < 0 ||
        snd_pcm_set_params(p->pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, wave->channels, wave->samplesPerSec, 1,
                           500000) < 0) {
      snd_pcm_close(p->pcm);
      return FALSE;
    }
    m_stop.store(false);
    if ((flags & SND_ASYNC) == 0) {
      Play(*p, m_stop);
      return TRUE;
    }
    m_thread = std::thread([this, p = std::move(p)] { Play(*p, m_stop); });
    return TRUE;
  }

 private:
  void StopLocked() {
    if (m_thread.joinable()) {
      m_stop.store(true);
      m_thread.join();
    }
  }

  std::mutex m_lock;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
};

CSoundPlayer& Player() {
  static CSoundPlayer player;
  return player;
}

}  // namespace

std::optional<WaveSound> ParseWave(std::span<const BYTE> file) {
  if (file.size() < 12 || !Is(file.data(), "RIFF") || !Is(file.data() + 8, "WAVE")) {
    return std::nullopt;
  }
  // The RIFF size may be wrong in files cut short; the chunks are bounded by the file.
  std::size_t pos = 12;
  bool haveFormat = false;
  WaveSound wave;
  while (file.size() - pos >= 8) {
    const BYTE* chunk = file.data() + pos;
    const std::size_t size = Le32(chunk + 4);
    const std::size_t body = pos + 8;
    const std::size_t available = file.size() - body;
    if (Is(chunk, "fmt ")) {
      if (size < 16 || available < 16) {
        return std::nullopt;
      }
      const BYTE* f = file.data() + body;
      const WORD tag = Le16(f);
      wave.channels = Le16(f + 2);
      wave.samplesPerSec = Le32(f + 4);
      wave.blockAlign = Le16(f + 12);
      wave.bitsPerSample = Le16(f + 14);
      if (tag != 1 || wave.channels < 1 || wave.channels > 8 || wave.samplesPerSec < 1 ||
          wave.samplesPerSec > 768000 || (wave.bitsPerSample != 8 && wave.bitsPerSample != 16) ||
          wave.blockAlign != wave.channels * (wave.bitsPerSample / 8)) {
        return std::nullopt;
      }
      haveFormat = true;
    } else if (Is(chunk, "data")) {
      if (!haveFormat) {
        return std::nullopt;
      }
      const std::size_t bytes = size < available ? size : available;
      wave.dataOffset = body;
      wave.dataBytes = bytes - bytes % wave.blockAlign;
      return wave;
    }
    if (size > available) {
      return std::nullopt;  // a chunk running past the end, and no data chunk yet
    }
    pos = body + size + (size & 1);
    if (pos > file.size()) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

BOOL PlaySoundOn(const char* path, DWORD flags, const std::string& device) {
  return Player().Start(path, flags, device);
}

}  // namespace halvard::audio

BOOL PlaySound(const char* path, void* /*module*/, DWORD flags) {
  return halvard::audio::PlaySoundOn(path, flags, "default");
}
