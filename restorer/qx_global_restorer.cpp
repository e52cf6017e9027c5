#include "restorer/qx_global_restorer.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/error_reporter.h"
#include "common/trace_scope.h"
#include "errors/qx_errors.h"
#include "framework/boundary.h"
#include "qx/core/persistence_item.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::ThrowIfFailed;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr const wchar_t* kClassTag = L" CQXGlobalRestorer";
constexpr const wchar_t* kParseError = L" CQXGlobalRestorer::GetNextRestorer> Error parsing persistence string: ";
constexpr const wchar_t* kNonObject = L" CQXGlobalRestorer::GetNextRestorer> Non-object in cache.";
constexpr const wchar_t* kNonRestorer = L" CQXGlobalRestorer::GetNextRestorer> Non-Restorer object in cache.";

// A new unsorted collection holding the members of the caller's context, if one is given; the
// caller's collection is only read.
ComPtr<CNamedValues> NewWorkingContext(_NamedValues* callerContext) {
  ComPtr<CNamedValues> context = com::MakeCom<CNamedValues>();
  ThrowIfFailed(context->put_Sorted(VARIANT_FALSE));
  if (callerContext) ThrowIfFailed(context->Merge(callerContext, VARIANT_FALSE));
  return context;
}

// What a restorer is handed: the text from the item's first digit to the end of the whole
// string, cut at its first NUL.
UniqueBstr ItemText(std::u16string_view rest) {
  const std::size_t length = std::min(rest.find(u'\0'), rest.size());
  return UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(rest.data()), static_cast<UINT>(length));
}

// An out-parameter that holds no collection: null, or the fill of an uninitialised pointer in a
// client's debug build. That fill is 0xCCCCCCCC on 32-bit; on 64-bit both the full fill and the
// 32-bit value widened into a pointer count.
bool IsAbsent(const void* p) noexcept {
  const auto bits = reinterpret_cast<std::uintptr_t>(p);
  return bits == 0 || bits == 0xCCCCCCCCu || bits == static_cast<std::uintptr_t>(0xCCCCCCCCCCCCCCCCull);
}

}  // namespace

CQXGlobalRestorer::CQXGlobalRestorer() : cache_(com::MakeCom<CNamedValues>()) {
  ThrowIfFailed(cache_->put_Sorted(VARIANT_FALSE));
}

CQXGlobalRestorer::~CQXGlobalRestorer() = default;

HRESULT CQXGlobalRestorer::GetNextRestorer(std::u16string_view item, std::size_t* length, IQXRestorer** restorer) {
  TraceScope trace("QXGlobalRestorer.GetNextRestorer", 115, 1);
  *restorer = nullptr;
  const PersistenceItemHeader header = ParsePersistenceItem(item);
  *length = header.length;
  if (!header.parsed) {
    std::wstring suffix = kParseError;
    suffix.append(reinterpret_cast<const wchar_t*>(item.data()), std::min(header.length, item.size()));
    return LibraryError(msg::kRestoreObject, suffix.c_str());
  }

  UniqueBstr classId =
      UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(item.data() + header.classIdOffset), kClassIdLength);
  VARIANT index;
  V_VT(&index) = VT_BSTR;
  V_BSTR(&index) = classId.Get();
  ComPtr<NamedValue> cached;
  // A miss leaves the collection's "not found" error object on the thread; a later failure of
  // this call that brings no error object of its own is reported with it.
  if (SUCCEEDED(cache_->get_Item(&index, cached.Put())) && cached) {
    UniqueVariant value;
    const HRESULT hr = cached->get_Value(value.Put());
    if (FAILED(hr)) return hr;
    IUnknown* object = V_UNKNOWN(&value.Get());
    if ((value.Type() != VT_UNKNOWN && value.Type() != VT_DISPATCH) || !object) {
      return LibraryError(msg::kRestoreObject, kNonObject);
    }
    if (FAILED(object->QueryInterface(__uuidof(IQXRestorer), reinterpret_cast<void**>(restorer))) || !*restorer) {
      return LibraryError(msg::kRestoreObject, kNonRestorer);
    }
    return S_OK;
  }

  CLSID clsid;
  HRESULT hr = CLSIDFromString(classId.Get(), &clsid);
  if (FAILED(hr)) return hr;
  ComPtr<IQXRestorer> created;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IQXRestorer), created.PutVoid());
  if (FAILED(hr)) return hr;
  UniqueVariant value;
  V_VT(value.AddressOf()) = VT_UNKNOWN;
  created.CopyTo(&V_UNKNOWN(value.AddressOf()));
  ComPtr<NamedValue> added;
  hr = cache_->Add(classId.Get(), value.AddressOf(), added.Put());
  if (FAILED(hr)) return hr;
  *restorer = created.Detach();
  return S_OK;
}

template <class Restore>
HRESULT CQXGlobalRestorer::ForEachItem(BSTR data, Restore&& restore) {
  if (!data) return S_OK;
  const std::u16string_view text(reinterpret_cast<const char16_t*>(data), SysStringLen(data));
  HRESULT hr = S_OK;
  std::size_t position = 0;
  do {
    const std::u16string_view item = text.substr(position);
    std::size_t length = 0;
    ComPtr<IQXRestorer> restorer;
    hr = GetNextRestorer(item, &length, restorer.Put());
    if (FAILED(hr)) return hr;
    position += length;
    hr = restore(restorer.Get(), ItemText(item).Get(), position >= text.size());
    if (FAILED(hr)) return hr;
  } while (position < text.size());
  return hr;
}

HRESULT CQXGlobalRestorer::RestoreObject(BSTR persistenceData, _NamedValues* pnvsContext, IUnknown** hObject) {
  TraceScope trace("QXGlobalRestorer.RestoreObject", 35, 1);
  return ComBoundary(com::FullConvention(msg::kRestoreObject), kClassTag, [&] {
    if (!hObject) return E_POINTER;
    *hObject = nullptr;
    const UINT length = SysStringLen(persistenceData);
    if (length < 1 || length > kMaxPersistenceItemLength) return E_INVALIDARG;
    // A restorer may drop the caller's last reference to this object while it runs.
    const ComPtr<IUnknown> alive(ControllingUnknown());
    const ComPtr<CNamedValues> context = NewWorkingContext(pnvsContext);
    // Every item is restored in order; the earlier ones act only through what their restorers
    // leave in the context, and only the last item's object is returned.
    return ForEachItem(persistenceData, [&](IQXRestorer* restorer, BSTR itemText, bool last) {
      ComPtr<IUnknown> object;
      const HRESULT hr = restorer->RestoreObject(itemText, context.Get(), object.Put());
      if (SUCCEEDED(hr) && last) *hObject = object.Detach();
      return hr;
    });
  });
}

HRESULT CQXGlobalRestorer::RestoreServers(BSTR persistenceData, _QXErrors** hErrors, _NamedValues* pnvsContext,
                                          _NamedValues** hServers) {
  TraceScope trace("QXGlobalRestorer.RestoreServers", 35, 1);
  return ComBoundary(com::FullConvention(msg::kRestoreServers), kClassTag, [&] {
    if (!hErrors || !hServers) return E_POINTER;
    // Collections the caller passes in are used as they are; new ones belong to the caller as
    // soon as they are stored, also when the call fails later.
    if (IsAbsent(*hErrors)) {
      *hErrors = nullptr;
      HRESULT hr;
      try {
        hr = com::MakeCom<CQXErrors>().QueryTo(__uuidof(_QXErrors), reinterpret_cast<void**>(hErrors));
      } catch (...) {
        hr = E_OUTOFMEMORY;
      }
      if (FAILED(hr)) return LibraryError(msg::kQXErrorsCreate, L" CQXGlobalRestorer::RestoreServers");
    }
    if (IsAbsent(*hServers)) {
      *hServers = nullptr;
      ThrowIfFailed(com::MakeCom<CNamedValues>().QueryTo(__uuidof(_NamedValues), reinterpret_cast<void**>(hServers)));
    }
    const ComPtr<IUnknown> alive(ControllingUnknown());
    const ComPtr<CNamedValues> context = NewWorkingContext(pnvsContext);
    return ForEachItem(persistenceData, [&](IQXRestorer* restorer, BSTR itemText, bool) {
      return restorer->RestoreServers(itemText, *hErrors, context.Get(), *hServers);
    });
  });
}

}  // namespace qx
