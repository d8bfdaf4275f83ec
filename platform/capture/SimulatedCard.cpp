#include "platform/capture/SimulatedCard.h"

#include "platform/capture/CardState.h"

namespace halvard::capture {

int CSimulatedCard::NextFrame(BYTE* dst, std::size_t dstBytes, std::uint32_t clockSeconds) {
  if (dst == nullptr || dstBytes < FrameBytes(m_layout, m_size)) {
    return -1;
  }
  const CardSnapshot state = GetCardState(m_card);
  const int channel = NextMuxChannel(m_previous, state.enabledMask, state.source, Multiplexing());
  if (channel < 0) {
    return -1;
  }
  const auto index = static_cast<std::size_t>(channel);
  if (SimulatedMotion(m_card, channel)) {
    ++m_motionSteps[index];
  }
  SceneRequest request;
  request.camera = m_card * kCardInputs + channel;
  request.size = m_size;
  request.layout = m_layout;
  request.frameNumber = m_frameNumber;
  request.motionStep = m_motionSteps[index];
  request.clockSeconds = clockSeconds;
  request.controls = state.inputs[index];
  request.channelByte = static_cast<BYTE>(channel);
  if (!m_scene.Render(request, dst, dstBytes)) {
    return -1;
  }
  ++m_frameNumber;
  ++m_frames[index];
  m_previous = channel;
  return channel;
}

void CSimulatedCard::Restart() {
  m_previous = -1;
  m_frames = {};
}

}  // namespace halvard::capture
