#include <vector>

#include "framework/dispatch.h"
#include "framework/owners.h"

namespace qx::com {
namespace {

// The locale the library is declared and registered with (English, United States).
constexpr LCID kLibraryLocale = 0x409;

struct Cache {
  CriticalSection lock;
  GUID libid{};
  WORD major = 1;
  WORD minor = 0;
  HINSTANCE module = nullptr;
  ComPtr<ITypeLib> library;
  std::vector<std::pair<IID, ComPtr<ITypeInfo>>> infos;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

HRESULT LoadLibraryLocked(Cache& cache) {
  if (cache.library) return S_OK;
  HRESULT hr = LoadRegTypeLib(cache.libid, cache.major, cache.minor, kLibraryLocale, cache.library.Put());
  if (SUCCEEDED(hr)) return hr;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(cache.module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return hr;
  return LoadTypeLibEx(path, REGKIND_NONE, cache.library.Put());
}

}  // namespace

void TypeLibrary::Configure(const GUID& libid, WORD major, WORD minor, HINSTANCE module) noexcept {
  Cache& cache = TheCache();
  auto held = cache.lock.Lock();
  cache.libid = libid;
  cache.major = major;
  cache.minor = minor;
  cache.module = module;
}

HRESULT TypeLibrary::Get(ITypeLib** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  Cache& cache = TheCache();
  auto held = cache.lock.Lock();
  const HRESULT hr = LoadLibraryLocked(cache);
  if (SUCCEEDED(hr)) cache.library.CopyTo(out);
  return hr;
}

HRESULT TypeLibrary::GetTypeInfo(REFIID iid, ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  Cache& cache = TheCache();
  auto held = cache.lock.Lock();
  for (const auto& [cachedIid, info] : cache.infos) {
    if (cachedIid == iid) {
      info.CopyTo(out);
      return S_OK;
    }
  }
  HRESULT hr = LoadLibraryLocked(cache);
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = cache.library->GetTypeInfoOfGuid(iid, info.Put());
  if (FAILED(hr)) return hr;
  try {
    cache.infos.emplace_back(iid, info);
  } catch (...) {
    // Not cached; the caller still gets its answer.
  }
  info.CopyTo(out);
  return S_OK;
}

void TypeLibrary::Release() noexcept {
  Cache& cache = TheCache();
  auto held = cache.lock.Lock();
  cache.infos.clear();
  cache.library.Reset();
}

}  // namespace qx::com
