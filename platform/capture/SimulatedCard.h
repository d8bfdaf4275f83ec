#pragma once
/// The simulated multiplexing capture card: four camera inputs delivered in one stream,
/// one frame per enabled input in turn, the channel number in the first byte of each
/// frame. It follows what the card library set (source, enabled channels, picture
/// controls) and the motion switch of each input (CardState.h).
///
/// The card multiplexes at the lower capture sizes (under 480 lines); at 640 x 480 it
/// delivers one input only (the selected source, else the lowest enabled input), as a
/// real card of this kind does. Frames come at the standard's frame rate; each input
/// of a multiplexed stream thus gets that rate divided by the number of enabled inputs.

#include <array>
#include <cstdint>

#include "platform/capture/CaptureFormats.h"
#include "platform/capture/SceneGenerator.h"

namespace halvard::capture {

/// One capture stream of a simulated card. Not thread-safe: the streaming thread owns it.
class CSimulatedCard {
 public:
  explicit CSimulatedCard(int card) : m_card(card) {}

  [[nodiscard]] int Card() const { return m_card; }
  void SetFormat(FrameSize size, PixelLayout layout) {
    m_size = size;
    m_layout = layout;
  }
  [[nodiscard]] FrameSize Size() const { return m_size; }
  [[nodiscard]] PixelLayout Layout() const { return m_layout; }
  void SetStandard(DWORD analogVideoStandard) { m_standard = analogVideoStandard; }
  [[nodiscard]] DWORD Standard() const { return m_standard; }
  [[nodiscard]] REFERENCE_TIME FrameDuration() const { return StandardFrameDuration(m_standard); }
  [[nodiscard]] bool Multiplexing() const { return m_size.height < 480; }

  /// Renders the card's next frame into dst (at least FrameBytes(layout, size) bytes)
  /// and returns the channel it carries, or -1 when the card delivers nothing now (no
  /// input enabled, or dst too small). clockSeconds is the time of day the cameras'
  /// clocks show.
  [[nodiscard]] int NextFrame(BYTE* dst, std::size_t dstBytes, std::uint32_t clockSeconds);

  /// Frames delivered per input since construction or Restart.
  [[nodiscard]] std::uint64_t FramesOf(int input) const {
    return input >= 0 && input < kCardInputs ? m_frames[static_cast<std::size_t>(input)] : 0;
  }
  /// Starts the multiplex cycle from input 0 again (a new run of the stream).
  void Restart();

 private:
  int m_card;
  FrameSize m_size{320, 240};
  PixelLayout m_layout = PixelLayout::Yuy2;
  DWORD m_standard = kStandardPalB;
  int m_previous = -1;
  std::uint64_t m_frameNumber = 0;
  std::array<std::uint32_t, kCardInputs> m_motionSteps{};
  std::array<std::uint64_t, kCardInputs> m_frames{};
  CSceneGenerator m_scene;
};

}  // namespace halvard::capture
