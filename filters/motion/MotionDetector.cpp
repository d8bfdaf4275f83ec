#include "filters/motion/MotionDetector.h"

#include <new>

#include "platform/com/Com.h"

namespace halvard::motion {

HRESULT CMotionDetector::Configure(const DetectorSettings& settings) {
  if (settings.blockSize < 1 || settings.width < 0 || settings.height < 0 || settings.topMargin < 0 ||
      settings.bottomMargin < 0 ||
      static_cast<long long>(settings.topMargin) + settings.bottomMargin > settings.height) {
    return E_INVALIDARG;
  }
  BlockGrid grid;
  grid.blockSize = settings.blockSize;
  grid.columns = settings.width / settings.blockSize;
  grid.rows = (settings.height - settings.topMargin - settings.bottomMargin) / settings.blockSize;
  grid.topMargin = settings.topMargin;
  grid.shift = MeanShift(settings.blockSize);
  const long long blockCount = static_cast<long long>(grid.columns) * grid.rows;
  // The area bitmap has one bit per block and no more: a larger grid would read past it.
  if (blockCount > kMaxBlocks) {
    return E_INVALIDARG;
  }

  m_meansA.reset();
  m_meansB.reset();
  m_configured = false;
  const std::size_t count = blockCount > 0 ? static_cast<std::size_t>(blockCount) : 1;
  m_meansA.reset(new (std::nothrow) std::uint8_t[count]());
  m_meansB.reset(new (std::nothrow) std::uint8_t[count]());
  m_settings = settings;
  m_grid = grid;
  m_frameCounter = 0;
  m_previousPairMoved = false;
  if (!m_meansA || !m_meansB) {
    m_meansA.reset();
    m_meansB.reset();
    return E_OUTOFMEMORY;
  }
  m_configured = true;
  return S_OK;
}

std::uint64_t CMotionDetector::FrameBytes() const {
  if (m_settings.bytesPerPixel != 2 && m_settings.bytesPerPixel != 3) {
    return 0;
  }
  return static_cast<std::uint64_t>(m_settings.bytesPerPixel) * static_cast<std::uint64_t>(m_settings.width) *
         static_cast<std::uint64_t>(m_settings.height);
}

bool CMotionDetector::Analyse(const std::uint8_t* frame, std::size_t size, const std::uint8_t* areaBits) {
  if (!m_configured || frame == nullptr || areaBits == nullptr) {
    return false;
  }
  const std::uint64_t needed = FrameBytes();
  if (needed == 0 || size < needed) {
    return false;
  }
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(m_settings.bytesPerPixel) * m_settings.width;
  std::uint8_t* means = (m_frameCounter % 2 == 0) ? m_meansA.get() : m_meansB.get();
  if (m_settings.bytesPerPixel == 2) {
    BlockMeansYuy2(frame, stride, m_settings.width, m_settings.height, m_grid, areaBits, means);
  } else {
    BlockMeansRgb24(frame, stride, m_settings.width, m_settings.height, m_grid, areaBits, means);
  }
  const bool pairComplete = (m_frameCounter % 2) == 1;
  ++m_frameCounter;
  if (!pairComplete) {
    return false;
  }
  const bool moved = PairShowsMotion(m_meansA.get(), m_meansB.get(), BlockCount(), m_settings.threshold);
  const bool report = moved && m_previousPairMoved;
  m_previousPairMoved = moved;
  return report;
}

bool CMotionNotifier::BeginSample(DWORD nowMs) {
  if (m_state != NotifyState::Holding) {
    return true;
  }
  if (static_cast<DWORD>(nowMs - m_lastTransitionMs) > m_holdMs) {
    m_state = NotifyState::Watching;
    m_lastTransitionMs = nowMs;
  }
  return false;
}

bool CMotionNotifier::EndSample(DWORD nowMs, bool motion) {
  if (motion) {
    const bool post = m_state == NotifyState::Idle;
    m_state = NotifyState::Holding;
    m_lastTransitionMs = nowMs;
    return post;
  }
  if (static_cast<DWORD>(nowMs - m_lastTransitionMs) > m_rearmMs) {
    m_state = NotifyState::Idle;
    m_lastTransitionMs = nowMs;
  }
  return false;
}

}  // namespace halvard::motion
