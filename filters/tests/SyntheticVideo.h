#pragma once
// Synthetic test pictures and checksums shared by the filter tests: deterministic
// sequences (a moving gradient, a moving box and pseudo-random grain) whose per-frame
// checksums are kept as golden data in tests/ref/.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace halvard::testing {

/// FNV-1a, 64 bits.
inline std::uint64_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 1469598103934665603ULL;
  for (std::size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 1099511628211ULL;
  }
  return h;
}
inline std::uint64_t Checksum(const std::vector<std::uint8_t>& data) { return Checksum(data.data(), data.size()); }

/// A small linear congruential generator (the same numbers on every platform).
class CLcg {
 public:
  explicit CLcg(std::uint32_t seed) : m_state(seed) {}
  std::uint32_t Next() {
    m_state = m_state * 1664525u + 1013904223u;
    return m_state >> 8;
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() & 0xFF); }

 private:
  std::uint32_t m_state;
};

/// Frame `index` of a sequence with `bytesPerPixel` interleaved channels per pixel.
inline std::vector<std::uint8_t> SyntheticFrame(int width, int height, int bytesPerPixel, int index) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * bytesPerPixel);
  CLcg grain(0x9E3779B9u + static_cast<std::uint32_t>(index));
  const int boxX = (index * 13) % (width > 40 ? width - 40 : 1);
  const int boxY = (index * 7) % (height > 30 ? height - 30 : 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool inBox = x >= boxX && x < boxX + 40 && y >= boxY && y < boxY + 30;
      for (int c = 0; c < bytesPerPixel; ++c) {
        int v = (x * 255 / (width > 1 ? width - 1 : 1) + y * 3 + index * 5 + c * 40) % 256;
        v = v / 2 + 40 + static_cast<int>(grain.Next() % 24);
        if (inBox) {
          v = 255 - v / 3;
        }
        frame[(static_cast<std::size_t>(y) * width + x) * bytesPerPixel + c] = static_cast<std::uint8_t>(v);
      }
    }
  }
  return frame;
}

/// Golden checksums: "name checksum" lines in a file of tests/ref/. With
/// HALVARD_UPDATE_GOLDEN=1 the file is rewritten from the computed values instead.
class CGoldenFile {
 public:
  explicit CGoldenFile(std::string path) : m_path(std::move(path)) {
    std::ifstream in(m_path);
    std::string name;
    std::string value;
    while (in >> name >> value) {
      m_expected[name] = value;
    }
  }
  ~CGoldenFile() {
    if (Updating()) {
      std::ofstream out(m_path, std::ios::trunc);
      for (const auto& [name, value] : m_actual) {
        out << name << ' ' << value << '\n';
      }
    }
  }
  [[nodiscard]] static bool Updating() {
    const char* update = std::getenv("HALVARD_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
  }
  /// Records a value; returns the expected one ("" when the file has none).
  std::string Check(const std::string& name, std::uint64_t checksum) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(checksum));
    m_actual[name] = text;
    if (Updating()) {
      return text;
    }
    const auto it = m_expected.find(name);
    return it == m_expected.end() ? std::string() : it->second;
  }
  static std::string Text(std::uint64_t checksum) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(checksum));
    return text;
  }

 private:
  std::string m_path;
  std::map<std::string, std::string> m_expected;
  std::map<std::string, std::string> m_actual;
};

}  // namespace halvard::testing
