#include "platform/capture/CardState.h"

#include <atomic>

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace halvard::capture {
namespace {

struct Cards {
  std::mutex lock;
  std::array<CardSnapshot, kMaxCards> cards{};
  std::uint32_t generation = 0;
};

Cards& TheCards() {
  static Cards cards;
  return cards;
}

bool ValidCard(int card) { return card >= 0 && card < kMaxCards; }
bool ValidInput(int input) { return input >= 0 && input < kCardInputs; }

struct Motion {
  std::mutex lock;
  bool initialised = false;
  std::uint64_t set = 0;
  std::chrono::steady_clock::time_point lastPoll{};
  bool fileSeen = false;
  struct timespec fileTime {};
  off_t fileSize = -1;
};

Motion& TheMotion() {
  static Motion motion;
  return motion;
}

// Reads the control file when it changed (or always, with force). Caller holds the lock.
void PollFile(Motion& m, bool force) {
  struct stat st {};
  const std::string path = MotionControlPath();
  if (::stat(path.c_str(), &st) != 0) {
    return;  // no file: what the variable and the calls said stays
  }
  const bool changed = !m.fileSeen || st.st_mtim.tv_sec != m.fileTime.tv_sec ||
                       st.st_mtim.tv_nsec != m.fileTime.tv_nsec || st.st_size != m.fileSize;
  if (!changed && !force) {
    return;
  }
  std::ifstream in(path);
  if (!in) {
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  m.set = ParseMotionSet(text.str());
  m.fileSeen = true;
  m.fileTime = st.st_mtim;
  m.fileSize = st.st_size;
}

void InitMotion(Motion& m) {
  if (m.initialised) {
    return;
  }
  m.initialised = true;
  if (const char* env = std::getenv("HALVARD_SIMULATED_MOTION"); env != nullptr) {
    m.set = ParseMotionSet(env);
  }
  PollFile(m, true);
  m.lastPoll = std::chrono::steady_clock::now();
}

}  // namespace

CardSnapshot GetCardState(int card) {
  if (!ValidCard(card)) {
    return CardSnapshot{};
  }
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  return c.cards[static_cast<std::size_t>(card)];
}

void SetCardSource(int card, int source) {
  if (!ValidCard(card)) {
    return;
  }
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  CardSnapshot& s = c.cards[static_cast<std::size_t>(card)];
  s.source = source;
  s.generation = ++c.generation;
}

void SetCardInputEnabled(int card, int input, bool enabled) {
  if (!ValidCard(card) || !ValidInput(input)) {
    return;
  }
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  CardSnapshot& s = c.cards[static_cast<std::size_t>(card)];
  const DWORD bit = 1u << input;
  s.enabledMask = enabled ? (s.enabledMask | bit) : (s.enabledMask & ~bit);
  s.generation = ++c.generation;
}

void SetCardControl(int card, int input, PictureControl control, DWORD value) {
  if (!ValidCard(card) || !ValidInput(input)) {
    return;
  }
  value = value > kControlMax ? kControlMax : value;
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  CardSnapshot& s = c.cards[static_cast<std::size_t>(card)];
  PictureControls& p = s.inputs[input];
  switch (control) {
    case PictureControl::Brightness: p.brightness = value; break;
    case PictureControl::Contrast: p.contrast = value; break;
    case PictureControl::Saturation: p.saturation = value; break;
    case PictureControl::Hue: p.hue = value; break;
  }
  s.generation = ++c.generation;
}

void SetCardAgc(int card, bool on) {
  if (!ValidCard(card)) {
    return;
  }
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  CardSnapshot& s = c.cards[static_cast<std::size_t>(card)];
  for (PictureControls& p : s.inputs) {
    p.agc = on;
  }
  s.generation = ++c.generation;
}

void ResetCardStates() {
  Cards& c = TheCards();
  std::lock_guard guard(c.lock);
  for (CardSnapshot& s : c.cards) {
    s = CardSnapshot{};
    s.generation = ++c.generation;
  }
}

int NextMuxChannel(int previous, DWORD enabledMask, int source, bool multiplexing) {
  const DWORD mask = enabledMask & ((1u << kCardInputs) - 1);
  if (source >= 0 && source < kCardInputs) {
    return (mask & (1u << source)) != 0 ? source : -1;
  }
  if (mask == 0) {
    return -1;
  }
  if (!multiplexing) {
    for (int i = 0; i < kCardInputs; ++i) {
      if ((mask & (1u << i)) != 0) {
        return i;
      }
    }
  }
  for (int k = 1; k <= kCardInputs; ++k) {
    const int i = (((previous < 0 ? -1 : previous) + k) % kCardInputs + kCardInputs) % kCardInputs;
    if ((mask & (1u << i)) != 0) {
      return i;
    }
  }
  return -1;
}

std::string MotionControlPath() {
  if (const char* p = std::getenv("HALVARD_SIMULATED_CONTROL"); p != nullptr && *p != '\0') {
    return p;
  }
  std::string data;
  if (const char* d = std::getenv("HALVARD_DATA"); d != nullptr && *d != '\0') {
    data = d;
  } else if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
    data = std::string(x) + "/halvard";
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    data = std::string(h) + "/.local/share/halvard";
  } else {
    data = ".";
  }
  return data + "/simulated-motion";
}

std::uint64_t ParseMotionSet(const std::string& text) {
  std::uint64_t set = 0;
  std::string item;
  const auto flush = [&] {
    if (item == "all" || item == "ALL") {
      set = ~0ULL;
    } else if (const std::size_t colon = item.find(':'); colon != std::string::npos && colon > 0 &&
                                                           colon + 1 < item.size()) {
      char* end = nullptr;
      const long card = std::strtol(item.c_str(), &end, 10);
      const bool cardOk = end == item.c_str() + colon;
      const long input = std::strtol(item.c_str() + colon + 1, &end, 10);
      const bool inputOk = *end == '\0';
      if (cardOk && inputOk && card >= 0 && card < kMaxCards && input >= 0 && input < kCardInputs) {
        set |= 1ULL << (card * kCardInputs + input);
      }
    }
    item.clear();
  };
  for (char ch : text) {
    if (ch == ' ' || ch == ',' || ch == '\n' || ch == '\r' || ch == '\t' || ch == ';') {
      flush();
    } else {
      item.push_back(ch);
    }
  }
  flush();
  return set;
}

bool SimulatedMotion(int card, int input) {
  if (!ValidCard(card) || !ValidInput(input)) {
    return false;
  }
  Motion& m = TheMotion();
  std::lock_guard guard(m.lock);
  InitMotion(m);
  const auto now = std::chrono::steady_clock::now();
  if (now - m.lastPoll >= std::chrono::milliseconds(250)) {
    m.lastPoll = now;
    PollFile(m, false);
  }
  return ((m.set >> (card * kCardInputs + input)) & 1) != 0;
}

namespace {
std::atomic<std::uint64_t> g_unplugged{0};
}  // namespace

void SetSimulatedCardUnplugged(int card, bool unplugged) {
  if (!ValidCard(card)) {
    return;
  }
  const std::uint64_t bit = 1ULL << card;
  if (unplugged) {
    g_unplugged.fetch_or(bit);
  } else {
    g_unplugged.fetch_and(~bit);
  }
}

bool SimulatedCardUnplugged(int card) { return ValidCard(card) && (g_unplugged.load() & (1ULL << card)) != 0; }

void SetSimulatedMotion(int card, int input, bool on) {
  if (!ValidCard(card) || !ValidInput(input)) {
    return;
  }
  Motion& m = TheMotion();
  std::lock_guard guard(m.lock);
  InitMotion(m);
  const std::uint64_t bit = 1ULL << (card * kCardInputs + input);
  m.set = on ? (m.set | bit) : (m.set & ~bit);
}

void ReloadMotionControl() {
  Motion& m = TheMotion();
  std::lock_guard guard(m.lock);
  InitMotion(m);
  PollFile(m, true);
  m.lastPoll = std::chrono::steady_clock::now();
}

}  // namespace halvard::capture
