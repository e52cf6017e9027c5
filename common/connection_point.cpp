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

bool DynamicCookieArray::Remove(std::size_t index) noexcept {
  const auto held = lock_.Lock();
  return slots_.Remove(index);
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
  const std::size_t size = cookies_.GetSize();
  for (std::size_t i = 0; i < size; ++i) {
    if (const DWORD cookie = cookies_.GetAt(i)) git_->RevokeInterfaceFromGlobal(cookie);
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
  // The event interface is a dispinterface, so the pointer is an IDispatch and is kept as one:
  // the platform's own dispatch marshaler then serves every apartment, with no dependence on how
  // (or whether) the type library that describes the event interface is registered.
  DWORD gitCookie = 0;
  hr = git_->RegisterInterfaceInGlobal(events.Get(), IID_IDispatch, &gitCookie);
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
  if (cookie < 1 || cookie > cookies_.GetSize()) return CONNECT_E_NOCONNECTION;
  const DWORD gitCookie = cookies_.GetAt(cookie - 1);
  if (gitCookie == 0) return CONNECT_E_NOCONNECTION;
  const HRESULT hr = git_->RevokeInterfaceFromGlobal(gitCookie);
  cookies_.Remove(cookie - 1);
  return hr;
}

HRESULT QXSDKIConnectionPointImpl::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (cookies_.GetActiveCount() < 1) return CONNECT_E_NOCONNECTION;
  try {
    auto snapshot = std::make_shared<com::EnumConnections::Snapshot>();
    cookies_.Read([&](const CookieSlots& slots) {
      for (std::size_t i = 0; i < slots.Size(); ++i) {
        if (slots.At(i) == 0) continue;
        CONNECTDATA entry{nullptr, static_cast<DWORD>(i + 1)};
        git_->GetInterfaceFromGlobal(slots.At(i), IID_IUnknown, reinterpret_cast<void**>(&entry.pUnk));
        snapshot->Adopt(entry);
      }
    });
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
    HRESULT hr = git_->GetInterfaceFromGlobal(gitCookie, IID_IUnknown, sink.PutVoid());
    if (FAILED(hr)) {
      // A sink disconnected between reading its slot and fetching it is simply gone; any other
      // failure ends the firing.
      if (cookies_.GetAt(i) != gitCookie) continue;
      return hr;
    }
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
