// Class objects: one cached IClassFactory per creatable class.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "framework/module_lock.h"

namespace qx::com {

// Builds an instance, plain or aggregated, and answers `iid` (see CreateComInstance).
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// The class object. Its count is interlocked; the object map holds one reference. A client
// reference beyond that (count rising to 2) locks the module, and the lock goes when the count
// falls back to 1, so a held class object keeps the DLL loaded.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(InstanceCreator creator) noexcept : creator_(creator) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    const LONG count = InterlockedIncrement(&refs_);
    if (count == 2) ModuleLock::Lock();
    return static_cast<ULONG>(count);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG count = InterlockedDecrement(&refs_);
    if (count == 1) ModuleLock::Unlock();
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregated object is handed to its outer object only as its inner IUnknown.
    if (outer && iid != __uuidof(IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ModuleLock::Lock();
    } else {
      ModuleLock::Unlock();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() = default;

  LONG refs_ = 0;
  InstanceCreator creator_;
};

}  // namespace qx::com
