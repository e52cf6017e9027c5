#include "common/connection_point.h"

#include <new>
#include <vector>

#include "common/trace_scope.h"
#include "framework/enum_references.h"
#include "module/module.h"

namespace qx {

// ---------------------------------------------------------------------------------------------
// DynamicCookieArray

std::size_t DynamicCookieArray::Add(DWORD gitCookie) {
  const auto held = lock_.Lock();
  return slots_.Add(gitCookie);
}

DWORD DynamicCookieArray::Take(std::size_t index) noexcept {
  const auto held = lock_.Lock();
  const DWORD gitCookie = index < slots_.Size() ? slots_.At(index) : 0;
  if (gitCookie) slots_.Remove(index);
  return gitCookie;
}

std::vector<DWORD> DynamicCookieArray::Snapshot() const {
  const auto held = lock_.Lock();
  std::vector<DWORD> copy(slots_.Size());
  for (std::size_t i = 0; i < copy.size(); ++i) copy[i] = slots_.At(i);
  return copy;
}

DWORD DynamicCookieArray::GetAt(std::size_t index) const noexcept {
  const auto held = lock_.Lock();
  return index < slots_.Size() ? slots_.At(index) : 0;
}

std::size_t DynamicCookieArray::GetSize() const noexcept {
  const auto held = lock_.Lock();
  return slots_.Size();
}

LONG DynamicCookieArray::GetActiveCount() const noexcept {
  const auto held = lock_.Lock();
  return slots_.Active();
}

// ---------------------------------------------------------------------------------------------
// QXSDKIConnectionPointImpl

QXSDKIConnectionPointImpl::QXSDKIConnectionPointImpl(IUnknown* owner, REFIID eventIid) noexcept
    : owner_(owner), eventIid_(eventIid) {
  TraceScope trace("QXSDKIConnectionPointImpl.Construct", 200, 4);
  // Without the table (COM not initialised on this thread) the source works but refuses
  // connections, with the reason the table could not be had.
  gitStatus_ = CQXSDKCommonModule::Instance().GetGITPtr(git_.Put());
}

QXSDKIConnectionPointImpl::~QXSDKIConnectionPointImpl() {
  TraceScope trace("QXSDKIConnectionPointImpl.Destruct", 200, 4);
  if (!git_) return;
  // Each slot is emptied before its sink is let go: revoking releases the sink.
  const std::size_t size = cookies_.GetSize();
  for (std::size_t i = 0; i < size; ++i) {
    if (const DWORD cookie = cookies_.Take(i)) git_->RevokeInterfaceFromGlobal(cookie);
  }
}

HRESULT QXSDKIConnectionPointImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IConnectionPoint && iid != IID_IUnknown) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IConnectionPoint*>(this);
  return S_OK;
}

HRESULT QXSDKIConnectionPointImpl::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = eventIid_;
  return S_OK;
}

HRESULT QXSDKIConnectionPointImpl::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
}

HRESULT QXSDKIConnectionPointImpl::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) return E_POINTER;
  if (!git_) return gitStatus_;
  com::ComPtr<IUnknown> events;
  HRESULT hr = sink->QueryInterface(eventIid_, events.PutVoid());
  if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
  if (FAILED(hr)) return hr;
  // The event interface is a dispinterface, so the pointer is normally an IDispatch and is kept
  // as one: the platform's own dispatch marshaler then serves every apartment, with no
  // dependence on how (or whether) the type library that describes the event interface is
  // registered. A sink that answers the event interface but not IDispatch is still connected,
  // kept as IUnknown; firing cannot call it and passes it over.
  DWORD gitCookie = 0;
  hr = git_->RegisterInterfaceInGlobal(events.Get(), IID_IDispatch, &gitCookie);
  if (hr == E_NOINTERFACE) hr = git_->RegisterInterfaceInGlobal(events.Get(), IID_IUnknown, &gitCookie);
  if (FAILED(hr)) return hr;
  try {
    *cookie = static_cast<DWORD>(cookies_.Add(gitCookie) + 1);
  } catch (const std::bad_alloc&) {
    git_->RevokeInterfaceFromGlobal(gitCookie);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT QXSDKIConnectionPointImpl::Unadvise(DWORD cookie) {
  // The slot is emptied first, under the lock: a firing meanwhile either fetched the sink
  // already or never sees it, and the others' slots are untouched. Revoking releases the sink.
  const DWORD gitCookie = cookie < 1 ? 0 : cookies_.Take(cookie - 1);
  if (gitCookie == 0) return CONNECT_E_NOCONNECTION;
  return git_->RevokeInterfaceFromGlobal(gitCookie);
}

HRESULT QXSDKIConnectionPointImpl::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (cookies_.GetActiveCount() < 1) return CONNECT_E_NOCONNECTION;
  try {
    auto snapshot = std::make_shared<com::EnumConnections::Snapshot>();
    // The sinks are fetched outside the table's lock (fetching may run a sink's own code).
    const std::vector<DWORD> slots = cookies_.Snapshot();
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (slots[i] == 0) continue;
      CONNECTDATA entry{nullptr, static_cast<DWORD>(i + 1)};
      if (FAILED(git_->GetInterfaceFromGlobal(slots[i], IID_IUnknown, reinterpret_cast<void**>(&entry.pUnk)))) {
        continue;  // disconnected since the copy was taken
      }
      snapshot->Adopt(entry);
    }
    *out = com::MakeCom<com::EnumConnections>(std::move(snapshot), 0).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT QXSDKIConnectionPointImpl::FireEvent(DISPID id, VARIANT* args, int count, VARIANT* result) noexcept {
  // Connections made during the firing beyond the slots seen here wait for the next one.
  const std::size_t size = cookies_.GetSize();
  for (std::size_t i = 0; i < size; ++i) {
    const DWORD gitCookie = cookies_.GetAt(i);
    if (gitCookie == 0) continue;
    com::ComPtr<IUnknown> sink;
    if (FAILED(git_->GetInterfaceFromGlobal(gitCookie, IID_IUnknown, sink.PutVoid()))) continue;
    // A sink that cannot give IDispatch, for whatever reason, is passed over like one that
    // lacks it: one broken sink does not silence the others.
    const auto dispatch = sink.TryQuery<IDispatch>();
    sink.Reset();
    if (!dispatch) continue;
    VariantClear(result);
    DISPPARAMS params{args, nullptr, static_cast<UINT>(count), 0};
    dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  }
  return S_OK;
}

}  // namespace qx
