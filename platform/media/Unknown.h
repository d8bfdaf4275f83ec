#pragma once
/// CUnknown: the reference-counted object base of the filter framework, with the
/// non-delegating IUnknown that makes aggregation possible.
///
/// A class derived from CUnknown that also implements interfaces:
///
///   class CMyFilter : public CBaseFilter, public IMyInterface {
///    public:
///     DECLARE_IUNKNOWN
///     HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
///       if (riid == IID_IMyInterface) return GetInterface(static_cast<IMyInterface*>(this), ppv);
///       return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
///     }
///   };
///
/// DECLARE_IUNKNOWN forwards the interfaces' IUnknown methods to the owner (the outer
/// object when aggregated, else this object's non-delegating IUnknown). Objects are
/// deleted by their last Release; the count starts at 0, so the creator takes the first
/// reference (QueryInterface or AddRef).

#include <atomic>

#include "platform/media/Interfaces.h"

struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};
using PNDUNKNOWN = INonDelegatingUnknown*;
using LPUNKNOWN = IUnknown*;

/// Counts live framework objects of the process (a debugging aid; component libraries
/// count their own objects for DllCanUnloadNow, see FactoryTemplate.h).
class CBaseObject {
 public:
  explicit CBaseObject(LPCTSTR name);
  virtual ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  /// Live objects derived from CBaseObject in this process.
  static LONG ObjectsActive();

 private:
  std::atomic<LONG>* m_moduleCount;  // the creating component's counter, or null
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  /// outer: the controlling object when aggregated, else null.
  CUnknown(LPCTSTR name, LPUNKNOWN outer);
  CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CUnknown() override;

  /// The IUnknown that answers for this object: the outer object or this object's own.
  [[nodiscard]] LPUNKNOWN GetOwner() const { return m_owner; }

  /// Answers IID_IUnknown with the non-delegating IUnknown; E_NOINTERFACE otherwise.
  /// Derived classes add their interfaces and call the base for the rest.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  /// Deletes the object when the count reaches zero.
  ULONG NonDelegatingRelease() override;

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  /// The object's own IUnknown: forwards to the non-delegating methods.
  struct CInner final : IUnknown {
    explicit CInner(CUnknown* self) : m_self(self) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return m_self->NonDelegatingQueryInterface(riid, ppv); }
    ULONG AddRef() override { return m_self->NonDelegatingAddRef(); }
    ULONG Release() override { return m_self->NonDelegatingRelease(); }
    CUnknown* m_self;
  };
  CInner m_inner{this};
  LPUNKNOWN m_owner;
};

/// Stores an interface pointer in *ppv after an AddRef. E_POINTER for a null ppv.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

#define DECLARE_IUNKNOWN                                                                               \
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
  ULONG AddRef() override { return GetOwner()->AddRef(); }                                             \
  ULONG Release() override { return GetOwner()->Release(); }
