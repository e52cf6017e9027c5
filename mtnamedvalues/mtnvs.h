// CMTNVS: the free-threaded property bag (_MTNVS, and the NamedValues / INamedValues2 view). Any
// thread may call any member at any time: every member that reads or changes the collection runs
// under the collection's own lock, a re-entrant critical section.
//
// Lock order: the collection's lock first, then an item's own lock. Items only try the
// collection's lock (CMTNV::GetLocks). Copy and Merge never hold this collection's lock while they
// read another collection, so no thread holds two collection locks.
//
// Client code (a value's release or conversion, a callback) may run under the lock and call back
// into this collection on the same thread: members never call out while the store is mid-change,
// and never iterate the live store around a call-out.
#pragma once

#include <utility>
#include <vector>

#include "framework/boundary.h"
#include "framework/com_object.h"
#include "module/interfaces.h"
#include "mtnamedvalues/mtnv.h"
#include "qx/core/item_store.h"

namespace qx {

class CMTNVS final
    : public com::ComObject<CMTNVS,
                            com::ClassOptions{.interlocked = true, .freeThreadedMarshaler = true, .aggregatable = true},
                            com::Dual<_MTNVS>, ISupportErrorInfo, ISlimFast, IRefresh, INameResolver,
                            com::Dual<INamedValues2>, ITraverse> {
 public:
  // Late-bound clients see the NamedValues view.
  using DispatchInterface = INamedValues2;

  CMTNVS();
  ~CMTNVS();

  // _MTNVS
  HRESULT STDMETHODCALLTYPE get_NVS(_NamedValues** hNVS) override;
  HRESULT STDMETHODCALLTYPE get_INVS2(INamedValues2** hINVS2) override;
  HRESULT STDMETHODCALLTYPE get_MTItem(VARIANT* Index, _MTNV** hVal) override;
  HRESULT STDMETHODCALLTYPE get_MTCount(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE MTAdd(BSTR Name, VARIANT* Value, _MTNV** hVal) override;
  HRESULT STDMETHODCALLTYPE MTCopy(_MTNV* pmtnvSource, VARIANT_BOOL ReplaceDuplicates, _MTNV** hVal) override;
  HRESULT STDMETHODCALLTYPE MTMerge(_MTNVS* pmtnvSource, VARIANT_BOOL ReplaceDuplicates) override;
  HRESULT STDMETHODCALLTYPE get__MTMemberEnum(_EnumMTNV** hVal) override;
  HRESULT STDMETHODCALLTYPE MTSetSize(LONG NewSize) override;
  HRESULT STDMETHODCALLTYPE MTLoadFromString(BSTR str) override;
  HRESULT STDMETHODCALLTYPE MTDumpToString(BSTR* pStr) override;
  HRESULT STDMETHODCALLTYPE get_MTReadOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE MTFreeze() override;
  HRESULT STDMETHODCALLTYPE MTLoadFromRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                               qxnvRegistryOptions Opt) override;
  HRESULT STDMETHODCALLTYPE MTDumpToRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                             qxnvRegistryOptions Opt) override;
  HRESULT STDMETHODCALLTYPE get_MTStyle(qxnvStyleConstants* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MTStyle(qxnvStyleConstants newVal) override;
  HRESULT STDMETHODCALLTYPE get_MTSorted(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MTSorted(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE MTRename(BSTR OldName, BSTR NewName) override;
  HRESULT STDMETHODCALLTYPE MTRemove(BSTR Name) override;
  HRESULT STDMETHODCALLTYPE MTClear() override;
  HRESULT STDMETHODCALLTYPE MTClone(_MTNVS** hVal) override;
  HRESULT STDMETHODCALLTYPE MTInsert(_MTNV* toInsert) override;

  // The NamedValues view. Members without a body here forward to their _MTNVS twin.
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT* Index, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override { return get_MTCount(pVal); }
  HRESULT STDMETHODCALLTYPE Add(BSTR Name, VARIANT* Value, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE Copy(NamedValue* pnvSource, VARIANT_BOOL ReplaceDuplicates, NamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE Merge(_NamedValues* pnvSource, VARIANT_BOOL ReplaceDuplicates) override;
  HRESULT STDMETHODCALLTYPE get__MemberEnum(_EnumNamedValue** pVal) override;
  HRESULT STDMETHODCALLTYPE SetSize(LONG NewSize) override { return MTSetSize(NewSize); }
  HRESULT STDMETHODCALLTYPE LoadFromString(BSTR str) override { return MTLoadFromString(str); }
  HRESULT STDMETHODCALLTYPE DumpToString(BSTR* pStr) override { return MTDumpToString(pStr); }
  HRESULT STDMETHODCALLTYPE get_ReadOnly(VARIANT_BOOL* pVal) override { return get_MTReadOnly(pVal); }
  HRESULT STDMETHODCALLTYPE Freeze() override { return MTFreeze(); }
  HRESULT STDMETHODCALLTYPE LoadFromRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                             qxnvRegistryOptions Opt) override {
    return MTLoadFromRegistry(RootKey, SubKey, Opt);
  }
  HRESULT STDMETHODCALLTYPE DumpToRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey,
                                           qxnvRegistryOptions Opt) override {
    return MTDumpToRegistry(RootKey, SubKey, Opt);
  }
  HRESULT STDMETHODCALLTYPE get_Style(qxnvStyleConstants* pVal) override { return get_MTStyle(pVal); }
  HRESULT STDMETHODCALLTYPE put_Style(qxnvStyleConstants newVal) override { return put_MTStyle(newVal); }
  HRESULT STDMETHODCALLTYPE get_Sorted(VARIANT_BOOL* pVal) override { return get_MTSorted(pVal); }
  HRESULT STDMETHODCALLTYPE put_Sorted(VARIANT_BOOL newVal) override { return put_MTSorted(newVal); }
  HRESULT STDMETHODCALLTYPE Rename(BSTR OldName, BSTR NewName) override { return MTRename(OldName, NewName); }
  HRESULT STDMETHODCALLTYPE Remove(BSTR Name) override { return MTRemove(Name); }
  HRESULT STDMETHODCALLTYPE Clear() override { return MTClear(); }
  HRESULT STDMETHODCALLTYPE Clone(INamedValues2** pVal) override;
  HRESULT STDMETHODCALLTYPE Insert(NamedValue* toInsert) override;

  // ISlimFast, IRefresh, INameResolver, ITraverse
  HRESULT STDMETHODCALLTYPE SlimFast(LONG Reserved) override;
  HRESULT STDMETHODCALLTYPE Refresh() override;
  HRESULT STDMETHODCALLTYPE Resolve(BSTR Name, VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE Traverse(void* pCallback, void* pPassThru, qxtrStyleFlags Style) override;

  // For the items (CMTNV), which hold their own lock and, where noted, this collection's lock.
  bool TryLockCollection() noexcept { return lock_.TryEnter(); }
  void UnlockCollection() noexcept { lock_.Leave(); }
  bool IsReadOnly() const noexcept { return readOnly_; }
  // Renames the member named oldName. lockItem false: the member itself is the caller and holds
  // its own lock.
  HRESULT InternalRename(BSTR oldName, BSTR newName, bool lockItem) noexcept;
  // The one add-or-replace worker; the caller holds the lock. `item` (optional) receives the
  // member with a reference.
  HRESULT InternalAdd(BSTR name, const VARIANT& value, bool replaceDuplicates, CMTNV** item) noexcept;
  // Removes the member named `name`. lockItem false: the member itself is the caller, holding its
  // own lock and this collection's lock; on success this collection's lock is left here, since
  // the member can no longer find the collection to leave it.
  HRESULT InternalRemove(BSTR name, bool lockItem) noexcept;

 private:
  static constexpr DWORD kLockSpinCount = 4000;

  struct MemberName {
    NameRef operator()(const CMTNV* member) const noexcept { return member->Name(); }
  };
  using Store = ItemStore<CMTNV, MemberName>;

  // Runs `body` under the collection lock with the full method convention of `classMessageId`.
  template <class Body>
  HRESULT Locked(UINT classMessageId, const wchar_t* methodTag, Body&& body) noexcept;
  HRESULT PlaceValue(BSTR name, const VARIANT& value, bool replaceDuplicates, CMTNV** item);
  // A NamedValues value arrives as a new, unsorted MTNVS holding a copy of its members.
  HRESULT CreateSubCollection(_NamedValues* source, bool replaceDuplicates, VARIANT* converted);
  // Copy of one member read from another collection (without holding this collection's lock),
  // then added under it. Frozen: E_ACCESSDENIED, described without a closing report.
  template <class Member, class Out>
  HRESULT CopyMember(UINT classMessageId, const wchar_t* methodTag, Member* source, VARIANT_BOOL replaceDuplicates,
                     Out** out) noexcept;
  template <class Collection, class CopyOne>
  HRESULT MergeFrom(UINT classMessageId, const wchar_t* methodTag, Collection* source, CopyOne&& copy) noexcept;
  // The read-only flag, read under the lock (by members that check it before they lock).
  bool IsFrozen() noexcept;
  // The Refresh and SlimFast passes: visit(CMTNV&) for each member.
  template <class Visit>
  HRESULT PassToMembers(int kind, const wchar_t* methodTag, Visit&& visit) noexcept;
  // Takes every member out of the store, then lets each go: parent links cleared under the
  // member's lock, references released once the store is empty.
  void ReleaseAll() noexcept;

  NameStyle style_;
  bool readOnly_ = false;
  Store items_;
  // Held briefly by every member, from many threads at once: a waiting thread spins first.
  com::CriticalSection lock_{kLockSpinCount};
};

// The result of an _MTNVS member handed out as the interface the view asked for.
template <class I, class From>
HRESULT HandOutAs(HRESULT hr, const com::ComPtr<From>& result, I** out) noexcept {
  if (FAILED(hr) || !out) return hr;
  return result.QueryTo(__uuidof(I), reinterpret_cast<void**>(out));
}

template <class Body>
HRESULT CMTNVS::Locked(UINT classMessageId, const wchar_t* methodTag, Body&& body) noexcept {
  const auto held = lock_.Lock();
  return com::ComBoundary(com::FullConvention(classMessageId), methodTag, std::forward<Body>(body));
}

}  // namespace qx
