// CQXGlobalRestorer: turns persistence strings back into objects (QXGlobalRestorer /
// _QXGlobalRestorer) by handing each item of the string to the restorer class its header names.
//
// The restorers are COM classes of other modules that implement IQXRestorer. Each global
// restorer keeps the ones it created in a cache keyed by class-id text (a NamedValues collection,
// so ids that differ only in the case of their hex letters share one restorer); the cache only
// grows and goes with the object. Every call builds a working context of its own, merged from
// the caller's context, which all items of the string share.
#pragma once

#include <cstddef>
#include <string_view>

#include "framework/com_object.h"
#include "module/interfaces.h"
#include "namedvalues/named_values.h"

namespace qx {

// A name of the SDK's contexts; nothing in this library reads or writes it.
inline constexpr const wchar_t* kTopLevelServerOnly = L"TopLevelServerOnly";

class CQXGlobalRestorer final
    : public com::ComObject<CQXGlobalRestorer, com::ClassOptions{.aggregatable = true},
                            com::Dual<_QXGlobalRestorer>, ISupportErrorInfo> {
 public:
  CQXGlobalRestorer();
  ~CQXGlobalRestorer();

  // _QXGlobalRestorer
  HRESULT STDMETHODCALLTYPE RestoreObject(BSTR persistenceData, _NamedValues* pnvsContext, IUnknown** hObject) override;
  HRESULT STDMETHODCALLTYPE RestoreServers(BSTR persistenceData, _QXErrors** hErrors, _NamedValues* pnvsContext,
                                           _NamedValues** hServers) override;

 private:
  // Calls `restore(restorer, itemText, isLast)` for each item of `data` in order and stops at
  // the first failure; the result is that failure or the last call's result. A null string has
  // no item; a non-null one has at least one (so an empty one fails to parse).
  template <class Restore>
  HRESULT ForEachItem(BSTR data, Restore&& restore);
  // Parses the header of the item at the start of `item` and hands out its restorer, from the
  // cache or newly created and cached. `length` receives the item's length.
  HRESULT GetNextRestorer(std::u16string_view item, std::size_t* length, IQXRestorer** restorer);

  com::ComPtr<CNamedValues> cache_;
};

}  // namespace qx
