#pragma once
/// The writer object behind the Windows Media writer filter: profile configuration,
/// interleaving mode and the advanced interface with the sink list, over the engine.
/// The filter aggregates it (its interfaces answer with the filter's identity); tests
/// and tools use it on its own.
///
/// Threads: configuration on a control thread; the engine's streaming calls as
/// CAsfEngine documents.

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/wmf/AsfEngine.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf {

class CAsfWriterCore final : public IConfigAsfWriter, public IConfigInterleaving, public IWMWriterAdvanced {
 public:
  /// With an `outer` object the core's IUnknown methods go to it and the outer object
  /// owns the core (deletes it); without, the core counts its own references and
  /// starts with one.
  explicit CAsfWriterCore(IUnknown* outer = nullptr);
  virtual ~CAsfWriterCore();
  CAsfWriterCore(const CAsfWriterCore&) = delete;
  CAsfWriterCore& operator=(const CAsfWriterCore&) = delete;

  /// Answers IConfigAsfWriter, IConfigInterleaving and IWMWriterAdvanced (and
  /// IUnknown when standing alone); E_NOINTERFACE otherwise.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  /// The core's own interfaces without delegation (for the outer object's QueryInterface).
  [[nodiscard]] HRESULT QueryOwnInterface(REFIID riid, void** ppv);

  HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) override;
  HRESULT GetCurrentProfile(IWMProfile** profile) override;

  HRESULT put_Mode(InterleavingMode mode) override;
  HRESULT get_Mode(InterleavingMode* mode) override;

  HRESULT GetSinkCount(DWORD* count) override;
  HRESULT GetSink(DWORD index, IWMWriterSink** sink) override;
  HRESULT AddSink(IWMWriterSink* sink) override;
  HRESULT RemoveSink(IWMWriterSink* sink) override;
  HRESULT IsRealTime(BOOL* realTime) override;

  [[nodiscard]] CAsfEngine& Engine() { return m_engine; }
  /// Asked before every configuration; a failure refuses it (the filter refuses while
  /// a pin is connected).
  void SetConfigureGuard(std::function<HRESULT()> guard) { m_guard = std::move(guard); }
  /// Called after every successful configuration (the filter rebuilds its pins).
  void SetConfiguredCallback(std::function<void()> callback) { m_onConfigured = std::move(callback); }

 private:
  IUnknown* m_outer;
  std::atomic<ULONG> m_refs{1};
  CAsfEngine m_engine;
  std::mutex m_mutex;
  ComPtr<IWMProfile> m_profile;
  InterleavingMode m_mode = INTERLEAVE_NONE;
  std::function<HRESULT()> m_guard;
  std::function<void()> m_onConfigured;
};

}  // namespace halvard::wmf
