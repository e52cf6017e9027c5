#include "module/module.h"

#include <string>

#include "common/error_reporter.h"
#include "framework/dispatch.h"
#include "framework/module_lock.h"
#include "module/qxsdk_idl.h"

namespace qx {
namespace {

// Cached class objects, one per object-map entry, created on first request.
IClassFactory* g_classObjects[16] = {};

}  // namespace

CQXSDKCommonModule& CQXSDKCommonModule::Instance() noexcept {
  static CQXSDKCommonModule module;
  return module;
}

bool CQXSDKCommonModule::Initialize(HINSTANCE instance) noexcept {
  instance_ = instance;
  SetMessageModule(instance);
  com::TypeLibrary::Configure(LIBID_QXSDKCommon, 1, 0, instance);
  return true;
}

void CQXSDKCommonModule::Terminate(bool processExiting) noexcept {
  // At process exit other DLLs may already be gone: COM objects are left alone then.
  if (processExiting) return;
  size_t count = 0;
  ObjectMap(&count);
  for (size_t i = 0; i < count; ++i) {
    if (IClassFactory* factory = g_classObjects[i]) {
      g_classObjects[i] = nullptr;
      factory->Release();
    }
  }
  com::TypeLibrary::Release();
  git_.Reset();
}

LONG CQXSDKCommonModule::Lock() noexcept { return com::ModuleLock::Lock(); }
LONG CQXSDKCommonModule::Unlock() noexcept { return com::ModuleLock::Unlock(); }
LONG CQXSDKCommonModule::GetLockCount() const noexcept { return com::ModuleLock::Count(); }

HRESULT CQXSDKCommonModule::GetGITPtr(IGlobalInterfaceTable** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto held = lock_.Lock();
  if (!git_) {
    const HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IGlobalInterfaceTable, git_.PutVoid());
    if (FAILED(hr)) return hr;
  }
  git_.CopyTo(out);
  return S_OK;
}

HRESULT CQXSDKCommonModule::GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  size_t count = 0;
  const ClassEntry* map = ObjectMap(&count);
  for (size_t i = 0; i < count; ++i) {
    if (*map[i].clsid != clsid) continue;
    if (!g_classObjects[i]) {
      auto* created = new (std::nothrow) com::ClassFactory(map[i].create);
      if (!created) return E_OUTOFMEMORY;
      created->AddRef();  // the map's own reference
      if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_classObjects[i]), created, nullptr) !=
          nullptr) {
        created->Release();  // another thread stored one first
      }
    }
    return g_classObjects[i]->QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

std::wstring CQXSDKCommonModule::ModulePath() const {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(instance_, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace qx
