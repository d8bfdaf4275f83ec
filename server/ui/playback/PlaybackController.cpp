#include "server/ui/playback/PlaybackController.h"

#include <algorithm>
#include <cmath>

namespace halvard::ui::playback {

CPlaybackController::CPlaybackController(GraphFactory factory, TimerSwitch timer)
    : m_factory(std::move(factory)), m_timer(std::move(timer)) {}

CPlaybackController::~CPlaybackController() { Close(); }

bool CPlaybackController::Open(GraphError* error) {
  Close();
  GraphError failure;
  m_graph = m_factory ? m_factory(&failure) : nullptr;
  if (!m_graph && error != nullptr) {
    *error = failure;
  }
  return m_graph != nullptr;
}

void CPlaybackController::Close() {
  SwitchTimer(false);
  if (m_graph) {
    (void)m_graph->Stop();
    m_graph.reset();
  }
}

void CPlaybackController::SwitchTimer(bool run) {
  if (m_timer) {
    m_timer(run);
  }
}

bool CPlaybackController::Play() {
  if (!m_graph || FAILED(m_graph->Run())) {
    return false;
  }
  SwitchTimer(true);
  return true;
}

bool CPlaybackController::PauseContinue() {
  if (!m_graph) {
    return false;
  }
  return SUCCEEDED(m_graph->State() == GraphState::Paused ? m_graph->Run() : m_graph->Pause());
}

bool CPlaybackController::Step() {
  if (!m_graph) {
    return false;
  }
  // The first step only stops the picture where it is; each further one moves a frame.
  if (m_graph->State() != GraphState::Paused) {
    return SUCCEEDED(m_graph->Pause());
  }
  return SUCCEEDED(m_graph->StepFrame());
}

bool CPlaybackController::Faster() {
  if (!m_graph) {
    return false;
  }
  (void)m_graph->Pause();
  const HRESULT hr = m_graph->SetRate(std::min(m_graph->Rate() * 2.0, kMaximumRate));
  (void)m_graph->Run();
  return SUCCEEDED(hr);
}

bool CPlaybackController::Slower() {
  if (!m_graph) {
    return false;
  }
  (void)m_graph->Pause();
  const HRESULT hr = m_graph->SetRate(m_graph->Rate() * 0.5);
  (void)m_graph->Run();
  return SUCCEEDED(hr);
}

bool CPlaybackController::SeekTo(std::int64_t position) {
  return m_graph && SUCCEEDED(m_graph->SetPosition(std::max<std::int64_t>(position, 0)));
}

bool CPlaybackController::SeekToSeconds(double seconds) {
  if (!m_graph || !(seconds >= 0)) {
    return m_graph && SeekTo(0);
  }
  return SeekTo(static_cast<std::int64_t>(std::llround(seconds * m_graph->UnitsPerSecond())));
}

bool CPlaybackController::OnSliderMoved(int value) {
  if (!SliderEnabled()) {
    return false;
  }
  const int clamped = std::clamp(value, 0, kSliderMaximum);
  const std::int64_t duration = m_graph->Duration();
  // Multiplied in floating point: a long file's duration x 100 must not overflow.
  const auto position = static_cast<std::int64_t>(static_cast<double>(duration) * clamped / kSliderMaximum);
  const bool moved = SeekTo(position);
  (void)m_graph->Pause();
  return moved;
}

bool CPlaybackController::SliderEnabled() const { return m_graph && m_graph->Duration() > 0; }

int CPlaybackController::SliderValue() const {
  if (!m_graph) {
    return 0;
  }
  const std::int64_t duration = m_graph->Duration();
  if (duration <= 0) {
    return 0;
  }
  const double value = static_cast<double>(m_graph->Position()) * kSliderMaximum / static_cast<double>(duration);
  return std::clamp(static_cast<int>(value), 0, kSliderMaximum);
}

bool CPlaybackController::OnGraphNotify() {
  if (!m_graph) {
    return false;
  }
  bool ended = false;
  for (const long code : m_graph->TakeEvents()) {
    ended = ended || code == kEventComplete;
  }
  return ended && m_graph->CanSeek();
}

PlayerPlace CPlaybackController::TearDown() {
  PlayerPlace place;
  if (m_graph) {
    place.position = m_graph->Position();
    const double units = m_graph->UnitsPerSecond();
    place.seconds = units > 0 ? static_cast<double>(place.position) / units : 0;
    place.mediaTime = units == 1e7 ? place.position : static_cast<std::int64_t>(std::llround(place.seconds * 1e7));
    place.paused = m_graph->State() == GraphState::Paused;
  }
  Close();
  return place;
}

bool CPlaybackController::Rebuild(const PlayerPlace& place, GraphError* error) {
  if (!Open(error)) {
    return false;
  }
  (void)m_graph->Run();
  if (place.paused) {
    (void)m_graph->Pause();
  }
  (void)SeekTo(place.position);
  SwitchTimer(true);
  return true;
}

GraphState CPlaybackController::State() const { return m_graph ? m_graph->State() : GraphState::Stopped; }
double CPlaybackController::Rate() const { return m_graph ? m_graph->Rate() : 1.0; }
std::int64_t CPlaybackController::Position() const { return m_graph ? m_graph->Position() : 0; }

double CPlaybackController::PositionSeconds() const {
  if (!m_graph) {
    return 0;
  }
  const double units = m_graph->UnitsPerSecond();
  return units > 0 ? static_cast<double>(m_graph->Position()) / units : 0;
}

}  // namespace halvard::ui::playback
