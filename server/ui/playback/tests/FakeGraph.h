#pragma once
// A playback graph that keeps its state in plain fields and records the calls, for the
// controller and document tests.

#include <string>
#include <vector>

#include "server/ui/playback/PlaybackGraph.h"

namespace halvard::ui::playback::testing {

struct FakeGraphState {
  GraphState state = GraphState::Stopped;
  std::int64_t duration = 600'000'000;  // 60 s
  std::int64_t position = 0;
  std::int64_t frameLength = 400'000;  // 25 frames per second
  double rate = 1.0;
  bool canSeek = true;
  double unitsPerSecond = 1e7;
  std::vector<long> events;
  std::vector<std::string> calls;
  int built = 0;
  int released = 0;
};

class CFakeGraph final : public IPlaybackGraph {
 public:
  explicit CFakeGraph(FakeGraphState& s) : m_s(s) { ++m_s.built; }
  ~CFakeGraph() override { ++m_s.released; }
  HRESULT Run() override { return Set(GraphState::Running, "Run"); }
  HRESULT Pause() override { return Set(GraphState::Paused, "Pause"); }
  HRESULT Stop() override { return Set(GraphState::Stopped, "Stop"); }
  GraphState State() override { return m_s.state; }
  bool CanSeek() override { return m_s.canSeek; }
  std::int64_t Duration() override { return m_s.duration; }
  std::int64_t Position() override { return m_s.position; }
  HRESULT SetPosition(std::int64_t position) override {
    m_s.calls.push_back("SetPosition " + std::to_string(position));
    m_s.position = position;
    return S_OK;
  }
  double Rate() override { return m_s.rate; }
  HRESULT SetRate(double rate) override {
    m_s.calls.push_back("SetRate " + std::to_string(rate));
    m_s.rate = rate;
    return S_OK;
  }
  HRESULT StepFrame() override {
    m_s.calls.push_back("Step");
    // Like a renderer: only a paused graph steps.
    if (m_s.state != GraphState::Paused) {
      return E_UNEXPECTED;
    }
    m_s.position += m_s.frameLength;
    return S_OK;
  }
  std::vector<long> TakeEvents() override {
    std::vector<long> events;
    events.swap(m_s.events);
    return events;
  }
  double UnitsPerSecond() override { return m_s.unitsPerSecond; }
  bool VideoSize(LONG* width, LONG* height) override {
    *width = 320;
    *height = 240;
    return true;
  }

 private:
  HRESULT Set(GraphState state, const char* call) {
    m_s.calls.emplace_back(call);
    m_s.state = state;
    return S_OK;
  }
  FakeGraphState& m_s;
};

}  // namespace halvard::ui::playback::testing
