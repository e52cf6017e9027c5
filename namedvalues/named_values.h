// CNamedValues: the property bag (NamedValues / _NamedValues / INamedValues2), an ordered
// collection of uniquely named values kept in insertion order and in name order.
#pragma once

#include <vector>

#include "framework/com_object.h"
#include "namedvalues/dispatch_fast_path.h"
#include "module/interfaces.h"
#include "namedvalues/named_value.h"
#include "qx/core/item_store.h"

namespace qx {

class CNamedValues final
    : public com::ComObject<CNamedValues, com::ClassOptions{.aggregatable = true}, com::Dual<INamedValues2, NamedValuesFastPath>,
                            ISupportErrorInfo, ISlimFast, ITraverse, IRefresh, INameResolver> {
 public:
  CNamedValues();
  ~CNamedValues();

  // _NamedValues
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT* Index, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE Add(BSTR Name, VARIANT* Value, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE Copy(NamedValue* pnvSource, VARIANT_BOOL ReplaceDuplicates, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE Merge(_NamedValues* pnvSource, VARIANT_BOOL ReplaceDuplicates) override;
  HRESULT STDMETHODCALLTYPE get__MemberEnum(_EnumNamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE SetSize(LONG NewSize) override;
  HRESULT STDMETHODCALLTYPE LoadFromString(BSTR str) override;
  HRESULT STDMETHODCALLTYPE DumpToString(BSTR* pStr) override;
  HRESULT STDMETHODCALLTYPE get_ReadOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE Freeze() override;
  HRESULT STDMETHODCALLTYPE LoadFromRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                             qxnvRegistryOptions Opt) override;
  HRESULT STDMETHODCALLTYPE DumpToRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                           qxnvRegistryOptions Opt) override;
  HRESULT STDMETHODCALLTYPE get_Style(qxnvStyleConstants* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Style(qxnvStyleConstants newVal) override;
  HRESULT STDMETHODCALLTYPE get_Sorted(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Sorted(VARIANT_BOOL newVal) override;
  // INamedValues2
  HRESULT STDMETHODCALLTYPE Rename(BSTR OldName, BSTR NewName) override;
  HRESULT STDMETHODCALLTYPE Remove(BSTR Name) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE Clone(INamedValues2** pVal) override;
  HRESULT STDMETHODCALLTYPE Insert(NamedValue* toInsert) override;
  // ISlimFast, ITraverse, IRefresh, INameResolver
  HRESULT STDMETHODCALLTYPE SlimFast(LONG Reserved) override;
  HRESULT STDMETHODCALLTYPE Traverse(void* pCallback, void* pPassThru, qxtrStyleFlags Style) override;
  HRESULT STDMETHODCALLTYPE Refresh() override;
  HRESULT STDMETHODCALLTYPE Resolve(BSTR Name, VARIANT* pVal) override;

  bool IsReadOnly() const noexcept { return readOnly_; }

  // The one add-or-replace worker through which members enter: trims the name by the style,
  // refuses or replaces a duplicate, and stores a new member in both orders. Reports its own
  // failures. `item` (optional) receives the member with a reference.
  HRESULT InternalAdd(BSTR name, const VARIANT& value, bool replaceDuplicates, NamedValue** item) noexcept;

 private:
  struct MemberName {
    NameRef operator()(const CNamedValue* member) const noexcept { return member->Name(); }
  };
  using Store = ItemStore<CNamedValue, MemberName>;

  // InternalAdd for an entry of the text form: the name part (trimmed here) and the value part
  // become the member's name and string value, replacing a duplicate.
  HRESULT AddLoaded(NameRef name, NameRef valueText) noexcept;
  template <class Assign, class Make>
  HRESULT Place(NameRef key, bool replaceDuplicates, NamedValue** item, Assign&& assign, Make&& make);
  // Copies the members of `source` into this empty collection of the same style, in the
  // source's public order, as Merge would; false when one of them cannot be copied so (the
  // caller then starts over by Merge).
  bool CopyMembersFrom(const CNamedValues& source) noexcept;
  // Lets every member go. The store is emptied and every parent link cleared before the first
  // reference is released, since a release may run client code that reads this collection.
  void ReleaseAll() noexcept;
  // The members in public order, each held by a reference of the snapshot: what a member walks
  // when it calls client code per member (a value's conversion, forwarding, a callback), which
  // may change the collection meanwhile. Throws std::bad_alloc.
  std::vector<com::ComPtr<CNamedValue>> Members() const;
  // Refresh and SlimFast: `forward(CNamedValue&)` for each member, once per request pass.
  template <class Forward>
  HRESULT ForwardToMembers(int kind, Forward&& forward);

  NameStyle style_;
  bool readOnly_ = false;
  Store items_;
};

}  // namespace qx
