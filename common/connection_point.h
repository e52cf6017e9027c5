// The library's connection point: an event source whose sinks are kept in the process's global
// interface table rather than as interface pointers, so that an event can be fired from any
// thread and each firing calls the sink through a pointer valid in the firing thread's
// apartment.
//
//   class CThing : ... {
//     CProxy_ThingEvents events_{ControllingUnknown()};   // derives from QXSDKIConnectionPointImpl
//   };
//
// The connection point is a part of its owner: it has no count of its own (AddRef and Release
// are the owner's) and lives as long as the owner.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstddef>
#include <vector>

#include "framework/owners.h"
#include "qx/core/cookie_slots.h"

namespace qx {

// The connection table: one global-interface-table cookie per connection, under a lock of its
// own. A connection's cookie for clients is its slot index plus 1.
class DynamicCookieArray {
 public:
  // Puts `gitCookie` in the lowest free slot and returns the slot's index. Throws std::bad_alloc.
  std::size_t Add(DWORD gitCookie);
  // Frees slot `index` and returns the table cookie it held (0 when it is out of range or
  // already free). The caller revokes that cookie after the slot is free, so a firing never
  // reads a slot whose cookie is already revoked.
  DWORD Take(std::size_t index) noexcept;
  // The table cookie in slot `index` (0: free); `index` must be below GetSize().
  DWORD GetAt(std::size_t index) const noexcept;
  std::size_t GetSize() const noexcept;
  LONG GetActiveCount() const noexcept;

  // A consistent copy of every slot (0: free), taken under the lock. Throws std::bad_alloc.
  std::vector<DWORD> Snapshot() const;

 private:
  mutable com::CriticalSection lock_;
  CookieSlots slots_;
};

class QXSDKIConnectionPointImpl : public IConnectionPoint {
 public:
  // `owner` is the owning object's controlling unknown (no reference is taken); `eventIid` is
  // the dispinterface its sinks implement. A sink is accepted when it answers that interface;
  // events reach it through IDispatch, so a sink that does not answer IDispatch is connected
  // but passed over when events fire.
  QXSDKIConnectionPointImpl(IUnknown* owner, REFIID eventIid) noexcept;
  virtual ~QXSDKIConnectionPointImpl();
  QXSDKIConnectionPointImpl(const QXSDKIConnectionPointImpl&) = delete;
  QXSDKIConnectionPointImpl& operator=(const QXSDKIConnectionPointImpl&) = delete;

  // IUnknown: the connection point answers for itself; its count is the owner's.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Calls event method `id` on every connected sink, with `count` arguments in dispatch order
  // (last argument first). `result` receives each sink's return value in turn. The table's lock
  // is never held while a sink runs, so a sink may connect or disconnect from inside an event. A
  // sink that cannot be fetched (disconnected meanwhile, or its apartment gone) is skipped; the
  // others still hear the event.
  virtual HRESULT FireEvent(DISPID id, VARIANT* args, int count, VARIANT* result) noexcept;

  REFIID EventIid() const noexcept { return eventIid_; }
  LONG ActiveConnections() const noexcept { return cookies_.GetActiveCount(); }

 private:
  IUnknown* owner_;
  const IID eventIid_;
  DynamicCookieArray cookies_;
  com::ComPtr<IGlobalInterfaceTable> git_;
  HRESULT gitStatus_ = S_OK;  // why git_ is missing, returned by Advise
};

}  // namespace qx
